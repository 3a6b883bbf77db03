#ifndef ORVELEXTLIB_QSTOMPCLIENT_H
#define ORVELEXTLIB_QSTOMPCLIENT_H

#include <orvelextlib_export.h>
#include <stomp/qstompframe.h>
#include <stomp/qstomprequestframe.h>
#include <stomp/qstompresponseframe.h>

#include <QAbstractSocket>
#include <QList>
#include <QObject>
#include <QPair>
#include <QScopedPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QUrl>

class QTextCodec;
class QWebSocket;
class QStompClientPrivate;

/// A STOMP 1.2 client over one QWebSocket. It sends each request frame as one
/// WebSocket message, cuts incoming messages into frames (by "content-length"
/// or by the NUL terminator) and queues the valid ones for fetchFrame(). It
/// keeps no protocol state and has no timer: the host calls login() on
/// socketConnected(), reads CONNECTED, MESSAGE, RECEIPT and ERROR frames on
/// frameReceived(), and calls sendHeartBeat() on its own schedule.
///
/// Lives in one thread; call it only from there. Frames sent while the socket
/// is not connected are dropped silently.
///
/// Incoming bytes that do not yet form a complete frame are kept in a buffer
/// of at most frameBufferLimit() bytes (8 MiB by default). A buffer that
/// outgrows it without a complete frame is dropped with the warning
/// "QStomp: Framebuffer corrupted, repairing...".
class ORVELEXTLIB_EXPORT QStompClient : public QObject
{
    Q_OBJECT
public:
    /// Extra header entries of a command; they come first on the wire, and an
    /// entry the command sets itself (same key in any case) gets its value.
    typedef QList<QPair<QByteArray, QByteArray>> HeaderList;

    /// The default limit of buffered bytes of one incomplete frame.
    static constexpr int DefaultFrameBufferLimit = 8 * 1024 * 1024;

    /// A client without a socket, sending bodies in UTF-8.
    explicit QStompClient(QObject *parent = nullptr);
    /// Does not close the socket (a socket the client created dies with it).
    ~QStompClient() override;

    /// Creates a socket owned by the client (deleting a previous one it
    /// owns), applies `config` and opens `url`.
    void connectToHost(const QUrl &url,
                       const QSslConfiguration &config = QSslConfiguration::defaultConfiguration());
    /// Uses `socket` (may be null) without opening, closing or re-parenting it.
    void setSocket(QWebSocket *socket);
    /// The socket in use; null without one (also once it was destroyed).
    QWebSocket *socket() const;
    /// The socket's state; UnconnectedState without a socket.
    QAbstractSocket::SocketState socketState() const;
    /// The socket's last error; UnknownSocketError without a socket.
    QAbstractSocket::SocketError socketError() const;
    /// The socket's error text; "No socket" without a socket.
    QString socketErrorString() const;

    /// Name of the codec for outgoing SEND bodies ("UTF-8" by default).
    QByteArray contentEncoding() const;
    /// Sets the codec for outgoing SEND bodies by name; a name Qt does not
    /// know leaves no codec, and bodies then go out as UTF-8 without a
    /// "content-encoding" header.
    void setContentEncoding(const QByteArray &name);
    /// Sets the codec for outgoing SEND bodies; the client does not own it.
    void setContentEncoding(const QTextCodec *codec);

    /// Most bytes of one incomplete frame kept while waiting for the rest.
    int frameBufferLimit() const;
    /// Sets frameBufferLimit(); a negative value counts as 0.
    void setFrameBufferLimit(int bytes);

    /// The number of received frames waiting in the queue.
    int framesAvailable() const;
    /// Removes and returns the oldest frame; an invalid frame when there is none.
    QStompResponseFrame fetchFrame();
    /// Returns all frames, oldest first, and empties the queue.
    QList<QStompResponseFrame> fetchAllFrames();

