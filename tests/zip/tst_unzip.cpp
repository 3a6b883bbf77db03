// The reader: extraction semantics, and archives that are damaged or
// hostile on purpose.
#include "ziptestutil.h"
#include "zipcommon_p.h"

#include <zip/unzip.h>
#include <zip/zip.h>

#include <QBuffer>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/stat.h>

using namespace ziptest;

namespace {

// Writes archives byte by byte, so that names and fields can be anything.
struct RawEntry
{
    QByteArray name;
    QByteArray data;
    QByteArray localName;   // empty: same as name
};

QByteArray rawArchive(const QList<RawEntry> &entries, QByteArray *directory = nullptr)
{
    QByteArray out;
    QByteArray cd;
    for (const RawEntry &e : entries) {
        const quint32 crc = zipcommon::crc32(0, e.data.constData(), e.data.size());
        const QByteArray localName = e.localName.isEmpty() ? e.name : e.localName;
        QByteArray h(30, '\0');
        setU32(h, 0, 0x04034b50);
        setU16(h, 4, 10);
        setU16(h, 10, 0x6000);
        setU16(h, 12, 0x5821);
        setU32(h, 14, crc);
        setU32(h, 18, quint32(e.data.size()));
        setU32(h, 22, quint32(e.data.size()));
        setU16(h, 26, quint16(localName.size()));
        QByteArray c(46, '\0');
        setU32(c, 0, 0x02014b50);
        setU16(c, 6, 10);
        setU16(c, 12, 0x6000);
        setU16(c, 14, 0x5821);
        setU32(c, 16, crc);
        setU32(c, 20, quint32(e.data.size()));
        setU32(c, 24, quint32(e.data.size()));
        setU16(c, 28, quint16(e.name.size()));
        setU32(c, 42, quint32(out.size()));
        cd += c + e.name;
        out += h + localName + e.data;
    }
    QByteArray end(22, '\0');
    setU32(end, 0, 0x06054b50);
    setU16(end, 8, quint16(entries.size()));
    setU16(end, 10, quint16(entries.size()));
    setU32(end, 12, quint32(cd.size()));
    setU32(end, 16, quint32(out.size()));
    if (directory)
        *directory = cd;
    return out + cd + end;
}

// Offsets of the end record and of the first central header.
int endRecordAt(const QByteArray &a) { return a.lastIndexOf(QByteArray("PK\x05\x06", 4)); }
int centralAt(const QByteArray &a) { return int(u32(a, endRecordAt(a) + 16)); }

// A seekable device whose reads fail when they start inside [from, to).
class FailingReader : public QIODevice
{
public:
    FailingReader(const QByteArray &data, qint64 from, qint64 to) : m_data(data), m_from(from), m_to(to) {}
    qint64 size() const override { return m_data.size(); }

protected:
    qint64 readData(char *d, qint64 n) override
    {
        if (pos() >= m_from && pos() < m_to)
            return -1;
        n = qMin(n, m_data.size() - pos());
        std::memcpy(d, m_data.constData() + pos(), size_t(n));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_from;
    qint64 m_to;
};

class SequentialSource : public QIODevice
{
public:
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return 0; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

// Debug output switched off for tests that throw damage at the reader.
auto silenceDebug()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    return qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
}

} // namespace

class tst_UnZip : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void verifyWritesNothing();
    void extractFilesSkipsMissingNames();
    void extractOptions();
    void extractAgainAfterTargetRemoved();
    void fifoInTargetDoesNotBlock();
    void extractToDevice();
    void timestamps();
    void closedArchive();
    void refusesEscapingNames_data();
    void refusesEscapingNames();
    void localNameMismatch();
    void entryCountThatLies();
    void hostileDirectory_data();
    void hostileDirectory();
    void sizeThatLies();
    void truncatedArchives();
    void corruptedBytes();
    void unreadableDevices();
    void errorTexts();

private:
    QByteArray sampleArchive();
    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
};

void tst_UnZip::init()
{
    m_tmp.reset(new QTemporaryDir);
    QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
}

