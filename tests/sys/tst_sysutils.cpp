// SysUtils on Linux: readings against independent sources (the kernel's own
// files, df, ip) and against fake /proc and /sys trees, the portable rules,
// and every change to the machine through a recorder of the exact commands.

#include "testfiles.h"

#include <sys/sysutils.h>

#include <sys/syscommandrunner_p.h>
#include <sys/sysutils_p.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
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
    QList<QPair<int, QByteArray>> answers; // for execute(), in order; none answers 0

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
        const QPair<int, QByteArray> answer = answers.isEmpty() ? qMakePair(0, QByteArray())
                                                                : answers.takeFirst();
        if (output)
            *output = answer.second;
        return answer.first;
    }
};

RecordingRunner *recorder = nullptr;

// Every log message since the test function began, caught instead of
// printed; fatal ones still reach the previous handler.
QMutex loggedMutex;
QList<QPair<QtMsgType, QString>> logged;
QtMessageHandler previousHandler = nullptr;

void catchMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg)
        previousHandler(type, context, message);
    const QMutexLocker locker(&loggedMutex);
    logged.append({ type, message });
}

QStringList messages(QtMsgType type)
{
    const QMutexLocker locker(&loggedMutex);
    QStringList result;
    for (const auto &entry : qAsConst(logged)) {
        if (entry.first == type)
            result << entry.second;
    }
    return result;
}

// Sets (or unsets) an environment variable until the returned guard goes.
auto environmentFor(const char *name, const QByteArray &value, bool set = true)
{
    const bool had = qEnvironmentVariableIsSet(name);
    const QByteArray old = qgetenv(name);
    set ? qputenv(name, value) : qunsetenv(name);
    return qScopeGuard([=] { had ? qputenv(name, old) : qunsetenv(name); });
}

using Files = QMap<QString, QByteArray>;
using Reading = std::function<QString()>;

bool writeTree(const QString &root, const Files &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(root + QLatin1Char('/') + it.key());
        if (!QDir().mkpath(QFileInfo(file).absolutePath()) || !file.open(QIODevice::WriteOnly)
            || file.write(it.value()) != it.value().size()) {
            return false;
        }
    }
    return true;
}

