#include "zipglobal.h"
#include "zipfilesystem_p.h"

int zip_currentUtcOffset()
{
    return zipfilesystem::utcOffsetAt(QDateTime::currentSecsSinceEpoch());
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
