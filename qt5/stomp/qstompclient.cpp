#include "qstompclient.h"
#include "qstompclient_p.h"
#include "qstompframe_p.h"

#include <QDebug>
#include <QTextCodec>
#include <QWebSocket>

#include <cstring>

namespace {
// True when `data` holds nothing but line breaks (LF or CR LF).
bool isLineBreaks(const QByteArray &data)
{
    for (int i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\r' && i + 1 < data.size() && data.at(i + 1) == '\n')
            ++i;
        else if (data.at(i) != '\n')
            return false;
    }
    return true;
}
} // namespace

QStompClientPrivate::QStompClientPrivate(QStompClient *q)
    : textCodec(stompUtf8Codec())
    , q_ptr(q)
{
}

void QStompClientPrivate::makeConnections()
{
    Q_Q(QStompClient);
    if (!socket)
        return;
    QObject::connect(socket, &QWebSocket::connected, q, &QStompClient::socketConnected);
    QObject::connect(socket, &QWebSocket::disconnected, q, &QStompClient::socketDisconnected);
    QObject::connect(socket, &QWebSocket::stateChanged, q, &QStompClient::socketStateChanged);
    QObject::connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), q,
                     QOverload<QAbstractSocket::SocketError>::of(&QStompClient::socketError));
    // The private slots have no member function to point at: hosts see these
    // connections to the named slots.
    QObject::connect(socket, SIGNAL(binaryMessageReceived(QByteArray)), q,
                     SLOT(_q_socketReadyRead(QByteArray)));
    QObject::connect(socket, SIGNAL(textMessageReceived(QString)), q,
                     SLOT(_q_socketReadyRead(QString)));
    QObject::connect(socket, SIGNAL(sslErrors(QList<QSslError>)), q,
                     SLOT(_q_sslErrors(QList<QSslError>)));
}

void QStompClientPrivate::setFrameStart(int start)
{
    frameStart = start;
    commandChecked = false;
    headerEnd = -1;
    lineBreakSize = 0;
    bodyLength = -2;
}

void QStompClientPrivate::compactFrameBuffer()
{
    const int consumed = frameStart;
    if (consumed == 0)
        return;
    if (consumed >= frameBuffer.size()) {
        frameBuffer.clear();
        for (QStompPatternFinder *finder : {&lineFeed, &headerEndLf, &headerEndCrLf, &lengthLf,
                                            &lengthCrLf, &nul, &nulLf, &nulCrLf})
            finder->reset();
        lengthLinePos = -1;
        setFrameStart(0);
        return;
    }
    frameBuffer.remove(0, consumed);
    for (QStompPatternFinder *finder : {&lineFeed, &headerEndLf, &headerEndCrLf, &lengthLf,
                                        &lengthCrLf, &nul, &nulLf, &nulCrLf})
        finder->shift(consumed);
    frameStart = 0;
    if (headerEnd >= 0)
        headerEnd -= consumed;
    lengthLinePos = lengthLinePos >= consumed ? lengthLinePos - consumed : -1;
}

qint64 QStompClientPrivate::lookUpBodyLength()
{
    QStompPatternFinder &finder = lineBreakSize == 1 ? lengthLf : lengthCrLf;
    const int k = finder.find(frameBuffer, frameStart);
    if (k < 0 || k >= headerEnd)
        return -1;
    if (k == lengthLinePos)
        return lengthLineValue;
    lengthLinePos = k;
    lengthLineValue = -1;
    // The line ends before or at the header end, which is a line break too.
    const int lineEnd = lineBreakSize == 1 ? frameBuffer.indexOf('\n', k + 1)
                                           : frameBuffer.indexOf("\r\n", k + 2);
    if (lineEnd < 0)
        return -1;
    const char *line = frameBuffer.constData() + k;
    const void *colon = std::memchr(line, ':', size_t(lineEnd - k));
    if (!colon)
        return -1;
    const int valueStart = int(static_cast<const char *>(colon) - frameBuffer.constData()) + 1;
    bool ok = false;
    const int length = frameBuffer.mid(valueStart, lineEnd - valueStart).toInt(&ok, 10);
    if (ok && length >= 0)
        lengthLineValue = length;
    return lengthLineValue;
}

