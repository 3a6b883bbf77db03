// System utilities: a read-only report of the machine the kiosk runs on.

#include "demos.h"

#include <orvelextlib.h>

bool demoSys(DemoContext &ctx)
{
    QTextStream &out = ctx.out;
    constexpr qint64 MiB = 1024 * 1024;

    const qint64 uptime = SysUtils::uptime();
    out << "   uptime " << uptime / 3600 << " h " << uptime % 3600 / 60 << " min, started "
        << SysUtils::startDt().toString(Qt::ISODate) << Qt::endl;
    out << "   now " << SysUtils::formatDtWithOffcet(QDateTime::currentDateTime()) << Qt::endl;

    const qint64 total = SysUtils::getTotalSystemMemory();
    out << "   memory " << SysUtils::getAvailableSystemMemory() / MiB << " MiB available of "
        << total / MiB << " MiB" << Qt::endl;

    const QStringList disks = SysUtils::freeDiskSpace(QStringList { ctx.workDir });
    for (const QString &line : disks)
        out << "   disk " << line << Qt::endl;
    out << "   work dir writable volume: "
        << (SysUtils::fileSystemIsAvailable(ctx.workDir) ? "yes" : "no") << Qt::endl;

    qint64 received = 0;
    qint64 sent = 0;
    if (SysUtils::getNetworkTraffic(received, sent))
        out << "   network " << received << " bytes in, " << sent
            << " bytes out (loopback excluded)" << Qt::endl;
    else
        out << "   network skipped: no interface list" << Qt::endl;

    const qint32 cpu = SysUtils::cpuTemperature();
    const qint32 hdd = SysUtils::hddTemperature();
    out << "   temperature CPU "
        << (cpu ? QString::number(cpu) + QStringLiteral(" C") : QStringLiteral("no sensor"))
        << ", drive "
        << (hdd ? QString::number(hdd) + QStringLiteral(" C") : QStringLiteral("no sensor"))
        << Qt::endl;
    const QString serial = SysUtils::getProcSerial();
    out << "   machine " << (serial.isEmpty() ? QStringLiteral("(no serial or id)") : serial)
        << Qt::endl;

    return uptime > 0 && total > 0 && disks.size() >= 2;
}