QByteArray tst_UnZip::sampleArchive()
{
    writeFile(path("src/a.log"), logText(150000, 11));
    writeFile(path("src/sub/b.bin"), randomBytes(3000, 12));
    writeFile(path("src/sub/c.txt"), "short");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    Zip zip;
    zip.createArchive(&buffer);
    zip.addDirectory(path("src"));
    zip.closeArchive();
    return bytes;
}

void tst_UnZip::verifyWritesNothing()
{
    QVERIFY(writeFile(path("v.zip"), sampleArchive()));
    QTemporaryDir cwd;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cwd.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(old); });
    UnZip uz;
    QCOMPARE(uz.openArchive(path("v.zip")), UnZip::Ok);
    QCOMPARE(uz.verifyArchive(), UnZip::Ok);
    QVERIFY(QDir(cwd.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void tst_UnZip::extractFilesSkipsMissingNames()
{
    QVERIFY(writeFile(path("s.zip"), sampleArchive()));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("s.zip")), UnZip::Ok);
    QCOMPARE(uz.extractFiles({"src/nope.txt", "src/sub/c.txt"}, path("out")), UnZip::Ok);
    QCOMPARE(fileTree(path("out")).keys(), QStringList{"src/sub/c.txt"});
    QCOMPARE(uz.extractFile("src/nope.txt", path("out")), UnZip::FileNotFound);
}

void tst_UnZip::extractOptions()
{
    QVERIFY(writeFile(path("o.zip"), sampleArchive()));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("o.zip")), UnZip::Ok);
    QCOMPARE(uz.extractAll(path("flat"), UnZip::SkipPaths), UnZip::Ok);
    QCOMPARE(fileTree(path("flat")).keys(), (QStringList{"a.log", "b.bin", "c.txt"}));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .*missing/src/a.log for writing$"));
    QCOMPARE(uz.extractFile("src/a.log", path("missing"), UnZip::NoSilentDirectoryCreation), UnZip::OpenFailed);
    QVERIFY(!QFile::exists(path("missing")));
    QVERIFY(writeFile(path("blocked"), "a file where a directory should go"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to create output directory .*blocked/src/sub$"));
    QCOMPARE(uz.extractFile("src/sub/c.txt", path("blocked")), UnZip::CreateDirFailed);
}

void tst_UnZip::extractAgainAfterTargetRemoved()
{
    // Directories made by one call are not taken for granted by the next.
    QVERIFY(writeFile(path("again.zip"), sampleArchive()));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("again.zip")), UnZip::Ok);
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
        QCOMPARE(fileTree(path("out")).keys(), (QStringList{"src/a.log", "src/sub/b.bin", "src/sub/c.txt"}));
        QVERIFY(QDir(path("out")).removeRecursively());
    }
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(uz.extractFiles({"src/sub/c.txt"}, path("out")), UnZip::Ok);
        QCOMPARE(uz.extractFile("src/sub/b.bin", path("out")), UnZip::Ok);
        QCOMPARE(fileTree(path("out")).keys(), (QStringList{"src/sub/b.bin", "src/sub/c.txt"}));
        QVERIFY(QDir(path("out")).removeRecursively());
    }
}

void tst_UnZip::fifoInTargetDoesNotBlock()
{
    // A FIFO where an entry goes would block an open for writing until some
    // reader comes: the extraction must fail instead of waiting.
    QVERIFY(writeFile(path("f.zip"), sampleArchive()));
    QVERIFY(QDir().mkpath(path("out/src/sub")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("out/src/sub/c.txt")).constData(), 0600), 0);
    UnZip uz;
    QCOMPARE(uz.openArchive(path("f.zip")), UnZip::Ok);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .*out/src/sub/c.txt for writing$"));
    QCOMPARE(uz.extractFile("src/sub/c.txt", path("out")), UnZip::OpenFailed);
}

