// SysUtils on Linux: readings against the kernel and df and against fake
// /proc and /sys trees, the portable rules, and every change to the machine
// through a recorder of the commands it would run.

#include "testfiles.h"

#include <sys/syscommandrunner_p.h>
#include <sys/sysutils.h>
#include <sys/sysutils_p.h>

#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>

#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {
// Records every program start ("start", "detached" or "run", the program and
// its arguments) instead of running it. start() can run a harmless program
// in its place, so that the process signals are real. Installed once
// and never removed: a timer left by a failed test must not reach the machine.
class RecordingRunner : public SysCommandRunner
{
public:
    QStringList calls;
    bool startResult = true;
    QString standIn;
    QPointer<QProcess> process;
    QList<QPair<int, QByteArray>> answers; // for execute(), in order; none answers 0

    bool start(QProcess *started, QIODevice::OpenMode mode, int timeoutMs) override
    {
        calls << (QStringList { "start", started->program() } + started->arguments()).join(' ');
        process = started;
        if (standIn.isEmpty())
            return startResult;
        started->setProgram(standIn);
        started->start(mode);
        return timeoutMs < 0 || started->waitForStarted(timeoutMs);
    }

    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        calls << (QStringList { "detached", program } + arguments).join(' ');
        return true;
    }

    int execute(const QString &program, const QStringList &arguments, int, QByteArray *out) override
    {
        calls << (QStringList { "run", program } + arguments).join(' ');
        const auto answer = answers.isEmpty() ? qMakePair(0, QByteArray()) : answers.takeFirst();
        if (out)
            *out = answer.second;
        return answer.first;
    }
};

RecordingRunner *recorder = nullptr;

// Every log message since the test function began, caught instead of printed.
QList<QPair<QtMsgType, QString>> logged;

QStringList messages(QtMsgType type)
{
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

// The first number after `key` in a kernel text file such as /proc/stat.
double kernelValue(const char *path, const QByteArray &key)
{
    const QByteArray text = readFile(path);
    return text.mid(text.indexOf(key) + key.size()).simplified().split(' ').value(0).toDouble();
}

using Files = QMap<QString, QByteArray>;

Files operator+(Files files, const Files &more)
{
    files.insert(more);
    return files;
}
using Reading = std::function<QString()>;

// The sanitizers' allocators report a failed allocation themselves and never
// call the new handler.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEL_SANITIZED_ALLOCATOR
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVEL_SANITIZED_ALLOCATOR
#endif
#endif
} // namespace

Q_DECLARE_METATYPE(Reading)

class tst_SysUtils : public QObject
{
    Q_OBJECT