quint32 QStompClientPrivate::findMessageBytes()
{
    for (;;) {
        const char *data = frameBuffer.constData();
        const int size = frameBuffer.size();

        if (!commandChecked) {
            // Line breaks after a frame's terminator belong to that frame
            // (heart-beats, or the LF behind a frame cut by its length).
            int start = frameStart;
            while (start < size) {
                if (data[start] == '\n')
                    ++start;
                else if (data[start] == '\r' && start + 1 < size && data[start + 1] == '\n')
                    start += 2;
                else
                    break;
            }
            if (start != frameStart)
                setFrameStart(start);
        }
        if (frameStart >= size)
            return 0;

        // The buffer must start with a command line; otherwise drop bytes
        // through the next terminator and look again.
        if (!commandChecked) {
            const int lf = lineFeed.find(frameBuffer, frameStart);
            if (lf >= 0) {
                int end = lf;
                if (end > frameStart && data[end - 1] == '\r')
                    --end;
                if (isStompCommand(data + frameStart, end - frameStart)) {
                    commandChecked = true;
                } else {
                    qCWarning(STOMP_LOGGER, "QStomp: Framebuffer corrupted, repairing...");
                    int t;
                    if ((t = nulLf.find(frameBuffer, frameStart)) >= 0)
                        setFrameStart(t + 2);
                    else if ((t = nulCrLf.find(frameBuffer, frameStart)) >= 0)
                        setFrameStart(t + 3);
                    else if ((t = nul.find(frameBuffer, frameStart)) >= 0)
                        setFrameStart(t + 1);
                    else
                        setFrameStart(size);
                    continue;
                }
            }
        }

        // Header end and line break, as QStompFrame::parse() decides them.
        if (headerEnd < 0) {
            lineBreakSize = stompHeaderEnd(frameStart, headerEndLf.find(frameBuffer, frameStart),
                                           headerEndCrLf.find(frameBuffer, frameStart), &headerEnd);
        }

        // A frame with a "content-length" ends after its body and one more
        // byte, the terminator; NUL bytes inside the body are data. Until the
        // whole body is there, wait: a NUL in the part received so far is no end.
        if (headerEnd >= 0) {
            if (bodyLength == -2)
                bodyLength = lookUpBodyLength();
            if (bodyLength >= 0) {
                const qint64 bodyStart = headerEnd + 2 * lineBreakSize;
                if (bodyLength > size - bodyStart)
                    return 0;
                return quint32(bodyStart + bodyLength + 1 - frameStart);
            }
        }

        // Otherwise the frame ends at the first NUL followed by its line
        // break, or else at the first NUL.
        int t = -1;
        if (lineBreakSize == 1)
            t = nulLf.find(frameBuffer, frameStart);
        else if (lineBreakSize == 2)
            t = nulCrLf.find(frameBuffer, frameStart);
        if (t >= 0)
            return quint32(t + 1 + lineBreakSize - frameStart);
        const int z = nul.find(frameBuffer, frameStart);
        if (z >= 0)
            return quint32(z + 1 - frameStart);
        return 0;
    }
}

void QStompClientPrivate::_q_socketReadyRead(const QByteArray &data)
{
    Q_Q(QStompClient);
    const QPointer<QStompClient> guard(q);
    emit q->bytesRecieved(data.size());
    if (!guard)
        return;

    // Short messages are heart-beats, unless a frame is being received:
    // then they are its last bytes. Line breaks alone still count as a
    // heart-beat then, or a frame that never completes would hide them all.
    const bool frameOpen = frameStart < frameBuffer.size() || terminatorOwed;
    if (data.size() <= 3 && !data.isEmpty() && data.at(0) == '\n'
        && (!frameOpen || isLineBreaks(data))) {
        emit q->heartBeatRecieved();
        if (!guard)
            return;
    }
    if (data.size() <= 3 && !frameOpen)
        return;
    if (data.isEmpty())
        return;

    frameBuffer.append(data);
    if (terminatorOwed) {
        terminatorOwed = false;
        setFrameStart(frameStart + 1);
    }

    bool got = false;
    while (const quint32 n = findMessageBytes()) {
        const int available = frameBuffer.size() - frameStart;
        const int take = n > quint32(available) ? available : int(n);
        // parse() copies what it keeps, so the frame may look into the buffer.
        const QStompResponseFrame frame(
            QByteArray::fromRawData(frameBuffer.constData() + frameStart, take));
        if (frame.isValid()) {
            frames.append(frame);
            got = true;
        } else {
            qCWarning(STOMP_LOGGER, "QStomp: Invalid frame received!");
        }
        if (n > quint32(available))
            terminatorOwed = true;
        setFrameStart(frameStart + take);
    }

    if (frameBuffer.size() - frameStart > frameBufferLimit) {
        qCWarning(STOMP_LOGGER, "QStomp: Framebuffer corrupted, repairing...");
        setFrameStart(frameBuffer.size());
    }
    compactFrameBuffer();

    if (!got)
        return;
    qCDebug(STOMP_LOGGER).noquote() << QStringLiteral("%1 bytes recieved").arg(data.size());
    emit q->frameReceived();
}

