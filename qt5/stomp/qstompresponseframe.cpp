#include "qstompresponseframe.h"
#include "qstompframe_p.h"

class QStompResponseFramePrivate : public QStompFramePrivate
{
public:
    QStompResponseFrame::ResponseType type = QStompResponseFrame::ResponseInvalid;
};

QStompResponseFrame::QStompResponseFrame()
    : QStompFrame(new QStompResponseFramePrivate)
{
    setValid(false);
}

QStompResponseFrame::QStompResponseFrame(ResponseType type)
    : QStompFrame(new QStompResponseFramePrivate)
{
    setType(type);
}

QStompResponseFrame::QStompResponseFrame(const QByteArray &frame)
    : QStompFrame(new QStompResponseFramePrivate)
{
    setValid(parse(frame));
}

QStompResponseFrame::QStompResponseFrame(const QStompResponseFrame &other)
    : QStompFrame(other, new QStompResponseFramePrivate(*other.d_func()))
{
}

QStompResponseFrame::~QStompResponseFrame() = default;

QStompResponseFrame &QStompResponseFrame::operator=(const QStompResponseFrame &other)
{
    *d_func() = *other.d_func();
    return *this;
}

QByteArray QStompResponseFrame::toByteArray() const
{
    Q_D(const QStompResponseFrame);
    return StompResponseWords.serialise(*this, d->type);
}

bool QStompResponseFrame::parseHeaderLine(const QByteArray &line, int number)
{
    Q_D(QStompResponseFrame);
    if (number != 0)
        return QStompFrame::parseHeaderLine(line, number);
    const int type = StompResponseWords.typeOf(line.constData(), line.size());
    if (type == 0)
        return false;
    d->type = ResponseType(type);
    return true;
}

void QStompResponseFrame::setType(ResponseType type)
{
    Q_D(QStompResponseFrame);
    d->type = type;
    d->valid = type != ResponseInvalid;
}

QStompResponseFrame::ResponseType QStompResponseFrame::type() const
{
    Q_D(const QStompResponseFrame);
    return d->type;
}

bool QStompResponseFrame::hasDestination() const
{
    return headerHasKey(QByteArrayLiteral("destination"));
}

QByteArray QStompResponseFrame::destination() const
{
    return headerValue(QByteArrayLiteral("destination"));
}

void QStompResponseFrame::setDestination(const QByteArray &destination)
{
    setHeaderValue(QByteArrayLiteral("destination"), destination);
}

bool QStompResponseFrame::hasSubscriptionId() const
{
    return headerHasKey(QByteArrayLiteral("subscription"));
}

QByteArray QStompResponseFrame::subscriptionId() const
{
    return headerValue(QByteArrayLiteral("subscription"));
}

void QStompResponseFrame::setSubscriptionId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("subscription"), id);
}

bool QStompResponseFrame::hasMessageId() const
{
    return headerHasKey(QByteArrayLiteral("message-id"));
}

QByteArray QStompResponseFrame::messageId() const
{
    return headerValue(QByteArrayLiteral("message-id"));
}

void QStompResponseFrame::setMessageId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("message-id"), id);
}

bool QStompResponseFrame::hasReceiptId() const
{
    return headerHasKey(QByteArrayLiteral("receipt-id"));
}

QByteArray QStompResponseFrame::receiptId() const
{
    return headerValue(QByteArrayLiteral("receipt-id"));
}

void QStompResponseFrame::setReceiptId(const QByteArray &id)
{
    setHeaderValue(QByteArrayLiteral("receipt-id"), id);
}

bool QStompResponseFrame::hasMessage() const
{
    return headerHasKey(QByteArrayLiteral("message"));
}

QByteArray QStompResponseFrame::message() const
{
    return headerValue(QByteArrayLiteral("message"));
}

void QStompResponseFrame::setMessage(const QByteArray &message)
{
    setHeaderValue(QByteArrayLiteral("message"), message);
}
