// CryptedSettingsStorage: the file layout checked by the test's own decoder
// and encoder, equal files for equal content, the same keys and values as the
// XML format, and damaged or forged files refused with FormatError.

#include "cryptotestutil.h"

#include <crypto/cryptedsettingsstorage.h>
#include <crypto/cryptedsettingsstorage_p.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRect>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Messages logged while a test runs, to tell "quiet" from "one critical".
QList<QtMsgType> &loggedTypes()
{
    static QList<QtMsgType> types;
    return types;
}

void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &)
{
    loggedTypes().append(type);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void fill(QSettings &settings)
{
    settings.setValue(QStringLiteral("name"), QStringLiteral("kiosk"));
    settings.setValue(QStringLiteral("count"), 42);
    settings.setValue(QStringLiteral("home"), QStringLiteral("@home"));
    settings.setValue(QStringLiteral("net/enabled"), true);
    settings.setValue(QStringLiteral("net/blob"), QByteArray::fromHex("00ff10"));
    settings.setValue(QStringLiteral("net/area"), QRect(1, 2, 3, 4));
    settings.setValue(QStringLiteral("net/peers"), QStringList{QStringLiteral("a"), QStringLiteral("b c")});
    settings.setValue(QStringLiteral("text"), QStringLiteral("<tag> & \"quotes\" äöü"));
}

} // namespace

class tst_CryptedSettingsStorage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void formatIsRegisteredAtLoad();
    void roundTripMatchesXmlFormat();
    void independentDecoderReadsFile();
    void readsIndependentlyEncodedFile();
    void equalContentGivesEqualFiles();
    void emptyStoreIsValidFile();
    void damagedFileGivesFormatError_data();
    void damagedFileGivesFormatError();
    void understatedLengthIsAccepted();
    void highlyCompressibleStoreRoundTrips();
    void uncompressMatchesQUncompress_data();
    void uncompressMatchesQUncompress();
    void uncompressRefusesLengthBeyondBound();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray validFile();

    QTemporaryDir m_dir;
};

void tst_CryptedSettingsStorage::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    XmlSettings::regFormat();
    // The XML reader reports every document it starts at debug level.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void tst_CryptedSettingsStorage::cleanupTestCase()
{
    QLoggingCategory::setFilterRules(QString());
}

QByteArray tst_CryptedSettingsStorage::validFile()
{
    const QString name = path(QStringLiteral("valid.enc"));
    QFile::remove(name);
    {
        CryptedSettingsStorage store(name);
        fill(store);
    }
    return readFile(name);
}

void tst_CryptedSettingsStorage::formatIsRegisteredAtLoad()
{
    QVERIFY(CryptedSettingsStorage::CRYPTED_FORMAT != QSettings::InvalidFormat);
    QVERIFY(CryptedSettingsStorage::CRYPTED_FORMAT >= QSettings::CustomFormat1);
    const CryptedSettingsStorage byName(QStringLiteral("orvel-test"), QStringLiteral("crypto-app"));
    QCOMPARE(byName.format(), CryptedSettingsStorage::CRYPTED_FORMAT);
    QVERIFY2(byName.fileName().endsWith(QLatin1String("crypto-app.crypto")), qPrintable(byName.fileName()));
    const CryptedSettingsStorage byFile(path(QStringLiteral("x.enc")));
    QCOMPARE(byFile.format(), CryptedSettingsStorage::CRYPTED_FORMAT);
    QVERIFY(qobject_cast<const XmlSettings *>(&byFile));
    QCOMPARE(byFile.metaObject()->className(), "CryptedSettingsStorage");
}

void tst_CryptedSettingsStorage::roundTripMatchesXmlFormat()
{
    {
        CryptedSettingsStorage crypted(path(QStringLiteral("round.enc")));
        XmlSettings plain(path(QStringLiteral("round.xml")));
        fill(crypted);
        fill(plain);
    }
    const CryptedSettingsStorage crypted(path(QStringLiteral("round.enc")));
    const XmlSettings plain(path(QStringLiteral("round.xml")));
    QCOMPARE(crypted.status(), QSettings::NoError);
    QCOMPARE(plain.status(), QSettings::NoError);
    QCOMPARE(crypted.allKeys(), plain.allKeys());
    QCOMPARE(crypted.allKeys().size(), 8);
    for (const QString &key : crypted.allKeys())
        QCOMPARE(crypted.value(key), plain.value(key));
    QCOMPARE(crypted.value(QStringLiteral("net/blob")).toByteArray(), QByteArray::fromHex("00ff10"));
    QCOMPARE(crypted.value(QStringLiteral("home")).toString(), QStringLiteral("@home"));
    QCOMPARE(crypted.value(QStringLiteral("net/area")).toRect(), QRect(1, 2, 3, 4));
    QCOMPARE(crypted.value(QStringLiteral("count")).toInt(), 42);
}

