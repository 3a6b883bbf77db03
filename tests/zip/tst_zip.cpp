// The writer: layouts, levels, naming, limits and failures, read back with
// UnZip and by looking at the bytes.
#include "ziptestutil.h"

#include <zip/unzip.h>
#include <zip/zip.h>

#include <QBuffer>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

#include <csignal>
#include <sys/resource.h>

using namespace ziptest;

namespace {

// Raw deflate of `data` at `level`, as the writer is expected to produce it.
QByteArray rawDeflate(const QByteArray &data, int level)
{
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))), Qt::Uninitialized);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.truncate(int(zs.total_out));
    deflateEnd(&zs);
    return out;
}

ZipEntry entryOf(const QString &archive, const QString &name)
{
    UnZip uz;
    if (uz.openArchive(archive) != UnZip::Ok)
        return ZipEntry();
    const QList<ZipEntry> entries = uz.entryList();
    for (const ZipEntry &e : entries)
        if (e.filename() == name)
            return e;
    return ZipEntry();
}

// A device that takes bytes but cannot seek back, like a pipe or a socket.
class SequentialSink : public QIODevice
{
public:
    QByteArray data;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *d, qint64 n) override
    {
        data.append(d, int(n));
        return n;
    }
};

// A device that fails every write after `budget` bytes.
class FailingSink : public QIODevice
{
public:
    explicit FailingSink(qint64 budget) : m_budget(budget) {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 n) override
    {
        if (n > m_budget)
            return -1;
        m_budget -= n;
        return n;
    }

private:
    qint64 m_budget;
};

} // namespace

class tst_Zip : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void smallFilesAreStored_data();
    void smallFilesAreStored();
    void levelByFileType_data();
    void levelByFileType();
    void existingArchiveNotOverwritten();
    void addBeforeCreate();
    void emptyArchiveIsEndRecordOnly();
    void storedNames_data();
    void storedNames();
    void directoryNames();
    void missingFiles();
    void duplicatesSkipped();
    void nonAsciiNamesAsUtf8();
    void loggerPackingPath();
    void encryptedRoundTrip();
    void encryptionHeaderIsRandom();
    void sequentialDeviceUsesDescriptors();
    void refusesFilesPast4GiB();
    void writeFailureRemovesArchive();
    void deviceDestroyedWhileOpen();
    void errorTexts();

private:
    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
};

void tst_Zip::init()
{
    m_tmp.reset(new QTemporaryDir);
    QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
}

void tst_Zip::smallFilesAreStored_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("compression");
    QTest::newRow("59-bytes") << 59 << int(ZipEntry::NoCompression);
    QTest::newRow("60-bytes") << 60 << int(ZipEntry::Deflated);
    QTest::newRow("empty") << 0 << int(ZipEntry::NoCompression);
}

