#include "qtmosquittoclientsync.h"

#include "qtmosquittoclient_p.h"

#include <QTimer>

QtMosquittoClientSync::QtMosquittoClientSync(const MosquittoConfig &config,
                                             const QByteArray &clientId, QObject *parent)
    : QtMosquittoClientBase(config, clientId, true, parent)
    , m_loopTimer(new QTimer(this))
{
    m_loopTimer->setInterval(config.syncLoopInterval());
    connect(m_loopTimer, &QTimer::timeout, this, &QtMosquittoClientSync::loop);
    m_loopTimer->setSingleShot(true);
}

QtMosquittoClientSync::~QtMosquittoClientSync()
{
    m_loopTimer->blockSignals(true);
    m_loopTimer->stop();
}

void QtMosquittoClientSync::loop()
{
    binding()->mosquittoLoop(config().syncLoopTimeout(), 1);
    // The binding's callbacks may have stopped the timer (lost connection).
    if (!m_loopTimer->signalsBlocked())
        m_loopTimer->start();
}

void QtMosquittoClientSync::doOpen()
{
    doClose();
    applyConfigAndConnect(false);
    m_loopTimer->blockSignals(false);
    m_loopTimer->start();
}

void QtMosquittoClientSync::doClose()
{
    QtMosquittoClientPrivate *b = binding();
    const bool wasConnected = b->isConnected();
    b->blockSignals(true);
    b->mosquittoDisconnect();
    b->blockSignals(false);
    m_loopTimer->blockSignals(true);
    m_loopTimer->stop();
    if (wasConnected)
        emit closed();
}

bool QtMosquittoClientSync::doPublish(MosquittoMessage msg)
{
    return binding()->mosquittoPublish(msg);
}

bool QtMosquittoClientSync::doSubscribe(const QByteArray &sub, int qos)
{
    return binding()->mosquittoSubscribe(sub, qos);
}

bool QtMosquittoClientSync::doUnsubscribe(const QByteArray &sub)
{
    return binding()->mosquittoUnsubscribe(sub);
}

void QtMosquittoClientSync::prepareMqttConnect()
{
    emit opened();
}

void QtMosquittoClientSync::prepareMqttDisconnect()
{
    m_loopTimer->blockSignals(true);
    m_loopTimer->stop();
    emit closed();
}