void tst_CryptedSettingsStorage::independentDecoderReadsFile()
{
    {
        CryptedSettingsStorage crypted(path(QStringLiteral("decode.enc")));
        XmlSettings plain(path(QStringLiteral("decode.xml")));
        fill(crypted);
        fill(plain);
    }
    const QByteArray file = readFile(path(QStringLiteral("decode.enc")));
    const QByteArray xml = cryptotest::decodeFile(file);
    QVERIFY(xml.startsWith("<?xml"));
    QVERIFY(xml.contains("<xml-settings>"));
    QCOMPARE(xml, readFile(path(QStringLiteral("decode.xml"))));
    const QByteArray key = cryptotest::md5(xml);
    QCOMPARE(file.left(8).toHex(), key.left(8).toHex());
    QCOMPARE(file.right(8).toHex(), key.right(8).toHex());
    // The enciphered part is qCompress's output at the default level.
    QCOMPARE(cryptotest::compressedPart(file), qCompress(xml, -1));
}

void tst_CryptedSettingsStorage::readsIndependentlyEncodedFile()
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<xml-settings>\n"
                           "    <USER>\n"
                           "        <defaultUser>operator</defaultUser>\n"
                           "    </USER>\n"
                           "    <blob>@ByteArray(0102ff)</blob>\n"
                           "    <size>@Size(3 4)</size>\n"
                           "</xml-settings>\n";
    QVERIFY(writeFile(path(QStringLiteral("foreign.enc")), cryptotest::encodeFile(xml)));
    const CryptedSettingsStorage store(path(QStringLiteral("foreign.enc")));
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(store.value(QStringLiteral("USER/defaultUser")).toString(), QStringLiteral("operator"));
    QCOMPARE(store.value(QStringLiteral("blob")).toByteArray(), QByteArray::fromHex("0102ff"));
    QCOMPARE(store.value(QStringLiteral("size")).toSize(), QSize(3, 4));
}

void tst_CryptedSettingsStorage::equalContentGivesEqualFiles()
{
    {
        CryptedSettingsStorage first(path(QStringLiteral("first.enc")));
        fill(first);
        CryptedSettingsStorage second(path(QStringLiteral("second.enc")));
        // Other order, same content.
        second.setValue(QStringLiteral("text"), QStringLiteral("placeholder"));
        fill(second);
        CryptedSettingsStorage third(path(QStringLiteral("third.enc")));
        fill(third);
        third.setValue(QStringLiteral("count"), 43);
    }
    const QByteArray first = readFile(path(QStringLiteral("first.enc")));
    const QByteArray third = readFile(path(QStringLiteral("third.enc")));
    QCOMPARE(readFile(path(QStringLiteral("second.enc"))), first);
    QVERIFY(first.left(8) != third.left(8));
    QVERIFY(first.right(8) != third.right(8));
    // A new key and IV: the enciphered part differs from its first bytes on.
    QVERIFY(first.mid(8, 8) != third.mid(8, 8));
}

void tst_CryptedSettingsStorage::emptyStoreIsValidFile()
{
    const QString name = path(QStringLiteral("empty.enc"));
    {
        CryptedSettingsStorage store(name);
        store.setValue(QStringLiteral("gone"), 1);
        store.sync();
        store.remove(QStringLiteral("gone"));
    }
    const QByteArray file = readFile(name);
    QVERIFY(file.size() >= cryptedstore::MIN_FILE_SIZE);
    const QByteArray xml = cryptotest::decodeFile(file);
    QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    QVERIFY(xml.contains("<xml-settings/>"));
    const CryptedSettingsStorage store(name);
    QCOMPARE(store.status(), QSettings::NoError);
    QVERIFY(store.allKeys().isEmpty());
}

void tst_CryptedSettingsStorage::damagedFileGivesFormatError_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("criticals");

    const QByteArray valid = validFile();
    QVERIFY(valid.size() > 40);
    const auto flipped = [&](int at) {
        QByteArray bytes = valid;
        bytes[at] = char(bytes.at(at) ^ 0x01);
        return bytes;
    };
    const QByteArray compressed = cryptotest::compressedPart(valid);
    const auto forged = [&](quint32 length) {
        QByteArray part = compressed;
        qToBigEndian<quint32>(length, part.data());
        return cryptotest::withCompressedPart(valid, part);
    };
    const quint32 bound = quint32(compressed.size() - 4) * 1032;

    QTest::newRow("31-bytes") << randomBytes(31) << 0;
    QTest::newRow("32-random-bytes") << randomBytes(32) << 1;
    QTest::newRow("flipped-key-byte") << flipped(3) << 1;
    QTest::newRow("flipped-body-byte") << flipped(valid.size() / 2) << 1;
    QTest::newRow("flipped-last-byte") << flipped(valid.size() - 1) << 1;
    QTest::newRow("cut-short") << valid.left(valid.size() - 9) + valid.right(8) << 1;
    QTest::newRow("plain-xml") << QByteArray("<?xml version=\"1.0\"?>\n<xml-settings>\n    <a>1</a>\n</xml-settings>\n")
                               << 1;
    QTest::newRow("forged-length-2GiB") << forged(0x7ff00000u) << 1;
    QTest::newRow("forged-length-4GiB") << forged(0xffffffffu) << 1;
    QTest::newRow("forged-length-above-bound") << forged(bound + 1) << 1;
}

