#ifndef ORVELEXTLIB_SYSTEMDIRS_P_H
#define ORVELEXTLIB_SYSTEMDIRS_P_H

#include <QFileDevice>
#include <QString>

// Where the platform keeps the state that all users of the machine share, and
// how it restricts what the library creates there.
// One implementation per platform (systemdirs_win.cpp, systemdirs_unix.cpp).
namespace SystemDirs {

// The default working directory `folder` below that place: on Windows the
// all-users profile folder ("ALLUSERSPROFILE") joined with "\"; elsewhere
// "ALLUSERSPROFILE" when it is set, otherwise /var/lib, joined with "/".
QString defaultWorkDir(const QString &folder);

// The permissions to give a directory or file the library has just created
// when `requested` is asked for: on Unix `requested` less the bits of the
// process's file-creation mask (umask), as mkdir() and open() do; on Windows
// `requested` unchanged. Any thread.
QFileDevice::Permissions creationPermissions(QFileDevice::Permissions requested);

} // namespace SystemDirs

#endif // ORVELEXTLIB_SYSTEMDIRS_P_H
