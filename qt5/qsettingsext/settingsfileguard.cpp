#include "settingsfileguard_p.h"

#include <QDebug>
#include <QFileDevice>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QString>

namespace {

struct UnreadableFiles
{
    QMutex mutex;
    QSet<QString> paths; // absolute paths whose last read failed
};

Q_GLOBAL_STATIC(UnreadableFiles, unreadableFiles)

QString filePath(const QIODevice &device)
{
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    return file && !file->fileName().isEmpty() ? QFileInfo(file->fileName()).absoluteFilePath()
                                               : QString();
}

} // namespace

void SettingsFileGuard::noteRead(const QIODevice &device, bool readOk)
{
    const QString path = filePath(device);
    if (path.isEmpty())
        return;
    UnreadableFiles *files = unreadableFiles();
    const QMutexLocker locker(&files->mutex);
    if (readOk)
        files->paths.remove(path);
    else
        files->paths.insert(path);
}

bool SettingsFileGuard::mayReplace(const QIODevice &device)
{
    const QString path = filePath(device);
    if (path.isEmpty())
        return true;
    {
        UnreadableFiles *files = unreadableFiles();
        const QMutexLocker locker(&files->mutex);
        if (!files->paths.contains(path))
            return true;
    }
    const QFileInfo file(path);
    if (!file.exists() || file.size() == 0)
        return true;
    qCritical().noquote() << QStringLiteral("Settings file unreadable, not replaced: %1").arg(path);
    return false;
}
