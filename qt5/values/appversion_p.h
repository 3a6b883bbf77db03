#ifndef ORVELEXTLIB_APPVERSION_P_H
#define ORVELEXTLIB_APPVERSION_P_H

#include <orvelextlib_export.h>

#include <QString>

/// The build moment as ISO 8601 from the compiler's __DATE__ ("Jan 19 2018",
/// a one-digit day padded with a blank) and __TIME__ ("12:16:05"):
/// 2018-01-19T12:16:05.
ORVELEXTLIB_AUTOTEST_EXPORT QString appVersionBuildMoment(const char *date, const char *time);

#endif // ORVELEXTLIB_APPVERSION_P_H
