#include "dircreator.h"
#include "systemdirs_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

const QFileDevice::Permissions DirCreator::DEFAULT_GROUP =
    DirCreator::DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup;
const QFileDevice::Permissions DirCreator::DEFAULT_ALL =
    DirCreator::DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_GROUP =
    DirCreator::FILE_DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_ALL =
    DirCreator::FILE_DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther;

#ifdef Q_OS_WIN
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;
#endif

namespace {
// Lets the permission change reach the access-control list on Windows; other
// platforms apply permissions directly.
struct NtfsPermissionLookup
{
#ifdef Q_OS_WIN
    NtfsPermissionLookup() { ++qt_ntfs_permission_lookup; }
    ~NtfsPermissionLookup() { --qt_ntfs_permission_lookup; }
#endif
};
} // namespace

bool DirCreator::checkAndCreate(const QString &path,
                                const QFlags<QFileDevice::Permission> &permissions)
{
    if (QFileInfo::exists(path))
        return true;
    // Qt would warn about an empty name; this function logs nothing.
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QDir::root().mkpath(absolute);
    {
        const NtfsPermissionLookup lookup;
        Q_UNUSED(lookup)
        QFile::setPermissions(absolute, SystemDirs::creationPermissions(permissions));
    }
    return QFileInfo::exists(absolute);
}
