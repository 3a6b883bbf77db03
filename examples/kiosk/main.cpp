// kiosk: a small host application that shows the library at work, one
// subsystem after another. Usage: kiosk [--workdir DIR] [demo names...]

#include "demos.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

namespace {
struct Demo
{
    const char *name;
    bool (*run)(DemoContext &);
};

const Demo demos[] = {
    {"settings", demoSettings},
    {"logger", demoLogger},
    {"workers", demoWorkers},
    {"mqtt", demoMqtt},
    {"stomp", demoStomp},
    {"http", demoHttp},
    {"sqlite", demoSqlite},
    {"values", demoValues},
    {"crypto", demoCrypto},
    {"serial", demoSerial},
    {"sys", demoSys},
    {"zip", demoZip},
    {"compression", demoCompression},
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("orvelextlib demo host"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("workdir"), QStringLiteral("Work directory (default: a temporary one)."),
                      QStringLiteral("dir")});
    parser.addPositionalArgument(QStringLiteral("demos"), QStringLiteral("Demos to run (default: all)."));
    parser.process(app);

    QTemporaryDir scratch;
    const QString workDir = parser.isSet(QStringLiteral("workdir"))
                                ? QDir(parser.value(QStringLiteral("workdir"))).absolutePath()
                                : scratch.path();
    QDir().mkpath(workDir);

    QTextStream out(stdout);
    DemoContext ctx{workDir, out};
    const QStringList wanted = parser.positionalArguments();
    int failures = 0;
    for (const Demo &demo : demos) {
        const QString name = QString::fromLatin1(demo.name);
        if (!wanted.isEmpty() && !wanted.contains(name))
            continue;
        out << "== " << name << " ==" << Qt::endl;
        const bool ok = demo.run(ctx);
        out << (ok ? "   ok" : "   FAILED") << Qt::endl << Qt::endl;
        if (!ok)
            ++failures;
    }
    out << (failures ? "kiosk: some demos failed" : "kiosk: all demos done") << Qt::endl;
    return failures ? 1 : 0;
}
