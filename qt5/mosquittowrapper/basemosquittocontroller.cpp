#include "basemosquittocontroller.h"

#include "basemosquittoworker.h"
#include "mosquittohandlersfactory.h"

BaseMosquittoController::BaseMosquittoController(QObject *parent)
    : AbstractWorkerController(parent)
{
}

BaseMosquittoController::~BaseMosquittoController() = default;

MosquittoHandlersFactory *BaseMosquittoController::createFactory(BaseMosquittoWorker *worker)
{
    if (!worker)
        return nullptr;
    auto *factory = new MosquittoHandlersFactory(this);
    connect(factory, &MosquittoHandlersFactory::subscribe, worker, &BaseMosquittoWorker::subscribe,
            Qt::QueuedConnection);
    connect(factory, &MosquittoHandlersFactory::unsubscribe, worker,
            &BaseMosquittoWorker::unsubscribe, Qt::QueuedConnection);
    connect(factory, &MosquittoHandlersFactory::publish, worker, &BaseMosquittoWorker::publish,
            Qt::QueuedConnection);
    connect(worker, &BaseMosquittoWorker::recieved, factory, &MosquittoHandlersFactory::recieved,
            Qt::QueuedConnection);
    return factory;
}
