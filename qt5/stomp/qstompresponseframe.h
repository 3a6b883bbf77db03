#ifndef ORVELEXTLIB_QSTOMPRESPONSEFRAME_H
#define ORVELEXTLIB_QSTOMPRESPONSEFRAME_H

#include <stomp/qstompframe.h>

#include <QMetaType>

class QStompResponseFramePrivate;

/// A frame the broker sends: CONNECTED, MESSAGE, RECEIPT or ERROR.
class ORVELEXTLIB_EXPORT QStompResponseFrame : public QStompFrame
{
public:
    /// The command of a response frame; each value but ResponseInvalid is
    /// written as the command word named after it.
    enum ResponseType {
        ResponseInvalid = 0, ///< No command: the frame is not valid.
        ResponseConnected, ///< "CONNECTED"
        ResponseMessage, ///< "MESSAGE"
        ResponseReceipt, ///< "RECEIPT"
        ResponseError ///< "ERROR"
    };

    /// An invalid frame of type ResponseInvalid.
    QStompResponseFrame();
    /// Valid exactly when `type` is not ResponseInvalid.
    explicit QStompResponseFrame(ResponseType type);
    /// Parses wire bytes; the frame is valid when they parse.
    explicit QStompResponseFrame(const QByteArray &frame);
    /// Copies the whole frame, type included.
    ///@{
    QStompResponseFrame(const QStompResponseFrame &other);
    QStompResponseFrame &operator=(const QStompResponseFrame &other);
    ///@}
    /// Out of line, so the class's vtable and destructor stay in the library.
    ~QStompResponseFrame() override;

    /// The command line, then the base serialisation; empty when not valid or untyped.
    QByteArray toByteArray() const override;
    /// Line 0 must be one of the four response command words, exactly.
    bool parseHeaderLine(const QByteArray &line, int number) override;

    /// Sets the type; the frame becomes valid exactly when it is not ResponseInvalid.
    void setType(ResponseType type);
    /// The frame's command; ResponseInvalid until set or parsed.
    ResponseType type() const;

    /// The "destination" header: presence, value (null when absent), and
    /// setting it (the first entry's value, or a new entry).
    ///@{
    bool hasDestination() const;
    QByteArray destination() const;
    void setDestination(const QByteArray &destination);
    ///@}

    /// The "subscription" header of a MESSAGE, as the destination.
    ///@{
    bool hasSubscriptionId() const;
    QByteArray subscriptionId() const;
    void setSubscriptionId(const QByteArray &id);
    ///@}

    /// The "message-id" header, as the destination.
    ///@{
    bool hasMessageId() const;
    QByteArray messageId() const;
    void setMessageId(const QByteArray &id);
    ///@}

    /// The "receipt-id" header of a RECEIPT, as the destination.
    ///@{
    bool hasReceiptId() const;
    QByteArray receiptId() const;
    void setReceiptId(const QByteArray &id);
    ///@}

    /// The "message" header of an ERROR, as the destination.
    ///@{
    bool hasMessage() const;
    QByteArray message() const;
    void setMessage(const QByteArray &message);
    ///@}

private:
    Q_DECLARE_PRIVATE(QStompResponseFrame)
};

Q_DECLARE_METATYPE(QStompResponseFrame)

#endif // ORVELEXTLIB_QSTOMPRESPONSEFRAME_H
