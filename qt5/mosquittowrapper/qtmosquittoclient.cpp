#include "qtmosquittoclient.h"

#include "qtmosquittoclientsync.h"

#include <QCoreApplication>
#include <QThread>

QtMosquittoClient::QtMosquittoClient(const MosquittoConfig &config, const QByteArray &clientId,
                                     QObject *parent)
    : QtMosquittoClientBase(config, clientId, false, parent)
    , m_workerThread(new QThread(this))
{
    auto *inner = new QtMosquittoClientSync(config, clientId, nullptr);
    inner->moveToThread(m_workerThread);
    m_inner = inner;

    // finished() is emitted in the finishing thread, which then still carries
    // out deferred deletions; a queued call would never be delivered there and
    // the inner client, with its connection, would outlive the thread.
    connect(m_workerThread, &QThread::finished, inner, &QObject::deleteLater, Qt::DirectConnection);
    connect(inner, &QtMosquittoClientSync::closed, this, &QtMosquittoClient::mqttDisconnected,
            Qt::QueuedConnection);
    connect(inner, &QtMosquittoClientSync::opened, this, &QtMosquittoClient::mqttConnected,
            Qt::QueuedConnection);
    connect(inner, &QtMosquittoClientSync::recieved, this, &QtMosquittoClient::recieved,
            Qt::QueuedConnection);
    connect(inner, &QtMosquittoClientSync::error, this, &QtMosquittoClient::error,
            Qt::QueuedConnection);
    connect(this, &QtMosquittoClient::needOpen, inner, &QtMosquittoClientSync::open,
            Qt::QueuedConnection);
    connect(this, &QtMosquittoClient::needClose, inner, &QtMosquittoClientSync::close,
            Qt::QueuedConnection);
    connect(this, &QtMosquittoClient::needPublish, inner, &QtMosquittoClientSync::publish,
            Qt::QueuedConnection);
    connect(this, &QtMosquittoClient::needSubscribe, inner, &QtMosquittoClientSync::subscribe,
            Qt::QueuedConnection);
    connect(this, &QtMosquittoClient::needUnsubscribe, inner, &QtMosquittoClientSync::unsubscribe,
            Qt::QueuedConnection);

    // The four signals repeat those of the base class; forward each to its
    // namesake there, so receivers connected through either class hear it.
    connect(this, &QtMosquittoClient::opened, this, &QtMosquittoClientBase::opened);
    connect(this, &QtMosquittoClient::closed, this, &QtMosquittoClientBase::closed);
    connect(this, &QtMosquittoClient::recieved, this, &QtMosquittoClientBase::recieved);
    connect(this, &QtMosquittoClient::error, this, &QtMosquittoClientBase::error);

    m_workerThread->start(QThread::InheritPriority);
}

QtMosquittoClient::~QtMosquittoClient()
{
    m_workerThread->quit();
    while (!m_workerThread->isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    delete m_workerThread;
    m_workerThread = nullptr;
}

bool QtMosquittoClient::isOpen() const
{
    return m_openFlag;
}

void QtMosquittoClient::doOpen()
{
    // The inner client connects; it gets the TLS material first, through the
    // same queue as the open request.
    if (hasSslConfiguration()) {
        QMetaObject::invokeMethod(
            m_inner, [inner = m_inner, configuration = sslConfiguration()] {
                if (inner)
                    inner->setSslConfiguration(configuration);
            },
            Qt::QueuedConnection);
    }
    emit needOpen();
}

void QtMosquittoClient::doClose()
{
    emit needClose();
}

bool QtMosquittoClient::doPublish(MosquittoMessage msg)
{
    emit needPublish(msg);
    return true;
}

bool QtMosquittoClient::doSubscribe(const QByteArray &sub, int qos)
{
    emit needSubscribe(sub, qos);
    return true;
}

bool QtMosquittoClient::doUnsubscribe(const QByteArray &sub)
{
    emit needUnsubscribe(sub);
    return true;
}

void QtMosquittoClient::prepareMqttConnect()
{
    m_openFlag = true;
    emit opened();
}

void QtMosquittoClient::prepareMqttDisconnect()
{
    m_openFlag = false;
    emit closed();
}
