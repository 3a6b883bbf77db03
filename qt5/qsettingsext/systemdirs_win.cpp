#include "systemdirs_p.h"

namespace SystemDirs {

QString defaultWorkDir(const QString &folder)
{
    // Unset, this gives the root of the current drive.
    return qEnvironmentVariable("ALLUSERSPROFILE") + QLatin1Char('\\') + folder;
}

} // namespace SystemDirs
