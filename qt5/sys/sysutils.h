#ifndef ORVELEXTLIB_SYSUTILS_H
#define ORVELEXTLIB_SYSUTILS_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

/// Operating-system services for a host on an unattended workstation: uptime,
/// memory, disk and volume state, network counters, temperatures, clock and
/// time zone, power, monitor, screenshots, printer spool and last-chance
/// crash handlers. All functions are static and may be called from any thread;
/// those that start programs or timers need an event loop in the calling
/// thread for their follow-up work (forced reboot, screenshot clean-up).
///
/// Every operation that changes the machine starts an outside program, on
/// Linux as follows (the Windows build uses "shutdown", "nircmdc" and
/// "cmd.exe", and the Win32 calls for clock and time zone):
///
/// | Operation          | Linux command                                                   |
/// |--------------------|-----------------------------------------------------------------|
/// | setSystemTime      | `date -u -s "yyyy-MM-dd HH:mm:ss"`, then `hwclock --systohc`    |
/// | changeTimeZone     | `timedatectl show --property=Timezone --value` (read),          |
/// |                    | `timedatectl set-timezone Etc/GMT-3` for +3 (Etc/UTC for 0)     |
/// | poweroff           | `shutdown -P now`; fallback `systemctl poweroff --force`        |
/// | reboot             | `shutdown -r now`; fallback and forced `systemctl reboot --force` |
/// | monitorOn/Off      | `xset dpms force on` / `xset dpms force off`                    |
/// | screenshot         | `import -window root <file>` (X11), `grim <file>` when          |
/// |                    | WAYLAND_DISPLAY is set                                          |
/// | cleanSpool         | `/bin/sh <temp>/cleanspool.sh`, a script running `cancel -a -x` |
///
/// Readings on Linux come from the kernel: CLOCK_BOOTTIME, /proc/meminfo,
/// statvfs(), /sys/class/net/*/statistics, /sys/class/thermal and
/// /sys/class/hwmon, and /proc/cpuinfo, the device tree, DMI or
/// /etc/machine-id for the serial.
class ORVELEXTLIB_EXPORT SysUtils
{
public:
    /// Nothing to construct or destroy: every operation is static.
    ///@{
    SysUtils();
    ~SysUtils();
    ///@}

    /// Seconds since the system started (suspended time included).
    static qint64 uptime();
    /// The current UTC time minus uptime(), in UTC.
    static QDateTime startDt();

    /// Physical memory in bytes; 0 when it cannot be read.
    static qint64 getTotalSystemMemory();
    /// Memory available for new work, in bytes; 0 when it cannot be read.
    static qint64 getAvailableSystemMemory();

    /// Sets both outputs to -1, then to the bytes available to the caller and
    /// the total bytes of the file system holding `path`. False (outputs left
    /// at -1) when the path cannot be queried, e.g. because it does not exist.
    static bool freeDiskSpace(const QString &path, qint64 &freeBytes, qint64 &totalBytes);
    /// One line per drive root, then per entry of `paths`, for those that can
    /// be queried: native path, two spaces, free and total space, e.g.
    /// "/  12 GB/100 GB". Values up to 5 GiB are shown in MB, KB or bytes.
    static QStringList freeDiskSpace(const QStringList &paths);
    /// False if the directory does not exist or its file system is mounted
    /// read-only; true otherwise, also when the volume cannot be asked.
    static bool fileSystemIsAvailable(const QString &path);

    /// Sets both outputs to the bytes received and sent by every network
    /// interface but loopback since they came up. False when the interface
    /// list cannot be read.
    static bool getNetworkTraffic(qint64 &inBytes, qint64 &outBytes);
    /// CPU temperature in whole degrees Celsius on Linux (the first sensor
    /// reading as the sensor gives it on Windows); 0 when there is no sensor.
    static qint32 cpuTemperature();
    /// Drive temperature in whole degrees Celsius from the drives' hwmon
    /// sensors ("drivetemp", "nvme"); 0 when there is none, always 0 on Windows.
    static qint32 hddTemperature();

    /// Sets the system clock to `dt` (taken as UTC when `isUtc`, else converted
    /// to UTC), to the second. An invalid date-time does nothing and logs nothing.
    static void setSystemTime(const QDateTime &dt, bool isUtc);
    /// Clears `zoneId`; fills it with "UTC+03:00"-style identifier for `offset`
    /// whole hours and returns true when Qt knows that zone. Logs
    /// "INVALID_OFFCET " and the offset when Qt knows no zone for the offset.
    /// `country` is not used.
    static bool chooseTimeZone(qint32 offset, QLocale::Country country, QByteArray &zoneId);
    /// Switches the system time zone to a fixed offset of `offset` whole hours
    /// from UTC; true when the zone read back afterwards has that offset.
    /// `country` is not used.
    static bool changeTimeZone(qint32 offset, QLocale::Country country);
    /// `dt` to the second in the system locale's short format, followed by its
    /// UTC offset, e.g. "11 Jun 2024 10:20:30 +03:00".
    static QString formatDtWithOffcet(const QDateTime &dt);

    /// Powers the machine off; if the shutdown program has not started within
    /// 5 s, the fallback command is started instead.
    static void poweroff();
    /// Reboots the machine as poweroff() does, and starts the forced reboot
    /// command anyway if this process is still alive five minutes later.
    static void reboot();
    /// Switches the monitor on or off through the platform's command; returns
    /// at once.
    ///@{
    static void monitorOn();
    static void monitorOff();
    ///@}
    /// Saves a screenshot to `filePath` (".png" appended when the path does
    /// not contain it), creating the directory first. Returns at once.
    static void screenshot(const QString &filePath);
    /// Writes the spool clean-up script to the temporary directory and starts
    /// it. `printers` is not used: every queue is cleared.
    static void cleanSpool(const QStringList &printers);
    /// Installs process-wide last-chance handlers: allocation failure exits
    /// with code 3, std::terminate with 4, SIGTERM with 0 (and, on Windows, an
    /// unhandled structured exception with 2).
    static void catchSystemExceptions();

    /// Fixed answers kept for hosts written against other builds of this
    /// class: false, false, true, nothing, nothing, nothing, true. The
    /// arguments are not used.
    ///@{
    static bool mountUsb();
    static bool applyLinuxKernelSettings();
    static bool unlockPort(const QString &port);
    static void unlockPorts(const QStringList &ports);
    static void configureSerialPort(const QString &port);
    static void rotateLogs();
    static bool prepareDirRules(const QString &dir, const QString &rules);
    ///@}
    /// The machine's serial number or, failing that, its machine id; empty when
    /// there is none (always empty on Windows).
    static QString getProcSerial();
};

#endif // ORVELEXTLIB_SYSUTILS_H
