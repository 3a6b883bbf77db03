// Writing and reading archives, also damaged or hostile ones.
#include "ziptestutil.h"

#include <zip/unzip.h>

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace ziptest;

class tst_Zip : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
    // src/a.log, src/sub/b.bin and src/sub/c.txt, made afresh for every test.
    QString sample() const { return path(QStringLiteral("sample.zip")); }
    static quint32 le(const char *p) { return qFromLittleEndian<quint32>(p); }
    static int endRecordAt(const QByteArray &a) { return a.lastIndexOf("PK\x05\x06"); }
    static int centralAt(const QByteArray &a) { return int(le(a.data() + endRecordAt(a) + 16)); }

    // Stored entries under any names: written under placeholders, then renamed.
    QByteArray archiveOf(const QList<QPair<QByteArray, QByteArray>> &entries)
    {
        QStringList files;
        for (int i = 0; i < entries.size(); ++i) {
            files << path(QString(entries[i].first.size(), QChar('P' + i)));
            writeFile(files.last(), entries[i].second);
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        zipFiles(&buffer, files);
        for (int i = 0; i < entries.size(); ++i)
            bytes.replace(QByteArray(entries[i].first.size(), char('P' + i)), entries[i].first);
        return bytes;
    }

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
        QVERIFY(writeFile(path("src/a.log"), logText(150000, 11)));
        QVERIFY(writeFile(path("src/sub/b.bin"), randomBytes(3000, 12)));
        QVERIFY(writeFile(path("src/sub/c.txt"), "short"));
        QCOMPARE(zipFiles(sample(), { path("src") }, Zip::RelativePaths), Zip::Ok);
    }

    void compressionLevel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("expectedLevel"); // 0: stored
        const auto row = [](const char *tag, const char *name, int size, int level, int expected) {
            QTest::newRow(tag) << QString(name) << size << level << expected;
        };
        // Small files grow when deflated: stored at any level.
        row("59-bytes", "small.txt", 59, Zip::Deflate9, 0);
        row("60-bytes", "small.txt", 60, Zip::Deflate9, 9);
        row("txt-upper-case", "report.TXT", 200000, Zip::AutoFull, 9);
        row("jpg-upper-case", "photo.JPG", 200000, Zip::AutoFull, 2);
        row("tar-gz-complete-suffix", "backup.tar.gz", 200000, Zip::AutoFull, 5);
        row("zip-stored", "inner.zip", 200000, Zip::AutoMIME, 0);
        row("auto-cpu", "report.txt", 200000, Zip::AutoCPU, 5);
    }

    void compressionLevel()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(int, level);
        QFETCH(int, expectedLevel);
        const QByteArray data = logText(size, 5);
        QVERIFY(writeFile(path(name), data));
        Zip zip;
        QCOMPARE(zip.createArchive(path("levels.zip")), Zip::Ok);
        QCOMPARE(zip.addFile(path(name), {}, Zip::IgnorePaths, Zip::CompressionLevel(level)),
                 Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
        UnZip uz;
        QCOMPARE(uz.openArchive(path("levels.zip")), UnZip::Ok);
        const ZipEntry e = uz.entryList().value(0);
        QCOMPARE(int(e.uncompressedSize()), size);
        QCOMPARE(e.compression(), expectedLevel ? ZipEntry::Deflated : ZipEntry::NoCompression);
        // qCompress() adds a length, a zlib header and a checksum, 10 bytes in all.
        QCOMPARE(int(e.compressedSize()),
                 expectedLevel ? qCompress(data, expectedLevel).size() - 10 : size);
    }

    // No archive, no writing; an existing file is kept when asked.
    void refusalsAndEmptyArchive()
    {
        QVERIFY(writeFile(path("keep.zip"), "precious"));
        Zip zip;
        QCOMPARE(zip.createArchive(path("keep.zip"), false), Zip::FileExists);
        QCOMPARE(zip.formatError(Zip::FileExists), QStringLiteral("Unknown error."));
        QCOMPARE(zip.formatError(Zip::Ok), QStringLiteral("ZIP operation completed successfully."));
        QCOMPARE(zip.formatError(Zip::SeekFailed), QStringLiteral("File seek error."));
        QCOMPARE(readFile(path("keep.zip")), QByteArray("precious"));
        QCOMPARE(zip.createArchive(QString()), Zip::FileNotFound);
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(zip.createArchive(static_cast<QIODevice *>(nullptr)), Zip::OpenFailed);
        int count = 7;
        QCOMPARE(zip.addFiles({ path("keep.zip") }, {}, Zip::RelativePaths, Zip::Store, &count),
                 Zip::NoOpenArchive);
        QCOMPARE(count, 0);
        QCOMPARE(zip.closeArchive(), Zip::NoOpenArchive);
        // Without entries: the end record alone, with the comment in Latin-1.
        QCOMPARE(zip.createArchive(path("empty.zip")), Zip::Ok);
        zip.setArchiveComment(QStringLiteral("Gr\u00fc\u00dfe"));
        QCOMPARE(zip.closeArchive(), Zip::Ok);
        QCOMPARE(readFile(path("empty.zip")).toHex(),
                 "504b0506" + QByteArray(32, '0') + "05004772fcdf65");
        UnZip uz;
        QCOMPARE(uz.openArchive(path("empty.zip")), UnZip::Ok);
        QCOMPARE(uz.archiveComment(), QStringLiteral("Gr\u00fc\u00dfe"));
    }

    // Stored names by option, for directories, skipped and repeated files, UTF-8.
    void storedNames()
    {
        const QString cafe = QStringLiteral("tree/caf\u00e9.txt");
        const QString report = QStringLiteral("\u043e\u0442\u0447\u0435\u0442.txt");
        for (const QString &name : { QStringLiteral("logs/a.log"), QStringLiteral("tree/a.txt"),
                                     QStringLiteral("tree/sub/b.txt"), cafe, report })
            QVERIFY(writeFile(path(name), name.toUtf8()));
        QVERIFY(QDir().mkpath(path("tree/empty")));
        const QString log = path("logs/a.log");
        Zip zip;
        QCOMPARE(zip.createArchive(path("names.zip")), Zip::Ok);
        QCOMPARE(zip.addFile(log, {}, Zip::IgnorePaths), Zip::Ok);
        QCOMPARE(zip.addFile(log, QStringLiteral(" backup/ "), Zip::RelativePaths), Zip::Ok);
        QCOMPARE(zip.addFile(log, {}, Zip::AbsolutePaths), Zip::Ok); // no leading "/"
        QCOMPARE(zip.addFile(log, QStringLiteral("own/"), Zip::AbsolutePaths | Zip::IgnoreRoot),
                 Zip::Ok);
        int count = 0;
        QCOMPARE(zip.addDirectory(path("tree"), {}, Zip::RelativePaths, Zip::AutoFull, &count),
                 Zip::Ok);
        QCOMPARE(count, 4);
        QCOMPARE(zip.addDirectoryContents(path("tree"), QStringLiteral("flat/")), Zip::Ok);
        // A missing file fails the call unless skipped; a repeated one counts once.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^File or directory does not exist: "));
        QCOMPARE(zip.addFiles({ path(report), path("absent") }, {}, Zip::IgnorePaths, Zip::AutoFull,
                              &count),
                 Zip::FileNotFound);
        QCOMPARE(count, 0);
        const auto skipping = Zip::IgnorePaths | Zip::SkipBadFiles | Zip::CheckForDuplicates;
        QCOMPARE(zip.addFiles({ path("absent"), path(report), path("./" + report) }, {}, skipping,
                              Zip::AutoFull, &count),
                 Zip::Ok);
        QCOMPARE(count, 1);
        QCOMPARE(zip.addFile(QString()), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
        QStringList expected = QStringLiteral("a.log backup/logs/a.log own/logs/a.log tree/a.txt "
                                              "tree/empty/ tree/sub/b.txt flat/a.txt flat/empty/ "
                                              "flat/sub/b.txt")
                                   .split(' ');
        expected << cafe << report << "flat/" + cafe.mid(5)
                 << QDir(m_tmp->path()).absolutePath().mid(1) + "/logs/a.log";
        expected.sort();
        UnZip uz;
        QCOMPARE(uz.openArchive(path("names.zip")), UnZip::Ok);
        QCOMPARE(uz.fileList(), expected);
        const QByteArray bytes = readFile(path("names.zip"));
        const auto flags = [&](const QString &name) {
            return le(bytes.data() + bytes.indexOf(name.toUtf8()) - 24) & 0xffff;
        };
        QCOMPARE(flags("a.log"), 0);
        QCOMPARE(flags(cafe), 0x0800);
        QCOMPARE(flags(report), 0x0800);
        QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
        QCOMPARE(tree(path("out/tree")), tree(path("tree")));
        // The archive is left out of a directory that holds it, also one named through a link.
        QVERIFY(QFile::link(path("tree"), path("link")));
        QCOMPARE(zipFiles(path("link/self.zip"), { path("tree") }, Zip::RelativePaths), Zip::Ok);
        QCOMPARE(uz.openArchive(path("tree/self.zip")), UnZip::Ok);
        QVERIFY(!uz.fileList().contains("tree/self.zip"));
    }

    void encryptedRoundTrip()
    {
        QVERIFY(writeFile(path("secret/a.txt"), logText(100000, 3)));
        QVERIFY(writeFile(path("secret/tiny.txt"), "tiny"));
        QByteArray archives[2];
        for (QByteArray &bytes : archives) {
            QBuffer buffer(&bytes);
            Zip zip;
            zip.setPassword(QStringLiteral("s3cret"));
            QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
            QCOMPARE(zip.addDirectory(path("secret")), Zip::Ok);
            QCOMPARE(zip.closeArchive(), Zip::Ok);
        }
        // The 12-byte encryption header is random, also in archives made in the same second.
        const int dataAt = 30 + int(qstrlen("secret/a.txt"));
        QVERIFY(archives[0].mid(dataAt, 11) != archives[1].mid(dataAt, 11));
        QBuffer in(&archives[0]);
        UnZip uz;
        QCOMPARE(uz.openArchive(&in), UnZip::Ok);
        QVERIFY(uz.entryList().value(0).isEncrypted() && uz.entryList().value(1).isEncrypted());
        QTest::ignoreMessage(QtDebugMsg, "Unable to decrypt secret/a.txt");
        QTest::ignoreMessage(QtDebugMsg, "Unable to decrypt secret/tiny.txt");
        QCOMPARE(uz.verifyArchive(), UnZip::WrongPassword);
        // One wrong password in 256 passes the check byte and fails later: 6 either way.
        const auto quiet = silenceDebug();
        uz.setPassword(QStringLiteral("wrong"));
        QCOMPARE(uz.extractAll(path("bad")), UnZip::WrongPassword);
        QVERIFY(!QFile::exists(path("bad/secret/a.txt")));
        uz.setPassword(QStringLiteral("s3cret"));
        QCOMPARE(uz.extractAll(path("good")), UnZip::Ok);
        QCOMPARE(tree(path("good/secret")), tree(path("secret")));
    }

    // A full disk (a file size limit) in an entry, which is rolled back, or in
    // the central directory, which leaves no archive.
    void fullDisk()
    {
        QVERIFY(writeFile(path("big.bin"), randomBytes(600000, 1)));
        QVERIFY(writeFile(path("small.bin"), randomBytes(50000, 2)));
        struct rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        const auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &old);
            signal(SIGXFSZ, oldHandler);
        });
        for (const bool big : { true, false }) {
            struct rlimit limited = old;
            limited.rlim_cur = big ? 1000 : 50000 + 30 + 9 + 10;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            Zip zip;
            QCOMPARE(zip.createArchive(path("full.zip")), Zip::Ok);
            if (big)
                QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Error while writing "));
            QCOMPARE(
                zip.addFile(path(big ? "big.bin" : "small.bin"), {}, Zip::IgnorePaths, Zip::Store),
                big ? Zip::WriteFailed : Zip::Ok);
            QCOMPARE(zip.closeArchive(), big ? Zip::Ok : Zip::WriteFailed);
            QCOMPARE(QFile::exists(path("full.zip")), big);
            UnZip uz;
            QVERIFY(!big
                    || (uz.openArchive(path("full.zip")) == UnZip::Ok && uz.fileList().isEmpty()));
        }
        // In a buffered file of the caller's, the end record fails when it leaves the buffer.
        struct rlimit limited = old;
        limited.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        QFile out(path("caller.zip"));
        Zip zip;
        QVERIFY(out.open(QIODevice::WriteOnly) && zip.createArchive(&out) == Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::WriteFailed);
    }

    void extractOptions()
    {
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
        // Verifying writes nothing, not even into the working directory.
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(path("src/sub")));
        const auto back = qScopeGuard([&] { QDir::setCurrent(old); });
        QCOMPARE(uz.verifyArchive(), UnZip::Ok);
        QCOMPARE(tree(m_tmp->path()).size(), 6);
        QCOMPARE(uz.extractFiles({ "src/nope.txt", "src/sub/c.txt" }, path("some")), UnZip::Ok);
        QCOMPARE(tree(path("some"), false).keys(), QStringList { "src/sub/c.txt" });
        QCOMPARE(uz.extractFile("src/nope.txt", path("some")), UnZip::FileNotFound);
        QCOMPARE(uz.extractAll(path("flat"), UnZip::SkipPaths), UnZip::Ok);
        QCOMPARE(tree(path("flat"), false).keys(), QStringList({ "a.log", "b.bin", "c.txt" }));
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression("^Unable to open .*/a.log for writing$"));
        QCOMPARE(uz.extractFile("src/a.log", path("missing"), UnZip::NoSilentDirectoryCreation),
                 UnZip::OpenFailed);
        QVERIFY(!QFile::exists(path("missing")));
        QVERIFY(writeFile(path("blocked"), "a file where a directory should go"));
        QTest::ignoreMessage(
            QtDebugMsg,
            QRegularExpression("^Unable to create output directory .*blocked/src/sub$"));
        QCOMPARE(uz.extractFile("src/sub/c.txt", path("blocked")), UnZip::CreateDirFailed);
        // A FIFO where an entry goes fails the extraction instead of blocking it.
        QVERIFY(QDir().mkpath(path("fifo/src/sub")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo/src/sub/c.txt")).constData(), 0600), 0);
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression("^Unable to open .*fifo/src/sub/c.txt "));
        QCOMPARE(uz.extractFile("src/sub/c.txt", path("fifo")), UnZip::OpenFailed);
    }

    // Directories made by one call are not taken for granted by the next.
    void extractAgainAfterTargetRemoved()
    {
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
            QCOMPARE(tree(path("out"), false).size(), 3);
            QVERIFY(QDir(path("out")).removeRecursively());
            QCOMPARE(uz.extractFiles({ "src/sub/c.txt" }, path("out")), UnZip::Ok);
            QCOMPARE(uz.extractFile("src/sub/b.bin", path("out")), UnZip::Ok);
            QCOMPARE(tree(path("out"), false).size(), 2);
            QVERIFY(QDir(path("out")).removeRecursively());
        }
    }

    // Stored times: local, in two-second steps, 1980 to 2107; restored on extraction.
    void timestamps()
    {
        const QByteArray zone = qgetenv("TZ");
        const auto restore = qScopeGuard([&] {
            zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
            tzset();
        });
        qputenv("TZ", "UTC"); // the writer shifts every time by the offset of today
        const char *const times[][2] = { { "2019-07-14T08:30:41", "2019-07-14T08:30:40" },
                                         { "2000-02-29T23:59:58", "2000-02-29T23:59:58" },
                                         { "2100-03-01T00:00:02", "2100-03-01T00:00:02" },
                                         { "1979-12-31T23:59:59", "1980-01-01T00:00:00" },
                                         { "2108-01-01T00:00:00", "2107-12-31T23:59:58" } };
        const auto at = [](const char *iso) {
            return QDateTime::fromString(iso, Qt::ISODate);
        };
        QStringList files;
        for (const auto &t : times) {
            files << path(QStringLiteral("t/%1").arg(files.size()));
            QVERIFY(writeFile(files.last(), t[0]) && zip_setFileTimestamp(files.last(), at(t[0])));
            QCOMPARE(QFileInfo(files.last()).lastModified(), at(t[0]));
        }
        QCOMPARE(zipFiles(path("t.zip"), files), Zip::Ok);
        UnZip uz;
        QCOMPARE(uz.openArchive(path("t.zip")), UnZip::Ok);
        QCOMPARE(uz.extractAll(path("out")), UnZip::Ok);
        for (const ZipEntry &e : uz.entryList()) {
            QCOMPARE(e.lastModified(), at(times[e.filename().toInt()][1]));
            QCOMPARE(QFileInfo(path("out/" + e.filename())).lastModified(), e.lastModified());
        }
        // 02:30 on the day the clocks go from 02:00 to 03:00 is read as 03:30.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QByteArray gap = archiveOf({ { "gap", "x" } });
        for (const int at : { 10, centralAt(gap) + 12 }) // DOS time and date
            gap.replace(at, 4, QByteArray::fromHex("c0137c52"));
        QVERIFY(writeFile(path("gap.zip"), gap));
        QCOMPARE(uz.openArchive(path("gap.zip")), UnZip::Ok);
        QCOMPARE(uz.extractAll(path("gap")), UnZip::Ok);
        const QDateTime expected(QDate(2021, 3, 28), QTime(1, 30), Qt::UTC);
        QCOMPARE(uz.entryList().value(0).lastModified(), expected);
        QCOMPARE(QFileInfo(path("gap/gap")).lastModified(), expected);
    }

    void unusableArchives()
    {
        UnZip uz;
        QCOMPARE(uz.formatError(UnZip::PartiallyCorrupted),
                 QStringLiteral("Partially corrupted archive. Some files might be extracted."));
        QCOMPARE(uz.formatError(UnZip::ErrorCode(16)), QStringLiteral("Unknown error."));
        QCOMPARE(uz.extractAll(path("x")), UnZip::NoOpenArchive);
        QCOMPARE(uz.verifyArchive(), UnZip::NoOpenArchive);
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(uz.openArchive(static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
        auto *buffer = new QBuffer;
        buffer->setData(readFile(sample()));
        QCOMPARE(uz.openArchive(buffer), UnZip::Ok);
        QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
        delete buffer;
        QVERIFY(!uz.isOpen());
    }

    // Where entries go below the target; names that would leave it are refused.
    void entryNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("written"); // empty: refused
        const auto row = [](const char *tag, const char *name, const char *written) {
            QTest::newRow(tag) << QByteArray(name) << QString(written);
        };
        row("dot-components", "./dir/./a.txt", "dir/a.txt");
        row("repeated-slash", "dir//a.txt", "dir/a.txt");
        row("dots-in-names", "a..b/..c", "a..b/..c");
        row("colon-later", "ab:c/d", "ab:c/d");
        row("parent", "../evil.txt", "");
        row("parent-harmless-looking", "sub/../evil.txt", "");
        row("parent-backslash", "sub\\..\\..\\evil.txt", "");
        row("parent-directory-entry", "../evildir/", "");
        row("absolute", "/ABSOLUTE/evil.txt", "");
        row("absolute-backslash", "\\ABSOLUTE\\evil.txt", "");
        row("drive", "C:/evil.txt", "");
        row("drive-backslash", "c:\\evil.txt", "");
    }

    void entryNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, written);
        // An absolute name points into the temporary directory, never the real root.
        if (name.startsWith('/'))
            name.prepend(QFile::encodeName(path("outside")));
        QVERIFY(
            writeFile(path("names.zip"), archiveOf({ { "good.txt", "good" }, { name, "data" } })));
        UnZip uz;
        QCOMPARE(uz.openArchive(path("names.zip")), UnZip::Ok);
        QMap<QString, QByteArray> expected { { "good.txt", "good" } };
        const QRegularExpression refused("^Refusing to extract outside the target directory: ");
        if (written.isEmpty()) {
            QTest::ignoreMessage(QtDebugMsg, refused);
            QCOMPARE(uz.extractAll(path("target/inner")), UnZip::PartiallyCorrupted);
            QTest::ignoreMessage(QtDebugMsg, refused);
            QCOMPARE(uz.extractFile(name, path("target/inner")), UnZip::Corrupted);
        } else {
            QCOMPARE(uz.extractAll(path("target/inner")), UnZip::Ok);
            expected.insert(written, "data");
        }
        QCOMPARE(tree(path("target/inner"), false), expected);
        QVERIFY(!tree(m_tmp->path()).keys().join(' ').contains("evil"));
        QCOMPARE(uz.verifyArchive(), UnZip::Ok); // checking the data needs no place to write it
    }

    void hostileDirectory_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("openResult");
        QTest::addColumn<int>("extractResult"); // of a.txt, when open
        const QByteArray good = archiveOf({ { "a.txt", "aaaa" }, { "b.txt", "bbbb" } });
        const int end = endRecordAt(good), cd = centralAt(good), second = cd + 46 + 5;
        const int ok = UnZip::Ok, partial = UnZip::PartiallyCorrupted, corrupted = UnZip::Corrupted;
        const auto row = [](const char *tag, const QByteArray &archive, int open, int extract) {
            QTest::newRow(tag) << archive << open << extract;
        };
        // The archive with a field set (little-endian bytes).
        const auto patched = [&good](int at, const QByteArray &bytes) {
            return QByteArray(good).replace(at, bytes.size(), bytes);
        };
        row("directory-offset-past-end", patched(end + 16, "\xf0\xff\xff\x7f"), corrupted, -1);
        row("directory-size-huge", patched(end + 12, "\xf0\xff\xff\xff"), corrupted, -1);
        row("local-offset-past-end", patched(second + 42, "\xf0\xff\xff\x7f"), partial, ok);
        row("entry-size-huge", patched(second + 20, QByteArray(8, '\xf0')), partial, ok);
        row("name-length-past-directory", patched(second + 28, "\xff\xff"), partial, ok);
        row("entry-count-too-high", patched(end + 8, "\x60\xea\x60\xea"), partial, ok);
        row("multi-disk", patched(end + 4, QByteArray("\x01\x00", 2)), UnZip::InvalidArchive, -1);
        row("no-central-signature", patched(cd, "X"), corrupted, -1);
        row("comment-length-past-end", patched(end + 20, "\x40\x9c"), ok, ok);
        row("no-end-record", good.left(end), UnZip::InvalidArchive, -1);
        row("prefixed-stub", QByteArray(1000, 'M') + good, ok, ok);
        row("local-name-mismatch", archiveOf({ { "a.txt", "aaaa" } }).replace(30, 1, "b"), ok,
            UnZip::HeaderConsistencyError);
        row("data-not-matching-crc", patched(30 + 5, "A"), ok, corrupted);
    }

    void hostileDirectory()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, openResult);
        QFETCH(int, extractResult);
        const auto quiet = silenceDebug();
        QBuffer buffer(&archive);
        UnZip uz;
        QCOMPARE(int(uz.openArchive(&buffer)), openResult);
        QCOMPARE(uz.isOpen(), extractResult >= 0);
        if (extractResult >= 0) {
            QCOMPARE(int(uz.extractFile("a.txt", path("out"))), extractResult);
            QCOMPARE(readFile(path("out/a.txt")), extractResult == UnZip::Ok ? "aaaa" : "");
        }
    }

    // Data beyond the promised size: refused, and the file already there is kept.
    void sizeThatLies()
    {
        QByteArray bytes = readFile(sample());
        qToLittleEndian(quint32(1000), bytes.data() + centralAt(bytes) + 24); // size of src/a.log
        QVERIFY(writeFile(path("out/src/a.log"), "kept"));
        QBuffer in(&bytes);
        UnZip uz;
        QCOMPARE(uz.openArchive(&in), UnZip::Ok);
        QTest::ignoreMessage(QtDebugMsg, "Corrupted entry");
        QCOMPARE(uz.extractAll(path("out")), UnZip::PartiallyCorrupted);
        QCOMPARE(uz.extractFile("src/a.log", path("out")), UnZip::Corrupted);
        QCOMPARE(readFile(path("out/src/a.log")), QByteArray("kept"));
    }
};

QTEST_GUILESS_MAIN(tst_Zip)
#include "tst_zip.moc"
