#include <sys/sysutils.h>

#include <sys/syscommandrunner_p.h>
#include <sys/sysutils_p.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <functional>

#include <sys/statvfs.h>
#include <sys/sysinfo.h>

namespace {

// One program start as SysUtils asked for it.
struct Call
{
    enum Kind { Start, Detached, Execute };
    Kind kind;
    QString program;
    QStringList arguments;
    QString workingDirectory;
    QStringList environment;
    QIODevice::OpenMode mode;
    int timeoutMs = 0;
    qint64 atMs = 0;

    QString line() const { return (QStringList { program } + arguments).join(QLatin1Char(' ')); }
};

// Records every program start instead of running it. start() can run the
// harmless child helper in place of the real program, so the process signals
// are real. Installed once and never removed: a timer left over from a
// failed test must never reach the real machine.
class RecordingRunner : public SysCommandRunner
{
public:
    QList<Call> calls;
    QElapsedTimer clock;
    bool startResult = true;
    QString standIn;
    QPointer<QProcess> lastProcess;
    // Answers for execute(), taken in order; an empty queue answers 0.
    QList<QPair<int, QByteArray>> answers;

    void reset()
    {
        calls.clear();
        clock.restart();
        startResult = true;
        standIn.clear();
        lastProcess.clear();
        answers.clear();
    }

    QStringList lines() const
    {
        QStringList result;
        for (const Call &call : calls)
            result << call.line();
        return result;
    }

    bool start(QProcess *process, QIODevice::OpenMode mode, int startTimeoutMs) override
    {
        calls.append({ Call::Start, process->program(), process->arguments(),
                       process->workingDirectory(), process->processEnvironment().toStringList(),
                       mode, startTimeoutMs, clock.elapsed() });
        lastProcess = process;
        if (standIn.isEmpty())
            return startResult;
        process->setProgram(standIn);
        process->setArguments({ QStringLiteral("exit"), QStringLiteral("0") });
        process->start(mode);
        return startTimeoutMs < 0 || process->waitForStarted(startTimeoutMs);
    }

    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        calls.append({ Call::Detached, program, arguments, {}, {}, {}, 0, clock.elapsed() });
        return true;
    }

    int execute(const QString &program, const QStringList &arguments, int timeoutMs,
                QByteArray *output) override
    {
        calls.append({ Call::Execute, program, arguments, {}, {}, {}, timeoutMs, clock.elapsed() });
        const QPair<int, QByteArray> answer
            = answers.isEmpty() ? qMakePair(0, QByteArray()) : answers.takeFirst();
        if (output)
            *output = answer.second;
        return answer.first;
    }
};

RecordingRunner *recorder = nullptr;

// Collects log messages instead of printing them, for exact checks.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(handler);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList messages(QtMsgType type) const
    {
        const QMutexLocker locker(&m_mutex);
        QStringList result;
        for (const auto &entry : m_entries) {
            if (entry.first == type)
                result << entry.second;
        }
        return result;
    }
    int count() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_entries.size();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        const QMutexLocker locker(&s_current->m_mutex);
        s_current->m_entries.append({ type, message });
    }
    static MessageCapture *s_current;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_entries;
};
MessageCapture *MessageCapture::s_current = nullptr;

// Sets an environment variable for the scope, restoring the old state after.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray &value, bool set = true)
        : m_name(name)
        , m_hadValue(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (set)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_hadValue)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_hadValue;
    QByteArray m_old;
};

using Files = QMap<QString, QByteArray>;

bool writeTree(const QString &root, const Files &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size())
            return false;
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sums of the receive and send byte counters of every interface but loopback,
// as `ip -s -j link` reports them.
bool ipLinkTraffic(qint64 &in, qint64 &out)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             { QStringLiteral("-s"), QStringLiteral("-j"), QStringLiteral("link") });
    if (!ip.waitForFinished(10000) || ip.exitCode() != 0)
        return false;
    const QJsonArray links = QJsonDocument::fromJson(ip.readAllStandardOutput()).array();
    if (links.isEmpty())
        return false;
    in = 0;
    out = 0;
    for (const QJsonValue &value : links) {
        const QJsonObject link = value.toObject();
        if (link.value(QLatin1String("link_type")).toString() == QLatin1String("loopback"))
            continue;
        const QJsonObject stats = link.value(QLatin1String("stats64")).toObject();
        in += qint64(
            stats.value(QLatin1String("rx")).toObject().value(QLatin1String("bytes")).toDouble());
        out += qint64(
            stats.value(QLatin1String("tx")).toObject().value(QLatin1String("bytes")).toDouble());
    }
    return true;
}

// Mount points and their read-only flag, the last mount of a path winning.
QMap<QString, bool> mountsReadOnly()
{
    QMap<QString, bool> result;
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/mounts")).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 4)
            continue;
        QByteArray point = fields.at(1);
        // Blanks and the like are written as octal escapes.
        for (int i = point.indexOf('\\'); i >= 0 && i + 3 < point.size();
             i = point.indexOf('\\', i + 1)) {
            bool ok = false;
            const int code = point.mid(i + 1, 3).toInt(&ok, 8);
            if (ok)
                point.replace(i, 4, QByteArray(1, char(code)));
        }
        result.insert(QString::fromUtf8(point), fields.at(3).split(',').contains("ro"));
    }
    return result;
}

} // namespace

Q_DECLARE_METATYPE(Files)

