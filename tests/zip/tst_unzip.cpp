// The reader: extraction semantics, and archives that are damaged or
// hostile on purpose.
#include "ziptestutil.h"
#include <zip/zipcommon_p.h>

#include <zip/unzip.h>
#include <zip/zip.h>

#include <QBuffer>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace ziptest;

namespace {

// Writes archives byte by byte, so that names and fields can be anything.
struct RawEntry
{
    QByteArray name;
    QByteArray data;
    QByteArray localName; // empty: same as name
};

QByteArray rawArchive(const QList<RawEntry> &entries)
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
    return out + cd + end;
}

// Offsets of the end record and of the first central header.
int endRecordAt(const QByteArray &a) { return a.lastIndexOf(QByteArray("PK\x05\x06", 4)); }
int centralAt(const QByteArray &a) { return int(u32(a, endRecordAt(a) + 16)); }

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

    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &name) const { return m_tmp->filePath(name); }
    // src/a.log, src/sub/b.bin and src/sub/c.txt, made afresh for every test.
    QString sample() const { return path(QStringLiteral("sample.zip")); }

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY2(m_tmp->isValid(), qPrintable(m_tmp->errorString()));
        QVERIFY(writeFile(path("src/a.log"), logText(150000, 11)));
        QVERIFY(writeFile(path("src/sub/b.bin"), randomBytes(3000, 12)));
        QVERIFY(writeFile(path("src/sub/c.txt"), "short"));
        QCOMPARE(zipFiles(sample(), {path("src")}, Zip::RelativePaths), Zip::Ok);
    }

    void verifyWritesNothing()
    {
        QTemporaryDir cwd;
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        const auto back = qScopeGuard([&] { QDir::setCurrent(old); });
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
        QCOMPARE(uz.verifyArchive(), UnZip::Ok);
        QVERIFY(QDir(cwd.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    void extractOptions()
    {
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
        QCOMPARE(uz.extractFiles({"src/nope.txt", "src/sub/c.txt"}, path("some")), UnZip::Ok);
        QCOMPARE(fileTree(path("some")).keys(), QStringList{"src/sub/c.txt"});
        QCOMPARE(uz.extractFile("src/nope.txt", path("some")), UnZip::FileNotFound);
        QCOMPARE(uz.extractAll(path("flat"), UnZip::SkipPaths), UnZip::Ok);
        QCOMPARE(fileTree(path("flat")).keys(), (QStringList{"a.log", "b.bin", "c.txt"}));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .*missing/src/a.log for writing$"));
        QCOMPARE(uz.extractFile("src/a.log", path("missing"), UnZip::NoSilentDirectoryCreation), UnZip::OpenFailed);
        QVERIFY(!QFile::exists(path("missing")));
        QVERIFY(writeFile(path("blocked"), "a file where a directory should go"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to create output directory .*blocked/src/sub$"));
        QCOMPARE(uz.extractFile("src/sub/c.txt", path("blocked")), UnZip::CreateDirFailed);
        QBuffer out;
        QCOMPARE(uz.extractFile("src/sub/b.bin", &out), UnZip::Ok);
        QCOMPARE(out.data(), randomBytes(3000, 12));
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(uz.extractFile("src/sub/b.bin", static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
    }

    void extractAgainAfterTargetRemoved()
    {
        // Directories made by one call are not taken for granted by the next.
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
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

    void fifoInTargetDoesNotBlock()
    {
        // A FIFO where an entry goes would block an open for writing until some
        // reader comes: the extraction must fail instead of waiting.
        QVERIFY(QDir().mkpath(path("out/src/sub")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("out/src/sub/c.txt")).constData(), 0600), 0);
        UnZip uz;
        QCOMPARE(uz.openArchive(sample()), UnZip::Ok);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .*out/src/sub/c.txt for writing$"));
        QCOMPARE(uz.extractFile("src/sub/c.txt", path("out")), UnZip::OpenFailed);
    }

    void timestamps()
    {
        QVERIFY(writeFile(path("t/old.txt"), "old"));
        const QDateTime then(QDate(2019, 5, 17), QTime(10, 20, 30));
        QVERIFY(zip_setFileTimestamp(path("t/old.txt"), then));
        QCOMPARE(QFileInfo(path("t/old.txt")).lastModified(), then);
        QVERIFY(zip_setFileTimestamp(QString(), then));
        QVERIFY(!zip_setFileTimestamp(path("t/none.txt"), then));
        QVERIFY(!QFile::exists(path("t/none.txt")));

        QCOMPARE(zipFiles(path("t.zip"), {path("t/old.txt")}), Zip::Ok);
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

    void unusableArchives()
    {
        UnZip uz;
        QCOMPARE(uz.extractAll(path("x")), UnZip::NoOpenArchive);
        QCOMPARE(uz.extractFile("a", path("x")), UnZip::NoOpenArchive);
        QCOMPARE(uz.verifyArchive(), UnZip::NoOpenArchive);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Unable to open .* for reading$"));
        QCOMPARE(uz.openArchive(path("absent.zip")), UnZip::OpenFailed);
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(uz.openArchive(static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
        SequentialSource pipe;
        QVERIFY(pipe.open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
        QCOMPARE(uz.openArchive(&pipe), UnZip::InvalidDevice);
        QFile dir(m_tmp->path());
        QTest::ignoreMessage(QtDebugMsg, "Unable to open device for reading");
        QCOMPARE(uz.openArchive(&dir), UnZip::OpenFailed);

        auto *buffer = new QBuffer;
        buffer->setData(rawArchive({{"a.txt", "a", {}}}));
        QCOMPARE(uz.openArchive(buffer), UnZip::Ok);
        QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
        delete buffer;
        QVERIFY(!uz.isOpen());
        QCOMPARE(uz.verifyArchive(), UnZip::NoOpenArchive);

        const auto quiet = silenceDebug();
        FaultyDevice device;
        device.setData(readFile(sample()));
        device.failAt = 0;
        QCOMPARE(uz.openArchive(&device), UnZip::ReadFailed);
        // The directory reads, the data of the first entry does not.
        device.failAt = -1;
        QCOMPARE(uz.openArchive(&device), UnZip::Ok);
        device.failAt = 30;
        QCOMPARE(uz.extractAll(path("late")), UnZip::ReadFailed);
        QVERIFY(!QFile::exists(path("late/src/a.log")));
    }

    void refusesEscapingNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("parent") << QByteArray("../evil.txt");
        QTest::newRow("parent-inside") << QByteArray("sub/../../evil.txt");
        QTest::newRow("parent-backslash") << QByteArray("sub\\..\\..\\evil.txt");
        QTest::newRow("absolute") << QByteArray("/ABSOLUTE/evil.txt");
        QTest::newRow("drive") << QByteArray("C:/evil.txt");
        QTest::newRow("parent-directory-entry") << QByteArray("../evildir/");
    }

    void refusesEscapingNames()
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
        QCOMPARE(tree(path("target")), (QMap<QString, QByteArray>{{"inner/", ""}, {"inner/good.txt", "good"}}));
        QVERIFY(!tree(m_tmp->path()).keys().join(QLatin1Char(' ')).contains(QLatin1String("evil")));
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
        QCOMPARE(uz.extractFile(QString::fromLatin1(target), path("target/inner")), UnZip::Corrupted);
        // Checking the data needs no place to write it.
        QCOMPARE(uz.verifyArchive(), UnZip::Ok);
    }

    void hostileDirectory_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("openResult");
        QTest::addColumn<int>("extractResult"); // of a.txt, when open
        const QByteArray good = rawArchive({{"a.txt", "aaaa", {}}, {"b.txt", "bbbb", {}}});
        const int end = endRecordAt(good);
        const int cd = centralAt(good);
        const int second = cd + 46 + 5;
        const int ok = UnZip::Ok, partial = UnZip::PartiallyCorrupted, invalid = UnZip::InvalidArchive;
        const auto row = [](const char *tag, const QByteArray &archive, int open, int extract) {
            QTest::newRow(tag) << archive << open << extract;
        };
        const auto patched = [&good](std::initializer_list<std::pair<int, quint32>> fields, int width) {
            QByteArray a = good;
            for (const auto &f : fields)
                width == 2 ? setU16(a, f.first, quint16(f.second)) : setU32(a, f.first, f.second);
            return a;
        };
        row("directory-offset-past-end", patched({{end + 16, 0x7ffffff0}}, 4), UnZip::Corrupted, -1);
        row("directory-size-huge", patched({{end + 12, 0xfffffff0}}, 4), UnZip::Corrupted, -1);
        row("local-offset-past-end", patched({{second + 42, 0x7ffffff0}}, 4), partial, ok);
        row("entry-size-huge", patched({{second + 20, 0xfffffff0}, {second + 24, 0xfffffff0}}, 4), partial, ok);
        row("name-length-past-directory", patched({{second + 28, 0xffff}}, 2), partial, ok);
        row("entry-count-too-high", patched({{end + 8, 60000}, {end + 10, 60000}}, 2), partial, ok);
        row("multi-disk", patched({{end + 4, 1}}, 2), invalid, -1);
        QByteArray a = good;
        a[cd] = 'X';
        row("no-central-signature", a, UnZip::Corrupted, -1);
        row("comment-length-past-end", patched({{end + 20, 40000}}, 2), ok, ok);
        row("no-end-record", good.left(end), invalid, -1);
        row("tiny", QByteArray("PK\x05\x06", 4), invalid, -1);
        row("empty", QByteArray(), invalid, -1);
        row("prefixed-stub", QByteArray(1000, 'M') + good, ok, ok);
        row("local-name-mismatch", rawArchive({{"a.txt", "aaaa", "b.txt"}}), ok, UnZip::HeaderConsistencyError);
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
            QBuffer out;
            QCOMPARE(int(uz.extractFile("a.txt", &out)), extractResult);
            QCOMPARE(out.data(), extractResult == UnZip::Ok ? QByteArray("aaaa") : QByteArray());
        }
    }

    void sizeThatLies()
    {
        // The directory promises less than the data inflates to: extraction stops
        // at the promise, and the file already there stays as it was.
        QVERIFY(writeFile(path("big.log"), logText(400000, 13)));
        QVERIFY(writeFile(path("bomb/big.log"), "kept"));
        QByteArray bytes;
        QBuffer in(&bytes);
        QCOMPARE(zipFiles(&in, {path("big.log")}), Zip::Ok);
        in.close();
        setU32(bytes, centralAt(bytes) + 24, 1000);
        UnZip uz;
        QCOMPARE(uz.openArchive(&in), UnZip::Ok);
        QTest::ignoreMessage(QtDebugMsg, "Corrupted entry");
        QCOMPARE(uz.extractAll(path("bomb")), UnZip::PartiallyCorrupted);
        QCOMPARE(uz.extractFile("big.log", path("bomb")), UnZip::Corrupted);
        QCOMPARE(fileTree(path("bomb")), (QMap<QString, QByteArray>{{"big.log", "kept"}}));
    }

    void truncatedArchives()
    {
        const QByteArray whole = readFile(sample());
        const auto quiet = silenceDebug();
        for (int size = 0; size < whole.size(); size += qMax(1, size / 8)) {
            QByteArray part = whole.left(size);
            QBuffer buffer(&part);
            UnZip uz;
            const UnZip::ErrorCode ec = uz.openArchive(&buffer);
            QVERIFY2(ec != UnZip::Ok || uz.verifyArchive() != UnZip::Ok, qPrintable(QString::number(size)));
        }
    }

    void corruptedBytes()
    {
        const QByteArray whole = readFile(sample());
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

    void errorTexts()
    {
        UnZip uz;
        QCOMPARE(uz.formatError(UnZip::PartiallyCorrupted),
                 QStringLiteral("Partially corrupted archive. Some files might be extracted."));
        QCOMPARE(uz.formatError(UnZip::HeaderConsistencyError),
                 QStringLiteral("Inconsistent headers. Archive might be corrupted."));
        QCOMPARE(uz.formatError(UnZip::ErrorCode(16)), QStringLiteral("Unknown error."));
    }
};

QTEST_GUILESS_MAIN(tst_UnZip)
#include "tst_unzip.moc"
