#ifndef KIOSK_DEMOS_H
#define KIOSK_DEMOS_H

#include <QString>
#include <QTextStream>

// What every demo step gets: a scratch work directory and the output stream.
struct DemoContext
{
    QString workDir;
    QTextStream &out;
};

// One function per subsystem; each prints what it does and returns false on failure.
bool demoSettings(DemoContext &ctx);
bool demoLogger(DemoContext &ctx);
bool demoWorkers(DemoContext &ctx);
bool demoMqtt(DemoContext &ctx);
bool demoStomp(DemoContext &ctx);
bool demoHttp(DemoContext &ctx);
bool demoSqlite(DemoContext &ctx);
bool demoValues(DemoContext &ctx);
bool demoCrypto(DemoContext &ctx);
bool demoSerial(DemoContext &ctx);
bool demoSys(DemoContext &ctx);
bool demoZip(DemoContext &ctx);
bool demoCompression(DemoContext &ctx);

#endif // KIOSK_DEMOS_H
