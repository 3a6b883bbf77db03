#include "systemdirs_p.h"

namespace SystemDirs {

QString defaultWorkDir(const QString &folder)
{
    QString base = qEnvironmentVariable("ALLUSERSPROFILE");
    if (base.isEmpty())
        base = QStringLiteral("/var/lib");
    return base + QLatin1Char('/') + folder;
}

} // namespace SystemDirs
