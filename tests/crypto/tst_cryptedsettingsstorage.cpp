// CryptedSettingsStorage: the file put together from its layout alone (so
// equal content gives equal files), the same entries as the XML format, and
// damaged, forged or oddly compressed files read or refused.

#include "cryptotestutil.h"

#include <crypto/cryptedsettingsstorage.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QRect>
#include <QTemporaryDir>
#include <QtTest>

using namespace cryptotest;

namespace {
QList<QtMsgType> logged;

void fill(QSettings &settings)
{
    settings.setValue("name", QStringLiteral("kiosk"));
    settings.setValue("count", 42);
    settings.setValue("net/blob", QByteArray::fromHex("00ff10"));
    settings.setValue("net/area", QRect(1, 2, 3, 4));
    settings.setValue("text", QStringLiteral("<tag> & \"quotes\" äöü"));
}

// A qCompress() result with another length field.
QByteArray withLength(QByteArray compressed, quint32 length)
{
    qToBigEndian<quint32>(length, compressed.data());
    return compressed;
}
} // namespace

class tst_CryptedSettingsStorage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
        XmlSettings::regFormat();
        // The XML reader reports every document it starts at debug level.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        CryptedSettingsStorage crypted(path("full.enc"));
        XmlSettings plain(path("full.xml"));
        fill(crypted);
        fill(plain);
    }

    void cleanupTestCase() { QLoggingCategory::setFilterRules(QString()); }

    void formatIsRegisteredAtLoad()
    {
        const CryptedSettingsStorage byName(QStringLiteral("orvel-test"), QStringLiteral("app"));
        QVERIFY(CryptedSettingsStorage::CRYPTED_FORMAT >= QSettings::CustomFormat1);
        QCOMPARE(byName.format(), CryptedSettingsStorage::CRYPTED_FORMAT);
        QVERIFY(byName.fileName().endsWith(QLatin1String("/orvel-test/app.crypto")));
        QVERIFY(qobject_cast<const XmlSettings *>(&byName));
    }

    // The XML document compressed and enciphered under its own MD5.
    void fileLayoutAndContentMatchXmlFormat()
    {
        const QByteArray file = readFile(path("full.enc"));
        const QByteArray xml = decodeFile(file);
        QCOMPARE(xml, readFile(path("full.xml")));
        QCOMPARE(file.toHex(), encodeFile(xml).toHex());
        const CryptedSettingsStorage crypted(path("full.enc"));
        const XmlSettings plain(path("full.xml"));
        QCOMPARE(crypted.status(), QSettings::NoError);
        QCOMPARE(crypted.allKeys(), plain.allKeys());
        QCOMPARE(crypted.allKeys().size(), 5);
        for (const QString &key : crypted.allKeys())
            QCOMPARE(crypted.value(key), plain.value(key));
    }

    // An empty store is still a valid file; one its reader would refuse is
    // not written at all, and the old file stays.
    void emptyAndUnwritableStores()
    {
        const QString name = path("empty.enc"), refused = path("refused.enc");
        {
            CryptedSettingsStorage store(name);
            store.setValue("gone", 1);
            store.sync();
            store.remove(QStringLiteral("gone"));
        }
        QCOMPARE(decodeFile(readFile(name)),
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xml-settings/>\n"));
        QVERIFY(CryptedSettingsStorage(name).allKeys().isEmpty());

        QVERIFY(QFile::copy(path("full.enc"), refused));
        CryptedSettingsStorage settings(refused);
        settings.setValue(QStringLiteral("a/").repeated(1024), 1);
        QTest::ignoreMessage(QtCriticalMsg, "\"Settings nested too deeply\"");
        settings.sync();
        QCOMPARE(settings.status(), QSettings::AccessError);
        QCOMPARE(readFile(refused), readFile(path("full.enc")));
    }

    void readingFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("criticals"); // -1: read, with the entries of the full store
        const QByteArray valid = readFile(path("full.enc"));
        QVERIFY(valid.size() > 40);
        const QByteArray compressed = compressedPart(valid);
        const auto recompressed = [&](const QByteArray &part) {
            return withCompressedPart(valid, part);
        };
        const auto flipped = [&](int at) {
            QByteArray bytes = valid;
            bytes[at] = char(bytes.at(at) ^ 1);
            return bytes;
        };
        const QByteArray xml = decodeFile(valid);
        // Bounded by the 1032:1 ratio that deflate cannot exceed.
        const quint32 bound = quint32(compressed.size() - 4) * 1032;
        for (const int level : { 0, 9 })
            QTest::addRow("compressed-at-level-%d", level)
                << recompressed(qCompress(xml, level)) << -1;
        // Output over several chunks of the bounded inflate loop.
        QTest::newRow("large-document")
            << recompressed(qCompress(xml + "<!--" + QByteArray(3 << 20, 'x') + "-->")) << -1;
        QTest::newRow("length-at-bound") << recompressed(withLength(compressed, bound)) << -1;
        // qUncompress reads a document longer than its length field says, so such files stay
        // readable.
        QTest::newRow("length-understated") << recompressed(withLength(compressed, 10)) << -1;
        QTest::newRow("forged-length-above-bound")
            << recompressed(withLength(compressed, bound + 1)) << 1;
        QTest::newRow("forged-length-2GiB")
            << recompressed(withLength(compressed, 0x7ff00000u)) << 1;
        QTest::newRow("forged-length-4GiB")
            << recompressed(withLength(compressed, 0xffffffffu)) << 1;
        QTest::newRow("cut-stream") << recompressed(compressed.left(compressed.size() / 2)) << 1;
        QTest::newRow("31-bytes") << randomBytes(31) << 0;
        QTest::newRow("32-random-bytes") << randomBytes(32) << 1;
        QTest::newRow("flipped-key-byte") << flipped(3) << 1;
        QTest::newRow("flipped-body-byte") << flipped(valid.size() / 2) << 1;
        QTest::newRow("cut-short") << valid.left(valid.size() - 9) + valid.right(8) << 1;
        QTest::newRow("plain-xml")
            << QByteArray("<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>") << 1;
    }

    // Read, or FormatError with the XML reader's message (none when too
    // short) and a copy of the file kept beside it (one more message); the
    // file is never rewritten.
    void readingFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, criticals);
        // A name of its own per case: QSettings skips reading a file whose size
        // and time stamp match the copy it read before.
        const QString name = path(QStringLiteral("read-%1.enc").arg(QTest::currentDataTag()));
        QVERIFY(writeFile(name, file));
        logged.clear();
        qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &) { logged << type; });
        const auto restore = qScopeGuard([] { qInstallMessageHandler(nullptr); });
        {
            const CryptedSettingsStorage store(name);
            const XmlSettings plain(path("full.xml"));
            QCOMPARE(store.status(), criticals < 0 ? QSettings::NoError : QSettings::FormatError);
            QCOMPARE(store.allKeys(), criticals < 0 ? plain.allKeys() : QStringList());
        }
        QCOMPARE(logged.count(QtCriticalMsg), criticals + 1);
        QCOMPARE(logged.size(), criticals + 1);
        QCOMPARE(readFile(name), file);
        QCOMPARE(readFile(name + QStringLiteral(".unreadable")), criticals < 0 ? QByteArray() : file);
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_CryptedSettingsStorage)
#include "tst_cryptedsettingsstorage.moc"
