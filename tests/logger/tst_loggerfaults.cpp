// The logger when its files fail under it, in a child process that logs
// through three phases: before the fault, during it, after it is gone.
// - The log directory becomes inaccessible (and, with rotation, the day
//   changes, so a new file is needed) and then accessible again.
// - The file system fills up: a file size limit (RLIMIT_FSIZE) that the log
//   file reaches, then lifted.
// The child must keep running and end normally, put every entry it could not
// write to a file on standard error, and write to the file again afterwards.
// No entry is lost; none is written twice.
#include <logger/loggermanager_p.h>

#include <logger/loggermanager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const int perPhase = 40;

std::atomic<qint64> s_nowMs{0};
qint64 fixedClock()
{
    return s_nowMs.load();
}

// A line from the parent on standard input: it has done its part.
bool awaitParent()
{
    char line[64];
    return std::fgets(line, sizeof line, stdin) != nullptr;
}

void tellParent(const char *what)
{
    std::printf("%s\n", what);
    std::fflush(stdout);
}

void logPhase(const char *phase)
{
    for (int i = 0; i < perPhase; ++i)
        qWarning("%s-%d %s", phase, i, QByteArray(60, 'x').constData());
}

int childMain(const QStringList &args)
{
    const QString scenario = args.value(0);
    const QString dir = args.value(1);
    const bool rotate = args.value(2) == QLatin1String("rotate");
    const QDateTime day(QDate(2018, 1, 19), QTime(10, 0));
    s_nowMs = day.toMSecsSinceEpoch();
    LoggerManagerPrivate::setClock(fixedClock);
    LoggerManager::initLog(dir, 7, rotate, QtDebugMsg);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);

    if (scenario == QLatin1String("unreachable-directory")) {
        logPhase("before");
        tellParent("locked?");
        if (!awaitParent())
            return 2;
        // A new day needs a new file (with rotation the old one is still open).
        s_nowMs = day.addDays(1).toMSecsSinceEpoch();
        logPhase("during");
        tellParent("unlocked?");
        if (!awaitParent())
            return 2;
        logPhase("after");
    } else if (scenario == QLatin1String("full-file-system")) {
        std::signal(SIGXFSZ, SIG_IGN);
        logPhase("before");
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const QString file = rotate ? dir + QStringLiteral("/2018-01-19_kiosk.log") : dir + QStringLiteral("/kiosk.log");
        // Room for a few more entries, then the file system is "full".
        rlimit full = saved;
        full.rlim_cur = rlim_t(QFileInfo(file).size() + 1000);
        if (setrlimit(RLIMIT_FSIZE, &full) != 0)
            return 3;
        logPhase("during");
        if (setrlimit(RLIMIT_FSIZE, &saved) != 0)
            return 3;
        logPhase("after");
    } else {
        return 4;
    }
    LoggerManager::releaseLog();
    tellParent("done");
    return 0;
}

// Every entry "<phase>-<n>" in the text, counted.
QHash<QString, int> entries(const QString &text)
{
    QHash<QString, int> found;
    static const QRegularExpression entry(QStringLiteral("^ {15}((?:before|during|after)-\\d+) x+$"),
                                          QRegularExpression::MultilineOption);
    auto it = entry.globalMatch(text);
    while (it.hasNext())
        ++found[it.next().captured(1)];
    return found;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_LoggerFaults : public QObject
{
    Q_OBJECT
private slots:
    void unreachableDirectory_data();
    void unreachableDirectory();
    void fullFileSystem_data();
    void fullFileSystem();

private:
    struct Child
    {
        QProcess process;
        QString dir;
    };
    bool startChild(Child &child, const QString &scenario, bool rotate, QTemporaryDir &tmp);
    void finishAndCheck(Child &child);
};

bool tst_LoggerFaults::startChild(Child &child, const QString &scenario, bool rotate, QTemporaryDir &tmp)
{
    // The child runs unprivileged, so that permissions bind it: as nobody when
    // the tests run as root.
    QFile::setPermissions(tmp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadOther | QFileDevice::WriteOther
                                          | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                          | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    child.dir = tmp.filePath(QStringLiteral("logs"));
    if (!QDir().mkpath(child.dir))
        return false;
    QFile::setPermissions(child.dir, QFile::permissions(tmp.path()));
    child.process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--child"), scenario, child.dir,
                         rotate ? QStringLiteral("rotate") : QStringLiteral("plain")});
    return child.process.waitForStarted(10000);
}