    /// Sends CONNECT: "login" and "passcode" when `user` is not empty, then
    /// "accept-version" 1.2, "host" and "heart-beat" (`heartBeat` as
    /// "first,second" in milliseconds), with an empty body.
    void login(const QByteArray &host, QPair<int, int> heartBeat = qMakePair(0, 0),
               const QByteArray &user = QByteArray(), const QByteArray &password = QByteArray());
    /// Sends DISCONNECT with an empty body; the socket stays open.
    void logout();
    /// Sends SEND: `headers`, "content-encoding" (the client's codec),
    /// "destination", `body` encoded with the codec and its "content-length",
    /// and "transaction" when `transactionId` is not null.
    void send(const QByteArray &destination, const QString &body,
              const QByteArray &transactionId = QByteArray(), const HeaderList &headers = HeaderList());
    /// Sends SUBSCRIBE: `headers`, "destination", "id" (also when empty) and
    /// "ack" ("auto" when `autoAck`, else "client"), with an empty body.
    void subscribe(const QByteArray &destination, bool autoAck, const QByteArray &id = QByteArray(),
                   const HeaderList &headers = HeaderList());
    /// Sends UNSUBSCRIBE: `headers` and "id", with an empty body.
    void unsubscribe(const QByteArray &id, const HeaderList &headers = HeaderList());
    /// Send BEGIN, COMMIT or ABORT: `headers` and "transaction", with an empty body.
    ///@{
    void begin(const QByteArray &transactionId, const HeaderList &headers = HeaderList());
    void commit(const QByteArray &transactionId, const HeaderList &headers = HeaderList());
    void abort(const QByteArray &transactionId, const HeaderList &headers = HeaderList());
    ///@}
    /// Send ACK or NACK: `headers`, "id", and "transaction" when
    /// `transactionId` is not null, with an empty body.
    ///@{
    void ack(const QByteArray &id, const QByteArray &transactionId = QByteArray(),
             const HeaderList &headers = HeaderList());
    void nack(const QByteArray &id, const QByteArray &transactionId = QByteArray(),
              const HeaderList &headers = HeaderList());
    ///@}
    /// Sends the frame followed by NUL and LF as a text message, or as a
    /// binary message when its bytes are not valid UTF-8 or hold a NUL (a
    /// text message would change them). Invalid frames are not sent.
    void sendFrame(const QStompRequestFrame &frame);
    /// Sends a single LF when the socket is connected.
    void sendHeartBeat();

signals:
    /// Forwarded from the socket's connected(), disconnected(),
    /// error(QAbstractSocket::SocketError) and stateChanged(); the way socket
    /// failures reach the host.
    ///@{
    void socketConnected();
    void socketDisconnected();
    void socketError(QAbstractSocket::SocketError error);
    void socketStateChanged(QAbstractSocket::SocketState state);
    ///@}
    /// Once per incoming message that yielded at least one valid frame.
    void frameReceived();
    /// An incoming message of 1 to 3 bytes whose first byte is LF. While a
    /// frame is partly received, such a message also counts when it holds
    /// line breaks only (its bytes still go to that frame), so a frame that
    /// announces more body than arrives cannot hide the broker's heart-beats.
    void heartBeatRecieved();
    /// After each frame sent: the frame's size without NUL and LF.
    void bytesSended(int bytes);
    /// First thing for every incoming message.
    void bytesRecieved(int bytes);

public slots:
    /// Closes the socket with code 1000 and no reason; sends no DISCONNECT.
    void disconnectFromHost();

private:
    Q_DECLARE_PRIVATE(QStompClient)
    Q_DISABLE_COPY(QStompClient)
    QScopedPointer<QStompClientPrivate> d_ptr;

    Q_PRIVATE_SLOT(d_func(), void _q_socketReadyRead(QByteArray))
    Q_PRIVATE_SLOT(d_func(), void _q_socketReadyRead(QString))
    Q_PRIVATE_SLOT(d_func(), void _q_sslErrors(QList<QSslError>))
};

#endif // ORVELEXTLIB_QSTOMPCLIENT_H