void tst_Zip::smallFilesAreStored()
{
    QFETCH(int, size);
    QFETCH(int, compression);
    const QString file = path(QStringLiteral("text%1.txt").arg(size));
    QVERIFY(writeFile(file, QByteArray(size, 'a')));
    Zip zip;
    QCOMPARE(zip.createArchive(path("small.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(file, QString(), Zip::IgnorePaths, Zip::Deflate9), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const ZipEntry e = entryOf(path("small.zip"), QFileInfo(file).fileName());
    QCOMPARE(int(e.compression()), compression);
    QCOMPARE(int(e.uncompressedSize()), size);
}

void tst_Zip::levelByFileType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("expectedLevel");
    QTest::newRow("txt-upper-case") << "report.TXT" << int(Zip::AutoFull) << 9;
    QTest::newRow("jpg-upper-case") << "photo.JPG" << int(Zip::AutoFull) << 2;
    QTest::newRow("tar-gz-complete-suffix") << "backup.tar.gz" << int(Zip::AutoFull) << 5;
    QTest::newRow("zip-stored") << "inner.zip" << int(Zip::AutoMIME) << 0;
    QTest::newRow("no-suffix") << "README" << int(Zip::AutoMIME) << 5;
    QTest::newRow("auto-cpu") << "report.txt" << int(Zip::AutoCPU) << 5;
    QTest::newRow("explicit-1") << "report.txt" << int(Zip::Deflate1) << 1;
}

void tst_Zip::levelByFileType()
{
    QFETCH(QString, name);
    QFETCH(int, level);
    QFETCH(int, expectedLevel);
    const QByteArray data = logText(200000, 5);
    QVERIFY(writeFile(path(name), data));
    Zip zip;
    QCOMPARE(zip.createArchive(path("levels.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path(name), QString(), Zip::IgnorePaths, Zip::CompressionLevel(level)), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const ZipEntry e = entryOf(path("levels.zip"), name);
    if (expectedLevel == 0) {
        QCOMPARE(e.compression(), ZipEntry::NoCompression);
        QCOMPARE(int(e.compressedSize()), data.size());
    } else {
        QCOMPARE(e.compression(), ZipEntry::Deflated);
        QCOMPARE(int(e.compressedSize()), rawDeflate(data, expectedLevel).size());
    }
}

void tst_Zip::existingArchiveNotOverwritten()
{
    QVERIFY(writeFile(path("keep.zip"), "precious"));
    Zip zip;
    QCOMPARE(zip.createArchive(path("keep.zip"), false), Zip::FileExists);
    QVERIFY(!zip.isOpen());
    QCOMPARE(readFile(path("keep.zip")), QByteArray("precious"));
    QCOMPARE(zip.formatError(Zip::FileExists), QStringLiteral("Unknown error."));
    QCOMPARE(zip.createArchive(QString()), Zip::FileNotFound);
}

void tst_Zip::addBeforeCreate()
{
    QVERIFY(writeFile(path("a.txt"), "a"));
    Zip zip;
    QCOMPARE(zip.addFile(path("a.txt")), Zip::NoOpenArchive);
    QCOMPARE(zip.addDirectory(m_tmp->path()), Zip::NoOpenArchive);
    int count = 7;
    QCOMPARE(zip.addFiles({path("a.txt")}, QString(), Zip::RelativePaths, Zip::Store, &count), Zip::NoOpenArchive);
    QCOMPARE(count, 0);
}

void tst_Zip::emptyArchiveIsEndRecordOnly()
{
    Zip zip;
    QCOMPARE(zip.createArchive(path("empty.zip")), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const QByteArray bytes = readFile(path("empty.zip"));
    QCOMPARE(bytes.size(), 22);
    QCOMPARE(u32(bytes, 0), 0x06054b50u);

    QCOMPARE(zip.createArchive(path("comment.zip")), Zip::Ok);
    zip.setArchiveComment(QStringLiteral("hello"));
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const QByteArray withComment = readFile(path("comment.zip"));
    QCOMPARE(withComment.size(), 27);
    QCOMPARE(withComment.right(5), QByteArray("hello"));
    UnZip uz;
    QCOMPARE(uz.openArchive(path("comment.zip")), UnZip::Ok);
    QCOMPARE(uz.archiveComment(), QStringLiteral("hello"));
}

void tst_Zip::storedNames_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ignore-paths") << int(Zip::IgnorePaths) << "" << "a.log";
    QTest::newRow("relative") << int(Zip::RelativePaths) << "" << "logs/a.log";
    QTest::newRow("relative-root") << int(Zip::RelativePaths) << " backup/ " << "backup/logs/a.log";
    QTest::newRow("absolute-no-leading-slash") << int(Zip::AbsolutePaths) << "" << "<dir>/logs/a.log";
    QTest::newRow("absolute-ignore-root") << int(Zip::AbsolutePaths | Zip::IgnoreRoot) << "" << "logs/a.log";
}

void tst_Zip::storedNames()
{
    QFETCH(int, options);
    QFETCH(QString, root);
    QFETCH(QString, expected);
    expected.replace("<dir>", QDir(m_tmp->path()).absolutePath().mid(1));
    QVERIFY(writeFile(path("logs/a.log"), "line\n"));
    Zip zip;
    QCOMPARE(zip.createArchive(path("names.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path("logs/a.log"), root, Zip::CompressionOptions(QFlag(options))), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    UnZip uz;
    QCOMPARE(uz.openArchive(path("names.zip")), UnZip::Ok);
    QCOMPARE(uz.fileList(), QStringList{expected});
}

void tst_Zip::directoryNames()
{
    QVERIFY(writeFile(path("tree/a.txt"), "a"));
    QVERIFY(writeFile(path("tree/sub/b.txt"), "b"));
    QVERIFY(QDir().mkpath(path("tree/empty")));
    Zip zip;
    QCOMPARE(zip.createArchive(path("dirs.zip")), Zip::Ok);
    int count = 0;
    QCOMPARE(zip.addDirectory(path("tree"), QString(), Zip::RelativePaths, Zip::AutoFull, &count), Zip::Ok);
    QCOMPARE(count, 3);
    QCOMPARE(zip.addDirectoryContents(path("tree"), QStringLiteral("flat/")), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    UnZip uz;
    QCOMPARE(uz.openArchive(path("dirs.zip")), UnZip::Ok);
    QCOMPARE(uz.fileList(), (QStringList{"flat/a.txt", "flat/empty/", "flat/sub/b.txt",
                                         "tree/a.txt", "tree/empty/", "tree/sub/b.txt"}));
    QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
    QCOMPARE(tree(path("out/tree")), tree(path("tree")));
}

void tst_Zip::missingFiles()
{
    QVERIFY(writeFile(path("present.txt"), "here"));
    Zip zip;
    QCOMPARE(zip.createArchive(path("missing.zip")), Zip::Ok);
    int count = -1;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^File or directory does not exist: .*absent.txt$"));
    QCOMPARE(zip.addFiles({path("present.txt"), path("absent.txt")}, QString(), Zip::IgnorePaths,
                          Zip::AutoFull, &count), Zip::FileNotFound);
    QCOMPARE(count, 0);
    QCOMPARE(zip.addFiles({path("absent.txt"), path("present.txt")}, QString(),
                          Zip::IgnorePaths | Zip::SkipBadFiles, Zip::AutoFull, &count), Zip::Ok);
    QCOMPARE(count, 1);
    QCOMPARE(zip.addFile(QString()), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    UnZip uz;
    QCOMPARE(uz.openArchive(path("missing.zip")), UnZip::Ok);
    QCOMPARE(uz.fileList(), QStringList{"present.txt"});
}

void tst_Zip::duplicatesSkipped()
{
    QVERIFY(writeFile(path("dup.txt"), "dup"));
    Zip zip;
    QCOMPARE(zip.createArchive(path("dup.zip")), Zip::Ok);
    int count = 0;
    const QStringList twice{path("dup.txt"), path("./dup.txt")};
    QCOMPARE(zip.addFiles(twice, QString(), Zip::IgnorePaths | Zip::CheckForDuplicates, Zip::AutoFull, &count), Zip::Ok);
    QCOMPARE(count, 1);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
}

void tst_Zip::nonAsciiNamesAsUtf8()
{
    const QString cyrillic = QStringLiteral("\u043e\u0442\u0447\u0435\u0442.txt");
    const QString latin = QStringLiteral("caf\u00e9.txt");
    QVERIFY(writeFile(path(cyrillic), "report"));
    QVERIFY(writeFile(path(latin), "coffee"));
    QVERIFY(writeFile(path("plain.txt"), "plain"));
    Zip zip;
    QCOMPARE(zip.createArchive(path("names.zip")), Zip::Ok);
    QCOMPARE(zip.addFiles({path("plain.txt"), path(cyrillic), path(latin)}, QString(), Zip::IgnorePaths), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    // Local headers in order: the ASCII name without bit 11, the others with it.
    const QByteArray bytes = readFile(path("names.zip"));
    int at = 0;
    QMap<QByteArray, quint16> flags;
    while (u32(bytes, at) == 0x04034b50) {
        const QByteArray name = bytes.mid(at + 30, u16(bytes, at + 26));
        flags.insert(name, u16(bytes, at + 6));
        at += 30 + name.size() + u16(bytes, at + 28) + int(u32(bytes, at + 18));
    }
    QCOMPARE(flags.value("plain.txt"), quint16(0));
    QCOMPARE(flags.value(cyrillic.toUtf8()), quint16(0x0800));
    QCOMPARE(flags.value(latin.toUtf8()), quint16(0x0800));

    UnZip uz;
    QCOMPARE(uz.openArchive(path("names.zip")), UnZip::Ok);
    QVERIFY(uz.contains(cyrillic));
    QVERIFY(uz.contains(latin));
    QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
    QCOMPARE(readFile(path("out/" + cyrillic)), QByteArray("report"));
}

void tst_Zip::loggerPackingPath()
{
    // What the logger does with an old log file: level 12, bare file name.
    const QString log = path("logs/2024-01-02_kiosk.log");
    const QByteArray text = logText(300000, 9);
    QVERIFY(writeFile(log, text));
    const QDateTime mtime = QDateTime::currentDateTime().addDays(-3);
    {
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
    const QString archive = log + ".zip";
    {
        Zip zip;
        QCOMPARE(zip.createArchive(archive, true), Zip::Ok);
        QCOMPARE(zip.addFile(log, QString(), Zip::IgnorePaths, Zip::AutoFull), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    UnZip uz;
    QCOMPARE(uz.openArchive(archive), UnZip::Ok);
    const QList<ZipEntry> entries = uz.entryList();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().filename(), QStringLiteral("2024-01-02_kiosk.log"));
    QCOMPARE(entries.first().compression(), ZipEntry::Deflated);
    QVERIFY(qAbs(entries.first().lastModified().secsTo(mtime)) <= 2);
    QCOMPARE(uz.verifyArchive(), UnZip::Ok);
    QCOMPARE(uz.extractAll(path("restored")), UnZip::Ok);
    QCOMPARE(readFile(path("restored/2024-01-02_kiosk.log")), text);
    QVERIFY(qAbs(QFileInfo(path("restored/2024-01-02_kiosk.log")).lastModified().secsTo(mtime)) <= 2);
}

void tst_Zip::encryptedRoundTrip()
{
    QVERIFY(writeFile(path("secret/a.txt"), logText(100000, 3)));
    QVERIFY(writeFile(path("secret/tiny.txt"), "tiny"));
    Zip zip;
    zip.setPassword(QStringLiteral("s3cret"));
    QCOMPARE(zip.createArchive(path("enc.zip")), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("secret")), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    UnZip uz;
    QCOMPARE(uz.openArchive(path("enc.zip")), UnZip::Ok);
    for (const ZipEntry &e : uz.entryList())
        QVERIFY(e.isEncrypted());
    QTest::ignoreMessage(QtDebugMsg, "Unable to decrypt secret/a.txt");
    QTest::ignoreMessage(QtDebugMsg, "Unable to decrypt secret/tiny.txt");
    QCOMPARE(uz.verifyArchive(), UnZip::WrongPassword);
    {
        // One wrong password in 256 passes the one-byte check of the scheme
        // and fails later as corrupted data: the result is 6 either way.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
        uz.setPassword(QStringLiteral("wrong"));
        QCOMPARE(uz.extractAll(path("bad")), UnZip::WrongPassword);
        QVERIFY(!QFile::exists(path("bad/secret/a.txt")));
    }
    uz.setPassword(QStringLiteral("s3cret"));
    QCOMPARE(uz.extractAll(path("good")), UnZip::Ok);
    QCOMPARE(tree(path("good/secret")), tree(path("secret")));
}

void tst_Zip::encryptionHeaderIsRandom()
{
    QVERIFY(writeFile(path("same.txt"), logText(1000, 4)));
    QByteArray archives[2];
    for (QByteArray &bytes : archives) {
        QBuffer buffer(&bytes);
        Zip zip;
        zip.setPassword(QStringLiteral("pw"));
        QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
        QCOMPARE(zip.addFile(path("same.txt"), QString(), Zip::IgnorePaths), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    const int dataAt = 30 + int(qstrlen("same.txt"));
    QVERIFY(archives[0].mid(dataAt, 11) != archives[1].mid(dataAt, 11));
}

void tst_Zip::sequentialDeviceUsesDescriptors()
{
    const QByteArray text = logText(700000, 6);
    QVERIFY(writeFile(path("stream.log"), text));
    SequentialSink sink;
    Zip zip;
    QCOMPARE(zip.createArchive(&sink), Zip::Ok);
    QCOMPARE(zip.addFile(path("stream.log"), QString(), Zip::IgnorePaths), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(u16(sink.data, 6) & 0x0008, 0x0008);
    QBuffer in(&sink.data);
    UnZip uz;
    QCOMPARE(uz.openArchive(&in), UnZip::Ok);
    QBuffer out;
    QCOMPARE(uz.extractFile(QStringLiteral("stream.log"), &out), UnZip::Ok);
    QCOMPARE(out.data(), text);
}

void tst_Zip::refusesFilesPast4GiB()
{
    QVERIFY(writeFile(path("before.txt"), "before"));
    QFile huge(path("huge.bin"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    if (!huge.resize(qint64(0x100000000LL) + 1))  // sparse: no blocks are written
        QSKIP("the file system cannot hold a sparse 4 GiB file");
    huge.close();
    const auto cleanup = qScopeGuard([&] { huge.remove(); });
    Zip zip;
    QCOMPARE(zip.createArchive(path("limit.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path("before.txt"), QString(), Zip::IgnorePaths), Zip::Ok);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^File too large for the zip format: .*huge.bin$"));
    QCOMPARE(zip.addFile(path("huge.bin"), QString(), Zip::IgnorePaths, Zip::Store), Zip::FileTooLarge);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    UnZip uz;
    QCOMPARE(uz.openArchive(path("limit.zip")), UnZip::Ok);
    QCOMPARE(uz.fileList(), QStringList{"before.txt"});
    QCOMPARE(uz.verifyArchive(), UnZip::Ok);
}

void tst_Zip::writeFailureRemovesArchive()
{
    QVERIFY(writeFile(path("data.bin"), randomBytes(50000)));
    QVERIFY(writeFile(path("big.bin"), randomBytes(600000)));
    FailingSink sink(1000);
    QVERIFY(sink.open(QIODevice::WriteOnly));
    {
        Zip zip;
        QCOMPARE(zip.createArchive(&sink), Zip::Ok);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Error while writing .*big.bin$"));
        QCOMPARE(zip.addFile(path("big.bin"), QString(), Zip::IgnorePaths, Zip::Store), Zip::WriteFailed);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }

    // A file size limit makes the archive file fail where a full disk would:
    // the entry fits, the central directory does not.
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
    });
    struct rlimit limited = old;
    limited.rlim_cur = 50000 + 30 + 8 + 10;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Zip zip;
    QCOMPARE(zip.createArchive(path("broken.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path("data.bin"), QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::WriteFailed);
    QVERIFY(!QFile::exists(path("broken.zip")));
}

void tst_Zip::deviceDestroyedWhileOpen()
{
    auto *buffer = new QBuffer;
    Zip zip;
    QCOMPARE(zip.createArchive(buffer), Zip::Ok);
    QVERIFY(zip.isOpen());
    QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
    delete buffer;
    QVERIFY(!zip.isOpen());
    QCOMPARE(zip.closeArchive(), Zip::NoOpenArchive);
    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(zip.createArchive(static_cast<QIODevice *>(nullptr)), Zip::OpenFailed);
}

void tst_Zip::errorTexts()
{
    Zip zip;
    QCOMPARE(zip.formatError(Zip::Ok), QStringLiteral("ZIP operation completed successfully."));
    QCOMPARE(zip.formatError(Zip::NoOpenArchive), QStringLiteral("No archive has been created yet."));
    QCOMPARE(zip.formatError(Zip::SeekFailed), QStringLiteral("File seek error."));
    QCOMPARE(zip.formatError(Zip::ErrorCode(42)), QStringLiteral("Unknown error."));
}

QTEST_GUILESS_MAIN(tst_Zip)
#include "tst_zip.moc"