class TstSysUtils : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void uptimeMatchesProcUptime();
    void startDtMatchesBootTime();
    void memoryMatchesKernel();
    void memoryFromMeminfo_data();
    void memoryFromMeminfo();
    void freeDiskSpaceMatchesDf_data();
    void freeDiskSpaceMatchesDf();
    void freeDiskSpaceFailsForMissingPath();
    void diskReportLines();
    void formatSize_data();
    void formatSize();
    void fileSystemIsAvailableFollowsMountFlags();
    void networkTrafficMatchesIpLink();
    void networkTrafficFromSysfs_data();
    void networkTrafficFromSysfs();
    void temperatures_data();
    void temperatures();
    void procSerial_data();
    void procSerial();

    void chooseTimeZone_data();
    void chooseTimeZone();
    void formatDtWithOffcet_data();
    void formatDtWithOffcet();

    void poweroffStartsShutdown();
    void poweroffFallsBackWhenShutdownDoesNotStart();
    void rebootForcesAfterTheDelay();
    void rebootFallsBackAtOnceAndForcesLater();
    void monitorCommands();
    void screenshotCommand_data();
    void screenshotCommand();
    void screenshotProcessLogsAndGoes_data();
    void screenshotProcessLogsAndGoes();
    void cleanSpoolWritesScriptAndStartsIt_data();
    void cleanSpoolWritesScriptAndStartsIt();
    void cleanSpoolDoesNotStartWhatItCouldNotWrite_data();
    void cleanSpoolDoesNotStartWhatItCouldNotWrite();
    void setSystemTime_data();
    void setSystemTime();
    void setSystemTimeStopsWhenDateFails();
    void changeTimeZone_data();
    void changeTimeZone();

    void catchSystemExceptions_data();
    void catchSystemExceptions();

private:
    QString fakeRoot(const Files &files);
    QTemporaryDir m_scratch;
    int m_rootCount = 0;
};

void TstSysUtils::initTestCase()
{
    // Before anything else: nothing in this process may reach the machine.
    recorder = new RecordingRunner;
    SysCommandRunner::setCurrent(recorder);
    QVERIFY2(m_scratch.isValid(), qPrintable(m_scratch.errorString()));
    QCOMPARE(SysUtilsPrivate::forcedRebootDelayMs(), 300000);
}

void TstSysUtils::init()
{
    QCOMPARE(SysCommandRunner::current(), recorder);
    recorder->reset();
}

QString TstSysUtils::fakeRoot(const Files &files)
{
    const QString root = m_scratch.filePath(QStringLiteral("root%1").arg(++m_rootCount));
    if (!QDir().mkpath(root) || !writeTree(root, files))
        return QString();
    return root;
}

// --- readings against independent sources ---

void TstSysUtils::uptimeMatchesProcUptime()
{
    const double before = readAll(QStringLiteral("/proc/uptime")).split(' ').value(0).toDouble();
    const qint64 uptime = SysUtils::uptime();
    const double after = readAll(QStringLiteral("/proc/uptime")).split(' ').value(0).toDouble();
    QVERIFY(before > 0);
    QVERIFY2(uptime >= qint64(before) - 1 && uptime <= qint64(after) + 1,
             qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(uptime).arg(before).arg(after)));
}

void TstSysUtils::startDtMatchesBootTime()
{
    qint64 bootTime = -1;
    const QList<QByteArray> stat = readAll(QStringLiteral("/proc/stat")).split('\n');
    for (const QByteArray &line : stat) {
        if (line.startsWith("btime "))
            bootTime = line.mid(6).trimmed().toLongLong();
    }
    QVERIFY(bootTime > 0);
    const QDateTime start = SysUtils::startDt();
    QCOMPARE(start.timeSpec(), Qt::UTC);
    QVERIFY2(qAbs(start.toSecsSinceEpoch() - bootTime) <= 3,
             qPrintable(start.toString(Qt::ISODate)));
}

void TstSysUtils::memoryMatchesKernel()
{
    struct sysinfo info
    {
    };
    QCOMPARE(sysinfo(&info), 0);
    const qint64 total = SysUtils::getTotalSystemMemory();
    QCOMPARE(total, qint64(info.totalram) * info.mem_unit);

    qint64 kernelAvailable = -1;
    const QList<QByteArray> lines = readAll(QStringLiteral("/proc/meminfo")).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("MemAvailable:"))
            kernelAvailable = line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    const qint64 available = SysUtils::getAvailableSystemMemory();
    QVERIFY(available > 0 && available <= total);
    QVERIFY2(qAbs(available - kernelAvailable) < 256LL * 1024 * 1024,
             qPrintable(QStringLiteral("%1 vs %2").arg(available).arg(kernelAvailable)));
}

void TstSysUtils::memoryFromMeminfo_data()
{
    QTest::addColumn<QByteArray>("meminfo");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("available");
    QTest::newRow("current-kernel") << QByteArray(
        "MemTotal:        2048 kB\nMemFree:          100 kB\n"
        "MemAvailable:    1500 kB\nBuffers:           10 kB\nCached:           20 kB\n")
                                    << qint64(2048 * 1024) << qint64(1500 * 1024);
    QTest::newRow("no-memavailable-sums-free-and-caches")
        << QByteArray("MemTotal: 4096 kB\nMemFree: 100 kB\nBuffers: 10 kB\nCached: 20 kB\n")
        << qint64(4096 * 1024) << qint64(130 * 1024);
    QTest::newRow("garbage") << QByteArray("MemTotal: lots\n\x01\x02") << qint64(0) << qint64(0);
    QTest::newRow("overflowing-value")
        << QByteArray("MemTotal: 99999999999999999 kB\n") << qint64(0) << qint64(0);
    QTest::newRow("empty") << QByteArray() << qint64(0) << qint64(0);
}

void TstSysUtils::memoryFromMeminfo()
{
    QFETCH(QByteArray, meminfo);
    QFETCH(qint64, total);
    QFETCH(qint64, available);
    const QString root = fakeRoot({ { QStringLiteral("proc/meminfo"), meminfo } });
    QVERIFY(!root.isEmpty());
    SysUtilsPrivate::setFileRoot(root);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
    QCOMPARE(SysUtils::getTotalSystemMemory(), total);
    QCOMPARE(SysUtils::getAvailableSystemMemory(), available);
}

