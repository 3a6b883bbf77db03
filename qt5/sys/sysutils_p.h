#ifndef ORVELEXTLIB_SYSUTILS_P_H
#define ORVELEXTLIB_SYSUTILS_P_H

#include <orvelextlib_export.h>

#include <QString>

// Internals of SysUtils that tests reach: the size formatting of the disk
// report and the knobs that keep tests fast and away from the real machine.
class ORVELEXTLIB_AUTOTEST_EXPORT SysUtilsPrivate
{
public:
    // One value of a disk report line: "12 GB" (total: "/12 GB"), with MB
    // from 1 MiB + 1 up to 5 GiB, KB above 1 KiB, bytes otherwise.
    static QString formatSize(qint64 bytes, bool total);

    // How long reboot() waits before it forces the reboot (300000 ms).
    static int forcedRebootDelayMs();
    static void setForcedRebootDelayMs(int ms);

    // Test hook: the Linux readings take /proc, /sys and /etc below this
    // directory; empty (the default) means the real root.
    static QString fileRoot();
    static void setFileRoot(const QString &root);

    SysUtilsPrivate() = delete;
};

#endif // ORVELEXTLIB_SYSUTILS_P_H
