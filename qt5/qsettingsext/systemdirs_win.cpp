#include "systemdirs_p.h"

namespace SystemDirs {

QString defaultWorkDir(const QString &folder)
{
    // Unset, this gives the root of the current drive.
    return qEnvironmentVariable("ALLUSERSPROFILE") + QLatin1Char('\\') + folder;
}

QFileDevice::Permissions creationPermissions(QFileDevice::Permissions requested)
{
    // Windows has no creation mask; the access-control list takes the set as asked.
    return requested;
}

} // namespace SystemDirs