void TstSysUtils::freeDiskSpaceMatchesDf_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << QStringLiteral("/");
    QTest::newRow("scratch-dir") << m_scratch.path();
    QTest::newRow("regular-file") << QStringLiteral("/proc/meminfo");
}

void TstSysUtils::freeDiskSpaceMatchesDf()
{
    QFETCH(QString, path);
    QProcess df;
    df.start(QStringLiteral("df"),
             { QStringLiteral("-B1"), QStringLiteral("--output=size,avail"), path });
    QVERIFY(df.waitForFinished(10000));
    QCOMPARE(df.exitCode(), 0);
    const QStringList figures = QString::fromLatin1(df.readAllStandardOutput())
                                    .split(QLatin1Char('\n'))
                                    .value(1)
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(figures.size(), 2);

    qint64 freeBytes = 0;
    qint64 totalBytes = 0;
    QVERIFY(SysUtils::freeDiskSpace(path, freeBytes, totalBytes));
    QCOMPARE(totalBytes, figures.at(0).toLongLong());
    // Others write to the disk meanwhile.
    QVERIFY2(qAbs(freeBytes - figures.at(1).toLongLong()) < 256LL * 1024 * 1024,
             qPrintable(QStringLiteral("%1 vs %2").arg(freeBytes).arg(figures.at(1))));
}

void TstSysUtils::freeDiskSpaceFailsForMissingPath()
{
    for (const QString &path : { m_scratch.filePath(QStringLiteral("missing/dir")), QString() }) {
        qint64 freeBytes = 7;
        qint64 totalBytes = 7;
        QVERIFY(!SysUtils::freeDiskSpace(path, freeBytes, totalBytes));
        QCOMPARE(freeBytes, qint64(-1));
        QCOMPARE(totalBytes, qint64(-1));
    }
}

void TstSysUtils::diskReportLines()
{
    const QString missing = m_scratch.filePath(QStringLiteral("missing"));
    const QStringList lines = SysUtils::freeDiskSpace(QStringList { m_scratch.path(), missing });
    QCOMPARE(lines.size(), 2);

    const QRegularExpression shape(
        QStringLiteral("^(.+)  (\\d+ (?:GB|MB|KB|bytes))/(\\d+ (?:GB|MB|KB|bytes))$"));
    const QStringList paths { QStringLiteral("/"), m_scratch.path() };
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = shape.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(1), paths.at(i));
        struct statvfs info
        {
        };
        QCOMPARE(statvfs(QFile::encodeName(paths.at(i)).constData(), &info), 0);
        QCOMPARE(QLatin1Char('/') + match.captured(3),
                 SysUtilsPrivate::formatSize(qint64(info.f_blocks) * qint64(info.f_frsize), true));
    }
}

void TstSysUtils::formatSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("freeText");
    QTest::addColumn<QString>("totalText");
    const qint64 KiB = 1024;
    const qint64 MiB = KiB * 1024;
    const qint64 GiB = MiB * 1024;
    QTest::newRow("negative") << qint64(-1) << "-1 bytes"
                              << "/-1 bytes";
    QTest::newRow("zero") << qint64(0) << "0 bytes"
                          << "/0 bytes";
    QTest::newRow("1024") << KiB << "1024 bytes"
                          << "/1024 bytes";
    QTest::newRow("1025") << KiB + 1 << "1 KB"
                          << "/1 KB";
    QTest::newRow("2047-truncates") << 2 * KiB - 1 << "1 KB"
                                    << "/1 KB";
    QTest::newRow("1MiB") << MiB << "1024 KB"
                          << "/1024 KB";
    QTest::newRow("1MiB-plus-1") << MiB + 1 << "1 MB"
                                 << "/1 MB";
    QTest::newRow("1GiB") << GiB << "1024 MB"
                          << "/1024 MB";
    QTest::newRow("5GiB") << 5 * GiB << "5120 MB"
                          << "/5120 MB";
    QTest::newRow("5GiB-plus-1") << 5 * GiB + 1 << "5 GB"
                                 << "/5 GB";
    QTest::newRow("12GiB") << 12 * GiB << "12 GB"
                           << "/12 GB";
    QTest::newRow("100GiB") << 100 * GiB << "100 GB"
                            << "/100 GB";
    QTest::newRow("max") << std::numeric_limits<qint64>::max() << "8589934591 GB"
                         << "/8589934591 GB";
}

void TstSysUtils::formatSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, freeText);
    QFETCH(QString, totalText);
    QCOMPARE(SysUtilsPrivate::formatSize(bytes, false), freeText);
    QCOMPARE(SysUtilsPrivate::formatSize(bytes, true), totalText);
}

void TstSysUtils::fileSystemIsAvailableFollowsMountFlags()
{
    const QMap<QString, bool> mounts = mountsReadOnly();
    QVERIFY(mounts.contains(QStringLiteral("/")));
    int checked = 0;
    for (auto it = mounts.cbegin(); it != mounts.cend(); ++it) {
        struct statvfs info
        {
        };
        if (!QFileInfo(it.key()).isDir()
            || statvfs(QFile::encodeName(it.key()).constData(), &info) != 0) {
            continue;
        }
        QVERIFY2(SysUtils::fileSystemIsAvailable(it.key()) == !it.value(), qPrintable(it.key()));
        ++checked;
    }
    QVERIFY(checked > 0);
    QVERIFY(!SysUtils::fileSystemIsAvailable(m_scratch.filePath(QStringLiteral("missing"))));
    QVERIFY(!SysUtils::fileSystemIsAvailable(QStringLiteral("/proc/meminfo")));
}

