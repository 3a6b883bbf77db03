#include "sysutils.h"
#include "sysutils_p.h"

#include "syscommandrunner_p.h"
#include "sysplatform_p.h"

#include <qsettingsext/dircreator.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>
#include <QTextStream>
#include <QTimeZone>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>

namespace {

constexpr int ShutdownStartTimeoutMs = 5000;
constexpr int DefaultForcedRebootDelayMs = 300000;

std::atomic<int> forcedRebootDelay { DefaultForcedRebootDelayMs };

struct FileRoot
{
    QMutex mutex;
    QString path;
};
Q_GLOBAL_STATIC(FileRoot, fileRootState)

// Starts a shutdown program the way the power functions need it: system
// environment, application directory, and a bounded wait for the start. The
// process object deletes itself once the program has ended or never ran.
bool startShutdownProgram(const SysPlatform::Command &command)
{
    auto *process = new QProcess;
    process->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process->setWorkingDirectory(QCoreApplication::applicationDirPath());
    process->setProgram(command.program);
    process->setArguments(command.arguments);
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     process, &QObject::deleteLater);
    const bool started
        = SysCommandRunner::current()->start(process, QIODevice::ReadWrite, ShutdownStartTimeoutMs);
    if (process->state() == QProcess::NotRunning)
        process->deleteLater();
    return started;
}

// A text between double quotes, as the log messages show paths and times.
QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

void startDetached(const SysPlatform::Command &command)
{
    SysCommandRunner::current()->startDetached(command.program, command.arguments);
}

// Writes the script into a file of its own. A file or link already at the
// path is removed first and the new one is created exclusively, so the
// script that runs is always the one written here, never one planted in a
// shared temporary directory.
bool writeSpoolScript(const QString &path, const SysPlatform::SpoolScript &script)
{
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    QTextStream stream(&file);
    stream.setCodec(script.codec.constData());
    stream << script.lines.join(script.lineEnd);
    stream.flush();
    const bool written = stream.status() == QTextStream::Ok && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

extern "C" void exitOnSignal(int signalNumber)
{
    int code = 9;
    switch (signalNumber) {
    case SIGINT:
    case SIGTERM:
        code = 0;
        break;
    case SIGILL:
        code = 6;
        break;
    case SIGFPE:
        code = 7;
        break;
    case SIGSEGV:
        code = 5;
        break;
    case SIGABRT:
        code = 8;
        break;
    default:
        break;
    }
    // Only async-signal-safe calls here: no atexit handlers, no stdio.
    std::_Exit(code);
}

} // namespace

// --- SysUtilsPrivate ---

QString SysUtilsPrivate::formatSize(qint64 bytes, bool total)
{
    if (bytes > 0x140000000LL)
        return QString::fromLatin1(total ? "/%1 GB" : "%1 GB").arg(bytes >> 30);
    if (bytes > 0x100000LL)
        return QString::fromLatin1(total ? "/%1 MB" : "%1 MB").arg(bytes >> 20);
    if (bytes > 0x400LL)
        return QString::fromLatin1(total ? "/%1 KB" : "%1 KB").arg(bytes >> 10);
    return QString::fromLatin1(total ? "/%1 bytes" : "%1 bytes").arg(bytes);
}

int SysUtilsPrivate::forcedRebootDelayMs()
{
    return forcedRebootDelay.load();
}

void SysUtilsPrivate::setForcedRebootDelayMs(int ms)
{
    forcedRebootDelay.store(ms);
}

QString SysUtilsPrivate::fileRoot()
{
    FileRoot *state = fileRootState();
    const QMutexLocker locker(&state->mutex);
    return state->path;
}

void SysUtilsPrivate::setFileRoot(const QString &root)
{
    FileRoot *state = fileRootState();
    const QMutexLocker locker(&state->mutex);
    state->path = root;
}

// --- SysUtils ---

SysUtils::SysUtils() = default;

SysUtils::~SysUtils() = default;

qint64 SysUtils::uptime()
{
    return SysPlatform::uptimeMs() / 1000;
}

QDateTime SysUtils::startDt()
{
    return QDateTime::currentDateTimeUtc().addSecs(-uptime());
}

qint64 SysUtils::getTotalSystemMemory()
{
    return SysPlatform::totalMemory();
}

