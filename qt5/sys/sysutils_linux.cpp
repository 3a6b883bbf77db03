// The Linux services behind SysUtils. Readings come from the kernel (boot
// clock, /proc, /sys, statvfs); every change to the machine is an outside
// program started through SysCommandRunner:
//   clock        date -u -s "yyyy-MM-dd HH:mm:ss", then hwclock --systohc
//   time zone    timedatectl show --property=Timezone --value,
//                timedatectl set-timezone Etc/GMT-3 (for +3; Etc/UTC for 0)
//   power        shutdown -P now / shutdown -r now; fallback and forced
//                systemctl poweroff --force / systemctl reboot --force
//   monitor      xset dpms force on|off
//   screenshot   import -window root <file>, or grim <file> under Wayland
//   spool        /bin/sh <temp>/cleanspool.sh, which runs cancel -a -x

#include "sysplatform_p.h"

#include "syscommandrunner_p.h"
#include "sysutils_p.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTimeZone>

#include <algorithm>
#include <limits>

#include <sys/statvfs.h>
#include <time.h>

namespace {

constexpr int CommandTimeoutMs = 10000;
constexpr int MaxFileBytes = 1 << 20;
constexpr qint64 LoopbackLinkType = 772; // ARPHRD_LOOPBACK

const QString &timedatectl()
{
    static const QString program = QStringLiteral("timedatectl");
    return program;
}

// A kernel file below the root set for tests (the real root by default).
QString hostPath(const QString &path)
{
    return SysUtilsPrivate::fileRoot() + path;
}

// Kernel files report no size, so they are read until their end, bounded.
QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    QByteArray data;
    char buffer[4096];
    while (data.size() < MaxFileBytes) {
        const qint64 count = file.read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        data.append(buffer, int(count));
    }
    return data;
}

bool readInteger(const QString &path, qint64 &value)
{
    bool ok = false;
    value = readFile(path).trimmed().toLongLong(&ok);
    return ok;
}

// Sensors report millidegrees Celsius.
bool readDegrees(const QString &path, qint32 &degrees)
{
    qint64 milli = 0;
    if (!readInteger(path, milli) || milli < -1000000000LL || milli > 1000000000LL)
        return false;
    degrees = qint32(qRound64(double(milli) / 1000.0));
    return true;
}

// "hwmon10" after "hwmon2": entries with the prefix, ordered by their number.
QStringList numberedEntries(const QString &dirPath, const QString &prefix)
{
    const QDir dir(dirPath);
    QStringList names
        = dir.entryList({ prefix + QLatin1Char('*') }, QDir::Dirs | QDir::NoDotAndDotDot);
    const auto number = [&prefix](const QString &name) {
        return name.midRef(prefix.size()).toLongLong();
    };
    std::stable_sort(names.begin(), names.end(), [&number](const QString &a, const QString &b) {
        return number(a) < number(b);
    });
    for (QString &name : names)
        name = dir.filePath(name);
    return names;
}

// The first hwmon device whose driver name is in `drivers`, read at temp1_input.
bool hwmonTemperature(const QStringList &drivers, qint32 &degrees)
{
    const QStringList devices
        = numberedEntries(hostPath(QStringLiteral("/sys/class/hwmon")), QStringLiteral("hwmon"));
    for (const QString &device : devices) {
        const QString name = QString::fromUtf8(readFile(device + QLatin1String("/name")).trimmed());
        if (drivers.contains(name)
            && readDegrees(device + QLatin1String("/temp1_input"), degrees)) {
            return true;
        }
    }
    return false;
}

// -1 when the key is missing; values in kB are turned into bytes.
qint64 meminfoValue(const QByteArray &meminfo, const QByteArray &key)
{
    const QList<QByteArray> lines = meminfo.split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon) != key)
            continue;
        QByteArray text = line.mid(colon + 1).trimmed();
        qint64 factor = 1;
        if (text.endsWith(" kB")) {
            factor = 1024;
            text.chop(3);
        }
        bool ok = false;
        const qint64 value = text.trimmed().toLongLong(&ok);
        if (!ok || value < 0 || value > std::numeric_limits<qint64>::max() / factor)
            return -1;
        return value * factor;
    }
    return -1;
}

QByteArray readMeminfo()
{
    return readFile(hostPath(QStringLiteral("/proc/meminfo")));
}

bool readTimeZone(QString &zone)
{
    QByteArray output;
    const int code = SysCommandRunner::current()->execute(timedatectl(),
                                                          { QStringLiteral("show"),
                                                            QStringLiteral("--property=Timezone"),
                                                            QStringLiteral("--value") },
                                                          CommandTimeoutMs, &output);
    zone = QString::fromUtf8(output).trimmed();
    return code == 0 && !zone.isEmpty();
}

