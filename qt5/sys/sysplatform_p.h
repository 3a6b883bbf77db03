#ifndef ORVELEXTLIB_SYSPLATFORM_P_H
#define ORVELEXTLIB_SYSPLATFORM_P_H

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

// The platform services behind SysUtils. Exactly one implementation is built:
// sysutils_linux.cpp or sysutils_win.cpp. The portable logic (formatting, time
// zone choice, process and timer handling, script writing, crash handlers)
// stays in sysutils.cpp; everything here either reads the machine or names
// the commands that change it. Whatever changes the machine by starting a
// program goes through SysCommandRunner.
namespace SysPlatform {

struct Command
{
    QString program;
    QStringList arguments;
};

// The printer-spool clean-up script: its lines, how they are joined and
// encoded, where it goes ("%1" is the temporary directory), and the command
// that runs it (the script's native path is appended to the arguments).
struct SpoolScript
{
    QStringList lines;
    QString lineEnd;
    QByteArray codec;
    QString pathPattern;
    Command run;
};

qint64 uptimeMs();
qint64 totalMemory();
qint64 availableMemory();
bool diskSpace(const QString &path, qint64 &availableBytes, qint64 &totalBytes);
// For an existing directory: false only when its volume is known to be read-only.
bool volumeWritable(const QString &path);
bool networkTraffic(qint64 &inBytes, qint64 &outBytes);
qint32 cpuTemperature();
qint32 hddTemperature();
QString machineSerial();

// Both take UTC fields / whole hours and log their own failures.
void setSystemTime(const QDate &utcDate, const QTime &utcTime);
bool changeTimeZone(qint32 offsetHours);

Command powerOff();
Command powerOffFallback();
Command reboot();
Command rebootFallback();
Command monitor(bool on);
Command screenshot(const QString &nativeFilePath);
const SpoolScript &spoolScript();

// Hooks the platform's last-chance handler for crashes, if it has one.
void installCrashFilter();

} // namespace SysPlatform

#endif // ORVELEXTLIB_SYSPLATFORM_P_H
