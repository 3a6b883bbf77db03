// LoggerManager: the clean-up job, which deletes old log files and packs
// recent ones into zip archives, and the daily timer that starts it.
#include "loggermanager_p.h"

#include <zip/zip.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

namespace {

constexpr int CleanupIntervalMs = 86400000;

void packLog(QDir &dir, const QString &name)
{
    const QFileInfo log(dir, name);
    // A link named like a log is not ours to pack: it may lead anywhere.
    if (log.isSymLink())
        return;
    const QString path = log.absoluteFilePath();
    const QString archive = QDir::fromNativeSeparators(QStringLiteral("%1.zip").arg(path));
    // Whatever stands at the archive's name goes first, so a link there is
    // removed rather than written through.
    QFile::remove(archive);
    Zip zip;
    if (zip.createArchive(archive, true) == Zip::Ok
        && zip.addFile(path, QString(), Zip::IgnorePaths, Zip::AutoFull) == Zip::Ok
        && zip.closeArchive() == Zip::Ok)
        dir.remove(name);
}

void cleanAnyOldFiles(QDir dir, const QDate &today, quint32 keepingDays)
{
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*"), QStringLiteral("*.*")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QDate date = file.lastModified().date();
        if (date.isValid() && date.addDays(keepingDays) <= today)
            dir.remove(file.fileName());
    }
    // Linked directories are not followed: they may lead out of the log
    // directory or back into it.
    const QFileInfoList dirs = dir.entryInfoList({QStringLiteral("*")},
                                                 QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                                                 QDir::Name);
    for (const QFileInfo &sub : dirs)
        cleanAnyOldFiles(QDir(sub.absoluteFilePath()), today, keepingDays);
}

void runInPool()
{
    QtConcurrent::run(&LoggerManagerPrivate::cleanupLogs);
}

} // namespace

void LoggerManagerPrivate::cleanupLogs()
{
    // One job at a time: a second one (initLog again, or the timer) listing
    // the directory while the first packs would overwrite its archives and
    // then delete logs it could no longer pack.
    static QBasicMutex jobMutex;
    const QMutexLocker jobLock(&jobMutex);
    const QString path = LoggerManager::logsPath();
    // An empty path would be the working directory.
    if (path.isEmpty())
        return;
    QDir dir(path);
    if (!dir.exists())
        return;
    const QDate today = currentDate();
    const quint32 keepingDays = LoggerManager::keepingDays();
    QStringList filters = LoggerManager::additionalEraseFilters();
    filters << QStringLiteral("*%1.log*").arg(QCoreApplication::applicationName());

    const QStringList names = dir.entryList(filters, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QDate date = QDate::fromString(name.left(name.indexOf(QLatin1Char('_'))),
                                             QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid())
            continue;
        if (date.addDays(keepingDays) <= today) {
            dir.remove(name);
            continue;
        }
        if (date.addDays(2) <= today && date.addDays(5) >= today
            && !name.toLower().endsWith(QLatin1String(".zip")))
            packLog(dir, name);
    }
    if (LoggerManager::cleanAnyOldLogs())
        cleanAnyOldFiles(dir, today, keepingDays);
}

void LoggerManagerPrivate::startCleanup()
{
    QTimer *&timer = state().cleanupTimer;
    timer = new QTimer;
    timer->setInterval(CleanupIntervalMs);
    QObject::connect(timer, &QTimer::timeout, timer, &runInPool, Qt::DirectConnection);
    timer->start();
    runInPool();
}

void LoggerManagerPrivate::stopCleanup()
{
    QTimer *timer = state().cleanupTimer;
    state().cleanupTimer = nullptr;
    if (!timer)
        return;
    QObject::disconnect(timer, nullptr, nullptr, nullptr);
    // A running timer is stopped by its own thread: deleting it from another
    // one would fail (with a warning) to unregister it. A thread that has
    // ended would never carry out a deleteLater(), and has nothing left to
    // unregister.
    if (timer->thread() == QThread::currentThread() || !timer->isActive()
        || !timer->thread()->isRunning())
        delete timer;
    else
        timer->deleteLater();
}