bool isPlaceholderSerial(const QString &serial)
{
    static const char *const placeholders[] = { "To be filled by O.E.M.",
                                                "Default string",
                                                "System Serial Number",
                                                "Not Specified",
                                                "Not Applicable",
                                                "None",
                                                "N/A",
                                                "0",
                                                "0123456789" };
    if (serial.isEmpty())
        return true;
    for (const char *placeholder : placeholders) {
        if (serial.compare(QLatin1String(placeholder), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString trimmedText(const QByteArray &data)
{
    QByteArray text = data;
    // Device-tree strings end with NUL.
    while (text.endsWith('\0'))
        text.chop(1);
    return QString::fromUtf8(text).trimmed();
}

} // namespace

namespace SysPlatform {

qint64 uptimeMs()
{
    timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0 && clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 0;
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

qint64 totalMemory()
{
    return qMax<qint64>(0, meminfoValue(readMeminfo(), "MemTotal"));
}

qint64 availableMemory()
{
    const QByteArray meminfo = readMeminfo();
    const qint64 available = meminfoValue(meminfo, "MemAvailable");
    if (available >= 0)
        return available;
    // Kernels before 3.14 do not estimate it; free memory and caches come close.
    qint64 sum = 0;
    for (const char *key : { "MemFree", "Buffers", "Cached" })
        sum += qMax<qint64>(0, meminfoValue(meminfo, key));
    return sum;
}

bool diskSpace(const QString &path, qint64 &availableBytes, qint64 &totalBytes)
{
    if (path.isEmpty())
        return false;
    struct statvfs info
    {
    };
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    const qint64 unit = qint64(info.f_frsize ? info.f_frsize : info.f_bsize);
    availableBytes = qint64(info.f_bavail) * unit;
    totalBytes = qint64(info.f_blocks) * unit;
    return true;
}

bool volumeWritable(const QString &path)
{
    struct statvfs info
    {
    };
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return true;
    return (info.f_flag & ST_RDONLY) == 0;
}

bool networkTraffic(qint64 &inBytes, qint64 &outBytes)
{
    const QDir net(hostPath(QStringLiteral("/sys/class/net")));
    if (!net.exists() || !net.isReadable())
        return false;
    const QStringList interfaces = net.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    inBytes = 0;
    outBytes = 0;
    for (const QString &name : interfaces) {
        const QString base = net.filePath(name);
        qint64 type = 0;
        const bool typeKnown = readInteger(base + QLatin1String("/type"), type);
        if (typeKnown ? type == LoopbackLinkType : name == QLatin1String("lo"))
            continue;
        qint64 received = 0;
        qint64 sent = 0;
        // An interface that vanishes while it is read counts as zero.
        if (readInteger(base + QLatin1String("/statistics/rx_bytes"), received) && received > 0)
            inBytes += received;
        if (readInteger(base + QLatin1String("/statistics/tx_bytes"), sent) && sent > 0)
            outBytes += sent;
    }
    return true;
}

qint32 cpuTemperature()
{
    qint32 degrees = 0;
    // CPU drivers first: they measure the package itself.
    if (hwmonTemperature({ QStringLiteral("coretemp"), QStringLiteral("k10temp"),
                           QStringLiteral("zenpower"), QStringLiteral("cpu_thermal"),
                           QStringLiteral("cpu-thermal"), QStringLiteral("soc_thermal") },
                         degrees)) {
        return degrees;
    }
    const QStringList zones = numberedEntries(hostPath(QStringLiteral("/sys/class/thermal")),
                                              QStringLiteral("thermal_zone"));
    for (const QString &zone : zones) {
        const QString type = QString::fromUtf8(readFile(zone + QLatin1String("/type")).trimmed());
        const bool cpuZone = type == QLatin1String("x86_pkg_temp")
            || type.contains(QLatin1String("cpu"), Qt::CaseInsensitive);
        if (cpuZone && readDegrees(zone + QLatin1String("/temp"), degrees))
            return degrees;
    }
    for (const QString &zone : zones) {
        if (readDegrees(zone + QLatin1String("/temp"), degrees))
            return degrees;
    }
    return 0;
}

qint32 hddTemperature()
{
    qint32 degrees = 0;
    if (hwmonTemperature({ QStringLiteral("drivetemp"), QStringLiteral("nvme") }, degrees))
        return degrees;
    return 0;
}

QString machineSerial()
{
    // Boards such as the Raspberry Pi publish the SoC serial in cpuinfo.
    const QList<QByteArray> cpuinfo
        = readFile(hostPath(QStringLiteral("/proc/cpuinfo"))).split('\n');
    for (const QByteArray &line : cpuinfo) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "Serial")
            continue;
        const QString serial = trimmedText(line.mid(colon + 1));
        if (!serial.isEmpty() && serial.count(QLatin1Char('0')) != serial.size())
            return serial;
    }
    const QString deviceTree = trimmedText(
        readFile(hostPath(QStringLiteral("/sys/firmware/devicetree/base/serial-number"))));
    if (!deviceTree.isEmpty())
        return deviceTree;
    const QString dmi
        = trimmedText(readFile(hostPath(QStringLiteral("/sys/class/dmi/id/product_serial"))));
    if (!isPlaceholderSerial(dmi))
        return dmi;
    for (const QString &file :
         { QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id") }) {
        const QString id = trimmedText(readFile(hostPath(file)));
        if (!id.isEmpty())
            return id;
    }
    return QString();
}

void setSystemTime(const QDate &utcDate, const QTime &utcTime)
{
    const QString stamp = QLocale::c().toString(QDateTime(utcDate, utcTime, Qt::UTC),
                                                QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    SysCommandRunner *runner = SysCommandRunner::current();
    const int code = runner->execute(QStringLiteral("date"),
                                     { QStringLiteral("-u"), QStringLiteral("-s"), stamp },
                                     CommandTimeoutMs, nullptr);
    if (code != 0) {
        qWarning() << "SYSTEM TIME SETTING ERROR" << code;
        return;
    }
    // Keep the time over a restart; machines without a hardware clock only
    // lose this step.
    runner->execute(QStringLiteral("hwclock"), { QStringLiteral("--systohc") }, CommandTimeoutMs,
                    nullptr);
}

bool changeTimeZone(qint32 offsetHours)
{
    QString current;
    if (!readTimeZone(current)) {
        qCritical("TIMEZONE LOADING ERROR");
        return false;
    }
    qDebug().noquote() << QLatin1Char('"') + current + QLatin1Char('"');

    // The Etc/GMT zones count westward: Etc/GMT-3 lies three hours east of UTC.
    // They span UTC-12 to UTC+14.
    if (offsetHours < -12 || offsetHours > 14) {
        qCritical("TIMEZONE SAVING ERROR");
        return false;
    }
    const QString zone = offsetHours == 0
        ? QStringLiteral("Etc/UTC")
        : QStringLiteral("Etc/GMT%1%2")
              .arg(offsetHours > 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(qAbs(offsetHours));
    const int code = SysCommandRunner::current()->execute(
        timedatectl(), { QStringLiteral("set-timezone"), zone }, CommandTimeoutMs, nullptr);
    QString readBack;
    if (code != 0 || !readTimeZone(readBack)) {
        qCritical("TIMEZONE SAVING ERROR");
        return false;
    }
    const QTimeZone applied(readBack.toUtf8());
    return applied.isValid()
        && applied.offsetFromUtc(QDateTime::currentDateTimeUtc()) == offsetHours * 3600;
}

Command powerOff()
{
    return { QStringLiteral("shutdown"), { QStringLiteral("-P"), QStringLiteral("now") } };
}

Command powerOffFallback()
{
    return { QStringLiteral("systemctl"),
             { QStringLiteral("poweroff"), QStringLiteral("--force") } };
}

Command reboot()
{
    return { QStringLiteral("shutdown"), { QStringLiteral("-r"), QStringLiteral("now") } };
}

Command rebootFallback()
{
    return { QStringLiteral("systemctl"), { QStringLiteral("reboot"), QStringLiteral("--force") } };
}

Command monitor(bool on)
{
    return { QStringLiteral("xset"),
             { QStringLiteral("dpms"), QStringLiteral("force"),
               on ? QStringLiteral("on") : QStringLiteral("off") } };
}

Command screenshot(const QString &nativeFilePath)
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return { QStringLiteral("grim"), { nativeFilePath } };
    return { QStringLiteral("import"),
             { QStringLiteral("-window"), QStringLiteral("root"), nativeFilePath } };
}

const SpoolScript &spoolScript()
{
    // Cancels every job on every CUPS queue and purges the job files.
    static const SpoolScript script { { QStringLiteral("#!/bin/sh"), QStringLiteral("cancel -a -x"),
                                        QString() },
                                      QStringLiteral("\n"),
                                      QByteArrayLiteral("UTF-8"),
                                      QStringLiteral("%1/cleanspool.sh"),
                                      { QStringLiteral("/bin/sh"), {} } };
    return script;
}

void installCrashFilter()
{
    // Crashes keep their default action (and core dump); only SIGTERM is hooked.
}

} // namespace SysPlatform