qint64 SysUtils::getAvailableSystemMemory()
{
    return SysPlatform::availableMemory();
}

bool SysUtils::freeDiskSpace(const QString &path, qint64 &freeBytes, qint64 &totalBytes)
{
    freeBytes = -1;
    totalBytes = -1;
    qint64 available = 0;
    qint64 total = 0;
    if (!SysPlatform::diskSpace(path, available, total))
        return false;
    freeBytes = available;
    totalBytes = total;
    return true;
}

QStringList SysUtils::freeDiskSpace(const QStringList &paths)
{
    QStringList candidates;
    const QFileInfoList drives = QDir::drives();
    for (const QFileInfo &drive : drives)
        candidates << drive.absolutePath();
    candidates << paths;

    QStringList lines;
    for (const QString &candidate : qAsConst(candidates)) {
        qint64 freeBytes = 0;
        qint64 totalBytes = 0;
        if (!freeDiskSpace(candidate, freeBytes, totalBytes))
            continue;
        lines << QDir::toNativeSeparators(candidate) + QLatin1String("  ")
                + SysUtilsPrivate::formatSize(freeBytes, false)
                + SysUtilsPrivate::formatSize(totalBytes, true);
    }
    return lines;
}

bool SysUtils::fileSystemIsAvailable(const QString &path)
{
    if (!QDir(path).exists())
        return false;
    return SysPlatform::volumeWritable(path);
}

bool SysUtils::getNetworkTraffic(qint64 &inBytes, qint64 &outBytes)
{
    qint64 in = 0;
    qint64 out = 0;
    if (!SysPlatform::networkTraffic(in, out))
        return false;
    inBytes = in;
    outBytes = out;
    return true;
}

qint32 SysUtils::cpuTemperature()
{
    return SysPlatform::cpuTemperature();
}

qint32 SysUtils::hddTemperature()
{
    return SysPlatform::hddTemperature();
}

void SysUtils::setSystemTime(const QDateTime &dt, bool isUtc)
{
    if (!dt.isValid())
        return;
    const QDateTime utc = isUtc ? dt : dt.toUTC();
    const QTime utcTime(utc.time().hour(), utc.time().minute(), utc.time().second());
    const QDateTime toSet(utc.date(), utcTime, Qt::UTC);
    qWarning().noquote() << quoted(dt.toString(Qt::ISODate)) << quoted(toSet.toString(Qt::ISODate))
                         << quoted(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                         << quoted(QDateTime::currentDateTime().toString(Qt::ISODate));
    SysPlatform::setSystemTime(toSet.date(), toSet.time());
}

bool SysUtils::chooseTimeZone(qint32 offset, QLocale::Country country, QByteArray &zoneId)
{
    Q_UNUSED(country)
    zoneId.clear();
    QSet<QByteArray> ids;
    // No zone lies a day or more away from UTC; the bound also keeps the
    // offset in seconds within int.
    if (offset > -24 && offset < 24) {
        const QList<QByteArray> known = QTimeZone::availableTimeZoneIds(offset * 3600);
        ids = QSet<QByteArray>(known.cbegin(), known.cend());
    }
    if (ids.isEmpty()) {
        qCritical().nospace() << "INVALID_OFFCET " << offset;
        return false;
    }
    const QString wanted = QStringLiteral("UTC%1%2:00")
                               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                               .arg(qAbs(offset), 2, 10, QLatin1Char('0'));
    qDebug().noquote() << quoted(wanted);
    const QByteArray id = wanted.toLocal8Bit();
    if (!ids.contains(id))
        return false;
    zoneId = id;
    return true;
}

bool SysUtils::changeTimeZone(qint32 offset, QLocale::Country country)
{
    Q_UNUSED(country)
    return SysPlatform::changeTimeZone(offset);
}

QString SysUtils::formatDtWithOffcet(const QDateTime &dt)
{
    // The round trip through RFC 2822 drops the milliseconds.
    const QDateTime value = QDateTime::fromString(dt.toString(Qt::RFC2822Date), Qt::RFC2822Date);
    const int offset = value.offsetFromUtc();
    const int absolute = qAbs(offset);
    // What Qt::SystemLocaleShortDate gives, without the deprecated enumerator.
    return QLocale::system().toString(value, QLocale::ShortFormat)
        + QStringLiteral(" %1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(absolute / 3600, 2, 10, QLatin1Char('0'))
              .arg(absolute % 3600 / 60, 2, 10, QLatin1Char('0'));
}

void SysUtils::poweroff()
{
    if (!startShutdownProgram(SysPlatform::powerOff()))
        startDetached(SysPlatform::powerOffFallback());
}

void SysUtils::reboot()
{
    qWarning("START_REBOOTING");
    const SysPlatform::Command forced = SysPlatform::rebootFallback();
    if (!startShutdownProgram(SysPlatform::reboot())) {
        qWarning("FORCE_REBOOTING");
        QCoreApplication::processEvents();
        startDetached(forced);
    }
    // Should the machine still be up after the delay, force it.
    QTimer::singleShot(forcedRebootDelay.load(), [forced] {
        qWarning("FORCE_REBOOTING");
        startDetached(forced);
    });
}

void SysUtils::monitorOn()
{
    startDetached(SysPlatform::monitor(true));
}

void SysUtils::monitorOff()
{
    startDetached(SysPlatform::monitor(false));
}

void SysUtils::screenshot(const QString &filePath)
{
    QString path = filePath;
    if (!path.contains(QLatin1String(".png")))
        path += QLatin1String(".png");
    DirCreator::checkAndCreate(QFileInfo(path).absolutePath(), DirCreator::DEFAULT_ALL);
    const QString nativePath = QDir::toNativeSeparators(path);
    const SysPlatform::Command command = SysPlatform::screenshot(nativePath);

    auto *process = new QProcess;
    process->setProgram(command.program);
    process->setArguments(command.arguments);
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process](QProcess::ProcessError error) {
                         qWarning() << "ERROR" << error;
                         // No finished() follows a failed start.
                         if (error == QProcess::FailedToStart)
                             process->deleteLater();
                     });
    QObject::connect(process, &QProcess::stateChanged, process,
                     [](QProcess::ProcessState state) { qWarning() << "STATE" << state; });
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     process, [](int exitCode, QProcess::ExitStatus exitStatus) {
                         qWarning() << "EXITCODE" << exitCode << exitStatus;
                     });
    qWarning().noquote() << quoted(command.program) << quoted(nativePath);
    SysCommandRunner::current()->start(process, QIODevice::ReadWrite, -1);
}