    QTemporaryDir m_scratch;
    int m_roots = 0;

private slots:
    void initTestCase()
    {
        // Before anything else: nothing in this process may reach the machine.
        recorder = new RecordingRunner;
        SysCommandRunner::setCurrent(recorder);
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            logged.append({ type, text });
        });
        QVERIFY2(m_scratch.isValid(), qPrintable(m_scratch.errorString()));
    }

    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

    void init()
    {
        QCOMPARE(SysCommandRunner::current(), recorder);
        recorder->calls.clear();
        recorder->answers.clear();
        recorder->startResult = true;
        recorder->standIn.clear();
        logged.clear();
    }

    void readingsMatchTheSystem()
    {
        const double before = kernelValue("/proc/uptime", "");
        const qint64 uptime = SysUtils::uptime();
        QVERIFY(uptime >= before - 1 && uptime <= kernelValue("/proc/uptime", "") + 1);
        const QDateTime start = SysUtils::startDt();
        QCOMPARE(start.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(start.toSecsSinceEpoch() - kernelValue("/proc/stat", "btime ")) <= 3);
        struct sysinfo info
        {
        };
        QCOMPARE(sysinfo(&info), 0);
        QCOMPARE(SysUtils::getTotalSystemMemory(), qint64(info.totalram) * info.mem_unit);

        for (const QString &path : { QString("/"), m_scratch.path(), QString("/proc/meminfo") }) {
            QProcess df;
            df.start("df", { "-B1", "--output=size,avail", path });
            QVERIFY(df.waitForFinished(10000) && df.exitCode() == 0);
            const auto figures
                = df.readAllStandardOutput().split('\n').value(1).simplified().split(' ');
            qint64 freeBytes = 0, totalBytes = 0;
            QVERIFY(SysUtils::freeDiskSpace(path, freeBytes, totalBytes));
            QCOMPARE(totalBytes, figures.value(0).toLongLong());
            // Others write to the disk meanwhile.
            QVERIFY(qAbs(freeBytes - figures.value(1).toLongLong()) < (256LL << 20));
        }
        // Available unless mounted read-only, as the last mount of "/" says.
        bool rootReadOnly = false;
        for (const QByteArray &line : readFile("/proc/mounts").split('\n')) {
            if (line.split(' ').value(1) == "/")
                rootReadOnly = line.split(' ').value(3).split(',').contains("ro");
        }
        QCOMPARE(SysUtils::fileSystemIsAvailable("/"), !rootReadOnly);
        QVERIFY(!SysUtils::fileSystemIsAvailable(m_scratch.filePath("missing")));
        QVERIFY(!SysUtils::fileSystemIsAvailable("/proc/meminfo"));
    }

    void diskReport()
    {
        const QString missing = m_scratch.filePath("missing");
        qint64 freeBytes = 7, totalBytes = 7;
        QVERIFY(!SysUtils::freeDiskSpace(missing, freeBytes, totalBytes));
        QCOMPARE(QList<qint64>({ freeBytes, totalBytes }), QList<qint64>({ -1, -1 }));
        // "/" comes first as the only drive; the missing path gives no line.
        const QStringList lines
            = SysUtils::freeDiskSpace(QStringList { m_scratch.path(), missing });
        const QStringList paths { "/", m_scratch.path() };
        QCOMPARE(lines.size(), paths.size());
        const QRegularExpression shape("^(.+)  \\d+ (GB|MB|KB|bytes)(/\\d+ (GB|MB|KB|bytes))$");
        for (int i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = shape.match(lines.at(i));
            QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
            QCOMPARE(match.captured(1), paths.at(i));
            struct statvfs fs
            {
            };
            QCOMPARE(statvfs(QFile::encodeName(paths.at(i)).constData(), &fs), 0);
            const qint64 total = qint64(fs.f_blocks) * qint64(fs.f_frsize);
            QCOMPARE(match.captured(3), SysUtilsPrivate::formatSize(total, true));
        }
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const qint64 GiB = 1 << 30;
        QTest::newRow("negative") << qint64(-1) << "-1 bytes";
        QTest::newRow("1024") << qint64(1024) << "1024 bytes";
        QTest::newRow("2047-truncates") << qint64(2047) << "1 KB";
        QTest::newRow("1MiB") << qint64(1 << 20) << "1024 KB";
        QTest::newRow("1MiB-plus-1") << qint64((1 << 20) + 1) << "1 MB";
        QTest::newRow("5GiB") << 5 * GiB << "5120 MB";
        QTest::newRow("5GiB-plus-1") << 5 * GiB + 1 << "5 GB";
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << "8589934591 GB";
    }

    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, false), text);
        QCOMPARE(SysUtilsPrivate::formatSize(bytes, true), '/' + text);
    }

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
            return QString("%1 %2")
                .arg(SysUtils::getTotalSystemMemory())
                .arg(SysUtils::getAvailableSystemMemory());
        };
        const Reading traffic = [] {
            qint64 received = -7, sent = -7;
            const bool ok = SysUtils::getNetworkTraffic(received, sent);
            return QString("%1 %2 %3").arg(ok).arg(received).arg(sent);
        };
        const Reading heat = [] {
            return QString("%1 %2").arg(SysUtils::cpuTemperature()).arg(SysUtils::hddTemperature());
        };
        const Reading serial = [] {
            return SysUtils::getProcSerial();
        };
        const auto link
            = [](const char *name, const QByteArray &type, const char *rx, const char *tx) {
                  const QString base = QString("sys/class/net/%1/").arg(name);
                  Files files { { base + "statistics/rx_bytes", rx },
                                { base + "statistics/tx_bytes", tx } };
                  if (!type.isNull())
                      files.insert(base + "type", type);
                  return files;
              };
        const auto zone = [](int n, const char *type, const char *temp) {
            const QString base = QString("sys/class/thermal/thermal_zone%1/").arg(n);
            return Files { { base + "type", type }, { base + "temp", temp } };
        };
        const auto hwmon = [](int n, const char *name, const char *temp) {
            const QString base = QString("sys/class/hwmon/hwmon%1/").arg(n);
            return Files { { base + "name", name }, { base + "temp1_input", temp } };
        };
        const auto machineId = [](const QString &file, const QByteArray &content) {
            return Files { { file, content }, { "etc/machine-id", "0123abcd\n" } };
        };
        const QString cpuinfo = "proc/cpuinfo", dmi = "sys/class/dmi/id/product_serial";
        // clang-format off
        row("meminfo", { { "proc/meminfo", "MemTotal: 2048 kB\nMemFree: 100 kB\nMemAvailable: 1500 kB\n" } },
            memory, QString("%1 %2").arg(2048 * 1024).arg(1500 * 1024));
        row("meminfo-without-memavailable-sums-free-and-caches",
            { { "proc/meminfo", "MemTotal: 4096 kB\nMemFree: 100 kB\nBuffers: 10 kB\nCached: 20 kB\n" } }, memory,
            QString("%1 %2").arg(4096 * 1024).arg(130 * 1024));
        row("meminfo-overflowing-value", { { "proc/meminfo", "MemTotal: 99999999999999999 kB\n" } }, memory, "0 0");
        row("net-loopback-types-skipped", link("lo", "772\n", "1000\n", "1000\n") + link("eth0", "1\n", "10\n", "20\n")
            + link("wlan0", "1\n", "5\n", "7\n") + link("loop2", "772\n", "99\n", "99\n"), traffic, "1 15 27");
        row("net-without-type-lo-by-name", link("lo", {}, "50\n", "50\n") + link("eth1", {}, "3\n", "4\n"), traffic,
            "1 3 4");
        row("net-bad-counters-count-zero", link("eth0", "1\n", "junk\n", "-5\n") + link("eth1", "1\n", "8589934592\n", "1\n"),
            traffic, "1 8589934592 1");
        row("net-no-sysfs", {}, traffic, "0 -7 -7");
        row("temp-no-sensors", {}, heat, "0 0");
        row("temp-cpu-driver-first", hwmon(0, "acpitz\n", "27800\n") + hwmon(1, "coretemp\n", "45500\n")
            + zone(0, "x86_pkg_temp\n", "60000\n"), heat, "46 0");
        row("temp-zones-in-number-order", zone(10, "cpu-thermal\n", "70000\n") + zone(2, "cpu-thermal\n", "40000\n"),
            heat, "40 0");
        row("temp-drivetemp-first-by-number", hwmon(3, "drivetemp\n", "38000\n") + hwmon(4, "nvme\n", "41000\n"), heat,
            "0 38");
        row("serial-cpuinfo", machineId(cpuinfo, "Hardware\t: BCM2835\nSerial\t\t: 10000000abcdef01\nModel\t\t: Pi\n"),
            serial, "10000000abcdef01");
        row("serial-cpuinfo-zero", machineId(cpuinfo, "Serial\t\t: 0000000000000000\n"), serial, "0123abcd");
        row("serial-dmi-placeholder", machineId(dmi, "To be filled by O.E.M.\n"), serial, "0123abcd");
        row("serial-dbus-machine-id", { { "var/lib/dbus/machine-id", "feedbeef\n" } }, serial, "feedbeef");
        row("serial-nothing", { { "etc/hostname", "kiosk\n" } }, serial, QString());
        // clang-format on
    }

    void readingsFromFiles()
    {
        QFETCH(Files, files);
        QFETCH(Reading, reading);
        QFETCH(QString, expected);
        const QString root = m_scratch.filePath(QString("root%1").arg(++m_roots));
        QVERIFY(QDir().mkpath(root));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY(writeFile(root + '/' + it.key(), it.value()));
        SysUtilsPrivate::setFileRoot(root);
        const auto restore = qScopeGuard([] { SysUtilsPrivate::setFileRoot(QString()); });
        QCOMPARE(reading(), expected);
    }

    void chooseTimeZone_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("zoneId");
        QTest::newRow("zero") << 0 << QByteArray("UTC+00:00");
        QTest::newRow("minus-5") << -5 << QByteArray("UTC-05:00");
        QTest::newRow("plus-14") << 14 << QByteArray("UTC+14:00");
        QTest::newRow("impossible-15") << 15 << QByteArray();
        QTest::newRow("impossible-minus-99") << -99 << QByteArray();
        QTest::newRow("would-overflow-seconds") << std::numeric_limits<int>::max() << QByteArray();
    }

    void chooseTimeZone()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, zoneId);
        QByteArray id("left over");
        QCOMPARE(SysUtils::chooseTimeZone(offset, QLocale::Germany, id), !zoneId.isEmpty());
        QCOMPARE(id, zoneId);
        const QString debug = '"' + QString(zoneId) + '"',
                      critical = QString("INVALID_OFFCET %1").arg(offset);
        QCOMPARE(messages(QtDebugMsg), zoneId.isEmpty() ? QStringList() : QStringList(debug));
        QCOMPARE(messages(QtCriticalMsg), zoneId.isEmpty() ? QStringList(critical) : QStringList());
    }

    // Milliseconds are dropped; the clock reading stays in the value's own offset.
    void formatDtWithOffcet()
    {
        const QDate date(2024, 6, 11);
        const QList<QPair<int, QString>> offsets { { 3 * 3600, " +03:00" },
                                                   { -5 * 3600 - 1800, " -05:30" },
                                                   { 0, " +00:00" } };
        for (const auto &[offset, suffix] : offsets) {
            const QDateTime whole(date, QTime(10, 20, 30), Qt::OffsetFromUTC, offset);
            const QString shown = QLocale::system().toString(whole, QLocale::ShortFormat) + suffix;
            QCOMPARE(SysUtils::formatDtWithOffcet(whole.addMSecs(456)), shown);
        }
    }

    void powerCommands_data()
    {
        QTest::addColumn<bool>("reboot");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QStringList>("calls"); // a reboot's last one comes after a delay
        const QString forced = "detached systemctl reboot --force";
        QTest::newRow("poweroff") << false << true << QStringList { "start shutdown -P now" };
        QTest::newRow("poweroff-falls-back-when-shutdown-does-not-start")
            << false << false
            << QStringList { "start shutdown -P now", "detached systemctl poweroff --force" };
        QTest::newRow("reboot") << true << true << QStringList { "start shutdown -r now", forced };
        QTest::newRow("reboot-forced-at-once-when-shutdown-does-not-start")
            << true << false << QStringList { "start shutdown -r now", forced, forced };
    }

    void powerCommands()
    {
        QFETCH(bool, reboot);
        QFETCH(bool, starts);
        QFETCH(QStringList, calls);
        SysUtilsPrivate::setForcedRebootDelayMs(200);
        const auto restore = qScopeGuard([] { SysUtilsPrivate::setForcedRebootDelayMs(300000); });
        recorder->startResult = starts;
        reboot ? SysUtils::reboot() : SysUtils::poweroff();
        QStringList warnings;
        if (reboot) {
            warnings << "START_REBOOTING";
            if (!starts)
                warnings << "FORCE_REBOOTING";
            QCOMPARE(recorder->calls,
                     calls.mid(0, calls.size() - 1)); // the delayed one has not come yet
            QCOMPARE(messages(QtWarningMsg), warnings);
            warnings << "FORCE_REBOOTING";
        }
        QTRY_COMPARE(recorder->calls, calls);
        QCOMPARE(messages(QtWarningMsg), warnings);
    }

    void monitorCommands()
    {
        SysUtils::monitorOff();
        SysUtils::monitorOn();
        QCOMPARE(recorder->calls,
                 QStringList({ "detached xset dpms force off", "detached xset dpms force on" }));
    }

    void screenshot_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("command"); // %1: the file
        QTest::addColumn<bool>("runs"); // or fails to start
        QTest::addColumn<bool>("wayland");
        QTest::newRow("png-appended") << "shots/a"
                                      << "import -window root %1/shots/a.png" << true << false;
        QTest::newRow("png-anywhere-kept")
            << "deep/c.png.old"
            << "import -window root %1/deep/c.png.old" << false << false;
        QTest::newRow("wayland-grim") << "way/d"
                                      << "grim %1/way/d.png" << true << true;
    }

    // The directory made, the command started, its course logged, and the
    // process object gone once it is done.
    void screenshot()
    {
        QFETCH(QString, given);
        QFETCH(QString, command);
        QFETCH(bool, runs);
        QFETCH(bool, wayland);
        const auto env = environmentFor("WAYLAND_DISPLAY", "wayland-0", wayland);
        recorder->standIn = runs ? "/bin/true" : m_scratch.filePath("no-such-program");
        SysUtils::screenshot(m_scratch.filePath(given));
        const QStringList parts = command.arg(m_scratch.path()).split(' ');
        QVERIFY(QFileInfo(QFileInfo(parts.last()).path()).isDir());
        QCOMPARE(recorder->calls, QStringList("start " + parts.join(' ')));
        QTRY_VERIFY(recorder->process.isNull());
        QStringList warnings = messages(QtWarningMsg);
        QCOMPARE(warnings.takeFirst(), QString("\"%1\" \"%2\"").arg(parts.first(), parts.last()));
        warnings.sort();
        const QStringList ran { "EXITCODE 0 QProcess::NormalExit", "STATE QProcess::NotRunning",
                                "STATE QProcess::Running", "STATE QProcess::Starting" };
        const QStringList failed { "ERROR QProcess::FailedToStart", "STATE QProcess::NotRunning",
                                   "STATE QProcess::Starting" };
        QCOMPARE(warnings, runs ? ran : failed);
    }

    void cleanSpool_data()
    {
        QTest::addColumn<QString>("planted"); // in the temporary directory beforehand
        QTest::addColumn<QString>("warning"); // empty: the script is written and started
        QTest::newRow("nothing-there") << QString() << QString();
        QTest::newRow("old-script-replaced") << "file" << QString();
        QTest::newRow("link-not-followed") << "link" << QString();
        QTest::newRow("temp-dir-is-a-file") << "temp-file"
                                            << "SPOOL SCRIPT WRITING ERROR \"%1/cleanspool.sh\"";
        // Qt then reports an empty temporary directory: nothing goes to "/".
        QTest::newRow("temp-dir-missing")
            << "no-temp"
            << "SPOOL SCRIPT WRITING ERROR \"no temporary directory\"";
    }

    void cleanSpool()
    {
        QFETCH(QString, planted);
        QFETCH(QString, warning);
        QTemporaryDir temp;
        const QString script = temp.filePath("cleanspool.sh"), victim = temp.filePath("victim");
        QVERIFY(writeFile(victim, "keep me\n"));
        QVERIFY(planted != "file" || writeFile(script, "rm -rf /\n"));
        QVERIFY(planted != "link" || QFile::link(victim, script));
        const QString tempDir = planted == "temp-file" ? victim
            : planted == "no-temp"                     ? temp.filePath("missing")
                                                       : temp.path();
        const auto env = environmentFor("TMPDIR", QFile::encodeName(tempDir));
        SysUtils::cleanSpool({ "receipts" });
        QCOMPARE(readFile(victim), QByteArray("keep me\n"));
        if (!warning.isEmpty()) {
            QCOMPARE(recorder->calls, QStringList());
            QCOMPARE(messages(QtWarningMsg), QStringList(warning.replace("%1", victim)));
            return;
        }
        QVERIFY(!QFileInfo(script).isSymLink());
        QCOMPARE(readFile(script), QByteArray("#!/bin/sh\ncancel -a -x\n"));
        QCOMPARE(recorder->calls, QStringList("detached /bin/sh " + script));
    }

    void setSystemTime_data()
    {
        QTest::addColumn<QDateTime>("dt");
        QTest::addColumn<bool>("isUtc");
        QTest::addColumn<QString>("stamp"); // null: nothing happens
        QTest::addColumn<QString>("shown"); // the argument and the time set, as logged
        const QDateTime eastern(QDate(2024, 6, 11), QTime(1, 20, 30, 456), Qt::OffsetFromUTC,
                                3 * 3600);
        QTest::newRow("invalid") << QDateTime() << false << QString() << QString();
        QTest::newRow("offset-converted")
            << eastern << false << "2024-06-10 22:20:30"
            << "\"2024-06-11T01:20:30+03:00\" \"2024-06-10T22:20:30Z\"";
        QTest::newRow("flagged-utc-fields-taken-as-is")
            << eastern << true << "2024-06-11 01:20:30"
            << "\"2024-06-11T01:20:30+03:00\" \"2024-06-11T01:20:30Z\"";
    }

    // Then the current time in UTC and local time are logged. When date
    // fails, the hardware clock is left alone.
    void setSystemTime()
    {
        QFETCH(QDateTime, dt);
        QFETCH(bool, isUtc);
        QFETCH(QString, stamp);
        QFETCH(QString, shown);
        SysUtils::setSystemTime(dt, isUtc);
        if (stamp.isNull()) {
            QVERIFY(recorder->calls.isEmpty() && logged.isEmpty());
            return;
        }
        QCOMPARE(recorder->calls,
                 QStringList({ "run date -u -s " + stamp, "run hwclock --systohc" }));
        const QStringList warnings = messages(QtWarningMsg);
        const QRegularExpression shape('^' + QRegularExpression::escape(shown)
                                       + " \"(\\S+Z)\" \"(\\S+)\"$");
        const QRegularExpressionMatch match = shape.match(warnings.value(0));
        QVERIFY2(warnings.size() == 1 && match.hasMatch(), qPrintable(warnings.join('\n')));
        const QDateTime now = QDateTime::fromString(match.captured(1), Qt::ISODate);
        QVERIFY(qAbs(now.secsTo(QDateTime::currentDateTimeUtc())) <= 5);
        QVERIFY(QDateTime::fromString(match.captured(2), Qt::ISODate).isValid());

        init();
        recorder->answers = { { 1, QByteArray() } };
        SysUtils::setSystemTime(dt, isUtc);
        QCOMPARE(recorder->calls, QStringList("run date -u -s " + stamp));
        QCOMPARE(messages(QtWarningMsg).value(1), QString("SYSTEM TIME SETTING ERROR 1"));
    }

    void changeTimeZone_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("answers"); // "<exit code>|<output>" for show, set, show, by ";"
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("zone"); // set; empty: nothing set
        QTest::addColumn<QString>("critical");
        const auto row = [](const char *tag, int offset, const char *answers, bool result,
                            const char *zone, const char *critical = "") {
            QTest::newRow(tag) << offset << QString(answers) << result << QString(zone)
                               << QString(critical);
        };
        const char *saving = "TIMEZONE SAVING ERROR";
        row("plus-3", 3, "0|Europe/Berlin\n;0|;0|Etc/GMT-3\n", true, "Etc/GMT-3");
        row("minus-5", -5, "0|Etc/UTC;0|;0|Etc/GMT+5", true, "Etc/GMT+5");
        row("zero", 0, "0|Asia/Tokyo;0|;0|Etc/UTC", true, "Etc/UTC");
        row("minus-12", -12, "0|Etc/UTC;0|;0|Etc/GMT+12", true, "Etc/GMT+12");
        row("read-back-differs", 3, "0|Etc/UTC;0|;0|Etc/GMT-4", false, "Etc/GMT-3");
        row("loading-fails", 3, "1|", false, "", "TIMEZONE LOADING ERROR");
        row("saving-fails", 3, "0|Etc/UTC;1|", false, "Etc/GMT-3", saving);
        row("read-back-fails", 3, "0|Etc/UTC;0|;1|", false, "Etc/GMT-3", saving);
        row("impossible-offset", 15, "0|Etc/UTC", false, "", saving);
        row("no-zone-below-minus-12", -13, "0|Etc/UTC", false, "", saving);
    }

    void changeTimeZone()
    {
        QFETCH(int, offset);
        QFETCH(QString, answers);
        QFETCH(bool, result);
        QFETCH(QString, zone);
        QFETCH(QString, critical);
        const QStringList replies = answers.split(';');
        for (const QString &reply : replies)
            recorder->answers.append(
                { reply.section('|', 0, 0).toInt(), reply.section('|', 1).toUtf8() });
        QCOMPARE(SysUtils::changeTimeZone(offset, QLocale::AnyCountry), result);
        const QString show = "run timedatectl show --property=Timezone --value";
        const QStringList calls { show, "run timedatectl set-timezone " + zone, show };
        QCOMPARE(recorder->calls, calls.mid(0, qMax(1, replies.size())));
        QCOMPARE(messages(QtCriticalMsg),
                 critical.isEmpty() ? QStringList() : QStringList(critical));
        if (answers.startsWith('0')) // the current zone is logged
            QCOMPARE(messages(QtDebugMsg).value(0), '"' + replies.first().mid(2).trimmed() + '"');
    }

    // The last-chance handlers, in a child process (see main()).
    void catchSystemExceptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode"); // -1: killed by the signal
        QTest::newRow("sigterm-exits-0") << QStringList { "wait-term", "catch" } << 0;
        QTest::newRow("sigterm-without-handlers-kills")
            << QStringList { "wait-term", "plain" } << -1;
        QTest::newRow("terminate-exits-4") << QStringList { "terminate" } << 4;
        QTest::newRow("allocation-failure-exits-3") << QStringList { "alloc" } << 3;
        QTest::newRow("sigint-not-hooked") << QStringList { "sigint" } << -1;
    }

    void catchSystemExceptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