void TstSysUtils::networkTrafficMatchesIpLink()
{
    qint64 inBefore = 0;
    qint64 outBefore = 0;
    QVERIFY2(ipLinkTraffic(inBefore, outBefore), "ip -s -j link failed");
    qint64 in = -1;
    qint64 out = -1;
    QVERIFY(SysUtils::getNetworkTraffic(in, out));
    qint64 inAfter = 0;
    qint64 outAfter = 0;
    QVERIFY(ipLinkTraffic(inAfter, outAfter));
    // The counters only grow, so ours lie between the two readings.
    QVERIFY2(inBefore <= in && in <= inAfter,
             qPrintable(QStringLiteral("%1 <= %2 <= %3").arg(inBefore).arg(in).arg(inAfter)));
    QVERIFY2(outBefore <= out && out <= outAfter,
             qPrintable(QStringLiteral("%1 <= %2 <= %3").arg(outBefore).arg(out).arg(outAfter)));
}

void TstSysUtils::networkTrafficFromSysfs_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("in");
    QTest::addColumn<qint64>("out");
    const auto link = [](const QString &name, const QByteArray &type, const QByteArray &rx,
                         const QByteArray &tx) {
        const QString base = QStringLiteral("sys/class/net/") + name;
        Files files { { base + QStringLiteral("/statistics/rx_bytes"), rx },
                      { base + QStringLiteral("/statistics/tx_bytes"), tx } };
        if (!type.isNull())
            files.insert(base + QStringLiteral("/type"), type);
        return files;
    };
    Files mixed = link(QStringLiteral("lo"), "772\n", "1000\n", "1000\n");
    mixed.insert(link(QStringLiteral("eth0"), "1\n", "10\n", "20\n"));
    mixed.insert(link(QStringLiteral("wlan0"), "1\n", "5\n", "7\n"));
    mixed.insert(link(QStringLiteral("loop2"), "772\n", "99\n", "99\n"));
    QTest::newRow("loopback-types-skipped") << mixed << true << qint64(15) << qint64(27);

    Files noType = link(QStringLiteral("lo"), QByteArray(), "50\n", "50\n");
    noType.insert(link(QStringLiteral("eth1"), QByteArray(), "3\n", "4\n"));
    QTest::newRow("without-type-lo-by-name") << noType << true << qint64(3) << qint64(4);

    Files broken = link(QStringLiteral("eth0"), "1\n", "junk\n", "-5\n");
    broken.insert(link(QStringLiteral("eth1"), "1\n", "8589934592\n", "1\n"));
    QTest::newRow("bad-counters-count-zero") << broken << true << qint64(8589934592LL) << qint64(1);

    QTest::newRow("no-interfaces") << Files { { QStringLiteral("sys/class/net/.keep"), {} } }
                                   << true << qint64(0) << qint64(0);
    QTest::newRow("no-sysfs") << Files {} << false << qint64(-7) << qint64(-7);
}

void TstSysUtils::networkTrafficFromSysfs()
{
    QFETCH(Files, files);
    QFETCH(bool, ok);
    QFETCH(qint64, in);
    QFETCH(qint64, out);
    const QString root = fakeRoot(files);
    QVERIFY(!root.isEmpty());
    SysUtilsPrivate::setFileRoot(root);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
    qint64 received = -7;
    qint64 sent = -7;
    QCOMPARE(SysUtils::getNetworkTraffic(received, sent), ok);
    QCOMPARE(received, in);
    QCOMPARE(sent, out);
}

void TstSysUtils::temperatures_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<int>("cpu");
    QTest::addColumn<int>("hdd");
    const auto zone = [](int n, const QByteArray &type, const QByteArray &temp) {
        const QString base = QStringLiteral("sys/class/thermal/thermal_zone%1/").arg(n);
        return Files { { base + QStringLiteral("type"), type },
                       { base + QStringLiteral("temp"), temp } };
    };
    const auto hwmon = [](int n, const QByteArray &name, const QByteArray &temp) {
        const QString base = QStringLiteral("sys/class/hwmon/hwmon%1/").arg(n);
        return Files { { base + QStringLiteral("name"), name },
                       { base + QStringLiteral("temp1_input"), temp } };
    };
    QTest::newRow("no-sensors") << Files {} << 0 << 0;

    Files coretemp = hwmon(0, "acpitz\n", "27800\n");
    coretemp.insert(hwmon(1, "coretemp\n", "45500\n"));
    coretemp.insert(zone(0, "x86_pkg_temp\n", "60000\n"));
    QTest::newRow("cpu-driver-first") << coretemp << 46 << 0;

    Files package = zone(0, "acpitz\n", "30000\n");
    package.insert(zone(1, "x86_pkg_temp\n", "52000\n"));
    QTest::newRow("package-zone-over-first-zone") << package << 52 << 0;

    QTest::newRow("any-zone-when-no-cpu-zone") << zone(0, "acpitz\n", "30499\n") << 30 << 0;

    Files ordered = zone(10, "cpu-thermal\n", "70000\n");
    ordered.insert(zone(2, "cpu-thermal\n", "40000\n"));
    QTest::newRow("zones-in-number-order") << ordered << 40 << 0;

    QTest::newRow("below-zero") << zone(0, "acpitz\n", "-5600\n") << -6 << 0;
    QTest::newRow("unreadable-value") << zone(0, "cpu\n", "n/a\n") << 0 << 0;

    Files drives = hwmon(3, "drivetemp\n", "38000\n");
    drives.insert(hwmon(4, "nvme\n", "41000\n"));
    QTest::newRow("drivetemp-first-by-number") << drives << 0 << 38;
    QTest::newRow("nvme") << hwmon(0, "nvme\n", "41000\n") << 0 << 41;
}

void TstSysUtils::temperatures()
{
    QFETCH(Files, files);
    QFETCH(int, cpu);
    QFETCH(int, hdd);
    const QString root = fakeRoot(files);
    QVERIFY(!root.isEmpty());
    SysUtilsPrivate::setFileRoot(root);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
    QCOMPARE(SysUtils::cpuTemperature(), cpu);
    QCOMPARE(SysUtils::hddTemperature(), hdd);
}

