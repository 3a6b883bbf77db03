// UnZip when the archive device, the target directory or the file system fails
// under it: an error code, and every file left holds exactly its entry's bytes.
#include "ziptestutil.h"

#include <zip/unzip.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace ziptest;

namespace {

// An archive in memory whose reads fail from `failAt` on: an error, or an early end.
class FaultyDevice : public QBuffer
{
public:
    qint64 failAt = -1;
    bool earlyEnd = false;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (failAt >= 0 && pos() + maxSize > failAt) {
            if (pos() >= failAt)
                return earlyEnd ? 0 : -1;
            maxSize = failAt - pos();
        }
        return QBuffer::readData(data, maxSize);
    }
};

// Entries in the order extractAll() takes them (by name).
const QMap<QString, QByteArray> contents = { { "a.txt", logText(40 * 1024, 1) },
                                             { "b.bin", randomBytes(60 * 1024, 2) },
                                             { "c.txt", logText(300 * 1024, 3) },
                                             { "d.txt", logText(10 * 1024, 4) } };

// In an unprivileged child (so that permissions bind): extracts `contents` into
// <scratch>/out with the fault at <offset> into the local header of <entry>.
int childMain(const QString &scratch, const QString &entry, int offset, const QString &fault)
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    for (auto it = contents.constBegin(); it != contents.constEnd(); ++it)
        writeFile(scratch + "/src/" + it.key(), it.value());
    QBuffer buffer;
    FaultyDevice device;
    UnZip unzip;
    const QString out = scratch + "/out";
    if (zipFiles(&buffer, { scratch + "/src" }) != Zip::Ok || !QDir().mkpath(out))
        return 2;
    const QByteArray archive = buffer.data();
    device.setData(archive);
    if (unzip.openArchive(&device) != UnZip::Ok)
        return 2;
    qint64 at = -1;
    for (int i = -1; at < 0 && (i = archive.indexOf("PK\x03\x04", i + 1)) >= 0;)
        at = archive.mid(i + 30, entry.size()) == entry.toLatin1() ? i + offset : -1;
    if (fault == QLatin1String("read-only")) {
        QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    } else if (fault == QLatin1String("full")) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit {};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100 * 1024;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
    } else {
        device.failAt = at;
        device.earlyEnd = fault == QLatin1String("end");
    }
    const int extracted = unzip.extractAll(out);
    QFile::setPermissions(out, QFileDevice::Permissions(0x7755));
    QBuffer sink;
    std::printf("%d %d %d\n", extracted, int(unzip.verifyArchive()),
                int(unzip.extractFile(entry, &sink)));
    return 0;
}

} // namespace

class tst_UnZipFaults : public QObject
{
    Q_OBJECT
private slots:
    // Results of the extraction, a verification and the entry alone; files left.
    void failsMidway_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QStringList>("files");
        const auto row = [](const char *tag, const char *entry, int offset, const char *fault,
                            const char *results, const QStringList &files) {
            QTest::newRow(tag) << QString(entry) << offset << QString(fault) << QByteArray(results)
                               << files;
        };
        const QStringList one { "a.txt" }, two { "a.txt", "b.bin" };
        const int stored = 30 + 5 + 1000, deflated = 30 + 5 + 4000;
        row("error-in-stored-data", "b.bin", stored, "error", "9 9 9", one);
        row("end-in-stored-data", "b.bin", stored, "end", "9 9 9", one);
        row("error-in-deflated-data", "c.txt", deflated, "error", "9 9 9", two);
        row("end-in-deflated-data", "c.txt", deflated, "end", "9 9 9", two);
        row("error-in-local-header", "c.txt", 10, "error", "9 9 9", two);
        row("read-only-directory", "a.txt", 0, "read-only", "3 0 0", {});
        row("full-file-system", "c.txt", 0, "full", "10 0 0", two);
    }

    void failsMidway()
    {
        QFETCH(QString, entry);
        QFETCH(int, offset);
        QFETCH(QString, fault);
        QFETCH(QByteArray, results);
        QFETCH(QStringList, files);
        QTemporaryDir scratch;
        QVERIFY(QFile::setPermissions(scratch.path(), QFileDevice::Permissions(0x7777)));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    { "--child", scratch.path(), entry, QString::number(offset), fault });
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAllStandardError().constData());
        QCOMPARE(child.readAllStandardOutput().trimmed(), results);
        const QStringList left
            = QDir(scratch.filePath("out")).entryList(QDir::Files | QDir::Hidden);
        for (const QString &name : left)
            QVERIFY2(readFile(scratch.filePath("out/" + name)) == contents.value(name),
                     qPrintable(name));
        QCOMPARE(left, files);
    }
};

int main(int argc, char **argv)
{
    const bool child = argc > 5 && qstrcmp(argv[1], "--child") == 0;
    // Permissions do not bind the superuser: the child runs as nobody.
    if (child && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 5;
    QCoreApplication app(argc, argv);
    if (child) {
        const QStringList args = app.arguments();
        return childMain(args[2], args[3], args[4].toInt(), args[5]);
    }
    tst_UnZipFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unzipfaults.moc"