// Waits for the child to end well, then checks that every entry went once to a
// file or to standard error, and that only entries written during the fault
// went to standard error.
void tst_LoggerFaults::finishAndCheck(Child &child)
{
    QProcess &p = child.process;
    QVERIFY2(p.waitForFinished(20000), "the child hangs");
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAll().trimmed(), QByteArray("done"));
    QString files;
    for (const QString &name : QDir(child.dir).entryList(QDir::Files))
        files += readText(child.dir + QLatin1Char('/') + name);
    const QHash<QString, int> inFiles = entries(files);
    const QHash<QString, int> inErr = entries(QString::fromUtf8(p.readAllStandardError()));
    for (const char *phase : {"before", "during", "after"}) {
        for (int i = 0; i < perPhase; ++i) {
            const QString name = QStringLiteral("%1-%2").arg(QLatin1String(phase)).arg(i);
            const int total = inFiles.value(name) + inErr.value(name);
            QVERIFY2(total == 1, qPrintable(QStringLiteral("%1 written %2 times").arg(name).arg(total)));
            if (qstrcmp(phase, "during") != 0)
                QVERIFY2(inFiles.value(name) == 1, qPrintable(name + QStringLiteral(" not in the file")));
        }
    }
    QVERIFY2(inErr.contains(QStringLiteral("during-%1").arg(perPhase - 1)),
             "the fault never showed: nothing went to standard error");
}

void tst_LoggerFaults::unreachableDirectory_data()
{
    QTest::addColumn<bool>("rotate");
    QTest::newRow("one-file") << false;
    QTest::newRow("rotation") << true;
}

void tst_LoggerFaults::unreachableDirectory()
{
    QFETCH(bool, rotate);
    QTemporaryDir tmp;
    Child child;
    QVERIFY(startChild(child, QStringLiteral("unreachable-directory"), rotate, tmp));
    QProcess &p = child.process;
    const QFileDevice::Permissions open = QFile::permissions(child.dir);
    const auto restore = qScopeGuard([&] { QFile::setPermissions(child.dir, open); });

    QVERIFY(p.waitForReadyRead(20000));
    QCOMPARE(p.readLine().trimmed(), QByteArray("locked?"));
    QVERIFY(QFile::setPermissions(child.dir, {}));
    p.write("go\n");
    QVERIFY(p.waitForReadyRead(20000));
    QCOMPARE(p.readLine().trimmed(), QByteArray("unlocked?"));
    QVERIFY(QFile::setPermissions(child.dir, open));
    p.write("go\n");
    finishAndCheck(child);
    if (!QTest::currentTestFailed() && rotate)
        QVERIFY(readText(child.dir + QStringLiteral("/2018-01-20_kiosk.log")).contains(QStringLiteral("after-0 ")));
}

void tst_LoggerFaults::fullFileSystem_data()
{
    unreachableDirectory_data();
}

void tst_LoggerFaults::fullFileSystem()
{
    QFETCH(bool, rotate);
    QTemporaryDir tmp;
    Child child;
    QVERIFY(startChild(child, QStringLiteral("full-file-system"), rotate, tmp));
    finishAndCheck(child);
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0 && geteuid() == 0) {
        // Permissions do not bind the superuser.
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 5;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk"));
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childMain(QCoreApplication::arguments().mid(2));
    tst_LoggerFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_loggerfaults.moc"
