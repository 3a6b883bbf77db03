#include "qstomprequestframe.h"
#include "qstompframe_p.h"

class QStompRequestFramePrivate : public QStompFramePrivate
{
public:
    QStompRequestFrame::RequestType type = QStompRequestFrame::RequestInvalid;
};

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
    : QStompFrame(other, new QStompRequestFramePrivate(*other.d_func()))
{
}

QStompRequestFrame::~QStompRequestFrame() = default;

QStompRequestFrame &QStompRequestFrame::operator=(const QStompRequestFrame &other)
{
    *d_func() = *other.d_func();
    return *this;
}

QByteArray QStompRequestFrame::toByteArray() const
{
    Q_D(const QStompRequestFrame);
    return StompRequestWords.serialise(*this, d->type);
}

bool QStompRequestFrame::parseHeaderLine(const QByteArray &line, int number)
{
    Q_D(QStompRequestFrame);
    if (number != 0)
        return QStompFrame::parseHeaderLine(line, number);
    const int type = StompRequestWords.typeOf(line.constData(), line.size());
    if (type == 0)
        return false;
    d->type = RequestType(type);
    return true;
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
