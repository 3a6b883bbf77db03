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
    /// Directories: read, write and execute for the owner (0x7000).
    static constexpr QFileDevice::Permissions DEFAULT_OWNER =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    /// Directories: the same for owner and group (0x7070).
    static const QFileDevice::Permissions DEFAULT_GROUP;
    /// Directories: the same for owner, group and others (0x7077); what the
    /// library itself asks for.
    static const QFileDevice::Permissions DEFAULT_ALL;
    /// Files: read and write for the owner (0x6000).
    static constexpr QFileDevice::Permissions FILE_DEFAULT_OWNER =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    /// Files: the same for owner and group (0x6060).
    static const QFileDevice::Permissions FILE_DEFAULT_GROUP;
    /// Files: the same for owner, group and others (0x6066).
    static const QFileDevice::Permissions FILE_DEFAULT_ALL;

    /// Makes sure that `path` exists, creating every missing level. Only a
    /// directory created by this call gets `permissions` (its last level),
    /// less the process's umask on Unix as with mkdir(); an existing path is
    /// left alone. Returns whether the path exists on
    /// return (an existing file counts). Logs nothing; any thread.
    static bool checkAndCreate(const QString &path,
                               const QFlags<QFileDevice::Permission> &permissions);

    /// Everything is static.
    DirCreator() = delete;
};

#endif // ORVELEXTLIB_DIRCREATOR_H
