#include "basemosquittohandler.h"

BaseMosquittoHandler::BaseMosquittoHandler(QObject *parent)
    : QObject(parent)
{
}

BaseMosquittoHandler::~BaseMosquittoHandler() = default;

void BaseMosquittoHandler::publish(MosquittoMessage msg)
{
    emit publishMsg(msg);
}

void BaseMosquittoHandler::publish(QByteArray topic, QByteArray msg)
{
    MosquittoMessage message;
    message.setId(0);
    message.setTopic(topic);
    message.setPayload(msg);
    message.setQos(0);
    message.setRetain(true);
    emit publishMsg(message);
}

void BaseMosquittoHandler::subscribe(QByteArray sub, int qos)
{
    emit subscribeTo(sub, qos);
}

void BaseMosquittoHandler::unsubscribe(QByteArray sub)
{
    emit unsubscribeFrom(sub);
}

void BaseMosquittoHandler::processRecievedMsg(MosquittoMessage msg)
{
    processMessage(msg);
}

void BaseMosquittoHandler::processMessage(MosquittoMessage msg)
{
    emit recieved(msg);
    emit recieved(msg.topic(), msg.payload());
}