void TstSysUtils::procSerial_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("serial");
    const QString cpuinfo = QStringLiteral("proc/cpuinfo");
    const QString machineId = QStringLiteral("etc/machine-id");
    const QString dmi = QStringLiteral("sys/class/dmi/id/product_serial");
    const QString deviceTree = QStringLiteral("sys/firmware/devicetree/base/serial-number");
    const QByteArray piCpuinfo("processor\t: 0\nHardware\t: BCM2835\nSerial\t\t: 10000000abcdef01\n"
                               "Model\t\t: Raspberry Pi 3\n");

    QTest::newRow("cpuinfo-serial")
        << Files { { cpuinfo, piCpuinfo }, { machineId, "0123abcd\n" } } << "10000000abcdef01";
    QTest::newRow("cpuinfo-zero-serial")
        << Files { { cpuinfo, "Serial\t\t: 0000000000000000\n" }, { machineId, "0123abcd\n" } }
        << "0123abcd";
    QTest::newRow("device-tree") << Files { { deviceTree, QByteArray("SN-42\0", 6) },
                                            { machineId, "0123abcd\n" } }
                                 << "SN-42";
    QTest::newRow("dmi") << Files { { dmi, "PF2ABC12\n" }, { machineId, "0123abcd\n" } }
                         << "PF2ABC12";
    QTest::newRow("dmi-placeholder")
        << Files { { dmi, "To be filled by O.E.M.\n" }, { machineId, "0123abcd\n" } } << "0123abcd";
    QTest::newRow("dbus-machine-id")
        << Files { { QStringLiteral("var/lib/dbus/machine-id"), "feedbeef\n" } } << "feedbeef";
    QTest::newRow("nothing") << Files { { QStringLiteral("etc/hostname"), "kiosk\n" } }
                             << QString();
}

void TstSysUtils::procSerial()
{
    QFETCH(Files, files);
    QFETCH(QString, serial);
    const QString root = fakeRoot(files);
    QVERIFY(!root.isEmpty());
    SysUtilsPrivate::setFileRoot(root);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
    QCOMPARE(SysUtils::getProcSerial(), serial);
}

// --- portable rules ---

void TstSysUtils::chooseTimeZone_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("zoneId");
    QTest::addColumn<QString>("debug");
    QTest::addColumn<QString>("critical");
    QTest::newRow("zero") << 0 << true << QByteArray("UTC+00:00") << "\"UTC+00:00\"" << QString();
    QTest::newRow("minus-5") << -5 << true << QByteArray("UTC-05:00") << "\"UTC-05:00\""
                             << QString();
    QTest::newRow("plus-3") << 3 << true << QByteArray("UTC+03:00") << "\"UTC+03:00\"" << QString();
    QTest::newRow("plus-14") << 14 << true << QByteArray("UTC+14:00") << "\"UTC+14:00\""
                             << QString();
    QTest::newRow("impossible-15")
        << 15 << false << QByteArray() << QString() << "INVALID_OFFCET 15";
    QTest::newRow("impossible-minus-99")
        << -99 << false << QByteArray() << QString() << "INVALID_OFFCET -99";
    QTest::newRow("would-overflow-seconds")
        << std::numeric_limits<int>::max() << false << QByteArray() << QString()
        << "INVALID_OFFCET 2147483647";
}

void TstSysUtils::chooseTimeZone()
{
    QFETCH(int, offset);
    QFETCH(bool, found);
    QFETCH(QByteArray, zoneId);
    QFETCH(QString, debug);
    QFETCH(QString, critical);
    QByteArray id("left over");
    const MessageCapture capture;
    QCOMPARE(SysUtils::chooseTimeZone(offset, QLocale::Germany, id), found);
    QCOMPARE(id, zoneId);
    QCOMPARE(capture.messages(QtDebugMsg), debug.isNull() ? QStringList() : QStringList { debug });
    QCOMPARE(capture.messages(QtCriticalMsg),
             critical.isNull() ? QStringList() : QStringList { critical });
}

void TstSysUtils::formatDtWithOffcet_data()
{
    QTest::addColumn<QDateTime>("dt");
    QTest::addColumn<QString>("suffix");
    const QDate date(2024, 6, 11);
    const QTime time(10, 20, 30, 456);
    QTest::newRow("plus-3") << QDateTime(date, time, Qt::OffsetFromUTC, 3 * 3600) << " +03:00";
    QTest::newRow("minus-5-30") << QDateTime(date, time, Qt::OffsetFromUTC, -(5 * 3600 + 1800))
                                << " -05:30";
    QTest::newRow("utc") << QDateTime(date, time, Qt::UTC) << " +00:00";
    QTest::newRow("plus-5-45") << QDateTime(date, time, Qt::OffsetFromUTC, 5 * 3600 + 45 * 60)
                               << " +05:45";
}

void TstSysUtils::formatDtWithOffcet()
{
    QFETCH(QDateTime, dt);
    QFETCH(QString, suffix);
    // Milliseconds are dropped; the clock reading stays in the value's own offset.
    const QDateTime whole(dt.date(),
                          QTime(dt.time().hour(), dt.time().minute(), dt.time().second()),
                          Qt::OffsetFromUTC, dt.offsetFromUtc());
    QCOMPARE(SysUtils::formatDtWithOffcet(dt),
             QLocale::system().toString(whole, QLocale::ShortFormat) + suffix);
}

// --- machine changes, through the recorder only ---

void TstSysUtils::poweroffStartsShutdown()
{
    SysUtils::poweroff();
    QCOMPARE(recorder->lines(), QStringList { "shutdown -P now" });
    const Call &call = recorder->calls.first();
    QCOMPARE(call.kind, Call::Start);
    QCOMPARE(call.timeoutMs, 5000);
    QCOMPARE(call.mode, QIODevice::ReadWrite);
    QCOMPARE(call.workingDirectory, QCoreApplication::applicationDirPath());
    QCOMPARE(call.environment, QProcessEnvironment::systemEnvironment().toStringList());
}

