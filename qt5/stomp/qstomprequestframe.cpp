#include "qstomprequestframe.h"
#include "qstomprequestframe_p.h"

namespace {
// Command words by RequestType value; index 0 has none.
const char *const requestWords[] = {nullptr,  "CONNECT", "STOMP",  "SEND",
                                    "SUBSCRIBE", "UNSUBSCRIBE", "BEGIN", "COMMIT",
                                    "ABORT",  "ACK",     "NACK",   "DISCONNECT"};
const int requestWordCount = int(sizeof(requestWords) / sizeof(requestWords[0]));
} // namespace

QStompRequestFrame::QStompRequestFrame()
    : QStompFrame(new QStompRequestFramePrivate)
{
    setValid(false);
}

QStompRequestFrame::QStompRequestFrame(RequestType type)
    : QStompFrame(new QStompRequestFramePrivate)
{
    setType(type);
}

QStompRequestFrame::QStompRequestFrame(const QByteArray &frame)
    : QStompFrame(new QStompRequestFramePrivate)
{
    setValid(parse(frame));
}

QStompRequestFrame::QStompRequestFrame(const QStompRequestFrame &other)
    : QStompFrame(other, new QStompRequestFramePrivate)
{
    Q_D(QStompRequestFrame);
    d->type = other.d_func()->type;
}

QStompRequestFrame::~QStompRequestFrame() = default;

QStompRequestFrame &QStompRequestFrame::operator=(const QStompRequestFrame &other)
{
    Q_D(QStompRequestFrame);
    QStompFrame::operator=(other);
    d->type = other.d_func()->type;
    return *this;
}

QByteArray QStompRequestFrame::toByteArray() const
{
    Q_D(const QStompRequestFrame);
    if (!d->valid || d->type == RequestInvalid)
        return QByteArray();
    const int type = int(d->type);
    if (type < 0 || type >= requestWordCount)
        return QStompFrame::toByteArray();
    return QByteArray(requestWords[type]) + '\n' + QStompFrame::toByteArray();
}

bool QStompRequestFrame::parseHeaderLine(const QByteArray &line, int number)
{
    Q_D(QStompRequestFrame);
    if (number != 0)
        return QStompFrame::parseHeaderLine(line, number);
    for (int type = 1; type < requestWordCount; ++type) {
        if (line == requestWords[type]) {
            d->type = RequestType(type);
            return true;
        }
    }
    return false;
}

void QStompRequestFrame::setType(RequestType type)
{
    Q_D(QStompRequestFrame);
    d->type = type;
    d->valid = type != RequestInvalid;
}

QStompRequestFrame::RequestType QStompRequestFrame::type() const
{
    Q_D(const QStompRequestFrame);
    return d->type;
}

bool QStompRequestFrame::hasDestination() const
{
    return headerHasKey(QByteArrayLiteral("destination"));
}

QByteArray QStompRequestFrame::destination() const
{
    return headerValue(QByteArrayLiteral("destination"));
}

void QStompRequestFrame::setDestination(const QByteArray &destination)
{
    setHeaderValue(QByteArrayLiteral("destination"), destination);
}

bool QStompRequestFrame::hasTransactionId() const
{
    return headerHasKey(QByteArrayLiteral("transaction"));
}

QByteArray QStompRequestFrame::transactionId() const
{
    return headerValue(QByteArrayLiteral("transaction"));
}

void QStompRequestFrame::setTransactionId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("transaction"), id);
}

bool QStompRequestFrame::hasMessageId() const
{
    return headerHasKey(QByteArrayLiteral("message-id"));
}

QByteArray QStompRequestFrame::messageId() const
{
    return headerValue(QByteArrayLiteral("message-id"));
}

void QStompRequestFrame::setMessageId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("message-id"), id);
}

bool QStompRequestFrame::hasReceiptId() const
{
    return headerHasKey(QByteArrayLiteral("receipt"));
}

QByteArray QStompRequestFrame::receiptId() const
{
    return headerValue(QByteArrayLiteral("receipt"));
}

void QStompRequestFrame::setReceiptId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("receipt"), id);
}

bool QStompRequestFrame::hasSubscriptionId() const
{
    return headerHasKey(QByteArrayLiteral("id"));
}

QByteArray QStompRequestFrame::subscriptionId() const
{
    return headerValue(QByteArrayLiteral("id"));
}

void QStompRequestFrame::setSubscriptionId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("id"), id);
}

bool QStompRequestFrame::hasAckType() const
{
    return headerHasKey(QByteArrayLiteral("ack"));
}

QStompRequestFrame::AckType QStompRequestFrame::ackType() const
{
    return headerValue(QByteArrayLiteral("ack")) == "client" ? AckClient : AckAuto;
}

void QStompRequestFrame::setAckType(AckType type)
{
    setHeaderValue(QByteArrayLiteral("ack"), type == AckClient ? QByteArrayLiteral("client")
                                                               : QByteArrayLiteral("auto"));
}
