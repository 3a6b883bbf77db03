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
#include <limits>
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

// A device that keeps what it takes; sequential (it cannot seek back, like a
// pipe or a socket) or failing every write after `budget` bytes.
class Sink : public QIODevice
{
public:
    QByteArray data;
    bool sequential = false;
    qint64 budget = std::numeric_limits<qint64>::max();
    bool isSequential() const override { return sequential; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *d, qint64 n) override
    {
        if (n > budget)
            return -1;
        budget -= n;
        data.append(d, int(n));
        return n;
    }
};

} // namespace

class tst_Zip : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }

    QStringList namesIn(const QString &archive)
    {
        UnZip uz;
        return uz.openArchive(archive) == UnZip::Ok ? uz.fileList() : QStringList{"not readable"};
    }

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
    }

    void compressionLevel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("expectedLevel"); // 0: stored
        // Small files grow when deflated: stored at any level.
        QTest::newRow("59-bytes") << "small.txt" << 59 << int(Zip::Deflate9) << 0;
        QTest::newRow("60-bytes") << "small.txt" << 60 << int(Zip::Deflate9) << 9;
        QTest::newRow("empty") << "small.txt" << 0 << int(Zip::Deflate9) << 0;
        QTest::newRow("txt-upper-case") << "report.TXT" << 200000 << int(Zip::AutoFull) << 9;
        QTest::newRow("jpg-upper-case") << "photo.JPG" << 200000 << int(Zip::AutoFull) << 2;
        QTest::newRow("tar-gz-complete-suffix") << "backup.tar.gz" << 200000 << int(Zip::AutoFull) << 5;
        QTest::newRow("zip-stored") << "inner.zip" << 200000 << int(Zip::AutoMIME) << 0;
        QTest::newRow("no-suffix") << "README" << 200000 << int(Zip::AutoMIME) << 5;
        QTest::newRow("auto-cpu") << "report.txt" << 200000 << int(Zip::AutoCPU) << 5;
        QTest::newRow("explicit-1") << "report.txt" << 200000 << int(Zip::Deflate1) << 1;
    }

    void compressionLevel()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(int, level);
        QFETCH(int, expectedLevel);
        const QByteArray data = logText(size, 5);
        QVERIFY(writeFile(path(name), data));
        QCOMPARE(zipFiles(path("levels.zip"), {path(name)}, Zip::IgnorePaths, Zip::CompressionLevel(level)), Zip::Ok);
        UnZip uz;
        QCOMPARE(uz.openArchive(path("levels.zip")), UnZip::Ok);
        const ZipEntry e = uz.entryList().value(0);
        QCOMPARE(e.filename(), name);
        QCOMPARE(int(e.uncompressedSize()), size);
        QCOMPARE(e.compression(), expectedLevel ? ZipEntry::Deflated : ZipEntry::NoCompression);
        QCOMPARE(int(e.compressedSize()), expectedLevel ? rawDeflate(data, expectedLevel).size() : size);
    }

    // No archive, no writing; an existing file is kept when asked.
    void refusals()
    {
        QVERIFY(writeFile(path("keep.zip"), "precious"));
        Zip zip;
        QCOMPARE(zip.createArchive(path("keep.zip"), false), Zip::FileExists);
        QVERIFY(!zip.isOpen());
        QCOMPARE(readFile(path("keep.zip")), QByteArray("precious"));
        QCOMPARE(zip.createArchive(QString()), Zip::FileNotFound);
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(zip.createArchive(static_cast<QIODevice *>(nullptr)), Zip::OpenFailed);
        QCOMPARE(zip.addFile(path("keep.zip")), Zip::NoOpenArchive);
        QCOMPARE(zip.addDirectory(m_tmp->path()), Zip::NoOpenArchive);
        int count = 7;
        QCOMPARE(zip.addFiles({path("keep.zip")}, QString(), Zip::RelativePaths, Zip::Store, &count),
                 Zip::NoOpenArchive);
        QCOMPARE(count, 0);
        QCOMPARE(zip.closeArchive(), Zip::NoOpenArchive);
    }

    void deviceDestroyedWhileOpen()
    {
        auto *buffer = new QBuffer;
        Zip zip;
        QCOMPARE(zip.createArchive(buffer), Zip::Ok);
        QVERIFY(zip.isOpen());
        QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
        delete buffer;
        QVERIFY(!zip.isOpen());
        QCOMPARE(zip.closeArchive(), Zip::NoOpenArchive);
    }

    void emptyArchiveIsEndRecordOnly()
    {
        QCOMPARE(zipFiles(path("empty.zip"), {}), Zip::Ok);
        const QByteArray bytes = readFile(path("empty.zip"));
        QCOMPARE(bytes.size(), 22);
        QCOMPARE(u32(bytes, 0), 0x06054b50u);

        Zip zip;
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

    void storedNames_data()
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

    void storedNames()
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
        QCOMPARE(namesIn(path("names.zip")), QStringList{expected});
    }

    void directoryNames()
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
        QCOMPARE(namesIn(path("dirs.zip")), (QStringList{"flat/a.txt", "flat/empty/", "flat/sub/b.txt", "tree/a.txt",
                                                         "tree/empty/", "tree/sub/b.txt"}));
        UnZip uz;
        QCOMPARE(uz.openArchive(path("dirs.zip")), UnZip::Ok);
        QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
        QCOMPARE(tree(path("out/tree")), tree(path("tree")));
    }

    // A missing file fails the call unless skipped; a duplicate counts once.
    void addFilesSkipsAndCounts()
    {
        QVERIFY(writeFile(path("present.txt"), "here"));
        Zip zip;
        QCOMPARE(zip.createArchive(path("counts.zip")), Zip::Ok);
        int count = -1;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^File or directory does not exist: .*absent.txt$"));
        QCOMPARE(zip.addFiles({path("present.txt"), path("absent.txt")}, QString(), Zip::IgnorePaths,
                              Zip::AutoFull, &count), Zip::FileNotFound);
        QCOMPARE(count, 0);
        QCOMPARE(zip.addFiles({path("absent.txt"), path("present.txt"), path("./present.txt")}, QString(),
                              Zip::IgnorePaths | Zip::SkipBadFiles | Zip::CheckForDuplicates, Zip::AutoFull, &count),
                 Zip::Ok);
        QCOMPARE(count, 1);
        QCOMPARE(zip.addFile(QString()), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
        QCOMPARE(namesIn(path("counts.zip")), QStringList{"present.txt"});
    }

    void nonAsciiNamesAsUtf8()
    {
        const QString cyrillic = QStringLiteral("\u043e\u0442\u0447\u0435\u0442.txt");
        const QString latin = QStringLiteral("caf\u00e9.txt");
        QVERIFY(writeFile(path(cyrillic), "report"));
        QVERIFY(writeFile(path(latin), "coffee"));
        QVERIFY(writeFile(path("plain.txt"), "plain"));
        QCOMPARE(zipFiles(path("names.zip"), {path("plain.txt"), path(cyrillic), path(latin)}), Zip::Ok);

        // Local headers in order: the ASCII name without bit 11, the others with it.
        const QByteArray bytes = readFile(path("names.zip"));
        QMap<QByteArray, quint16> flags;
        for (int at = 0; u32(bytes, at) == 0x04034b50;) {
            const QByteArray name = bytes.mid(at + 30, u16(bytes, at + 26));
            flags.insert(name, u16(bytes, at + 6));
            at += 30 + name.size() + u16(bytes, at + 28) + int(u32(bytes, at + 18));
        }
        QCOMPARE(flags, (QMap<QByteArray, quint16>{{"plain.txt", 0}, {cyrillic.toUtf8(), 0x0800},
                                                   {latin.toUtf8(), 0x0800}}));
        UnZip uz;
        QCOMPARE(uz.openArchive(path("names.zip")), UnZip::Ok);
        QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
        QCOMPARE(readFile(path("out/" + cyrillic)), QByteArray("report"));
        QCOMPARE(readFile(path("out/" + latin)), QByteArray("coffee"));
    }

    void encryptedRoundTrip()
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

    void encryptionHeaderIsRandom()
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

    void sequentialDeviceUsesDescriptors()
    {
        const QByteArray text = logText(700000, 6);
        QVERIFY(writeFile(path("stream.log"), text));
        Sink sink;
        sink.sequential = true;
        QCOMPARE(zipFiles(&sink, {path("stream.log")}), Zip::Ok);
        QCOMPARE(u16(sink.data, 6) & 0x0008, 0x0008);
        QBuffer in(&sink.data);
        UnZip uz;
        QCOMPARE(uz.openArchive(&in), UnZip::Ok);
        QBuffer out;
        QCOMPARE(uz.extractFile(QStringLiteral("stream.log"), &out), UnZip::Ok);
        QCOMPARE(out.data(), text);
    }

    void refusesFilesPast4GiB()
    {
        QVERIFY(writeFile(path("before.txt"), "before"));
        QFile huge(path("huge.bin"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        if (!huge.resize(qint64(0x100000000LL) + 1)) // sparse: no blocks are written
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

    void writeFailureRemovesArchive()
    {
        QVERIFY(writeFile(path("data.bin"), randomBytes(50000)));
        QVERIFY(writeFile(path("big.bin"), randomBytes(600000)));
        Sink sink;
        sink.budget = 1000;
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

    void errorTexts()
    {
        Zip zip;
        QCOMPARE(zip.formatError(Zip::Ok), QStringLiteral("ZIP operation completed successfully."));
        QCOMPARE(zip.formatError(Zip::NoOpenArchive), QStringLiteral("No archive has been created yet."));
        QCOMPARE(zip.formatError(Zip::SeekFailed), QStringLiteral("File seek error."));
        QCOMPARE(zip.formatError(Zip::FileExists), QStringLiteral("Unknown error."));
        QCOMPARE(zip.formatError(Zip::ErrorCode(42)), QStringLiteral("Unknown error."));
    }
};

QTEST_GUILESS_MAIN(tst_Zip)
#include "tst_zip.moc"