void tst_CryptedSettingsStorage::damagedFileGivesFormatError()
{
    QFETCH(QByteArray, file);
    QFETCH(int, criticals);
    // A name of its own per case: QSettings skips reading a file whose size
    // and time stamp match the copy it read before.
    const QString name = path(QStringLiteral("damaged-%1.enc").arg(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(writeFile(name, file));
    loggedTypes().clear();
    qInstallMessageHandler(recordMessage);
    const auto restore = qScopeGuard([] { qInstallMessageHandler(nullptr); });
    {
        const CryptedSettingsStorage store(name);
        QCOMPARE(store.status(), QSettings::FormatError);
        QVERIFY(store.allKeys().isEmpty());
    }
    QCOMPARE(loggedTypes().count(QtCriticalMsg), criticals);
    QCOMPARE(loggedTypes().size(), criticals);
    QCOMPARE(readFile(name), file); // reading never rewrites the file
}

void tst_CryptedSettingsStorage::understatedLengthIsAccepted()
{
    // qUncompress reads a document longer than its length field says; so
    // does the store, so such files stay readable.
    const QByteArray valid = validFile();
    QByteArray part = cryptotest::compressedPart(valid);
    qToBigEndian<quint32>(10, part.data());
    const QString name = path(QStringLiteral("understated.enc"));
    QVERIFY(writeFile(name, cryptotest::withCompressedPart(valid, part)));
    const CryptedSettingsStorage store(name);
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(store.value(QStringLiteral("name")).toString(), QStringLiteral("kiosk"));
}

void tst_CryptedSettingsStorage::highlyCompressibleStoreRoundTrips()
{
    // Hexadecimal zeros compress close to deflate's limit: the length bound
    // must still let the real document through.
    const QString name = path(QStringLiteral("zeros.enc"));
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    {
        CryptedSettingsStorage store(name);
        store.setValue(QStringLiteral("zeros"), zeros);
    }
    QVERIFY(QFileInfo(name).size() < 64 * 1024);
    const CryptedSettingsStorage store(name);
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(store.value(QStringLiteral("zeros")).toByteArray(), zeros);
}

void tst_CryptedSettingsStorage::uncompressMatchesQUncompress_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one-byte") << QByteArray("x");
    QTest::newRow("random-100k") << randomBytes(100000);
    QTest::newRow("zeros-1MiB") << QByteArray(1 << 20, '\0');
    QTest::newRow("zeros-3MiB-plus-1") << QByteArray((3 << 20) + 1, '0');
    QTest::newRow("text") << QByteArray("<xml-settings><a>1</a></xml-settings>").repeated(1000);
}

void tst_CryptedSettingsStorage::uncompressMatchesQUncompress()
{
    QFETCH(QByteArray, data);
    for (const int level : {-1, 0, 1, 9}) {
        const QByteArray compressed = qCompress(data, level);
        QByteArray out("stale");
        QVERIFY(cryptedstore::uncompress(compressed, out));
        QCOMPARE(out, qUncompress(compressed));
        QCOMPARE(out, data);
    }
}

void tst_CryptedSettingsStorage::uncompressRefusesLengthBeyondBound()
{
    const QByteArray compressed = qCompress(QByteArray(1 << 20, '\0'));
    const quint32 bound = quint32(compressed.size() - 4) * 1032;
    QByteArray out;
    QByteArray at = compressed;
    qToBigEndian<quint32>(bound, at.data());
    QVERIFY(cryptedstore::uncompress(at, out));
    QCOMPARE(out.size(), 1 << 20);
    QByteArray above = compressed;
    qToBigEndian<quint32>(bound + 1, above.data());
    QVERIFY(!cryptedstore::uncompress(above, out));
    QVERIFY(out.isEmpty());
    QVERIFY(!cryptedstore::uncompress(compressed.left(compressed.size() / 2), out));
    QVERIFY(!cryptedstore::uncompress(QByteArray("\0\0", 2), out));
    QVERIFY(cryptedstore::uncompress(QByteArray(4, '\0'), out));
    QVERIFY(out.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CryptedSettingsStorage)
#include "tst_cryptedsettingsstorage.moc"
