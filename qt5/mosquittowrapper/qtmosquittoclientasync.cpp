#include "qtmosquittoclientasync.h"

#include "qtmosquittoclient_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>

QtMosquittoClientAsync::QtMosquittoClientAsync(const MosquittoConfig &config,
                                               const QByteArray &clientId, QObject *parent)
    : QtMosquittoClientBase(config, clientId, true, parent)
{
}

QtMosquittoClientAsync::~QtMosquittoClientAsync()
{
    blockSignals(true);
}

void QtMosquittoClientAsync::doOpen()
{
    QtMosquittoClientPrivate *b = binding();
    if (!b)
        return;
    if (b->isConnected()) {
        doClose();
        return;
    }
    QElapsedTimer stopwatch;
    stopwatch.start();
    applyConfigAndConnect(true);
    // A network thread that already runs (an open() while connecting) drives
    // the new connection too; starting another would only fail.
    if (b->isLoopRunning())
        return;
    while (!b->mosquittoLoopStart()) {
        if (stopwatch.elapsed() > 9999)
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void QtMosquittoClientAsync::doClose()
{
    QtMosquittoClientPrivate *b = binding();
    if (!b)
        return;
    b->mosquittoDisconnect();
    b->mosquittoLoopStop(true);
}

bool QtMosquittoClientAsync::doPublish(MosquittoMessage msg)
{
    return binding() && binding()->mosquittoPublish(msg);
}

bool QtMosquittoClientAsync::doSubscribe(const QByteArray &sub, int qos)
{
    return binding() && binding()->mosquittoSubscribe(sub, qos);
}

bool QtMosquittoClientAsync::doUnsubscribe(const QByteArray &sub)
{
    return binding() && binding()->mosquittoUnsubscribe(sub);
}

void QtMosquittoClientAsync::prepareMqttConnect()
{
    emit opened();
}

void QtMosquittoClientAsync::prepareMqttDisconnect()
{
    emit closed();
}