void QStompClientPrivate::_q_socketReadyRead(const QString &text)
{
    _q_socketReadyRead(text.toUtf8());
}

void QStompClientPrivate::_q_sslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        qWarning() << int(error.error()) << error.errorString();
}

QStompClient::QStompClient(QObject *parent)
    : QObject(parent)
    , d_ptr(new QStompClientPrivate(this))
{
}

QStompClient::~QStompClient() = default;

namespace {
// A socket the client owns is replaced: it must not reach the client any
// more, and it may be the sender of the signal being handled right now.
void retireOwnedSocket(QWebSocket *socket, QStompClient *client)
{
    if (!socket || socket->parent() != client)
        return;
    QObject::disconnect(socket, nullptr, client, nullptr);
    socket->deleteLater();
}
} // namespace

void QStompClient::connectToHost(const QUrl &url, const QSslConfiguration &config)
{
    Q_D(QStompClient);
    retireOwnedSocket(d->socket, this);
    d->socket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
    d->socket->setSslConfiguration(config);
    d->makeConnections();
    d->socket->open(url);
}

void QStompClient::setSocket(QWebSocket *socket)
{
    Q_D(QStompClient);
    if (socket && socket == d->socket)
        return;
    retireOwnedSocket(d->socket, this);
    d->socket = socket;
    d->makeConnections();
}

QWebSocket *QStompClient::socket() const
{
    Q_D(const QStompClient);
    return d->socket;
}

QAbstractSocket::SocketState QStompClient::socketState() const
{
    Q_D(const QStompClient);
    return d->socket ? d->socket->state() : QAbstractSocket::UnconnectedState;
}

QAbstractSocket::SocketError QStompClient::socketError() const
{
    Q_D(const QStompClient);
    return d->socket ? d->socket->error() : QAbstractSocket::UnknownSocketError;
}

QString QStompClient::socketErrorString() const
{
    Q_D(const QStompClient);
    return d->socket ? d->socket->errorString() : QStringLiteral("No socket");
}

