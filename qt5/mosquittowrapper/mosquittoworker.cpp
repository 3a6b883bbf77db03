#include "mosquittoworker.h"

#include "qtmosquittoclient.h"
#include "qtmosquittoclientasync.h"

MosquittoWorker::MosquittoWorker(const MosquittoConfig &config, const QStringList &subscriptions)
    : BaseMosquittoWorker(config, subscriptions)
{
}

MosquittoWorker::~MosquittoWorker() = default;

void MosquittoWorker::createClient()
{
    if (client())
        return;
    QtMosquittoClientBase *c = nullptr;
    Qt::ConnectionType type = Qt::AutoConnection;
    if (config().mode() != 0) {
        c = new QtMosquittoClient(config(), clientId(), this);
    } else {
        c = new QtMosquittoClientAsync(config(), clientId(), this);
        // Every request and every signal of the asynchronous client passes
        // through this thread's event loop.
        type = Qt::QueuedConnection;
    }
    setClient(c);
    connect(this, &BaseMosquittoWorker::publish, c, &QtMosquittoClientBase::publish, type);
    connect(this, &BaseMosquittoWorker::subscribe, c, &QtMosquittoClientBase::subscribe, type);
    connect(this, &BaseMosquittoWorker::unsubscribe, c, &QtMosquittoClientBase::unsubscribe, type);
    connect(c, &QtMosquittoClientBase::recieved, this, &BaseMosquittoWorker::recieved, type);
    connect(c, &QtMosquittoClientBase::opened, this, &MosquittoWorker::onConnect, type);
    connect(c, &QtMosquittoClientBase::closed, this, &MosquittoWorker::onDisconnect, type);
    connect(c, &QtMosquittoClientBase::error, this, &MosquittoWorker::onMosquittoError, type);
}
