#include "settingsfileguard_p.h"

#include <QDebug>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSaveFile>

namespace {

// The files kept in place, by absolute path, with the bytes they held.
// Never destroyed: a settings object may still save from a static
// destructor.
struct KeptFiles
{
    QMutex mutex;
    QHash<QString, QByteArray> contents;
};

KeptFiles &keptFiles()
{
    static auto *files = new KeptFiles;
    return *files;
}

QString notReplacedText(const QString &path)
{
    return QStringLiteral("Settings file unreadable and no copy kept, not replaced: %1").arg(path);
}

QString filePath(const QIODevice &device)
{
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    return file && !file->fileName().isEmpty() ? QFileInfo(file->fileName()).absoluteFilePath()
                                               : QString();
}

// Copies `content` beside `path`; false when no copy could be written.
bool keepCopy(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    const QString base = path + QStringLiteral(".unreadable");
    for (int i = 0; i < 10; ++i) {
        const QString copy = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
        QFile existing(copy);
        if (existing.exists()) {
            if (existing.size() == content.size() && existing.open(QIODevice::ReadOnly)
                && existing.readAll() == content)
                return true; // kept already
            continue;
        }
        // Readable by whom the file was: it may hold keys.
        QSaveFile kept(copy);
        if (kept.open(QIODevice::WriteOnly) && kept.setPermissions(permissions)
            && kept.write(content) == content.size() && kept.commit()) {
            qCritical().noquote()
                << QStringLiteral("Settings file unreadable, kept as %1").arg(copy);
            return true;
        }
        return false;
    }
    return false;
}

} // namespace

void SettingsFileGuard::noteRead(const QIODevice &device, const QByteArray &content, bool readOk)
{
    KeptFiles &files = keptFiles();
    if (readOk || content.trimmed().isEmpty()) {
        // The common case, every load: nothing to look up while nothing is kept.
        const QMutexLocker locker(&files.mutex);
        if (!files.contents.isEmpty())
            files.contents.remove(filePath(device));
        return;
    }
    const QString path = filePath(device);
    if (path.isEmpty()
        || keepCopy(path, content, static_cast<const QFileDevice &>(device).permissions()))
        return;
    qCritical().noquote() << notReplacedText(path);
    const QMutexLocker locker(&files.mutex);
    files.contents.insert(path, content);
}

bool SettingsFileGuard::mayReplace(QIODevice &device)
{
    KeptFiles &files = keptFiles();
    const QMutexLocker locker(&files.mutex);
    if (files.contents.isEmpty())
        return true;
    const QString path = filePath(device);
    const auto kept = files.contents.constFind(path);
    if (kept == files.contents.constEnd())
        return true;
    if (!QFileInfo::exists(path)) {
        files.contents.erase(kept);
        return true;
    }
    device.write(*kept);
    qCritical().noquote() << notReplacedText(path);
    return false;
}