void QStompClient::disconnectFromHost()
{
    Q_D(QStompClient);
    if (d->socket)
        d->socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

QByteArray QStompClient::contentEncoding() const
{
    Q_D(const QStompClient);
    return d->textCodec ? d->textCodec->name() : QByteArray();
}

void QStompClient::setContentEncoding(const QByteArray &name)
{
    Q_D(QStompClient);
    d->textCodec = QTextCodec::codecForName(name);
}

void QStompClient::setContentEncoding(const QTextCodec *codec)
{
    Q_D(QStompClient);
    d->textCodec = codec;
}

int QStompClient::frameBufferLimit() const
{
    Q_D(const QStompClient);
    return d->frameBufferLimit;
}

void QStompClient::setFrameBufferLimit(int bytes)
{
    Q_D(QStompClient);
    d->frameBufferLimit = qMax(0, bytes);
}

int QStompClient::framesAvailable() const
{
    Q_D(const QStompClient);
    return d->frames.size();
}

QStompResponseFrame QStompClient::fetchFrame()
{
    Q_D(QStompClient);
    return d->frames.isEmpty() ? QStompResponseFrame() : d->frames.takeFirst();
}

QList<QStompResponseFrame> QStompClient::fetchAllFrames()
{
    Q_D(QStompClient);
    QList<QStompResponseFrame> all;
    all.swap(d->frames);
    return all;
}

void QStompClient::login(const QByteArray &host, QPair<int, int> heartBeat, const QByteArray &user,
                         const QByteArray &password)
{
    QStompRequestFrame frame(QStompRequestFrame::RequestConnect);
    if (!user.isEmpty()) {
        frame.setHeaderValue(QByteArrayLiteral("login"), user);
        frame.setHeaderValue(QByteArrayLiteral("passcode"), password);
    }
    frame.setHeaderValue(QByteArrayLiteral("accept-version"), QByteArrayLiteral("1.2"));
    frame.setHeaderValue(QByteArrayLiteral("host"), host);
    frame.setHeaderValue(QByteArrayLiteral("heart-beat"),
                         QStringLiteral("%1,%2").arg(heartBeat.first).arg(heartBeat.second).toLatin1());
    frame.setBody(QString());
    sendFrame(frame);
}

void QStompClient::logout()
{
    QStompRequestFrame frame(QStompRequestFrame::RequestDisconnect);
    frame.setBody(QString());
    sendFrame(frame);
}

void QStompClient::send(const QByteArray &destination, const QString &body,
                        const QByteArray &transactionId, const HeaderList &headers)
{
    Q_D(QStompClient);
    QStompRequestFrame frame(QStompRequestFrame::RequestSend);
    frame.setHeaderValues(headers);
    frame.setContentEncoding(d->textCodec);
    frame.setDestination(destination);
    frame.setBody(body);
    if (!transactionId.isNull())
        frame.setTransactionId(transactionId);
    sendFrame(frame);
}

void QStompClient::subscribe(const QByteArray &destination, bool autoAck, const QByteArray &id,
                             const HeaderList &headers)
{
    QStompRequestFrame frame(QStompRequestFrame::RequestSubscribe);
    frame.setHeaderValues(headers);
    frame.setDestination(destination);
    frame.setSubscriptionId(id);
    frame.setAckType(autoAck ? QStompRequestFrame::AckAuto : QStompRequestFrame::AckClient);
    frame.setBody(QString());
    sendFrame(frame);
}

void QStompClient::unsubscribe(const QByteArray &id, const HeaderList &headers)
{
    QStompRequestFrame frame(QStompRequestFrame::RequestUnsubscribe);
    frame.setHeaderValues(headers);
    frame.setSubscriptionId(id);
    frame.setBody(QString());
    sendFrame(frame);
}

namespace {
QStompRequestFrame transactionFrame(QStompRequestFrame::RequestType type,
                                    const QByteArray &transactionId,
                                    const QStompClient::HeaderList &headers)
{
    QStompRequestFrame frame(type);
    frame.setHeaderValues(headers);
    frame.setTransactionId(transactionId);
    frame.setBody(QString());
    return frame;
}

QStompRequestFrame acknowledgeFrame(QStompRequestFrame::RequestType type, const QByteArray &id,
                                    const QByteArray &transactionId,
                                    const QStompClient::HeaderList &headers)
{
    QStompRequestFrame frame(type);
    frame.setHeaderValues(headers);
    frame.setSubscriptionId(id);
    if (!transactionId.isNull())
        frame.setTransactionId(transactionId);
    frame.setBody(QString());
    return frame;
}
} // namespace

void QStompClient::begin(const QByteArray &transactionId, const HeaderList &headers)
{
    sendFrame(transactionFrame(QStompRequestFrame::RequestBegin, transactionId, headers));
}

void QStompClient::commit(const QByteArray &transactionId, const HeaderList &headers)
{
    sendFrame(transactionFrame(QStompRequestFrame::RequestCommit, transactionId, headers));
}

void QStompClient::abort(const QByteArray &transactionId, const HeaderList &headers)
{
    sendFrame(transactionFrame(QStompRequestFrame::RequestAbort, transactionId, headers));
}

void QStompClient::ack(const QByteArray &id, const QByteArray &transactionId, const HeaderList &headers)
{
    sendFrame(acknowledgeFrame(QStompRequestFrame::RequestAck, id, transactionId, headers));
}

void QStompClient::nack(const QByteArray &id, const QByteArray &transactionId, const HeaderList &headers)
{
    sendFrame(acknowledgeFrame(QStompRequestFrame::RequestNack, id, transactionId, headers));
}

void QStompClient::sendFrame(const QStompRequestFrame &frame)
{
    Q_D(QStompClient);
    if (!d->socket || d->socket->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray bytes = frame.toByteArray();
    if (bytes.isEmpty()) {
        qCWarning(STOMP_LOGGER, "QStomp: Invalid frame not sent!");
        return;
    }
    qCDebug(STOMP_LOGGER).noquote() << QStringLiteral("Send %1 bytes").arg(bytes.size());

    // A text message carries valid UTF-8 only, and QString ends at a NUL:
    // frames that would change that way go out as binary messages.
    bool ascii = true;
    bool asText = true;
    for (const char c : bytes) {
        if (c == '\0') {
            asText = false;
            break;
        }
        if (c & 0x80)
            ascii = false;
    }
    QString text;
    if (asText && ascii) {
        text = QString::fromLatin1(bytes.constData(), bytes.size());
    } else if (asText) {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        text = stompUtf8Codec()->toUnicode(bytes.constData(), bytes.size(), &state);
        asText = state.invalidChars == 0 && state.remainingChars == 0;
    }
    if (asText) {
        text += QLatin1String("\0\n", 2);
        d->socket->sendTextMessage(text);
    } else {
        d->socket->sendBinaryMessage(bytes + QByteArray("\0\n", 2));
    }
    d->socket->flush();
    emit bytesSended(bytes.size());
}

void QStompClient::sendHeartBeat()
{
    Q_D(QStompClient);
    if (!d->socket || d->socket->state() != QAbstractSocket::ConnectedState)
        return;
    d->socket->sendTextMessage(QStringLiteral("\n"));
    d->socket->flush();
}

#include "moc_qstompclient.cpp"
