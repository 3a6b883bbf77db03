#include "mosquittomessage.h"

#include <mosquitto.h>

#include <cstring>

class MosquittoMessagePrivate : public QSharedData
{
public:
    int id = 0;
    QByteArray topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
};

MosquittoMessage::MosquittoMessage()
    : d(new MosquittoMessagePrivate)
{
}

MosquittoMessage::MosquittoMessage(const mosquitto_message *msg)
    : MosquittoMessage(msg, QByteArray())
{
}

MosquittoMessage::MosquittoMessage(const mosquitto_message *msg, const QByteArray &knownTopic)
    : d(new MosquittoMessagePrivate)
{
    if (!msg)
        return;
    d->id = msg->mid;
    if (msg->topic) {
        const size_t length = std::strlen(msg->topic);
        if (!knownTopic.isEmpty() && size_t(knownTopic.size()) == length
            && std::memcmp(knownTopic.constData(), msg->topic, length) == 0)
            d->topic = knownTopic;
        else
            d->topic = QByteArray(msg->topic, int(length));
    }
    if (msg->payloadlen > 0) {
        d->payload = QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen);
        d->qos = msg->qos;
        d->retain = msg->retain;
    }
}

MosquittoMessage::MosquittoMessage(const MosquittoMessage &other) = default;
MosquittoMessage::MosquittoMessage(MosquittoMessage &&other) noexcept = default;
MosquittoMessage &MosquittoMessage::operator=(const MosquittoMessage &other) = default;
MosquittoMessage &MosquittoMessage::operator=(MosquittoMessage &&other) noexcept = default;
MosquittoMessage::~MosquittoMessage() = default;

int MosquittoMessage::id() const { return d->id; }
void MosquittoMessage::setId(const int &id) { d->id = id; }
QByteArray MosquittoMessage::topic() const { return d->topic; }
void MosquittoMessage::setTopic(const QByteArray &topic) { d->topic = topic; }
QByteArray MosquittoMessage::payload() const { return d->payload; }
void MosquittoMessage::setPayload(const QByteArray &payload) { d->payload = payload; }
int MosquittoMessage::qos() const { return d->qos; }
void MosquittoMessage::setQos(const int &qos) { d->qos = qos; }
bool MosquittoMessage::retain() const { return d->retain; }
void MosquittoMessage::setRetain(bool retain) { d->retain = retain; }

bool MosquittoMessage::isValid() const
{
    return !d->topic.isEmpty() && !d->payload.isEmpty();
}

bool MosquittoMessage::operator==(const MosquittoMessage &other) const
{
    if (d == other.d)
        return true;
    return d->id == other.d->id && d->topic == other.d->topic && d->payload == other.d->payload
           && d->qos == other.d->qos && d->retain == other.d->retain;
}