#ifdef ORVEL_SANITIZED_ALLOCATOR
        if (arguments.first() == "alloc")
            QSKIP("The sanitizer's allocator never calls the new handler");
#endif
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), QStringList("--child") + arguments);
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        if (arguments.first() == "wait-term") {
            QVERIFY(child.waitForReadyRead(10000));
            QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
            child.terminate(); // SIGTERM
        }
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), exitCode < 0 ? QProcess::CrashExit : QProcess::NormalExit);
        QVERIFY(exitCode < 0 || child.exitCode() == exitCode);
    }
};

// As a child process ("--child <mode> [plain]"): installs the last-chance
// handlers (unless "plain") and meets the event its mode names. It never
// calls anything that changes the machine.
int child(const char *mode, bool install)
{
    if (install)
        SysUtils::catchSystemExceptions();
    if (std::strcmp(mode, "wait-term") == 0) {
        std::puts("ready");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    if (std::strcmp(mode, "terminate") == 0)
        std::terminate();
    if (std::strcmp(mode, "alloc") == 0) {
        void *volatile block = ::operator new(std::numeric_limits<std::size_t>::max() / 2);
        ::operator delete(block);
    }
    if (std::strcmp(mode, "sigint") == 0)
        std::raise(SIGINT);
    return 64;
}

int main(int argc, char **argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], argc < 4 || std::strcmp(argv[3], "plain") != 0);
    QCoreApplication app(argc, argv);
    tst_SysUtils test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sysutils.moc"
