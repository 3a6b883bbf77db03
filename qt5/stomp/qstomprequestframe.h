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
    /// The command of a request frame; each value but RequestInvalid is
    /// written as the command word named after it.
    enum RequestType {
        RequestInvalid = 0, ///< No command: the frame is not valid.
        RequestConnect, ///< "CONNECT"
        RequestStomp, ///< "STOMP"
        RequestSend, ///< "SEND"
        RequestSubscribe, ///< "SUBSCRIBE"
        RequestUnsubscribe, ///< "UNSUBSCRIBE"
        RequestBegin, ///< "BEGIN"
        RequestCommit, ///< "COMMIT"
        RequestAbort, ///< "ABORT"
        RequestAck, ///< "ACK"
        RequestNack, ///< "NACK"
        RequestDisconnect ///< "DISCONNECT"
    };

    /// The acknowledgement mode of a subscription (the "ack" header).
    enum AckType {
        AckAuto = 0, ///< "auto": the broker counts a message as acknowledged when sent.
        AckClient ///< "client": the client acknowledges with ACK or NACK.
    };

    /// An invalid frame of type RequestInvalid.
    QStompRequestFrame();
    /// Valid exactly when `type` is not RequestInvalid.
    explicit QStompRequestFrame(RequestType type);
    /// Parses wire bytes; the frame is valid when they parse.
    explicit QStompRequestFrame(const QByteArray &frame);
    /// Copies the whole frame, type included.
    ///@{
    QStompRequestFrame(const QStompRequestFrame &other);
    /// Out of line, so the class's vtable and destructor stay in the library.
    ~QStompRequestFrame() override;
    QStompRequestFrame &operator=(const QStompRequestFrame &other);
    ///@}

    /// The command line, then the base serialisation; empty when not valid or untyped.
    QByteArray toByteArray() const override;
    /// Line 0 must be one of the eleven request command words, exactly.
    bool parseHeaderLine(const QByteArray &line, int number) override;

    /// Sets the type; the frame becomes valid exactly when it is not RequestInvalid.
    void setType(RequestType type);
    /// The frame's command; RequestInvalid until set or parsed.
    RequestType type() const;

    /// The "destination" header: presence, value (null when absent), and
    /// setting it (the first entry's value, or a new entry).
    ///@{
    bool hasDestination() const;
    QByteArray destination() const;
    void setDestination(const QByteArray &destination);
    ///@}

    /// The "transaction" header, as the destination.
    ///@{
    bool hasTransactionId() const;
    QByteArray transactionId() const;
    void setTransactionId(const QByteArray &id);
    ///@}

    /// The "message-id" header, as the destination.
    ///@{
    bool hasMessageId() const;
    QByteArray messageId() const;
    void setMessageId(const QByteArray &id);
    ///@}

    /// The "receipt" header, which the broker answers with a RECEIPT frame;
    /// as the destination.
    ///@{
    bool hasReceiptId() const;
    QByteArray receiptId() const;
    void setReceiptId(const QByteArray &id);
    ///@}

    /// The "id" header of SUBSCRIBE, UNSUBSCRIBE, ACK and NACK; as the destination.
    ///@{
    bool hasSubscriptionId() const;
    QByteArray subscriptionId() const;
    void setSubscriptionId(const QByteArray &id);
    ///@}

    /// Whether there is an "ack" header.
    bool hasAckType() const;
    /// AckClient when "ack" is exactly "client"; AckAuto otherwise, also when absent.
    AckType ackType() const;
    /// Sets "ack" to "client" for AckClient, "auto" for any other value.
    void setAckType(AckType type);

private:
    Q_DECLARE_PRIVATE(QStompRequestFrame)
};

Q_DECLARE_METATYPE(QStompRequestFrame)

#endif // ORVELEXTLIB_QSTOMPREQUESTFRAME_H
