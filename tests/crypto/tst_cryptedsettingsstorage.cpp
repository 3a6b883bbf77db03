// CryptedSettingsStorage: the file layout checked by the test's own decoder
// and encoder, equal files for equal content, the same keys and values as the
// XML format, damaged or forged files refused with FormatError, and the
// bounded uncompress.

#include "cryptotestutil.h"

#include <crypto/cryptedsettingsstorage.h>
#include <crypto/cryptedsettingsstorage_p.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QRect>
#include <QTemporaryDir>
#include <QtTest>

using namespace cryptotest;

namespace {

QList<QtMsgType> logged;

void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &)
{
    logged.append(type);
}

void fill(QSettings &settings)
{
    settings.setValue(QStringLiteral("name"), QStringLiteral("kiosk"));
    settings.setValue(QStringLiteral("count"), 42);
    settings.setValue(QStringLiteral("net/blob"), QByteArray::fromHex("00ff10"));
    settings.setValue(QStringLiteral("net/area"), QRect(1, 2, 3, 4));
    settings.setValue(QStringLiteral("text"), QStringLiteral("<tag> & \"quotes\" äöü"));
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
        {
            CryptedSettingsStorage crypted(path(QStringLiteral("full.enc")));
            XmlSettings plain(path(QStringLiteral("full.xml")));
            fill(crypted);
            fill(plain);
        }
    }

    void cleanupTestCase()
    {
        QLoggingCategory::setFilterRules(QString());
    }

    // A store the XML reader would refuse is not written: the old file stays.
    void unreadableStoreIsNotWritten()
    {
        const QString file = path(QStringLiteral("refused.enc"));
        QVERIFY(QFile::copy(path(QStringLiteral("full.enc")), file));
        const QByteArray before = readFile(file);
        {
            CryptedSettingsStorage settings(file);
            settings.setValue(QVector<QString>(1024, QStringLiteral("a")).toList().join(QLatin1Char('/')), 1);
            QTest::ignoreMessage(QtCriticalMsg, "\"Settings nested too deeply\"");
            settings.sync();
            QCOMPARE(settings.status(), QSettings::AccessError);
        }
        QCOMPARE(readFile(file), before);
    }

    void formatIsRegisteredAtLoad()
    {
        QVERIFY(CryptedSettingsStorage::CRYPTED_FORMAT >= QSettings::CustomFormat1);
        const CryptedSettingsStorage byName(QStringLiteral("orvel-test"), QStringLiteral("crypto-app"));
        QCOMPARE(byName.format(), CryptedSettingsStorage::CRYPTED_FORMAT);
        QVERIFY2(byName.fileName().endsWith(QLatin1String("crypto-app.crypto")), qPrintable(byName.fileName()));
        QVERIFY(qobject_cast<const XmlSettings *>(&byName));
    }

    void fileLayoutAndContentMatchXmlFormat()
    {
        const QByteArray file = readFile(path(QStringLiteral("full.enc")));
        const QByteArray xml = decodeFile(file);
        QVERIFY(xml.startsWith("<?xml"));
        QCOMPARE(xml, readFile(path(QStringLiteral("full.xml"))));
        const QByteArray key = md5(xml);
        QCOMPARE(file.left(8).toHex(), key.left(8).toHex());
        QCOMPARE(file.right(8).toHex(), key.right(8).toHex());
        QCOMPARE(compressedPart(file), qCompress(xml, -1));

        const CryptedSettingsStorage crypted(path(QStringLiteral("full.enc")));
        const XmlSettings plain(path(QStringLiteral("full.xml")));
        QCOMPARE(crypted.status(), QSettings::NoError);
        QCOMPARE(crypted.allKeys(), plain.allKeys());
        QCOMPARE(crypted.allKeys().size(), 5);
        for (const QString &key : crypted.allKeys())
            QCOMPARE(crypted.value(key), plain.value(key));
        QCOMPARE(crypted.value(QStringLiteral("net/area")).toRect(), QRect(1, 2, 3, 4));
    }

    void readsIndependentlyEncodedFile()
    {
        const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xml-settings><USER><defaultUser>operator"
                               "</defaultUser></USER><blob>@ByteArray(0102ff)</blob></xml-settings>\n";
        QVERIFY(writeFile(path(QStringLiteral("foreign.enc")), encodeFile(xml)));
        const CryptedSettingsStorage store(path(QStringLiteral("foreign.enc")));
        QCOMPARE(store.status(), QSettings::NoError);
        QCOMPARE(store.value(QStringLiteral("USER/defaultUser")).toString(), QStringLiteral("operator"));
        QCOMPARE(store.value(QStringLiteral("blob")).toByteArray(), QByteArray::fromHex("0102ff"));
    }

    void equalContentGivesEqualFiles()
    {
        {
            CryptedSettingsStorage second(path(QStringLiteral("second.enc")));
            // Other order, same content.
            second.setValue(QStringLiteral("text"), QStringLiteral("placeholder"));
            fill(second);
            CryptedSettingsStorage third(path(QStringLiteral("third.enc")));
            fill(third);
            third.setValue(QStringLiteral("count"), 43);
        }
        const QByteArray first = readFile(path(QStringLiteral("full.enc")));
        const QByteArray third = readFile(path(QStringLiteral("third.enc")));
        QCOMPARE(readFile(path(QStringLiteral("second.enc"))), first);
        QVERIFY(first.left(8) != third.left(8));
        QVERIFY(first.right(8) != third.right(8));
        // A new key and IV: the enciphered part differs from its first bytes on.
        QVERIFY(first.mid(8, 8) != third.mid(8, 8));
    }

    void emptyStoreIsValidFile()
    {
        const QString name = path(QStringLiteral("empty.enc"));
        {
            CryptedSettingsStorage store(name);
            store.setValue(QStringLiteral("gone"), 1);
            store.sync();
            store.remove(QStringLiteral("gone"));
        }
        const QByteArray xml = decodeFile(readFile(name));
        QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QVERIFY(xml.contains("<xml-settings/>"));
        const CryptedSettingsStorage store(name);
        QCOMPARE(store.status(), QSettings::NoError);
        QVERIFY(store.allKeys().isEmpty());
    }

    void damagedFileGivesFormatError_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("criticals");
        const QByteArray valid = readFile(path(QStringLiteral("full.enc")));
        QVERIFY(valid.size() > 40);
        const auto flipped = [&](int at) { QByteArray bytes = valid; bytes[at] = char(bytes.at(at) ^ 1); return bytes; };
        const QByteArray compressed = compressedPart(valid);
        const auto forged = [&](quint32 length) { return withCompressedPart(valid, withLength(compressed, length)); };
        QTest::newRow("31-bytes") << randomBytes(31) << 0;
        QTest::newRow("32-random-bytes") << randomBytes(32) << 1;
        QTest::newRow("flipped-key-byte") << flipped(3) << 1;
        QTest::newRow("flipped-body-byte") << flipped(valid.size() / 2) << 1;
        QTest::newRow("cut-short") << valid.left(valid.size() - 9) + valid.right(8) << 1;
        QTest::newRow("plain-xml") << QByteArray("<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>") << 1;
        QTest::newRow("forged-length-2GiB") << forged(0x7ff00000u) << 1;
        QTest::newRow("forged-length-4GiB") << forged(0xffffffffu) << 1;
        QTest::newRow("forged-length-above-bound") << forged(quint32(compressed.size() - 4) * 1032 + 1) << 1;
    }

    void damagedFileGivesFormatError()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, criticals);
        // A name of its own per case: QSettings skips reading a file whose size
        // and time stamp match the copy it read before.
        const QString name = path(QStringLiteral("damaged-%1.enc").arg(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(writeFile(name, file));
        logged.clear();
        qInstallMessageHandler(recordMessage);
        const auto restore = qScopeGuard([] { qInstallMessageHandler(nullptr); });
        {
            const CryptedSettingsStorage store(name);
            QCOMPARE(store.status(), QSettings::FormatError);
            QVERIFY(store.allKeys().isEmpty());
        }
        QCOMPARE(logged.count(QtCriticalMsg), criticals);
        QCOMPARE(logged.size(), criticals);
        QCOMPARE(readFile(name), file); // reading never rewrites the file
    }

    void boundedUncompress_data()
    {
        QTest::addColumn<QByteArray>("compressed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected");
        const QList<QPair<const char *, QByteArray>> samples{
            {"empty", QByteArray()},
            {"one-byte", QByteArray("x")},
            {"random-100k", randomBytes(100000)},
            {"zeros-1MiB", QByteArray(1 << 20, '\0')},
            {"zeros-3MiB-plus-1", QByteArray((3 << 20) + 1, '0')},
            {"text", QByteArray("<xml-settings><a>1</a></xml-settings>").repeated(1000)}};
        for (const auto &sample : samples) {
            for (const int level : {-1, 0, 1, 9})
                QTest::addRow("%s-level-%d", sample.first, level)
                    << qCompress(sample.second, level) << true << sample.second;
        }
        const QByteArray zeros(1 << 20, '\0');
        const QByteArray compressed = qCompress(zeros);
        const quint32 bound = quint32(compressed.size() - 4) * 1032;
        QTest::newRow("length-at-bound") << withLength(compressed, bound) << true << zeros;
        // qUncompress reads a document longer than its length field says; so
        // does the store, so such files stay readable.
        QTest::newRow("length-understated") << withLength(compressed, 10) << true << zeros;
        QTest::newRow("length-above-bound") << withLength(compressed, bound + 1) << false << QByteArray();
        QTest::newRow("cut-stream") << compressed.left(compressed.size() / 2) << false << QByteArray();
        QTest::newRow("two-bytes") << QByteArray("\0\0", 2) << false << QByteArray();
        QTest::newRow("length-zero-alone") << QByteArray(4, '\0') << true << QByteArray();
    }

    void boundedUncompress()
    {
        QFETCH(QByteArray, compressed);
        QFETCH(bool, ok);
        QFETCH(QByteArray, expected);
        QByteArray out("stale");
        QCOMPARE(cryptedstore::uncompress(compressed, out), ok);
        QCOMPARE(out, expected);
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_CryptedSettingsStorage)
#include "tst_cryptedsettingsstorage.moc"