// The value after `key` in a kernel text file such as /proc/stat.
qint64 kernelValue(const QString &path, const QByteArray &key)
{
    for (const QByteArray &line : readFile(path).split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
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
    in = out = 0;
    for (const QJsonValue &value : links) {
        const QJsonObject link = value.toObject();
        if (link.value(QLatin1String("link_type")).toString() == QLatin1String("loopback"))
            continue;
        const QJsonObject stats = link.value(QLatin1String("stats64")).toObject();
        in += qint64(stats.value(QLatin1String("rx")).toObject().value(QLatin1String("bytes")).toDouble());
        out += qint64(stats.value(QLatin1String("tx")).toObject().value(QLatin1String("bytes")).toDouble());
    }
    return !links.isEmpty();
}

// Mount points and their read-only flag, the last mount of a path winning.
QMap<QString, bool> mountsReadOnly()
{
    QMap<QString, bool> result;
    for (const QByteArray &line : readFile(QStringLiteral("/proc/mounts")).split('\n')) {
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
Q_DECLARE_METATYPE(Reading)

// The sanitizers' allocators report a failed allocation themselves and never
// call the new handler.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEL_SANITIZED_ALLOCATOR
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVEL_SANITIZED_ALLOCATOR
#endif
#endif

class TstSysUtils : public QObject
{
    Q_OBJECT

    QTemporaryDir m_scratch;
    int m_rootCount = 0;

private slots:
    void initTestCase()
    {
        // Before anything else: nothing in this process may reach the machine.
        recorder = new RecordingRunner;
        SysCommandRunner::setCurrent(recorder);
        previousHandler = qInstallMessageHandler(catchMessage);
        QVERIFY2(m_scratch.isValid(), qPrintable(m_scratch.errorString()));
        QCOMPARE(SysUtilsPrivate::forcedRebootDelayMs(), 300000);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        QCOMPARE(SysCommandRunner::current(), recorder);
        recorder->reset();
        const QMutexLocker locker(&loggedMutex);
        logged.clear();
    }

    // --- readings against independent sources ---

    void readingsMatchKernel()
    {
        const double before = readFile(QStringLiteral("/proc/uptime")).split(' ').value(0).toDouble();
        const qint64 uptime = SysUtils::uptime();
        const double after = readFile(QStringLiteral("/proc/uptime")).split(' ').value(0).toDouble();
        QVERIFY(before > 0);
        QVERIFY2(uptime >= qint64(before) - 1 && uptime <= qint64(after) + 1,
                 qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(uptime).arg(before).arg(after)));

        const qint64 bootTime = kernelValue(QStringLiteral("/proc/stat"), "btime ");
        QVERIFY(bootTime > 0);
        const QDateTime start = SysUtils::startDt();
        QCOMPARE(start.timeSpec(), Qt::UTC);
        QVERIFY2(qAbs(start.toSecsSinceEpoch() - bootTime) <= 3, qPrintable(start.toString(Qt::ISODate)));

        struct sysinfo info
        {
        };
        QCOMPARE(sysinfo(&info), 0);
        const qint64 total = SysUtils::getTotalSystemMemory();
        QCOMPARE(total, qint64(info.totalram) * info.mem_unit);
        const qint64 kernelAvailable = kernelValue(QStringLiteral("/proc/meminfo"), "MemAvailable:") * 1024;
        const qint64 available = SysUtils::getAvailableSystemMemory();
        QVERIFY(available > 0 && available <= total);
        QVERIFY2(qAbs(available - kernelAvailable) < 256LL * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 vs %2").arg(available).arg(kernelAvailable)));
    }

    void freeDiskSpaceMatchesDf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("root") << QStringLiteral("/");
        QTest::newRow("scratch-dir") << m_scratch.path();
        QTest::newRow("regular-file") << QStringLiteral("/proc/meminfo");
    }

    void freeDiskSpaceMatchesDf()
    {
        QFETCH(QString, path);
        QProcess df;
        df.start(QStringLiteral("df"), { QStringLiteral("-B1"), QStringLiteral("--output=size,avail"), path });
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

    void diskReportLines()
    {
        const QString missing = m_scratch.filePath(QStringLiteral("missing"));
        for (const QString &path : { missing, QString() }) {
            qint64 freeBytes = 7;
            qint64 totalBytes = 7;
            QVERIFY(!SysUtils::freeDiskSpace(path, freeBytes, totalBytes));
            QCOMPARE(freeBytes, qint64(-1));
            QCOMPARE(totalBytes, qint64(-1));
        }

        // "/" comes first as the only drive; the missing path gives no line.
        const QStringList lines = SysUtils::freeDiskSpace(QStringList { m_scratch.path(), missing });
        const QStringList paths { QStringLiteral("/"), m_scratch.path() };
        QCOMPARE(lines.size(), paths.size());
        const QRegularExpression shape(
            QStringLiteral("^(.+)  (\\d+ (?:GB|MB|KB|bytes))/(\\d+ (?:GB|MB|KB|bytes))$"));
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

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const qint64 KiB = 1024;
        const qint64 MiB = KiB * 1024;
        const qint64 GiB = MiB * 1024;
        QTest::newRow("negative") << qint64(-1) << "-1 bytes";
        QTest::newRow("zero") << qint64(0) << "0 bytes";
        QTest::newRow("1024") << KiB << "1024 bytes";
        QTest::newRow("1025") << KiB + 1 << "1 KB";
        QTest::newRow("2047-truncates") << 2 * KiB - 1 << "1 KB";
        QTest::newRow("1MiB") << MiB << "1024 KB";
        QTest::newRow("1MiB-plus-1") << MiB + 1 << "1 MB";
        QTest::newRow("1GiB") << GiB << "1024 MB";
        QTest::newRow("5GiB") << 5 * GiB << "5120 MB";
        QTest::newRow("5GiB-plus-1") << 5 * GiB + 1 << "5 GB";
        QTest::newRow("12GiB") << 12 * GiB << "12 GB";
        QTest::newRow("100GiB") << 100 * GiB << "100 GB";
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << "8589934591 GB";
    }

    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, false), text);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, true), QLatin1Char('/') + text);
    }

    void fileSystemIsAvailableFollowsMountFlags()
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

    void networkTrafficMatchesIpLink()
    {
        qint64 inBefore = 0, outBefore = 0, in = -1, out = -1, inAfter = 0, outAfter = 0;
        QVERIFY2(ipLinkTraffic(inBefore, outBefore), "ip -s -j link failed");
        QVERIFY(SysUtils::getNetworkTraffic(in, out));
        QVERIFY(ipLinkTraffic(inAfter, outAfter));
        // The counters only grow, so ours lie between the two readings.
        QVERIFY2(inBefore <= in && in <= inAfter,
                 qPrintable(QStringLiteral("%1 <= %2 <= %3").arg(inBefore).arg(in).arg(inAfter)));
        QVERIFY2(outBefore <= out && out <= outAfter,
                 qPrintable(QStringLiteral("%1 <= %2 <= %3").arg(outBefore).arg(out).arg(outAfter)));
    }

    // --- readings from fake /proc, /sys and /etc trees ---

    void readingsFromFiles_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<Reading>("reading");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const Files &files, const Reading &reading,
                            const QString &expected) {
            QTest::newRow(tag) << files << reading << expected;
        };

        const Reading memory = [] {
            return QStringLiteral("%1 %2")
                .arg(SysUtils::getTotalSystemMemory())
                .arg(SysUtils::getAvailableSystemMemory());
        };
        const auto meminfo = [](const QByteArray &text) {
            return Files { { QStringLiteral("proc/meminfo"), text } };
        };
        row("meminfo-current-kernel",
            meminfo("MemTotal:        2048 kB\nMemFree:          100 kB\n"
                    "MemAvailable:    1500 kB\nBuffers:           10 kB\nCached:           20 kB\n"),
            memory, QStringLiteral("%1 %2").arg(2048 * 1024).arg(1500 * 1024));
        row("meminfo-without-memavailable-sums-free-and-caches",
            meminfo("MemTotal: 4096 kB\nMemFree: 100 kB\nBuffers: 10 kB\nCached: 20 kB\n"), memory,
            QStringLiteral("%1 %2").arg(4096 * 1024).arg(130 * 1024));
        row("meminfo-garbage", meminfo("MemTotal: lots\n\x01\x02"), memory, "0 0");
        row("meminfo-overflowing-value", meminfo("MemTotal: 99999999999999999 kB\n"), memory, "0 0");
        row("meminfo-empty", meminfo(QByteArray()), memory, "0 0");

        const Reading traffic = [] {
            qint64 received = -7;
            qint64 sent = -7;
            const bool ok = SysUtils::getNetworkTraffic(received, sent);
            return QStringLiteral("%1 %2 %3").arg(ok ? "ok" : "failed").arg(received).arg(sent);
        };
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
        row("net-loopback-types-skipped", mixed, traffic, "ok 15 27");
        Files noType = link(QStringLiteral("lo"), QByteArray(), "50\n", "50\n");
        noType.insert(link(QStringLiteral("eth1"), QByteArray(), "3\n", "4\n"));
        row("net-without-type-lo-by-name", noType, traffic, "ok 3 4");
        Files broken = link(QStringLiteral("eth0"), "1\n", "junk\n", "-5\n");
        broken.insert(link(QStringLiteral("eth1"), "1\n", "8589934592\n", "1\n"));
        row("net-bad-counters-count-zero", broken, traffic, "ok 8589934592 1");
        row("net-no-interfaces", { { QStringLiteral("sys/class/net/.keep"), {} } }, traffic, "ok 0 0");
        row("net-no-sysfs", {}, traffic, "failed -7 -7");

        const Reading temperatures = [] {
            return QStringLiteral("%1 %2").arg(SysUtils::cpuTemperature()).arg(SysUtils::hddTemperature());
        };
        const auto zone = [](int n, const QByteArray &type, const QByteArray &temp) {
            const QString base = QStringLiteral("sys/class/thermal/thermal_zone%1/").arg(n);
            return Files { { base + QStringLiteral("type"), type }, { base + QStringLiteral("temp"), temp } };
        };
        const auto hwmon = [](int n, const QByteArray &name, const QByteArray &temp) {
            const QString base = QStringLiteral("sys/class/hwmon/hwmon%1/").arg(n);
            return Files { { base + QStringLiteral("name"), name },
                           { base + QStringLiteral("temp1_input"), temp } };
        };
        row("temp-no-sensors", {}, temperatures, "0 0");
        Files coretemp = hwmon(0, "acpitz\n", "27800\n");
        coretemp.insert(hwmon(1, "coretemp\n", "45500\n"));
        coretemp.insert(zone(0, "x86_pkg_temp\n", "60000\n"));
        row("temp-cpu-driver-first", coretemp, temperatures, "46 0");
        Files package = zone(0, "acpitz\n", "30000\n");
        package.insert(zone(1, "x86_pkg_temp\n", "52000\n"));
        row("temp-package-zone-over-first-zone", package, temperatures, "52 0");
        row("temp-any-zone-when-no-cpu-zone", zone(0, "acpitz\n", "30499\n"), temperatures, "30 0");
        Files ordered = zone(10, "cpu-thermal\n", "70000\n");
        ordered.insert(zone(2, "cpu-thermal\n", "40000\n"));
        row("temp-zones-in-number-order", ordered, temperatures, "40 0");
        row("temp-below-zero", zone(0, "acpitz\n", "-5600\n"), temperatures, "-6 0");
        row("temp-unreadable-value", zone(0, "cpu\n", "n/a\n"), temperatures, "0 0");
        Files drives = hwmon(3, "drivetemp\n", "38000\n");
        drives.insert(hwmon(4, "nvme\n", "41000\n"));
        row("temp-drivetemp-first-by-number", drives, temperatures, "0 38");
        row("temp-nvme", hwmon(0, "nvme\n", "41000\n"), temperatures, "0 41");

        const Reading serial = [] { return SysUtils::getProcSerial(); };
        const auto withMachineId = [](const QString &file, const QByteArray &content) {
            return Files { { file, content }, { QStringLiteral("etc/machine-id"), "0123abcd\n" } };
        };
        const QString cpuinfo = QStringLiteral("proc/cpuinfo");
        const QString dmi = QStringLiteral("sys/class/dmi/id/product_serial");
        row("serial-cpuinfo",
            withMachineId(cpuinfo, "processor\t: 0\nHardware\t: BCM2835\nSerial\t\t: 10000000abcdef01\n"
                                   "Model\t\t: Raspberry Pi 3\n"),
            serial, "10000000abcdef01");
        row("serial-cpuinfo-zero", withMachineId(cpuinfo, "Serial\t\t: 0000000000000000\n"), serial,
            "0123abcd");
        row("serial-device-tree",
            withMachineId(QStringLiteral("sys/firmware/devicetree/base/serial-number"),
                          QByteArray("SN-42\0", 6)),
            serial, "SN-42");
        row("serial-dmi", withMachineId(dmi, "PF2ABC12\n"), serial, "PF2ABC12");
        row("serial-dmi-placeholder", withMachineId(dmi, "To be filled by O.E.M.\n"), serial, "0123abcd");
        row("serial-dbus-machine-id", { { QStringLiteral("var/lib/dbus/machine-id"), "feedbeef\n" } },
            serial, "feedbeef");
        row("serial-nothing", { { QStringLiteral("etc/hostname"), "kiosk\n" } }, serial, QString());
    }

    void readingsFromFiles()
    {
        QFETCH(Files, files);
        QFETCH(Reading, reading);
        QFETCH(QString, expected);
        const QString root = m_scratch.filePath(QStringLiteral("root%1").arg(++m_rootCount));
        QVERIFY(QDir().mkpath(root) && writeTree(root, files));
        SysUtilsPrivate::setFileRoot(root);
        const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
        QCOMPARE(reading(), expected);
    }

    // --- portable rules ---

    void chooseTimeZone_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("zoneId");
        QTest::addColumn<QString>("critical");
        QTest::newRow("zero") << 0 << QByteArray("UTC+00:00") << QString();
        QTest::newRow("minus-5") << -5 << QByteArray("UTC-05:00") << QString();
        QTest::newRow("plus-3") << 3 << QByteArray("UTC+03:00") << QString();
        QTest::newRow("plus-14") << 14 << QByteArray("UTC+14:00") << QString();
        QTest::newRow("impossible-15") << 15 << QByteArray() << "INVALID_OFFCET 15";
        QTest::newRow("impossible-minus-99") << -99 << QByteArray() << "INVALID_OFFCET -99";
        QTest::newRow("would-overflow-seconds")
            << std::numeric_limits<int>::max() << QByteArray() << "INVALID_OFFCET 2147483647";
    }

    void chooseTimeZone()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, zoneId);
        QFETCH(QString, critical);
        QByteArray id("left over");
        QCOMPARE(SysUtils::chooseTimeZone(offset, QLocale::Germany, id), !zoneId.isEmpty());
        QCOMPARE(id, zoneId);
        const auto quoted = [](const QString &text) { return QStringList { '"' + text + '"' }; };
        QCOMPARE(messages(QtDebugMsg), zoneId.isEmpty() ? QStringList() : quoted(zoneId));
        QCOMPARE(messages(QtCriticalMsg), critical.isNull() ? QStringList() : QStringList { critical });
    }

    void formatDtWithOffcet_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("plus-3") << 3 * 3600 << " +03:00";
        QTest::newRow("minus-5-30") << -(5 * 3600 + 1800) << " -05:30";
        QTest::newRow("utc") << 0 << " +00:00";
        QTest::newRow("plus-5-45") << 5 * 3600 + 45 * 60 << " +05:45";
    }

    void formatDtWithOffcet()
    {
        QFETCH(int, offset);
        QFETCH(QString, suffix);
        const QDate date(2024, 6, 11);
        const QDateTime dt = offset ? QDateTime(date, QTime(10, 20, 30, 456), Qt::OffsetFromUTC, offset)
                                    : QDateTime(date, QTime(10, 20, 30, 456), Qt::UTC);
        // Milliseconds are dropped; the clock reading stays in the value's own offset.
        const QDateTime whole(date, QTime(10, 20, 30), Qt::OffsetFromUTC, offset);
        QCOMPARE(SysUtils::formatDtWithOffcet(dt),
                 QLocale::system().toString(whole, QLocale::ShortFormat) + suffix);
    }

    // --- machine changes, through the recorder only ---

    void poweroff_data()
    {
        QTest::addColumn<bool>("starts");
        QTest::newRow("shutdown-starts") << true;
        QTest::newRow("falls-back-when-shutdown-does-not-start") << false;
    }

    void poweroff()
    {
        QFETCH(bool, starts);
        recorder->startResult = starts;
        SysUtils::poweroff();
        QStringList lines { "shutdown -P now" };
        if (!starts)
            lines << "systemctl poweroff --force";
        QCOMPARE(recorder->lines(), lines);
        const Call &call = recorder->calls.first();
        QCOMPARE(call.kind, Call::Start);
        QCOMPARE(call.timeoutMs, 5000);
        QCOMPARE(call.mode, QIODevice::ReadWrite);
        QCOMPARE(call.workingDirectory, QCoreApplication::applicationDirPath());
        QCOMPARE(call.environment, QProcessEnvironment::systemEnvironment().toStringList());
        QCOMPARE(recorder->calls.last().kind, starts ? Call::Start : Call::Detached);
    }

    void rebootForcesAfterTheDelay_data() { poweroff_data(); }

    void rebootForcesAfterTheDelay()
    {
        QFETCH(bool, starts);
        const int delay = 200;
        SysUtilsPrivate::setForcedRebootDelayMs(delay);
        const auto restore = qScopeGuard([] { SysUtilsPrivate::setForcedRebootDelayMs(300000); });
        recorder->startResult = starts;
        SysUtils::reboot();
        const QString forced = QStringLiteral("systemctl reboot --force");
        QStringList lines { "shutdown -r now" };
        QStringList warnings { "START_REBOOTING" };
        if (!starts) { // at once, and again later
            lines << forced;
            warnings << "FORCE_REBOOTING";
        }
        QCOMPARE(recorder->lines(), lines);
        QCOMPARE(recorder->calls.first().timeoutMs, 5000);
        QVERIFY(recorder->calls.last().atMs < delay);
        QCOMPARE(messages(QtWarningMsg), warnings);

        QTRY_COMPARE(recorder->calls.size(), lines.size() + 1);
        const Call &later = recorder->calls.last();
        QCOMPARE(later.kind, Call::Detached);
        QCOMPARE(later.line(), forced);
        QVERIFY2(later.atMs >= delay, qPrintable(QString::number(later.atMs)));
        QCOMPARE(messages(QtWarningMsg), warnings << "FORCE_REBOOTING");
    }

    void monitorCommands()
    {
        SysUtils::monitorOff();
        SysUtils::monitorOn();
        QCOMPARE(recorder->lines(), QStringList({ "xset dpms force off", "xset dpms force on" }));
        QCOMPARE(recorder->calls.at(0).kind, Call::Detached);
        QCOMPARE(recorder->calls.at(1).kind, Call::Detached);
    }

    void screenshotCommand_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("used");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("png-appended") << "shots/a" << "shots/a.png" << false;
        QTest::newRow("png-suffix-kept") << "shots/b.png" << "shots/b.png" << false;
        QTest::newRow("png-anywhere-kept") << "deep/er/c.png.old" << "deep/er/c.png.old" << false;
        QTest::newRow("wayland-grim") << "way/d" << "way/d.png" << true;
    }

    void screenshotCommand()
    {
        QFETCH(QString, given);
        QFETCH(QString, used);
        QFETCH(bool, wayland);
        const auto env = environmentFor("WAYLAND_DISPLAY", "wayland-0", wayland);
        QTemporaryDir dir;
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        const QString expected = dir.filePath(used);
        SysUtils::screenshot(dir.filePath(given));
        QVERIFY(QFileInfo(QFileInfo(expected).absolutePath()).isDir());
        QCOMPARE(recorder->calls.size(), 1);
        const Call &call = recorder->calls.first();
        QCOMPARE(call.kind, Call::Start);
        QCOMPARE(call.timeoutMs, -1);
        QCOMPARE(call.mode, QIODevice::ReadWrite);
        QCOMPARE(call.program, wayland ? QStringLiteral("grim") : QStringLiteral("import"));
        const QStringList arguments = wayland ? QStringList { expected }
                                              : QStringList { "-window", "root", expected };
        QCOMPARE(call.arguments, arguments);
        QCOMPARE(messages(QtWarningMsg),
                 QStringList { QStringLiteral("\"%1\" \"%2\"").arg(call.program, expected) });
        delete recorder->lastProcess.data();
    }

    void screenshotProcessLogsAndGoes_data()
    {
        QTest::addColumn<QString>("standIn");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("finishes") << QStringLiteral(SYSUTILS_CHILD)
                                  << QStringList { "STATE QProcess::Starting", "STATE QProcess::Running",
                                                   "STATE QProcess::NotRunning",
                                                   "EXITCODE 0 QProcess::NormalExit" };
        QTest::newRow("fails-to-start") << m_scratch.filePath(QStringLiteral("no-such-program"))
                                        << QStringList { "STATE QProcess::Starting",
                                                         "ERROR QProcess::FailedToStart",
                                                         "STATE QProcess::NotRunning" };
    }

    void screenshotProcessLogsAndGoes()
    {
        QFETCH(QString, standIn);
        QFETCH(QStringList, expected);
        recorder->standIn = standIn;
        SysUtils::screenshot(m_scratch.filePath(QStringLiteral("shot")));
        QVERIFY(recorder->lastProcess);
        // The process object deletes itself once it is done.
        QTRY_VERIFY(recorder->lastProcess.isNull());
        QStringList warnings = messages(QtWarningMsg);
        QCOMPARE(warnings.takeFirst(),
                 QStringLiteral("\"import\" \"%1\"").arg(m_scratch.filePath(QStringLiteral("shot.png"))));
        std::sort(warnings.begin(), warnings.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(warnings, expected);
    }

    void cleanSpoolWritesScriptAndStartsIt_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("nothing-there") << QString();
        QTest::newRow("old-script-replaced") << QStringLiteral("file");
        QTest::newRow("link-not-followed") << QStringLiteral("link");
    }

    void cleanSpoolWritesScriptAndStartsIt()
    {
        QFETCH(QString, planted);
        QTemporaryDir temp;
        QVERIFY2(temp.isValid(), qPrintable(temp.errorString()));
        const auto env = environmentFor("TMPDIR", QFile::encodeName(temp.path()));
        const QString script = temp.filePath(QStringLiteral("cleanspool.sh"));
        const QString victim = temp.filePath(QStringLiteral("victim"));
        QVERIFY(writeTree(temp.path(), { { QStringLiteral("victim"), "keep me\n" } }));
        if (planted == QLatin1String("file"))
            QVERIFY(writeTree(temp.path(), { { QStringLiteral("cleanspool.sh"), "rm -rf /\n" } }));
        else if (planted == QLatin1String("link"))
            QVERIFY(QFile::link(victim, script));

        SysUtils::cleanSpool({ QStringLiteral("receipts") });

        QCOMPARE(readFile(victim), QByteArray("keep me\n"));
        QVERIFY(!QFileInfo(script).isSymLink());
        QCOMPARE(readFile(script), QByteArray("#!/bin/sh\ncancel -a -x\n"));
        QCOMPARE(recorder->calls.size(), 1);
        QCOMPARE(recorder->calls.first().kind, Call::Detached);
        QCOMPARE(recorder->calls.first().program, QStringLiteral("/bin/sh"));
        QCOMPARE(recorder->calls.first().arguments, QStringList { script });
    }

    void cleanSpoolDoesNotStartWhatItCouldNotWrite_data()
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

    void cleanSpoolDoesNotStartWhatItCouldNotWrite()
    {
        QFETCH(QString, tempDir);
        QFETCH(QString, warning);
        QVERIFY(writeTree(m_scratch.path(), { { QStringLiteral("plain-file"), "x" } }));
        const auto env = environmentFor("TMPDIR", QFile::encodeName(tempDir));
        SysUtils::cleanSpool({});
        QVERIFY2(recorder->calls.isEmpty(), qPrintable(recorder->lines().join(QLatin1Char(';'))));
        QCOMPARE(messages(QtWarningMsg), QStringList { warning });
    }

    void setSystemTime_data()
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
            << "2024-06-10 22:20:30" << "2024-06-11T01:20:30+03:00" << "2024-06-10T22:20:30Z";
        QTest::newRow("flagged-utc-fields-taken-as-is")
            << QDateTime(date, QTime(1, 20, 30), Qt::OffsetFromUTC, 3 * 3600) << true
            << "2024-06-11 01:20:30" << "2024-06-11T01:20:30+03:00" << "2024-06-11T01:20:30Z";
        QTest::newRow("utc") << QDateTime(QDate(2031, 12, 31), QTime(23, 59, 59, 999), Qt::UTC) << false
                             << "2031-12-31 23:59:59" << "2031-12-31T23:59:59Z" << "2031-12-31T23:59:59Z";
    }

    void setSystemTime()
    {
        QFETCH(QDateTime, dt);
        QFETCH(bool, isUtc);
        QFETCH(QString, stamp);
        QFETCH(QString, shownArgument);
        QFETCH(QString, shownUtc);
        SysUtils::setSystemTime(dt, isUtc);
        if (stamp.isNull()) {
            QVERIFY(recorder->calls.isEmpty());
            QVERIFY(logged.isEmpty());
            return;
        }
        QCOMPARE(recorder->lines(), QStringList({ "date -u -s " + stamp, "hwclock --systohc" }));
        QCOMPARE(recorder->calls.at(0).kind, Call::Execute);
        const QStringList warnings = messages(QtWarningMsg);
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

    void setSystemTimeStopsWhenDateFails()
    {
        recorder->answers = { { 1, QByteArray() } };
        SysUtils::setSystemTime(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC), true);
        QCOMPARE(recorder->lines(), QStringList { "date -u -s 2024-01-02 03:04:05" });
        QCOMPARE(messages(QtWarningMsg).value(1), QStringLiteral("SYSTEM TIME SETTING ERROR 1"));
    }

    void changeTimeZone_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QStringList>("answers"); // "<exit code>|<output>" per command
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("critical");
        const QString show = QStringLiteral("timedatectl show --property=Timezone --value");
        // The commands run are the first of show, set, show, one per answer.
        const auto row = [&](const char *tag, int offset, const QStringList &answers, bool result,
                             const QString &zone, const QString &critical = {}) {
            QStringList commands { show, "timedatectl set-timezone " + zone, show };
            QTest::newRow(tag) << offset << answers << result << QStringList(commands.mid(0, qMax(1, answers.size())))
                               << critical;
        };
        row("plus-3", 3, { "0|Europe/Berlin\n", "0|", "0|Etc/GMT-3\n" }, true, "Etc/GMT-3");
        row("minus-5", -5, { "0|Etc/UTC\n", "0|", "0|Etc/GMT+5\n" }, true, "Etc/GMT+5");
        row("zero", 0, { "0|Asia/Tokyo\n", "0|", "0|Etc/UTC\n" }, true, "Etc/UTC");
        row("minus-12-edge", -12, { "0|Etc/UTC\n", "0|", "0|Etc/GMT+12\n" }, true, "Etc/GMT+12");
        row("read-back-differs", 3, { "0|Etc/UTC\n", "0|", "0|Etc/GMT-4\n" }, false, "Etc/GMT-3");
        row("loading-fails", 3, { "1|" }, false, "", "TIMEZONE LOADING ERROR");
        row("saving-fails", 3, { "0|Etc/UTC\n", "1|" }, false, "Etc/GMT-3", "TIMEZONE SAVING ERROR");
        row("read-back-fails", 3, { "0|Etc/UTC\n", "0|", "1|" }, false, "Etc/GMT-3",
            "TIMEZONE SAVING ERROR");
        row("impossible-offset", 15, { "0|Etc/UTC\n" }, false, "", "TIMEZONE SAVING ERROR");
        row("no-zone-below-minus-12", -13, { "0|Etc/UTC\n" }, false, "", "TIMEZONE SAVING ERROR");
    }

    void changeTimeZone()
    {
        QFETCH(int, offset);
        QFETCH(QStringList, answers);
        QFETCH(bool, result);
        QFETCH(QStringList, commands);
        QFETCH(QString, critical);
        for (const QString &answer : qAsConst(answers))
            recorder->answers.append({ answer.section('|', 0, 0).toInt(), answer.section('|', 1).toUtf8() });
        QCOMPARE(SysUtils::changeTimeZone(offset, QLocale::AnyCountry), result);
        QCOMPARE(recorder->lines(), commands);
        QCOMPARE(messages(QtCriticalMsg), critical.isEmpty() ? QStringList() : QStringList { critical });
        if (critical != QLatin1String("TIMEZONE LOADING ERROR")) {
            const QString current = answers.first().mid(2).trimmed();
            QCOMPARE(messages(QtDebugMsg).value(0), '"' + current + '"');
        }
        for (const Call &call : qAsConst(recorder->calls))
            QCOMPARE(call.kind, Call::Execute);
    }

    // --- last-chance handlers, in a child process ---

    void catchSystemExceptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("sigterm-exits-0") << QStringList { "wait-term", "catch" } << int(QProcess::NormalExit) << 0;
        QTest::newRow("sigterm-without-handlers-kills")
            << QStringList { "wait-term", "plain" } << int(QProcess::CrashExit) << -1;
        QTest::newRow("terminate-exits-4") << QStringList { "terminate" } << int(QProcess::NormalExit) << 4;
        QTest::newRow("allocation-failure-exits-3") << QStringList { "alloc" } << int(QProcess::NormalExit) << 3;
        QTest::newRow("sigint-not-hooked") << QStringList { "sigint" } << int(QProcess::CrashExit) << -1;
    }

    void catchSystemExceptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitStatus);
        QFETCH(int, exitCode);
#ifdef ORVEL_SANITIZED_ALLOCATOR
        if (arguments.first() == QLatin1String("alloc"))
            QSKIP("The sanitizer's allocator never calls the new handler");
#endif
        QProcess child;
        child.start(QStringLiteral(SYSUTILS_CHILD), arguments);
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        if (arguments.first() == QLatin1String("wait-term")) {
            QVERIFY(child.waitForReadyRead(10000));
            QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
            child.terminate(); // SIGTERM
        }
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(int(child.exitStatus()), exitStatus);
        if (exitStatus == QProcess::NormalExit)
            QCOMPARE(child.exitCode(), exitCode);
    }
};

QTEST_GUILESS_MAIN(TstSysUtils)
#include "tst_sysutils.moc"
