#include "settingsfileguard_p.h"

#include <QDebug>
#include <QFile>
#include <QFileDevice>
#include <QSaveFile>

void SettingsFileGuard::keepUnreadable(const QIODevice &device, const QByteArray &content)
{
    const auto *file = qobject_cast<const QFileDevice *>(&device);
    if (!file || file->fileName().isEmpty() || content.trimmed().isEmpty())
        return;
    const QString base = file->fileName() + QStringLiteral(".unreadable");
    for (int i = 0; i < 10; ++i) {
        const QString copy = i == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(i);
        QFile existing(copy);
        if (existing.exists()) {
            if (existing.size() == content.size() && existing.open(QIODevice::ReadOnly)
                && existing.readAll() == content)
                return; // kept already
            continue;
        }
        // Readable by whom the file was: it may hold keys.
        QSaveFile kept(copy);
        if (kept.open(QIODevice::WriteOnly) && kept.setPermissions(file->permissions())
            && kept.write(content) == content.size() && kept.commit()) {
            qCritical().noquote() << QStringLiteral("Settings file unreadable, kept as %1").arg(copy);
            return;
        }
        break;
    }
    qCritical().noquote()
        << QStringLiteral("Settings file unreadable, no copy kept: %1").arg(file->fileName());
}
