// UnZip when things fail under it during an extraction: the archive device
// fails (an error or an early end) in the middle of an entry, the target
// directory becomes read-only, the file system fills up (a file size limit).
// Each gives an error code, and no file is left behind as if it were
// complete: whatever exists afterwards holds exactly its entry's bytes.
// The cases that need permissions to bind run in an unprivileged child.
#include <zip/unzip.h>
#include <zip/zip.h>

#include "ziptestutil.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <functional>

#include <sys/resource.h>
#include <unistd.h>

using namespace ziptest;

namespace {

// Entries in the order extractAll() takes them (by name).
QMap<QString, QByteArray> contents()
{
    return {{QStringLiteral("a.txt"), logText(40 * 1024, 1)},
            {QStringLiteral("b.bin"), randomBytes(60 * 1024, 2)},
            {QStringLiteral("c.txt"), logText(300 * 1024, 3)},
            {QStringLiteral("d.txt"), logText(10 * 1024, 4)}};
}

QByteArray makeArchive(const QString &scratch)
{
    const QString src = scratch + QStringLiteral("/src");
    QDir().mkpath(src);
    const QMap<QString, QByteArray> files = contents();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        writeFile(src + QLatin1Char('/') + it.key(), it.value());
    QByteArray archive;
    QBuffer buffer(&archive);
    buffer.open(QIODevice::WriteOnly);
    Zip zip;
    if (zip.createArchive(&buffer) != Zip::Ok || zip.addDirectoryContents(src) != Zip::Ok
        || zip.closeArchive() != Zip::Ok)
        return QByteArray();
    return archive;
}

// Where the local header of an entry starts.
qint64 localHeader(const QByteArray &archive, const QByteArray &name)
{
    int at = 0;
    while ((at = archive.indexOf("PK\x03\x04", at)) >= 0) {
        const int nameLength = u16(archive, at + 26);
        if (archive.mid(at + 30, nameLength) == name)
            return at;
        at += 4;
    }
    return -1;
}

// An archive in memory whose reads fail from `failAt` on (an error, or an
// early end), and which calls `onReach` when a read first passes `hookAt`.
class FaultyDevice : public QBuffer
{
public:
    enum Failure { Error, EarlyEnd };
    qint64 failAt = -1;
    Failure failure = Error;
    qint64 hookAt = -1;
    std::function<void()> onReach;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (hookAt >= 0 && pos() + maxSize > hookAt && onReach) {
            auto hook = std::move(onReach);
            onReach = nullptr;
            hook();
        }
        if (failAt >= 0 && pos() + maxSize > failAt) {
            if (pos() >= failAt)
                return failure == Error ? -1 : 0;
            maxSize = failAt - pos();
        }
        return QBuffer::readData(data, maxSize);
    }
};

// Every file in `dir` holds exactly its entry's bytes.
QString partialFiles(const QString &dir)
{
    const QMap<QString, QByteArray> expected = contents();
    QStringList wrong;
    for (const QString &name : QDir(dir).entryList(QDir::Files)) {
        if (readFile(dir + QLatin1Char('/') + name) != expected.value(name))
            wrong << name;
    }
    return wrong.join(QLatin1Char(','));
}

QStringList present(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

int childMain(const QStringList &args)
{
    const QString scenario = args.value(0);
    const QString scratch = args.value(1);
    FaultyDevice device;
    device.setData(makeArchive(scratch));
    if (device.data().isEmpty() || !device.open(QIODevice::ReadOnly))
        return 2;
    const QString out = scratch + QStringLiteral("/out");
    if (!QDir().mkpath(out))
        return 2;
    UnZip unzip;
    if (unzip.openArchive(&device) != UnZip::Ok)
        return 2;
    if (scenario == QLatin1String("read-only-directory")) {
        device.hookAt = localHeader(device.data(), "c.txt");
        device.onReach = [out] {
            QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        };
    } else if (scenario == QLatin1String("full-file-system")) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100 * 1024;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
    } else {
        return 4;
    }
    const UnZip::ErrorCode ec = unzip.extractAll(out);
    QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                   | QFileDevice::ReadOther | QFileDevice::ExeOther);
    std::printf("%d\n", int(ec));
    return 0;
}

} // namespace