void tst_UnZip::extractToDevice()
{
    QVERIFY(writeFile(path("d.zip"), sampleArchive()));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("d.zip")), UnZip::Ok);
    QBuffer out;
    QCOMPARE(uz.extractFile("src/sub/b.bin", &out), UnZip::Ok);
    QCOMPARE(out.data(), randomBytes(3000, 12));
    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(uz.extractFile("src/sub/b.bin", static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
}

void tst_UnZip::timestamps()
{
    QVERIFY(writeFile(path("t/old.txt"), "old"));
    const QDateTime then(QDate(2019, 5, 17), QTime(10, 20, 30));
    QVERIFY(zip_setFileTimestamp(path("t/old.txt"), then));
    QCOMPARE(QFileInfo(path("t/old.txt")).lastModified(), then);
    QVERIFY(zip_setFileTimestamp(QString(), then));
    QVERIFY(!zip_setFileTimestamp(path("t/none.txt"), then));
    QVERIFY(!QFile::exists(path("t/none.txt")));

    Zip zip;
    QCOMPARE(zip.createArchive(path("t.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path("t/old.txt"), QString(), Zip::IgnorePaths), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    UnZip restoring;
    QCOMPARE(restoring.openArchive(path("t.zip")), UnZip::Ok);
    QCOMPARE(restoring.entryList().first().lastModified(), then);
    QCOMPARE(restoring.extractAll(path("r1")), UnZip::Ok);
    QCOMPARE(QFileInfo(path("r1/old.txt")).lastModified(), then);
    UnZip keeping(false);
    QCOMPARE(keeping.openArchive(path("t.zip")), UnZip::Ok);
    QCOMPARE(keeping.extractAll(path("r2")), UnZip::Ok);
    QVERIFY(QFileInfo(path("r2/old.txt")).lastModified() > then.addYears(1));
}

void tst_UnZip::closedArchive()
{
    UnZip uz;
    QCOMPARE(uz.extractAll(path("x")), UnZip::NoOpenArchive);
    QCOMPARE(uz.extractFile("a", path("x")), UnZip::NoOpenArchive);
    QCOMPARE(uz.verifyArchive(), UnZip::NoOpenArchive);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .* for reading$"));
    QCOMPARE(uz.openArchive(path("absent.zip")), UnZip::OpenFailed);

    auto *buffer = new QBuffer;
    buffer->setData(rawArchive({{"a.txt", "a", {}}}));
    QCOMPARE(uz.openArchive(buffer), UnZip::Ok);
    QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
    delete buffer;
    QVERIFY(!uz.isOpen());
    QCOMPARE(uz.verifyArchive(), UnZip::NoOpenArchive);
}

void tst_UnZip::refusesEscapingNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("parent") << QByteArray("../evil.txt");
    QTest::newRow("parent-inside") << QByteArray("sub/../../evil.txt");
    QTest::newRow("parent-backslash") << QByteArray("sub\\..\\..\\evil.txt");
    QTest::newRow("absolute") << QByteArray("/ABSOLUTE/evil.txt");
    QTest::newRow("drive") << QByteArray("C:/evil.txt");
    QTest::newRow("parent-directory-entry") << QByteArray("../evildir/");
}

void tst_UnZip::refusesEscapingNames()
{
    QFETCH(QByteArray, name);
    QByteArray target = name;
    // An absolute name points into the temporary directory, never the real root.
    if (name.startsWith('/'))
        target = QFile::encodeName(path("outside")) + name;
    QVERIFY(writeFile(path("bad.zip"), rawArchive({{"good.txt", "good", {}}, {target, "evil", {}}})));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("bad.zip")), UnZip::Ok);
    const QString message = QStringLiteral("Refusing to extract outside the target directory: %1")
                                .arg(QString::fromLatin1(target));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    QCOMPARE(uz.extractAll(path("target/inner")), UnZip::PartiallyCorrupted);
    QCOMPARE(readFile(path("target/inner/good.txt")), QByteArray("good"));
    QCOMPARE(tree(m_tmp->path()).keys(),
             (QStringList{"bad.zip", "target/", "target/inner/", "target/inner/good.txt"}));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    QCOMPARE(uz.extractFile(QString::fromLatin1(target), path("target/inner")), UnZip::Corrupted);
    // Checking the data needs no place to write it.
    QCOMPARE(uz.verifyArchive(), UnZip::Ok);
}

void tst_UnZip::localNameMismatch()
{
    QBuffer buffer;
    buffer.setData(rawArchive({{"a.txt", "aaaa", "b.txt"}}));
    UnZip uz;
    QCOMPARE(uz.openArchive(&buffer), UnZip::Ok);
    QTest::ignoreMessage(QtDebugMsg, "Filename in local header mismatches.");
    QCOMPARE(uz.extractFile("a.txt", path("m")), UnZip::HeaderConsistencyError);
    QVERIFY(!QFile::exists(path("m/a.txt")));
}

void tst_UnZip::entryCountThatLies()
{
    QByteArray bytes = rawArchive({{"a.txt", "a", {}}, {"b.txt", "b", {}}});
    const int end = endRecordAt(bytes);
    setU16(bytes, end + 8, 60000);
    setU16(bytes, end + 10, 60000);
    QBuffer buffer(&bytes);
    UnZip uz;
    QTest::ignoreMessage(QtDebugMsg, "Corrupted zip archive. Some files might be extracted.");
    QCOMPARE(uz.openArchive(&buffer), UnZip::PartiallyCorrupted);
    QCOMPARE(uz.fileList(), (QStringList{"a.txt", "b.txt"}));
    QCOMPARE(uz.verifyArchive(), UnZip::Ok);
}

void tst_UnZip::hostileDirectory_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("openResult");
    const QByteArray good = rawArchive({{"a.txt", "aaaa", {}}, {"b.txt", "bbbb", {}}});
    const int end = endRecordAt(good);
    const int cd = centralAt(good);
    const int second = cd + 46 + 5;

    QByteArray a = good;
    setU32(a, end + 16, 0x7ffffff0);
    QTest::newRow("directory-offset-past-end") << a << int(UnZip::Corrupted);
    a = good;
    setU32(a, end + 12, 0xfffffff0);
    QTest::newRow("directory-size-huge") << a << int(UnZip::Corrupted);
    a = good;
    setU32(a, second + 42, 0x7ffffff0);
    QTest::newRow("local-offset-past-end") << a << int(UnZip::PartiallyCorrupted);
    a = good;
    setU32(a, second + 20, 0xfffffff0);
    setU32(a, second + 24, 0xfffffff0);
    QTest::newRow("entry-size-huge") << a << int(UnZip::PartiallyCorrupted);
    a = good;
    setU16(a, second + 28, 0xffff);
    QTest::newRow("name-length-past-directory") << a << int(UnZip::PartiallyCorrupted);
    a = good;
    setU16(a, end + 4, 1);
    QTest::newRow("multi-disk") << a << int(UnZip::InvalidArchive);
    a = good;
    a[cd] = 'X';
    QTest::newRow("no-central-signature") << a << int(UnZip::Corrupted);
    a = good;
    setU16(a, end + 20, 40000);
    QTest::newRow("comment-length-past-end") << a << int(UnZip::Ok);
    QTest::newRow("no-end-record") << good.left(end) << int(UnZip::InvalidArchive);
    QTest::newRow("tiny") << QByteArray("PK\x05\x06", 4) << int(UnZip::InvalidArchive);
    QTest::newRow("empty") << QByteArray() << int(UnZip::InvalidArchive);
    QTest::newRow("prefixed-stub") << QByteArray(1000, 'M') + good << int(UnZip::Ok);
}