void SysUtils::cleanSpool(const QStringList &printers)
{
    Q_UNUSED(printers)
    const SysPlatform::SpoolScript &script = SysPlatform::spoolScript();
    // Qt gives an empty path for a temporary directory that does not exist;
    // the script must not land in the file-system root then.
    const QString tempDir = QDir::tempPath();
    if (tempDir.isEmpty()) {
        qWarning().noquote() << "SPOOL SCRIPT WRITING ERROR"
                             << quoted(QStringLiteral("no temporary directory"));
        return;
    }
    const QString path = script.pathPattern.arg(tempDir);
    const QString nativePath = QDir::toNativeSeparators(path);
    if (!writeSpoolScript(path, script)) {
        qWarning().noquote() << "SPOOL SCRIPT WRITING ERROR" << quoted(nativePath);
        return;
    }
    QStringList arguments = script.run.arguments;
    arguments << nativePath;
    SysCommandRunner::current()->startDetached(script.run.program, arguments);
}

void SysUtils::catchSystemExceptions()
{
    SysPlatform::installCrashFilter();
    std::set_new_handler([] { std::_Exit(3); });
    std::set_terminate([] { std::_Exit(4); });
    std::signal(SIGTERM, exitOnSignal);
}

bool SysUtils::mountUsb()
{
    return false;
}

bool SysUtils::applyLinuxKernelSettings()
{
    return false;
}

bool SysUtils::unlockPort(const QString &port)
{
    Q_UNUSED(port)
    return true;
}

void SysUtils::unlockPorts(const QStringList &ports)
{
    Q_UNUSED(ports)
}

void SysUtils::configureSerialPort(const QString &port)
{
    Q_UNUSED(port)
}

void SysUtils::rotateLogs() { }

bool SysUtils::prepareDirRules(const QString &dir, const QString &rules)
{
    Q_UNUSED(dir)
    Q_UNUSED(rules)
    return true;
}

QString SysUtils::getProcSerial()
{
    return SysPlatform::machineSerial();
}
