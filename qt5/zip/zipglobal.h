#ifndef ORVELEXTLIB_ZIPGLOBAL_H
#define ORVELEXTLIB_ZIPGLOBAL_H

#include <orvelextlib_export.h>

#include <QDateTime>
#include <QString>

// Timestamp helpers shared by Zip and UnZip. Any thread.

/// The current offset of local time from UTC in seconds, from the C
/// library's local and UTC breakdowns of now (time-zone settings reloaded
/// first); 0 when either breakdown is unavailable.
ORVELEXTLIB_EXPORT int zip_currentUtcOffset();

/// `dt` converted to UTC and moved by zip_currentUtcOffset() seconds, so that
/// its fields read as local wall-clock time (what an archive stores).
ORVELEXTLIB_EXPORT QDateTime zip_fromFileTimestamp(const QDateTime &dt);

/// Sets the last-write time of the existing file `path` to `dt`, whose fields
/// are taken as local time. An empty path gives true and does nothing; a file
/// that cannot be opened for writing gives false.
ORVELEXTLIB_EXPORT bool zip_setFileTimestamp(const QString &path, const QDateTime &dt);

#endif // ORVELEXTLIB_ZIPGLOBAL_H