void tst_UnZip::hostileDirectory()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, openResult);
    const auto quiet = silenceDebug();
    QBuffer buffer(&archive);
    UnZip uz;
    QCOMPARE(int(uz.openArchive(&buffer)), openResult);
    if (openResult == UnZip::Ok || openResult == UnZip::PartiallyCorrupted) {
        QVERIFY(uz.isOpen());
        QVERIFY(uz.contains("a.txt"));
        QBuffer out;
        QCOMPARE(uz.extractFile("a.txt", &out), UnZip::Ok);
        QCOMPARE(out.data(), QByteArray("aaaa"));
    } else {
        QVERIFY(!uz.isOpen());
    }
}

void tst_UnZip::sizeThatLies()
{
    // The directory promises less than the data inflates to: extraction stops
    // at the promise and the partial file is removed.
    const QByteArray text = logText(400000, 13);
    QVERIFY(writeFile(path("big.log"), text));
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        Zip zip;
        QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
        QCOMPARE(zip.addFile(path("big.log"), QString(), Zip::IgnorePaths), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    setU32(bytes, centralAt(bytes) + 24, 1000);
    QBuffer in(&bytes);
    UnZip uz;
    QCOMPARE(uz.openArchive(&in), UnZip::Ok);
    QTest::ignoreMessage(QtDebugMsg, "Corrupted entry");
    QCOMPARE(uz.extractAll(path("bomb")), UnZip::PartiallyCorrupted);
    QVERIFY(!QFile::exists(path("bomb/big.log")));
    QCOMPARE(uz.extractFile("big.log", path("bomb")), UnZip::Corrupted);
}

void tst_UnZip::truncatedArchives()
{
    const QByteArray whole = sampleArchive();
    const auto quiet = silenceDebug();
    for (int size = 0; size < whole.size(); size += qMax(1, size / 8)) {
        QByteArray part = whole.left(size);
        QBuffer buffer(&part);
        UnZip uz;
        const UnZip::ErrorCode ec = uz.openArchive(&buffer);
        QVERIFY2(ec != UnZip::Ok || uz.verifyArchive() != UnZip::Ok, qPrintable(QString::number(size)));
    }
}

void tst_UnZip::corruptedBytes()
{
    const QByteArray whole = sampleArchive();
    const auto quiet = silenceDebug();
    QRandomGenerator rng(20240601);
    QTemporaryDir out;
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = whole;
        // Mostly the headers and the directory, where the offsets live.
        const int flips = rng.bounded(1, 5);
        for (int i = 0; i < flips; ++i) {
            const int at = rng.bounded(2) ? damaged.size() - 1 - rng.bounded(qMin(400, damaged.size()))
                                          : rng.bounded(damaged.size());
            damaged[at] = char(rng.bounded(256));
        }
        QBuffer buffer(&damaged);
        UnZip uz;
        uz.openArchive(&buffer);
        uz.verifyArchive();
        if (round % 4 != 0)
            continue;
        uz.extractAll(out.filePath("t"));
        // Whatever was written stays inside the target directory.
        const QStringList written = tree(out.path()).keys();
        for (const QString &name : written)
            QVERIFY2(name.startsWith("t/"), qPrintable(name));
        QVERIFY(QDir(out.filePath("t")).removeRecursively());
    }
}

