#ifndef ORVELEXTLIB_ZIPCALENDAR_P_H
#define ORVELEXTLIB_ZIPCALENDAR_P_H

// Proleptic Gregorian calendar arithmetic on day counts since 1970-01-01,
// shared by the zip time stamps and the logger: plain integer arithmetic
// where QDateTime would go through the C library's time-zone code for each
// conversion. The local offset itself comes from the platform seam
// (zipfilesystem::utcOffsetAt()).

#include <QtGlobal>

#include <ctime>

namespace zipcalendar {

constexpr qint64 SecsPerDay = 86400;

/// a ÷ b rounded toward minus infinity, for b > 0.
constexpr qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}

/// Days since 1970-01-01 of a date (years starting in March internally, so
/// that the leap day comes last).
constexpr qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = floorDiv(year, 400);
    const qint64 yoe = year - era * 400;
    const qint64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct CivilDate
{
    qint64 year;
    int month;
    int day;
};

/// The date of a day count since 1970-01-01.
constexpr CivilDate civilFromDays(qint64 days)
{
    const qint64 z = days + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, int(doy - (153 * mp + 2) / 5 + 1)};
}

/// The seconds since 1970-01-01 00:00 that the fields of a C library
/// breakdown name when they are read as UTC.
inline qint64 secondsOf(const std::tm &t)
{
    return daysFromCivil(qint64(t.tm_year) + 1900, t.tm_mon + 1, t.tm_mday) * SecsPerDay
        + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

} // namespace zipcalendar

#endif // ORVELEXTLIB_ZIPCALENDAR_P_H