void TstSysUtils::poweroffFallsBackWhenShutdownDoesNotStart()
{
    recorder->startResult = false;
    SysUtils::poweroff();
    QCOMPARE(recorder->lines(), (QStringList { "shutdown -P now", "systemctl poweroff --force" }));
    QCOMPARE(recorder->calls.at(0).kind, Call::Start);
    QCOMPARE(recorder->calls.at(1).kind, Call::Detached);
}

void TstSysUtils::rebootForcesAfterTheDelay()
{
    const int delay = 200;
    SysUtilsPrivate::setForcedRebootDelayMs(delay);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setForcedRebootDelayMs(300000); });
    const MessageCapture capture;
    SysUtils::reboot();
    QCOMPARE(recorder->lines(), QStringList { "shutdown -r now" });
    QCOMPARE(recorder->calls.first().timeoutMs, 5000);
    QCOMPARE(capture.messages(QtWarningMsg), QStringList { "START_REBOOTING" });

    QTRY_COMPARE(recorder->calls.size(), 2);
    const Call &forced = recorder->calls.at(1);
    QCOMPARE(forced.kind, Call::Detached);
    QCOMPARE(forced.line(), QStringLiteral("systemctl reboot --force"));
    QVERIFY2(forced.atMs >= delay, qPrintable(QString::number(forced.atMs)));
    QCOMPARE(capture.messages(QtWarningMsg),
             (QStringList { "START_REBOOTING", "FORCE_REBOOTING" }));
}

void TstSysUtils::rebootFallsBackAtOnceAndForcesLater()
{
    const int delay = 200;
    SysUtilsPrivate::setForcedRebootDelayMs(delay);
    const auto restore = qScopeGuard([] { SysUtilsPrivate::setForcedRebootDelayMs(300000); });
    recorder->startResult = false;
    const MessageCapture capture;
    SysUtils::reboot();
    QCOMPARE(recorder->lines(), (QStringList { "shutdown -r now", "systemctl reboot --force" }));
    QVERIFY(recorder->calls.at(1).atMs < delay);
    QCOMPARE(capture.messages(QtWarningMsg),
             (QStringList { "START_REBOOTING", "FORCE_REBOOTING" }));

    QTRY_COMPARE(recorder->calls.size(), 3);
    QCOMPARE(recorder->calls.at(2).line(), QStringLiteral("systemctl reboot --force"));
    QCOMPARE(recorder->calls.at(2).kind, Call::Detached);
    QVERIFY(recorder->calls.at(2).atMs >= delay);
    QCOMPARE(capture.messages(QtWarningMsg),
             (QStringList { "START_REBOOTING", "FORCE_REBOOTING", "FORCE_REBOOTING" }));
}

void TstSysUtils::monitorCommands()
{
    SysUtils::monitorOff();
    SysUtils::monitorOn();
    QCOMPARE(recorder->lines(), (QStringList { "xset dpms force off", "xset dpms force on" }));
    QCOMPARE(recorder->calls.at(0).kind, Call::Detached);
    QCOMPARE(recorder->calls.at(1).kind, Call::Detached);
}

void TstSysUtils::screenshotCommand_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("used");
    QTest::addColumn<bool>("wayland");
    QTest::newRow("png-appended") << "shots/a"
                                  << "shots/a.png" << false;
    QTest::newRow("png-suffix-kept") << "shots/b.png"
                                     << "shots/b.png" << false;
    QTest::newRow("png-anywhere-kept") << "deep/er/c.png.old"
                                       << "deep/er/c.png.old" << false;
    QTest::newRow("wayland-grim") << "way/d"
                                  << "way/d.png" << true;
}

void TstSysUtils::screenshotCommand()
{
    QFETCH(QString, given);
    QFETCH(QString, used);
    QFETCH(bool, wayland);
    const EnvGuard env("WAYLAND_DISPLAY", "wayland-0", wayland);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString expected = dir.filePath(used);
    const MessageCapture capture;
    SysUtils::screenshot(dir.filePath(given));

    QVERIFY(QFileInfo(QFileInfo(expected).absolutePath()).isDir());
    QCOMPARE(recorder->calls.size(), 1);
    const Call &call = recorder->calls.first();
    QCOMPARE(call.kind, Call::Start);
    QCOMPARE(call.timeoutMs, -1);
    QCOMPARE(call.mode, QIODevice::ReadWrite);
    const QString program = wayland ? QStringLiteral("grim") : QStringLiteral("import");
    QCOMPARE(call.program, program);
    const QStringList arguments
        = wayland ? QStringList { expected } : QStringList { "-window", "root", expected };
    QCOMPARE(call.arguments, arguments);
    QCOMPARE(capture.messages(QtWarningMsg),
             QStringList { QStringLiteral("\"%1\" \"%2\"").arg(program, expected) });
    delete recorder->lastProcess.data();
}

void TstSysUtils::screenshotProcessLogsAndGoes_data()
{
    QTest::addColumn<QString>("standIn");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("finishes") << QStringLiteral(SYSUTILS_CHILD)
                              << QStringList { "STATE QProcess::Starting",
                                               "STATE QProcess::Running",
                                               "STATE QProcess::NotRunning",
                                               "EXITCODE 0 QProcess::NormalExit" };
    QTest::newRow("fails-to-start")
        << m_scratch.filePath(QStringLiteral("no-such-program"))
        << QStringList { "STATE QProcess::Starting", "ERROR QProcess::FailedToStart",
                         "STATE QProcess::NotRunning" };
}