void tst_UnZip::unreadableDevices()
{
    const QByteArray whole = sampleArchive();
    UnZip uz;
    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(uz.openArchive(static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
    SequentialSource pipe;
    QVERIFY(pipe.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(uz.openArchive(&pipe), UnZip::InvalidDevice);
    QFile dir(m_tmp->path());
    QTest::ignoreMessage(QtDebugMsg, "Unable to open device for reading");
    QCOMPARE(uz.openArchive(&dir), UnZip::OpenFailed);

    const auto quiet = silenceDebug();
    FailingReader none(whole, 0, whole.size());
    QVERIFY(none.open(QIODevice::ReadOnly));
    QCOMPARE(uz.openArchive(&none), UnZip::ReadFailed);
    // The directory reads, the data of the first entry does not.
    FailingReader late(whole, 30, 200);
    QVERIFY(late.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QCOMPARE(uz.openArchive(&late), UnZip::Ok);
    QCOMPARE(int(uz.extractAll(path("late"))), int(UnZip::ReadFailed));
    QVERIFY(!QFile::exists(path("late/src/a.log")));
}

void tst_UnZip::errorTexts()
{
    UnZip uz;
    QCOMPARE(uz.formatError(UnZip::PartiallyCorrupted),
             QStringLiteral("Partially corrupted archive. Some files might be extracted."));
    QCOMPARE(uz.formatError(UnZip::HeaderConsistencyError),
             QStringLiteral("Inconsistent headers. Archive might be corrupted."));
    QCOMPARE(uz.formatError(UnZip::ErrorCode(16)), QStringLiteral("Unknown error."));
}

QTEST_GUILESS_MAIN(tst_UnZip)
#include "tst_unzip.moc"
