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
    if (b->isConnected()) {
        doClose();
        return;
    }
    // A network thread still trying to connect (an open() while connecting)
    // would work on the connection being set up anew here, from another
    // thread: it goes first, and a new one drives the new connection.
    if (b->isLoopRunning())
        b->mosquittoLoopStop(true);
    QElapsedTimer stopwatch;
    stopwatch.start();
    applyConfigAndConnect(true);
    while (!b->mosquittoLoopStart()) {
        if (stopwatch.elapsed() > 9999)
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// Loopback answers in microseconds; a stuck peer must not hold close() long.
static constexpr int DisconnectWaitMs = 1000;

void QtMosquittoClientAsync::doClose()
{
    QtMosquittoClientPrivate *b = binding();
    const int seen = b->disconnections();
    // libmosquitto's thread writes the DISCONNECT and closes the socket; a
    // forced stop right away would cancel it first, and the broker would take
    // a deliberate close for a lost client (and publish its will).
    if (b->mosquittoDisconnect() && b->isLoopRunning())
        b->waitForDisconnection(seen, DisconnectWaitMs);
    b->mosquittoLoopStop(true);
}

bool QtMosquittoClientAsync::doPublish(MosquittoMessage msg)
{
    return binding()->mosquittoPublish(msg);
}

bool QtMosquittoClientAsync::doSubscribe(const QByteArray &sub, int qos)
{
    return binding()->mosquittoSubscribe(sub, qos);
}

bool QtMosquittoClientAsync::doUnsubscribe(const QByteArray &sub)
{
    return binding()->mosquittoUnsubscribe(sub);
}

void QtMosquittoClientAsync::prepareMqttConnect()
{
    emit opened();
}

void QtMosquittoClientAsync::prepareMqttDisconnect()
{
    emit closed();
}