void TstSysUtils::screenshotProcessLogsAndGoes()
{
    QFETCH(QString, standIn);
    QFETCH(QStringList, expected);
    recorder->standIn = standIn;
    const MessageCapture capture;
    SysUtils::screenshot(m_scratch.filePath(QStringLiteral("shot")));
    QVERIFY(recorder->lastProcess);
    // The process object deletes itself once it is done.
    QTRY_VERIFY(recorder->lastProcess.isNull());
    QStringList warnings = capture.messages(QtWarningMsg);
    QCOMPARE(
        warnings.takeFirst(),
        QStringLiteral("\"import\" \"%1\"").arg(m_scratch.filePath(QStringLiteral("shot.png"))));
    std::sort(warnings.begin(), warnings.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(warnings, expected);
}

void TstSysUtils::cleanSpoolWritesScriptAndStartsIt_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("nothing-there") << QString();
    QTest::newRow("old-script-replaced") << QStringLiteral("file");
    QTest::newRow("link-not-followed") << QStringLiteral("link");
}

void TstSysUtils::cleanSpoolWritesScriptAndStartsIt()
{
    QFETCH(QString, planted);
    QTemporaryDir temp;
    QVERIFY2(temp.isValid(), qPrintable(temp.errorString()));
    const EnvGuard env("TMPDIR", QFile::encodeName(temp.path()));
    const QString script = temp.filePath(QStringLiteral("cleanspool.sh"));
    const QString victim = temp.filePath(QStringLiteral("victim"));
    QVERIFY(writeTree(temp.path(), { { QStringLiteral("victim"), "keep me\n" } }));
    if (planted == QLatin1String("file"))
        QVERIFY(writeTree(temp.path(), { { QStringLiteral("cleanspool.sh"), "rm -rf /\n" } }));
    else if (planted == QLatin1String("link"))
        QVERIFY(QFile::link(victim, script));

    SysUtils::cleanSpool({ QStringLiteral("receipts") });

    QCOMPARE(readAll(victim), QByteArray("keep me\n"));
    QVERIFY(!QFileInfo(script).isSymLink());
    QCOMPARE(readAll(script), QByteArray("#!/bin/sh\ncancel -a -x\n"));
    QCOMPARE(recorder->calls.size(), 1);
    QCOMPARE(recorder->calls.first().kind, Call::Detached);
    QCOMPARE(recorder->calls.first().program, QStringLiteral("/bin/sh"));
    QCOMPARE(recorder->calls.first().arguments, QStringList { script });
}

void TstSysUtils::cleanSpoolDoesNotStartWhatItCouldNotWrite_data()
{
    QTest::addColumn<QString>("tempDir");
    QTest::addColumn<QString>("warning");
    const QString file = m_scratch.filePath(QStringLiteral("plain-file"));
    QTest::newRow("temp-dir-is-a-file")
        << file << QStringLiteral("SPOOL SCRIPT WRITING ERROR \"%1/cleanspool.sh\"").arg(file);
    // Qt then reports an empty temporary directory: nothing goes to "/".
    QTest::newRow("temp-dir-missing") << m_scratch.filePath(QStringLiteral("no-temp-dir"))
                                      << "SPOOL SCRIPT WRITING ERROR \"no temporary directory\"";
}

void TstSysUtils::cleanSpoolDoesNotStartWhatItCouldNotWrite()
{
    QFETCH(QString, tempDir);
    QFETCH(QString, warning);
    QVERIFY(writeTree(m_scratch.path(), { { QStringLiteral("plain-file"), "x" } }));
    const EnvGuard env("TMPDIR", QFile::encodeName(tempDir));
    const MessageCapture capture;
    SysUtils::cleanSpool({});
    QVERIFY2(recorder->calls.isEmpty(), qPrintable(recorder->lines().join(QLatin1Char(';'))));
    QCOMPARE(capture.messages(QtWarningMsg), QStringList { warning });
}

void TstSysUtils::setSystemTime_data()
{
    QTest::addColumn<QDateTime>("dt");
    QTest::addColumn<bool>("isUtc");
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<QString>("shownArgument");
    QTest::addColumn<QString>("shownUtc");
    const QDate date(2024, 6, 11);
    QTest::newRow("invalid") << QDateTime() << false << QString() << QString() << QString();
    QTest::newRow("invalid-utc") << QDateTime() << true << QString() << QString() << QString();
    QTest::newRow("offset-converted")
        << QDateTime(date, QTime(1, 20, 30, 456), Qt::OffsetFromUTC, 3 * 3600) << false
        << "2024-06-10 22:20:30"
        << "2024-06-11T01:20:30+03:00"
        << "2024-06-10T22:20:30Z";
    QTest::newRow("flagged-utc-fields-taken-as-is")
        << QDateTime(date, QTime(1, 20, 30), Qt::OffsetFromUTC, 3 * 3600) << true
        << "2024-06-11 01:20:30"
        << "2024-06-11T01:20:30+03:00"
        << "2024-06-11T01:20:30Z";
    QTest::newRow("utc") << QDateTime(QDate(2031, 12, 31), QTime(23, 59, 59, 999), Qt::UTC) << false
                         << "2031-12-31 23:59:59"
                         << "2031-12-31T23:59:59Z"
                         << "2031-12-31T23:59:59Z";
}

void TstSysUtils::setSystemTime()
{
    QFETCH(QDateTime, dt);
    QFETCH(bool, isUtc);
    QFETCH(QString, stamp);
    QFETCH(QString, shownArgument);
    QFETCH(QString, shownUtc);
    const MessageCapture capture;
    SysUtils::setSystemTime(dt, isUtc);
    if (stamp.isNull()) {
        QVERIFY(recorder->calls.isEmpty());
        QCOMPARE(capture.count(), 0);
        return;
    }
    QCOMPARE(recorder->lines(), (QStringList { "date -u -s " + stamp, "hwclock --systohc" }));
    QCOMPARE(recorder->calls.at(0).kind, Call::Execute);
    const QStringList warnings = capture.messages(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    const QRegularExpression shape(
        QStringLiteral("^\"%1\" \"%2\" \"(\\S+Z)\" \"(\\S+)\"$")
            .arg(QRegularExpression::escape(shownArgument), QRegularExpression::escape(shownUtc)));
    const QRegularExpressionMatch match = shape.match(warnings.first());
    QVERIFY2(match.hasMatch(), qPrintable(warnings.first()));
    const QDateTime nowUtc = QDateTime::fromString(match.captured(1), Qt::ISODate);
    QVERIFY(qAbs(nowUtc.secsTo(QDateTime::currentDateTimeUtc())) <= 5);
    QVERIFY(QDateTime::fromString(match.captured(2), Qt::ISODate).isValid());
}

void TstSysUtils::setSystemTimeStopsWhenDateFails()
{
    recorder->answers = { { 1, QByteArray() } };
    const MessageCapture capture;
    SysUtils::setSystemTime(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC), true);
    QCOMPARE(recorder->lines(), QStringList { "date -u -s 2024-01-02 03:04:05" });
    QCOMPARE(capture.messages(QtWarningMsg).value(1),
             QStringLiteral("SYSTEM TIME SETTING ERROR 1"));
}

