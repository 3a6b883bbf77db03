#ifndef ORVELEXTLIB_SYSTEMDIRS_P_H
#define ORVELEXTLIB_SYSTEMDIRS_P_H

#include <QString>

// Where the platform keeps the state that all users of the machine share.
// One implementation per platform (systemdirs_win.cpp, systemdirs_unix.cpp).
namespace SystemDirs {

// The default working directory `folder` below that place: on Windows the
// all-users profile folder ("ALLUSERSPROFILE") joined with "\"; elsewhere
// "ALLUSERSPROFILE" when it is set, otherwise /var/lib, joined with "/".
QString defaultWorkDir(const QString &folder);

} // namespace SystemDirs

#endif // ORVELEXTLIB_SYSTEMDIRS_P_H
