#include "mosquittohandlersfactory.h"

#include "basemosquittohandler.h"

MosquittoHandlersFactory::MosquittoHandlersFactory(QObject *parent)
    : QObject(parent)
{
}

MosquittoHandlersFactory::~MosquittoHandlersFactory() = default;

BaseMosquittoHandler *MosquittoHandlersFactory::createBaseHandler(QObject *parent)
{
    auto *handler = new BaseMosquittoHandler(parent);
    connectHandler(handler);
    return handler;
}

void MosquittoHandlersFactory::registreExistingHandler(BaseMosquittoHandler *handler)
{
    if (!handler)
        return;
    disconnect(handler, &BaseMosquittoHandler::publishMsg, this, &MosquittoHandlersFactory::publish);
    disconnect(handler, &BaseMosquittoHandler::subscribeTo, this,
               &MosquittoHandlersFactory::subscribe);
    disconnect(handler, &BaseMosquittoHandler::unsubscribeFrom, this,
               &MosquittoHandlersFactory::unsubscribe);
    disconnect(this, SIGNAL(recieved(MosquittoMessage)), handler,
               SLOT(processRecievedMsg(MosquittoMessage)));
    connectHandler(handler);
}

void MosquittoHandlersFactory::connectHandler(BaseMosquittoHandler *handler)
{
    connect(handler, &BaseMosquittoHandler::publishMsg, this, &MosquittoHandlersFactory::publish,
            Qt::QueuedConnection);
    connect(handler, &BaseMosquittoHandler::subscribeTo, this,
            &MosquittoHandlersFactory::subscribe, Qt::QueuedConnection);
    connect(handler, &BaseMosquittoHandler::unsubscribeFrom, this,
            &MosquittoHandlersFactory::unsubscribe, Qt::QueuedConnection);
    // The handler's slot is protected: reached by its signature.
    connect(this, SIGNAL(recieved(MosquittoMessage)), handler,
            SLOT(processRecievedMsg(MosquittoMessage)), Qt::QueuedConnection);
}
