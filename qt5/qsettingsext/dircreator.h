#ifndef ORVELEXTLIB_DIRCREATOR_H
#define ORVELEXTLIB_DIRCREATOR_H

#include <orvelextlib_export.h>

#include <QFileDevice>
#include <QString>

/// The one place where the library creates directories, and the permission
/// sets used for directories (DEFAULT_*) and files (FILE_DEFAULT_*).
class ORVELEXTLIB_EXPORT DirCreator
{
public:
    static constexpr QFileDevice::Permissions DEFAULT_OWNER =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    static const QFileDevice::Permissions DEFAULT_GROUP;
    static const QFileDevice::Permissions DEFAULT_ALL;
    static constexpr QFileDevice::Permissions FILE_DEFAULT_OWNER =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    static const QFileDevice::Permissions FILE_DEFAULT_GROUP;
    static const QFileDevice::Permissions FILE_DEFAULT_ALL;

    /// Makes sure that `path` exists, creating every missing level. Only a
    /// directory created by this call gets `permissions` (its last level),
    /// less the process's umask on Unix as with mkdir(); an existing path is
    /// left alone. Returns whether the path exists on
    /// return (an existing file counts). Logs nothing; any thread.
    static bool checkAndCreate(const QString &path,
                               const QFlags<QFileDevice::Permission> &permissions);

    DirCreator() = delete;
};

#endif // ORVELEXTLIB_DIRCREATOR_H