void TstSysUtils::changeTimeZone_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QStringList>("answers"); // "<exit code>|<output>" per command
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("criticals");
    const QString show = QStringLiteral("timedatectl show --property=Timezone --value");
    QTest::newRow("plus-3") << 3 << QStringList { "0|Europe/Berlin\n", "0|", "0|Etc/GMT-3\n" }
                            << true
                            << QStringList { show, "timedatectl set-timezone Etc/GMT-3", show }
                            << QStringList();
    QTest::newRow("minus-5") << -5 << QStringList { "0|Etc/UTC\n", "0|", "0|Etc/GMT+5\n" } << true
                             << QStringList { show, "timedatectl set-timezone Etc/GMT+5", show }
                             << QStringList();
    QTest::newRow("zero") << 0 << QStringList { "0|Asia/Tokyo\n", "0|", "0|Etc/UTC\n" } << true
                          << QStringList { show, "timedatectl set-timezone Etc/UTC", show }
                          << QStringList();
    QTest::newRow("minus-12-edge")
        << -12 << QStringList { "0|Etc/UTC\n", "0|", "0|Etc/GMT+12\n" } << true
        << QStringList { show, "timedatectl set-timezone Etc/GMT+12", show } << QStringList();
    QTest::newRow("read-back-differs")
        << 3 << QStringList { "0|Etc/UTC\n", "0|", "0|Etc/GMT-4\n" } << false
        << QStringList { show, "timedatectl set-timezone Etc/GMT-3", show } << QStringList();
    QTest::newRow("loading-fails") << 3 << QStringList { "1|" } << false << QStringList { show }
                                   << QStringList { "TIMEZONE LOADING ERROR" };
    QTest::newRow("saving-fails") << 3 << QStringList { "0|Etc/UTC\n", "1|" } << false
                                  << QStringList { show, "timedatectl set-timezone Etc/GMT-3" }
                                  << QStringList { "TIMEZONE SAVING ERROR" };
    QTest::newRow("read-back-fails")
        << 3 << QStringList { "0|Etc/UTC\n", "0|", "1|" } << false
        << QStringList { show, "timedatectl set-timezone Etc/GMT-3", show }
        << QStringList { "TIMEZONE SAVING ERROR" };
    QTest::newRow("impossible-offset")
        << 15 << QStringList { "0|Etc/UTC\n" } << false << QStringList { show }
        << QStringList { "TIMEZONE SAVING ERROR" };
}

void TstSysUtils::changeTimeZone()
{
    QFETCH(int, offset);
    QFETCH(QStringList, answers);
    QFETCH(bool, result);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, criticals);
    for (const QString &answer : qAsConst(answers)) {
        const int bar = answer.indexOf(QLatin1Char('|'));
        recorder->answers.append({ answer.left(bar).toInt(), answer.mid(bar + 1).toUtf8() });
    }
    const MessageCapture capture;
    QCOMPARE(SysUtils::changeTimeZone(offset, QLocale::AnyCountry), result);
    QCOMPARE(recorder->lines(), commands);
    QCOMPARE(capture.messages(QtCriticalMsg), criticals);
    if (!criticals.contains(QLatin1String("TIMEZONE LOADING ERROR"))) {
        const QString current = answers.first().mid(2).trimmed();
        QCOMPARE(capture.messages(QtDebugMsg).value(0),
                 QLatin1Char('"') + current + QLatin1Char('"'));
    }
    for (const Call &call : qAsConst(recorder->calls))
        QCOMPARE(call.kind, Call::Execute);
}

// --- last-chance handlers, in a child process ---

void TstSysUtils::catchSystemExceptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("sendTerm");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("sigterm-exits-0")
        << QStringList { "wait-term", "catch" } << true << int(QProcess::NormalExit) << 0;
    QTest::newRow("sigterm-without-handlers-kills")
        << QStringList { "wait-term", "plain" } << true << int(QProcess::CrashExit) << -1;
    QTest::newRow("terminate-exits-4")
        << QStringList { "terminate" } << false << int(QProcess::NormalExit) << 4;
    QTest::newRow("allocation-failure-exits-3")
        << QStringList { "alloc" } << false << int(QProcess::NormalExit) << 3;
    QTest::newRow("sigint-not-hooked")
        << QStringList { "sigint" } << false << int(QProcess::CrashExit) << -1;
}

void TstSysUtils::catchSystemExceptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, sendTerm);
    QFETCH(int, exitStatus);
    QFETCH(int, exitCode);
    QProcess child;
    child.setProgram(QStringLiteral(SYSUTILS_CHILD));
    child.setArguments(arguments);
    child.start();
    QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
    if (sendTerm) {
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        child.terminate(); // SIGTERM
    }
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(int(child.exitStatus()), exitStatus);
    if (exitStatus == QProcess::NormalExit)
        QCOMPARE(child.exitCode(), exitCode);
}

QTEST_GUILESS_MAIN(TstSysUtils)
#include "tst_sysutils.moc"
