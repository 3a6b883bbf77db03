#ifndef ORVELEXTLIB_QSTOMPREQUESTFRAME_H
#define ORVELEXTLIB_QSTOMPREQUESTFRAME_H

#include <stomp/qstompframe.h>

#include <QMetaType>

class QStompRequestFramePrivate;

/// A frame the client sends: CONNECT, STOMP, SEND, SUBSCRIBE, UNSUBSCRIBE,
/// BEGIN, COMMIT, ABORT, ACK, NACK or DISCONNECT.
class ORVELEXTLIB_EXPORT QStompRequestFrame : public QStompFrame
{
public:
    enum RequestType {
        RequestInvalid = 0,
        RequestConnect,
        RequestStomp,
        RequestSend,
        RequestSubscribe,
        RequestUnsubscribe,
        RequestBegin,
        RequestCommit,
        RequestAbort,
        RequestAck,
        RequestNack,
        RequestDisconnect
    };

    enum AckType {
        AckAuto = 0,
        AckClient
    };

    /// An invalid frame of type RequestInvalid.
    QStompRequestFrame();
    /// Valid exactly when `type` is not RequestInvalid.
    explicit QStompRequestFrame(RequestType type);
    /// Parses wire bytes; the frame is valid when they parse.
    explicit QStompRequestFrame(const QByteArray &frame);
    QStompRequestFrame(const QStompRequestFrame &other);
    QStompRequestFrame &operator=(const QStompRequestFrame &other);

    /// The command line, then the base serialisation; empty when not valid or untyped.
    QByteArray toByteArray() const override;
    /// Line 0 must be one of the eleven request command words, exactly.
    bool parseHeaderLine(const QByteArray &line, int number) override;

    /// Sets the type; the frame becomes valid exactly when it is not RequestInvalid.
    void setType(RequestType type);
    RequestType type() const;

    bool hasDestination() const;
    QByteArray destination() const;
    void setDestination(const QByteArray &destination);

    bool hasTransactionId() const;
    QByteArray transactionId() const;
    void setTransactionId(const QByteArray &id);

    bool hasMessageId() const;
    QByteArray messageId() const;
    void setMessageId(const QByteArray &id);

    /// The "receipt" header the broker answers with a RECEIPT frame.
    bool hasReceiptId() const;
    QByteArray receiptId() const;
    void setReceiptId(const QByteArray &id);

    /// The "id" header of SUBSCRIBE, UNSUBSCRIBE, ACK and NACK.
    bool hasSubscriptionId() const;
    QByteArray subscriptionId() const;
    void setSubscriptionId(const QByteArray &id);

    bool hasAckType() const;
    /// AckClient when "ack" is exactly "client"; AckAuto otherwise, also when absent.
    AckType ackType() const;
    void setAckType(AckType type);

private:
    Q_DECLARE_PRIVATE(QStompRequestFrame)
};

Q_DECLARE_METATYPE(QStompRequestFrame)

#endif // ORVELEXTLIB_QSTOMPREQUESTFRAME_H
