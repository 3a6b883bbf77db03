#include "zipglobal.h"
#include "zipfilesystem_p.h"

#include <ctime>

int zip_currentUtcOffset()
{
    tzset();
    const time_t now = time(nullptr);
    struct tm local;
    struct tm utc;
    if (!localtime_r(&now, &local) || !gmtime_r(&now, &utc))
        return 0;
    // Both breakdowns read as if they were UTC; their distance is the offset.
    return int(timegm(&local) - timegm(&utc));
}

QDateTime zip_fromFileTimestamp(const QDateTime &dt)
{
    return dt.toUTC().addSecs(zip_currentUtcOffset());
}

bool zip_setFileTimestamp(const QString &path, const QDateTime &dt)
{
    if (path.isEmpty())
        return true;
    const QDateTime local(dt.date(), dt.time(), Qt::LocalTime);
    return zipfilesystem::setLastWriteTime(path, local.toUTC());
}
