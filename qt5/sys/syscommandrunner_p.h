#ifndef ORVELEXTLIB_SYSCOMMANDRUNNER_P_H
#define ORVELEXTLIB_SYSCOMMANDRUNNER_P_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

class QProcess;

/// The one door through which SysUtils starts outside programs, and so the
/// one place where it changes the machine (clock, time zone, power, monitor,
/// spooler, screenshots). The base class runs the programs for real.
///
/// Test hook: tests install a recording runner with setCurrent() before they
/// call anything, so they can check program, arguments, order and timing
/// without ever touching the machine.
class ORVELEXTLIB_AUTOTEST_EXPORT SysCommandRunner
{
public:
    SysCommandRunner() = default;
    virtual ~SysCommandRunner();
    SysCommandRunner(const SysCommandRunner &) = delete;
    SysCommandRunner &operator=(const SysCommandRunner &) = delete;

    /// Starts `process`, whose program, arguments, environment and working
    /// directory the caller has set, in `mode`. With `startTimeoutMs` >= 0,
    /// waits that long for it to start and returns whether it did; otherwise
    /// returns true at once and reports through the process's signals.
    virtual bool start(QProcess *process, QIODevice::OpenMode mode, int startTimeoutMs);
    /// Starts a program that outlives this call; false if it could not start.
    virtual bool startDetached(const QString &program, const QStringList &arguments);
    /// Runs a program to its end (at most `timeoutMs`, then it is killed) and
    /// returns its exit code, or -1 when it did not start, crashed or timed
    /// out. Its standard output goes to `output` when given.
    virtual int execute(const QString &program, const QStringList &arguments, int timeoutMs,
                        QByteArray *output);

    /// The runner in use; the built-in one unless a test installed another.
    static SysCommandRunner *current();
    /// Test hook: installs `runner` (not owned; it must outlive every call and
    /// timer that may use it); nullptr restores the built-in runner.
    static void setCurrent(SysCommandRunner *runner);
};

#endif // ORVELEXTLIB_SYSCOMMANDRUNNER_P_H
