#include "syscommandrunner_p.h"

#include <QProcess>

#include <atomic>

namespace {
SysCommandRunner *builtInRunner()
{
    static SysCommandRunner runner;
    return &runner;
}

std::atomic<SysCommandRunner *> installedRunner { nullptr };
} // namespace

SysCommandRunner::~SysCommandRunner() = default;

bool SysCommandRunner::start(QProcess *process, QIODevice::OpenMode mode, int startTimeoutMs)
{
    process->start(mode);
    if (startTimeoutMs < 0)
        return true;
    return process->waitForStarted(startTimeoutMs);
}

bool SysCommandRunner::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

int SysCommandRunner::execute(const QString &program, const QStringList &arguments, int timeoutMs,
                              QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs))
        return -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

SysCommandRunner *SysCommandRunner::current()
{
    SysCommandRunner *runner = installedRunner.load();
    return runner ? runner : builtInRunner();
}

void SysCommandRunner::setCurrent(SysCommandRunner *runner)
{
    installedRunner.store(runner);
}
