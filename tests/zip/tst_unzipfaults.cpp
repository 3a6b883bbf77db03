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
    const QMap<QString, QByteArray> files = contents();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        writeFile(scratch + QStringLiteral("/src/") + it.key(), it.value());
    QByteArray archive;
    QBuffer buffer(&archive);
    return zipFiles(&buffer, {scratch + QStringLiteral("/src")}) == Zip::Ok ? archive : QByteArray();
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
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
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
    void initTestCase()
    {
        // The reader notes each failure at debug level: expected here.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void deviceFailsMidway_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QStringList>("complete");
        const QStringList first{QStringLiteral("a.txt")};
        const QStringList two{QStringLiteral("a.txt"), QStringLiteral("b.bin")};
        const int stored = 30 + 5 + 1000, deflated = 30 + 5 + 4000;
        QTest::newRow("error-in-stored-data") << QByteArray("b.bin") << stored << int(FaultyDevice::Error) << first;
        QTest::newRow("end-in-stored-data") << QByteArray("b.bin") << stored << int(FaultyDevice::EarlyEnd) << first;
        QTest::newRow("error-in-deflated-data") << QByteArray("c.txt") << deflated << int(FaultyDevice::Error) << two;
        QTest::newRow("end-in-deflated-data") << QByteArray("c.txt") << deflated << int(FaultyDevice::EarlyEnd)
                                              << two;
        QTest::newRow("error-in-local-header") << QByteArray("c.txt") << 10 << int(FaultyDevice::Error) << two;
    }

    void deviceFailsMidway()
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

    void fileSystemFailsMidway_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("result"); // -1: any error
        QTest::newRow("read-only-directory") << "read-only-directory" << -1;
        QTest::newRow("full-file-system") << "full-file-system" << int(UnZip::WriteFailed);
    }

    void fileSystemFailsMidway()
    {
        QFETCH(QString, scenario);
        QFETCH(int, result);
        QTemporaryDir scratch;
        // Unprivileged, so that permissions bind it: as nobody when run as root.
        QVERIFY(QFile::setPermissions(scratch.path(), QFileDevice::Permissions(0x7777)));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), scenario, scratch.path()});
        QVERIFY(child.waitForFinished(30000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAllStandardError().constData());
        bool ok = false;
        const int ec = child.readAllStandardOutput().trimmed().toInt(&ok);
        QVERIFY(ok && ec > 0);
        if (result >= 0)
            QCOMPARE(ec, result);
        const QString out = scratch.filePath(QStringLiteral("out"));
        QCOMPARE(present(out), QStringList({QStringLiteral("a.txt"), QStringLiteral("b.bin")}));
        QCOMPARE(partialFiles(out), QString());
    }
};

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