class tst_UnZipFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void deviceFailsMidway_data();
    void deviceFailsMidway();
    void readOnlyDirectoryMidway();
    void fullFileSystem();

private:
    // Runs a scenario in the child; returns its error code, or -1.
    int runChild(const QString &scenario, const QString &scratch);
};

void tst_UnZipFaults::initTestCase()
{
    // The reader notes each failure at debug level: expected here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void tst_UnZipFaults::deviceFailsMidway_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QStringList>("complete");
    const QStringList first{QStringLiteral("a.txt")};
    const QStringList two{QStringLiteral("a.txt"), QStringLiteral("b.bin")};
    QTest::newRow("error-in-stored-data") << QByteArray("b.bin") << 30 + 5 + 1000 << int(FaultyDevice::Error) << first;
    QTest::newRow("end-in-stored-data") << QByteArray("b.bin") << 30 + 5 + 1000 << int(FaultyDevice::EarlyEnd) << first;
    QTest::newRow("error-in-deflated-data") << QByteArray("c.txt") << 30 + 5 + 4000 << int(FaultyDevice::Error) << two;
    QTest::newRow("end-in-deflated-data") << QByteArray("c.txt") << 30 + 5 + 4000 << int(FaultyDevice::EarlyEnd) << two;
    QTest::newRow("error-in-local-header") << QByteArray("c.txt") << 10 << int(FaultyDevice::Error) << two;
}

void tst_UnZipFaults::deviceFailsMidway()
{
    QFETCH(QByteArray, entry);
    QFETCH(int, offset);
    QFETCH(int, failure);
    QFETCH(QStringList, complete);
    QTemporaryDir scratch;
    FaultyDevice device;
    device.setData(makeArchive(scratch.path()));
    QVERIFY(!device.data().isEmpty());
    QVERIFY(device.open(QIODevice::ReadOnly));
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&device), UnZip::Ok);
    const qint64 header = localHeader(device.data(), entry);
    QVERIFY(header > 0);
    device.failAt = header + offset;
    device.failure = FaultyDevice::Failure(failure);

    const QString out = scratch.filePath(QStringLiteral("out"));
    const UnZip::ErrorCode ec = unzip.extractAll(out);
    QVERIFY2(ec != UnZip::Ok, qPrintable(unzip.formatError(ec)));
    QCOMPARE(present(out), complete);
    QCOMPARE(partialFiles(out), QString());
    // The same device fails verification too; nothing is written for it.
    QVERIFY(unzip.verifyArchive() != UnZip::Ok);
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QVERIFY(unzip.extractFile(QString::fromLatin1(entry), &sink) != UnZip::Ok);
}

int tst_UnZipFaults::runChild(const QString &scenario, const QString &scratch)
{
    // Unprivileged, so that permissions bind it: as nobody when run as root.
    QFile::setPermissions(scratch, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                       | QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                       | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                       | QFileDevice::WriteOther | QFileDevice::ExeOther);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), scenario, scratch});
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        qWarning("child: %s", child.readAllStandardError().constData());
        return -1;
    }
    bool ok = false;
    const int ec = child.readAllStandardOutput().trimmed().toInt(&ok);
    return ok ? ec : -1;
}

void tst_UnZipFaults::readOnlyDirectoryMidway()
{
    QTemporaryDir scratch;
    const int ec = runChild(QStringLiteral("read-only-directory"), scratch.path());
    QVERIFY(ec > 0);
    const QString out = scratch.filePath(QStringLiteral("out"));
    QCOMPARE(present(out), QStringList({QStringLiteral("a.txt"), QStringLiteral("b.bin")}));
    QCOMPARE(partialFiles(out), QString());
}

void tst_UnZipFaults::fullFileSystem()
{
    QTemporaryDir scratch;
    const int ec = runChild(QStringLiteral("full-file-system"), scratch.path());
    QCOMPARE(ec, int(UnZip::WriteFailed));
    const QString out = scratch.filePath(QStringLiteral("out"));
    QCOMPARE(present(out), QStringList({QStringLiteral("a.txt"), QStringLiteral("b.bin")}));
    QCOMPARE(partialFiles(out), QString());
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0 && geteuid() == 0) {
        // Permissions do not bind the superuser.
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 5;
    }
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childMain(QCoreApplication::arguments().mid(2));
    tst_UnZipFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unzipfaults.moc"
