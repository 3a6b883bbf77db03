// Prints how many times per second the SysUtils readings a kiosk polls can be
// taken (uptime, memory, network counters, disk report, temperature) and how
// fast a date-time is formatted with its offset. Nothing here changes the machine.

#include <sys/sysutils.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// Runs `step` until about half a second has passed; returns calls per second.
template<typename Step> double measure(Step step)
{
    QElapsedTimer timer;
    timer.start();
    qint64 rounds = 0;
    do {
        step();
        ++rounds;
    } while (timer.nsecsElapsed() < 500000000);
    return double(rounds) * 1e9 / double(timer.nsecsElapsed());
}

void print(const char *what, double perSecond)
{
    std::printf("%-46s %12.0f calls/s\n", what, perSecond);
}

volatile qint64 sink = 0;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList paths { QDir::tempPath() };
    const QDateTime now = QDateTime::currentDateTime();

    print("uptime()", measure([] { sink = sink + SysUtils::uptime(); }));
    print("getAvailableSystemMemory()",
          measure([] { sink = sink + SysUtils::getAvailableSystemMemory(); }));
    print("getNetworkTraffic()", measure([] {
              qint64 in = 0;
              qint64 out = 0;
              SysUtils::getNetworkTraffic(in, out);
              sink = sink + in + out;
          }));
    print("freeDiskSpace(QStringList) with one path",
          measure([&paths] { sink = sink + SysUtils::freeDiskSpace(paths).size(); }));
    print("cpuTemperature()", measure([] { sink = sink + SysUtils::cpuTemperature(); }));
    print("formatDtWithOffcet()",
          measure([&now] { sink = sink + SysUtils::formatDtWithOffcet(now).size(); }));
    return 0;
}
