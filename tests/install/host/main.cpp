// A host that includes the umbrella header and one header by its subsystem
// path, and touches an exported symbol of each subsystem.
#include <orvelextlib.h>
#include <workers/abstractworker.h>

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#ifndef QT_MESSAGELOGCONTEXT
#error "The package must define QT_MESSAGELOGCONTEXT for its hosts"
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString text;
    QTextStream stream(&text);
    stream << loglist(QStringList{QStringLiteral("a")});
    if (!DirCreator::checkAndCreate(QCoreApplication::applicationDirPath(), DirCreator::DEFAULT_ALL))
        return 1;
    if (!text.endsWith(QLatin1String("               a")))
        return 2;
    MosquittoConfig mqtt;
    mqtt.setMode(2);
    if (mqtt.port() != 1883 || mqtt.mode() != 0)
        return 3;
    std::puts("install host ok");
    return 0;
}
