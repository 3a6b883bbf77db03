#ifndef ORVELEXTLIB_ZIPFILETIME_P_H
#define ORVELEXTLIB_ZIPFILETIME_P_H

// The operating-system seam for file times: one implementation per platform
// (zipfiletime_unix.cpp, zipfiletime_win.cpp).

#include <QDateTime>
#include <QString>

namespace zipfiletime {

/// Opens the existing file `path` for writing (never creating or truncating
/// it), sets its last-write time to `utc` and closes it again. Returns whether
/// the time was set.
bool setLastWriteTime(const QString &path, const QDateTime &utc);

} // namespace zipfiletime

#endif // ORVELEXTLIB_ZIPFILETIME_P_H
