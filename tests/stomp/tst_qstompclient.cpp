// QStompClient against a QWebSocketServer that plays the broker: exact wire
// bytes, frame cutting and its repairs, signals, socket ownership.

#include <stomp/qstompclient.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextCodec>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>
#include <utility>

#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

using ByteList = QList<QByteArray>;
using Operation = std::function<void(QStompClient &)>;
Q_DECLARE_METATYPE(Operation)

namespace {

// Plays the broker: accepts clients and records what the last one sends.
class FakeBroker : public QObject
{
public:
    FakeBroker()
    {
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                peer = socket;
                ++connections;
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this](const QString &text) { messages.append({text.toUtf8(), false}); });
                connect(socket, &QWebSocket::binaryMessageReceived, this,
                        [this](const QByteArray &bytes) { messages.append({bytes, true}); });
            }
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    void send(const QByteArray &bytes, bool asBinary)
    {
        if (asBinary)
            peer->sendBinaryMessage(bytes);
        else
            peer->sendTextMessage(QString::fromUtf8(bytes.constData(), bytes.size()));
    }

    QWebSocketServer server{QStringLiteral("fake-broker"), QWebSocketServer::NonSecureMode};
    QPointer<QWebSocket> peer;
    int connections = 0;
    QList<QPair<QByteArray, bool>> messages; // bytes, sent as binary
};

// The warnings (of the "stomp" and "default" categories) and the "stomp"
// debug lines since the test function began, caught instead of printed.
QStringList stompWarnings;
QStringList defaultWarnings;
QStringList stompDebugs;
QtMessageHandler previousHandler = nullptr;

void catchMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const bool stomp = qstrcmp(context.category, "stomp") == 0;
    if (type == QtWarningMsg && (stomp || qstrcmp(context.category, "default") == 0))
        (stomp ? stompWarnings : defaultWarnings).append(text);
    else if (type == QtDebugMsg && stomp)
        stompDebugs.append(text);
    else
        previousHandler(type, context, text);
}

const QString corrupted = QStringLiteral("QStomp: Framebuffer corrupted, repairing...");
const QString invalid = QStringLiteral("QStomp: Invalid frame received!");

} // namespace

class tst_QStompClient : public QObject
{
    Q_OBJECT

    FakeBroker *m_broker = nullptr;
    QStompClient *m_client = nullptr;

    void connectClient()
    {
        QSignalSpy connected(m_client, &QStompClient::socketConnected);
        m_client->connectToHost(m_broker->url());
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(m_broker->peer);
        QCOMPARE(m_client->socketState(), QAbstractSocket::ConnectedState);
    }

    void deliver(const ByteList &messages, bool binary = false)
    {
        QSignalSpy received(m_client, &QStompClient::bytesRecieved);
        for (const QByteArray &message : messages)
            m_broker->send(message, binary);
        QTRY_COMPARE(received.count(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(received.at(i).at(0).toInt(), messages.at(i).size());
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
        previousHandler = qInstallMessageHandler(catchMessage);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        QLoggingCategory::setFilterRules(QString());
    }

    void init()
    {
        stompWarnings.clear();
        defaultWarnings.clear();
        stompDebugs.clear();
        m_broker = new FakeBroker;
        QVERIFY(m_broker->server.listen(QHostAddress::LocalHost, 0));
        m_client = new QStompClient;
    }

    void cleanup()
    {
        delete m_client;
        delete m_broker;
    }

    void withoutSocket()
    {
        QStompClient client;
        QVERIFY(!client.socket());
        QCOMPARE(client.socketState(), QAbstractSocket::UnconnectedState);
        QCOMPARE(int(client.socketError()), -1);
        QCOMPARE(client.socketErrorString(), QStringLiteral("No socket"));
        QCOMPARE(client.framesAvailable(), 0);
        QCOMPARE(client.fetchFrame().type(), QStompResponseFrame::ResponseInvalid);
        QVERIFY(client.fetchAllFrames().isEmpty());
        QCOMPARE(client.frameBufferLimit(), 8 * 1024 * 1024);
        QCOMPARE(client.contentEncoding(), QByteArray("UTF-8"));

        QSignalSpy sent(&client, &QStompClient::bytesSended);
        client.login("/");
        client.sendHeartBeat();
        client.disconnectFromHost();
        QCOMPARE(sent.count(), 0);
    }

    void heartBeatsReceived_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("heartBeats");
        QTest::newRow("lf") << QByteArray("\n") << 1;
        QTest::newRow("cr-lf") << QByteArray("\r\n") << 0;
        QTest::newRow("three-lf") << QByteArray("\n\n\n") << 1;
        QTest::newRow("lf-then-other") << QByteArray("\nab") << 1;
        QTest::newRow("other-byte") << QByteArray("x") << 0;
    }

    void heartBeatsReceived()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, heartBeats);
        connectClient();
        QSignalSpy beats(m_client, &QStompClient::heartBeatRecieved);
        QSignalSpy frames(m_client, &QStompClient::frameReceived);
        deliver({message});
        QCOMPARE(beats.count(), heartBeats);
        QCOMPARE(frames.count(), 0);
        QVERIFY(stompWarnings.isEmpty());

        // Such messages never enter the buffer: a frame right after is whole.
        deliver({BYTES("RECEIPT\nreceipt-id:1\n\n\0\n")});
        QCOMPARE(frames.count(), 1);
        QCOMPARE(m_client->fetchFrame().receiptId(), QByteArray("1"));
    }

    void cutting_data()
    {
        QTest::addColumn<ByteList>("messages");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<ByteList>("frames");
        QTest::addColumn<int>("frameSignals");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<int>("heartBeats");
        const auto row = [](const char *tag, const ByteList &messages, const ByteList &frames, int frameSignals = 1,
                            const QStringList &warnings = {}, bool binary = false, int heartBeats = 0) {
            QTest::newRow(tag) << messages << binary << frames << frameSignals << warnings << heartBeats;
        };
        row("lf", {BYTES("MESSAGE\ndestination:/q\n\nabc\0\n")}, {"MESSAGE\ndestination:/q\n\nabc"});
        row("cr-lf", {BYTES("MESSAGE\r\ndestination:/q\r\n\r\nabc\0\r\n")}, {"MESSAGE\ndestination:/q\n\nabc"});
        row("two-frames-one-message", {BYTES("MESSAGE\nid:1\n\na\0\nMESSAGE\nid:2\n\nb\0\n")},
            {"MESSAGE\nid:1\n\na", "MESSAGE\nid:2\n\nb"});
        row("two-length-frames-one-message",
            {BYTES("MESSAGE\ncontent-length:1\n\na\0\nMESSAGE\ncontent-length:1\n\nb\0\n")},
            {"MESSAGE\ncontent-length:1\n\na", "MESSAGE\ncontent-length:1\n\nb"});
        row("line-breaks-between-frames",
            {BYTES("\nRECEIPT\nreceipt-id:1\n\n\0\n\n\r\n\nRECEIPT\nreceipt-id:2\n\n\0\n\n")},
            {"RECEIPT\nreceipt-id:1\n\n", "RECEIPT\nreceipt-id:2\n\n"});
        row("split-in-header", {BYTES("MESSAGE\ndestina"), BYTES("tion:/q\n\nabc\0\n")},
            {"MESSAGE\ndestination:/q\n\nabc"});
        row("split-after-header", {BYTES("MESSAGE\ncontent-length:3\n\n"), BYTES("abc\0\n")},
            {"MESSAGE\ncontent-length:3\n\nabc"});
        row("nul-in-length-body", {BYTES("MESSAGE\ncontent-length:5\n\na\0b\0c\0\n")},
            {BYTES("MESSAGE\ncontent-length:5\n\na\0b\0c")});
        row("nul-lf-in-length-body-split", {BYTES("MESSAGE\ncontent-length:7\n\na\0\nb"), BYTES("\0\nc\0\n")},
            {BYTES("MESSAGE\ncontent-length:7\n\na\0\nb\0\nc")});
        row("terminator-in-next-message",
            {BYTES("MESSAGE\ncontent-length:3\n\nabc"), BYTES("\0\nMESSAGE\ncontent-length:1\n\nd\0\n")},
            {"MESSAGE\ncontent-length:3\n\nabc", "MESSAGE\ncontent-length:1\n\nd"}, 2);
        row("terminator-alone-in-next-message",
            {BYTES("MESSAGE\ncontent-length:3\n\nabc"), BYTES("\0\n"), BYTES("RECEIPT\n\n\0\n")},
            {"MESSAGE\ncontent-length:3\n\nabc", "RECEIPT\n\n"}, 2);
        row("cr-lf-length-frames",
            {BYTES("MESSAGE\r\ncontent-length:2\r\n\r\n\0x\0\r\nMESSAGE\r\ncontent-length:0\r\n\r\n\0\r\n")},
            {BYTES("MESSAGE\ncontent-length:2\n\n\0x"), "MESSAGE\ncontent-length:0\n\n"});
        row("binary-latin-1", {BYTES("MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9t\xe9\0\n")},
            {"MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9t\xe9"}, 1, {}, true);
        row("length-beyond-frame-waits", {BYTES("MESSAGE\ncontent-length:9\n\nabc\0\n"), BYTES("defg\0\n")},
            {BYTES("MESSAGE\ncontent-length:9\n\nabc\0\ndefg")});
        // Line breaks alone are heart-beats also while a frame waits for its body, which they join.
        row("heart-beats-while-body-pending",
            {BYTES("MESSAGE\ncontent-length:10\n\nabc"), "\n", "\n\r\n", BYTES("def\0\n")},
            {"MESSAGE\ncontent-length:10\n\nabc\n\n\r\ndef"}, 1, {}, false, 2);
        // Repairs and refusals.
        row("garbage-before-frame", {BYTES("junk\0\nMESSAGE\nid:1\n\n\0\n")}, {"MESSAGE\nid:1\n\n"}, 1, {corrupted});
        row("repair-drops-through-next-terminator", {BYTES("x\nMESSAGE\nid:1\n\n\0\nMESSAGE\nid:2\n\n\0\n")},
            {"MESSAGE\nid:2\n\n"}, 1, {corrupted});
        row("repair-without-terminator", {BYTES("xyz\nabc"), BYTES("RECEIPT\n\n\0\n")}, {"RECEIPT\n\n"}, 1,
            {corrupted});
        row("request-command-from-broker", {BYTES("SEND\n\n\0\nRECEIPT\nreceipt-id:1\n\n\0\n")},
            {"RECEIPT\nreceipt-id:1\n\n"}, 1, {invalid});
        row("no-header-end", {BYTES("MESSAGE\0")}, {}, 0, {invalid});
    }

    void cutting()
    {
        QFETCH(ByteList, messages);
        QFETCH(bool, binary);
        QFETCH(ByteList, frames);
        QFETCH(int, frameSignals);
        QFETCH(QStringList, warnings);
        QFETCH(int, heartBeats);
        connectClient();
        QSignalSpy received(m_client, &QStompClient::frameReceived);
        QSignalSpy beats(m_client, &QStompClient::heartBeatRecieved);
        deliver(messages, binary);
        QCOMPARE(stompWarnings, warnings);
        QCOMPARE(received.count(), frameSignals);
        QCOMPARE(beats.count(), heartBeats);
        QCOMPARE(m_client->framesAvailable(), frames.size());
        for (const QByteArray &expected : qAsConst(frames))
            QCOMPARE(m_client->fetchFrame().toByteArray(), expected);
    }

    void manyFramesInOneMessage()
    {
        connectClient();
        QByteArray message;
        for (int i = 0; i < 10000; ++i)
            message += "MESSAGE\nmessage-id:" + QByteArray::number(i) + "\ncontent-length:2\n\nok" + BYTES("\0\n");
        QSignalSpy received(m_client, &QStompClient::frameReceived);
        deliver({message});
        QCOMPARE(received.count(), 1);
        const QList<QStompResponseFrame> frames = m_client->fetchAllFrames();
        QCOMPARE(frames.size(), 10000);
        for (int i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames.at(i).messageId(), QByteArray::number(i));
            QCOMPARE(frames.at(i).rawBody(), QByteArray("ok"));
        }
        QVERIFY(m_client->fetchAllFrames().isEmpty());
        QCOMPARE(m_client->framesAvailable(), 0);
        QVERIFY(stompWarnings.isEmpty());
    }

    void bigFrameInSmallPieces()
    {
        connectClient();
        QByteArray body(1024 * 1024, 'x');
        for (int i = 0; i < body.size(); i += 4093)
            body[i] = '\0';
        const QByteArray frame = "MESSAGE\ncontent-length:" + QByteArray::number(body.size()) + "\n\n" + body
                                 + BYTES("\0\n");
        ByteList pieces;
        for (int i = 0; i < frame.size(); i += 1024)
            pieces.append(frame.mid(i, 1024));
        QSignalSpy received(m_client, &QStompClient::frameReceived);
        deliver(pieces, true);
        QCOMPARE(received.count(), 1);
        QCOMPARE(m_client->fetchFrame().rawBody(), body);
        QVERIFY(stompWarnings.isEmpty());
    }

    void bufferLimit()
    {
        connectClient();
        m_client->setFrameBufferLimit(1024);
        QCOMPARE(m_client->frameBufferLimit(), 1024);
        QSignalSpy received(m_client, &QStompClient::frameReceived);

        // An unterminated frame below the limit is kept...
        deliver({"MESSAGE\ndestination:/q\n\n" + QByteArray(900, 'x')});
        QVERIFY(stompWarnings.isEmpty());
        // ...and dropped once it outgrows it.
        deliver({QByteArray(200, 'y')});
        QCOMPARE(stompWarnings, QStringList{corrupted});
        // The same for a frame that announces more than the limit.
        deliver({"MESSAGE\ncontent-length:100000\n\n" + QByteArray(1100, 'z')});
        QCOMPARE(stompWarnings, QStringList({corrupted, corrupted}));
        QCOMPARE(received.count(), 0);

        // A complete frame larger than the limit in one message is fine, and
        // the buffer is usable again.
        const QByteArray body(5000, 'b');
        deliver({"MESSAGE\ncontent-length:5000\n\n" + body + BYTES("\0\n")});
        QCOMPARE(received.count(), 1);
        QCOMPARE(m_client->fetchFrame().rawBody(), body);
        QCOMPARE(stompWarnings.size(), 2);
    }

    void sending_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("binary");
        const auto row = [](const char *tag, const Operation &operation, const QByteArray &wire, bool binary = false) {
            QTest::newRow(tag) << operation << wire << binary;
        };
        row("login-with-user", [](QStompClient &c) { c.login("vhost", qMakePair(0, 1000), "guest", " p w "); },
            BYTES("CONNECT\nlogin:guest\npasscode: p w \naccept-version:1.2\nhost:vhost\nheart-beat:0,1000\n"
                  "content-length:0\n\n\0\n"));
        row("login-without-user", [](QStompClient &c) { c.login("/", qMakePair(10000, 20000)); },
            BYTES("CONNECT\naccept-version:1.2\nhost:/\nheart-beat:10000,20000\ncontent-length:0\n\n\0\n"));
        row("logout", [](QStompClient &c) { c.logout(); }, BYTES("DISCONNECT\ncontent-length:0\n\n\0\n"));
        row("send", [](QStompClient &c) { c.send("/queue/a", QStringLiteral("h\u00e9")); },
            BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/queue/a\ncontent-length:3\n\nh\xc3\xa9\0\n"));
        row("send-caller-headers-and-transaction",
            [](QStompClient &c) {
                c.send("/queue/a", QStringLiteral("x"), "tx1", {{"receipt", "r1"}, {"Destination", "/other"}});
            },
            BYTES("SEND\nreceipt:r1\nDestination:/queue/a\ncontent-encoding:UTF-8\ncontent-length:1\n"
                  "transaction:tx1\n\nx\0\n"));
        row("send-empty-transaction", [](QStompClient &c) { c.send("/q", QString(), QByteArray("")); },
            BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/q\ncontent-length:0\ntransaction:\n\n\0\n"));
        row("send-latin-1-as-binary",
            [](QStompClient &c) {
                c.setContentEncoding(QByteArray("ISO-8859-1"));
                c.send("/q", QStringLiteral("\u00e9"));
            },
            BYTES("SEND\ncontent-encoding:ISO-8859-1\ndestination:/q\ncontent-length:1\n\n\xe9\0\n"), true);
        row("send-unknown-codec",
            [](QStompClient &c) {
                c.setContentEncoding(QByteArray("x-no-such-codec"));
                QCOMPARE(c.contentEncoding(), QByteArray());
                c.send("/q", QStringLiteral("\u00e9"));
            },
            BYTES("SEND\ndestination:/q\ncontent-length:2\n\n\xc3\xa9\0\n"));
        row("subscribe-client-empty-id", [](QStompClient &c) { c.subscribe("/queue/a", false); },
            BYTES("SUBSCRIBE\ndestination:/queue/a\nid:\nack:client\ncontent-length:0\n\n\0\n"));
        row("subscribe-auto",
            [](QStompClient &c) { c.subscribe("/topic/t", true, "sub-1", {{"prefetch-count", "10"}}); },
            BYTES("SUBSCRIBE\nprefetch-count:10\ndestination:/topic/t\nid:sub-1\nack:auto\ncontent-length:0\n\n\0\n"));
        row("unsubscribe", [](QStompClient &c) { c.unsubscribe("sub-1"); },
            BYTES("UNSUBSCRIBE\nid:sub-1\ncontent-length:0\n\n\0\n"));
        row("begin", [](QStompClient &c) { c.begin("tx1"); },
            BYTES("BEGIN\ntransaction:tx1\ncontent-length:0\n\n\0\n"));
        row("commit", [](QStompClient &c) { c.commit("tx1", {{"receipt", "c"}}); },
            BYTES("COMMIT\nreceipt:c\ntransaction:tx1\ncontent-length:0\n\n\0\n"));
        row("abort", [](QStompClient &c) { c.abort("tx1"); },
            BYTES("ABORT\ntransaction:tx1\ncontent-length:0\n\n\0\n"));
        row("ack", [](QStompClient &c) { c.ack("m-1"); }, BYTES("ACK\nid:m-1\ncontent-length:0\n\n\0\n"));
        row("nack", [](QStompClient &c) { c.nack("m-2", "tx2", {{"receipt", "n"}}); },
            BYTES("NACK\nreceipt:n\nid:m-2\ntransaction:tx2\ncontent-length:0\n\n\0\n"));
        const auto sendRaw = [](const QByteArray &body) {
            return [body](QStompClient &c) {
                QStompRequestFrame frame(QStompRequestFrame::RequestSend);
                frame.setDestination("/q");
                frame.setRawBody(body);
                c.sendFrame(frame);
            };
        };
        row("frame-nul-in-body-as-binary", sendRaw(BYTES("a\0b")),
            BYTES("SEND\ndestination:/q\ncontent-length:3\n\na\0b\0\n"), true);
        row("frame-invalid-utf8-as-binary", sendRaw("\xff"),
            BYTES("SEND\ndestination:/q\ncontent-length:1\n\n\xff\0\n"), true);
    }

    void sending()
    {
        QFETCH(Operation, operation);
        QFETCH(QByteArray, wire);
        QFETCH(bool, binary);
        connectClient();
        QSignalSpy sent(m_client, &QStompClient::bytesSended);
        operation(*m_client);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(0).toInt(), wire.size() - 2);
        QTRY_COMPARE(m_broker->messages.size(), 1);
        QCOMPARE(m_broker->messages.at(0), qMakePair(wire, binary));
    }

    void nothingSentUnlessConnectedAndValid()
    {
        QSignalSpy sent(m_client, &QStompClient::bytesSended);
        QSignalSpy connected(m_client, &QStompClient::socketConnected);
        m_client->connectToHost(m_broker->url());
        QVERIFY(m_client->socketState() != QAbstractSocket::ConnectedState);
        m_client->login("/");
        m_client->send("/q", QStringLiteral("lost"));
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(m_broker->peer);
        m_client->sendFrame(QStompRequestFrame());
        QCOMPARE(stompWarnings, QStringList{QStringLiteral("QStomp: Invalid frame not sent!")});
        m_client->sendHeartBeat(); // the only message that arrives
        QTRY_COMPARE(m_broker->messages.size(), 1);
        QCOMPARE(m_broker->messages.at(0), qMakePair(QByteArray("\n"), false));
        QCOMPARE(sent.count(), 0);
    }

    void logTexts()
    {
        connectClient();
        QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=true"));
        const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false")); });
        m_client->logout();
        QCOMPARE(stompDebugs, QStringList{QStringLiteral("Send 29 bytes")});
        deliver({BYTES("RECEIPT\nreceipt-id:1\n\n\0\nRECEIPT\n\n\0\n")});
        QCOMPARE(stompDebugs, QStringList({QStringLiteral("Send 29 bytes"), QStringLiteral("35 bytes recieved")}));
        deliver({BYTES("junk")});
        QCOMPARE(stompDebugs.size(), 2); // no frame, no line
    }

    void disconnectFromHostClosesNormally()
    {
        connectClient();
        QSignalSpy disconnected(m_client, &QStompClient::socketDisconnected);
        QSignalSpy states(m_client, &QStompClient::socketStateChanged);
        QSignalSpy peerGone(m_broker->peer.data(), &QWebSocket::disconnected);
        m_client->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 5000);
        QVERIFY(peerGone.count() || peerGone.wait(5000));
        QCOMPARE(m_broker->peer->closeCode(), QWebSocketProtocol::CloseCodeNormal);
        QCOMPARE(m_broker->peer->closeReason(), QString());
        QVERIFY(m_broker->messages.isEmpty()); // no DISCONNECT frame
        QVERIFY(!states.isEmpty());
        QCOMPARE(states.last().at(0).value<QAbstractSocket::SocketState>(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_client->socketState(), QAbstractSocket::UnconnectedState);
    }

    void reconnectFromDisconnectedHandler()
    {
        connectClient();
        const QPointer<QWebSocket> first = m_client->socket();
        bool reconnected = false;
        connect(m_client, &QStompClient::socketDisconnected, this, [&] {
            if (!std::exchange(reconnected, true))
                m_client->connectToHost(m_broker->url());
        });
        QSignalSpy connected(m_client, &QStompClient::socketConnected);
        m_broker->peer->close();
        QVERIFY(connected.wait(5000));
        QVERIFY(reconnected);
        QTRY_COMPARE(m_broker->connections, 2);
        QTRY_VERIFY(first.isNull());
        QVERIFY(m_client->socket());
        QCOMPARE(m_client->socketState(), QAbstractSocket::ConnectedState);
    }

    void setSocketOwnership()
    {
        // A socket opened by the host serves the client as it is.
        auto *external = new QWebSocket;
        const auto cleanup = qScopeGuard([external] { delete external; });
        QSignalSpy open(external, &QWebSocket::connected);
        external->open(m_broker->url());
        QVERIFY(open.wait(5000));
        QTRY_VERIFY(m_broker->peer);
        m_client->setSocket(external);
        QCOMPARE(m_client->socket(), external);
        QCOMPARE(m_client->socketState(), QAbstractSocket::ConnectedState);
        QSignalSpy received(m_client, &QStompClient::bytesRecieved);
        deliver({BYTES("RECEIPT\n\n\0\n")});
        QCOMPARE(m_client->framesAvailable(), 1);

        // Setting it again makes no second set of connections.
        m_client->setSocket(external);
        deliver({BYTES("RECEIPT\n\n\0\n")});
        QCOMPARE(received.count(), 2);
        QCOMPARE(m_client->framesAvailable(), 2);

        // The client does not delete a socket it does not own.
        m_client->setSocket(nullptr);
        QVERIFY(!m_client->socket());
        QCOMPARE(external->state(), QAbstractSocket::ConnectedState);

        // A socket it owns is replaced and deleted.
        m_client->connectToHost(m_broker->url());
        const QPointer<QWebSocket> owned = m_client->socket();
        QCOMPARE(owned->parent(), m_client);
        m_client->setSocket(owned);
        QCOMPARE(m_client->socket(), owned.data());
        m_client->setSocket(external);
        QTRY_VERIFY(owned.isNull());

        // A socket that goes away leaves a null pointer behind.
        auto *shortLived = new QWebSocket;
        m_client->setSocket(shortLived);
        delete shortLived;
        QVERIFY(!m_client->socket());
        QCOMPARE(m_client->socketErrorString(), QStringLiteral("No socket"));
    }

    void sslErrorsAreLogged()
    {
        const QList<QSslError> errors{QSslError(QSslError::SelfSignedCertificate),
                                      QSslError(QSslError::HostNameMismatch)};
        QVERIFY(QMetaObject::invokeMethod(m_client, "_q_sslErrors", Q_ARG(QList<QSslError>, errors)));
        QCOMPARE(stompWarnings, QStringList());
        QStringList expected;
        for (const QSslError &error : errors)
            expected << QStringLiteral("%1 \"%2\"").arg(int(error.error())).arg(error.errorString());
        QCOMPARE(defaultWarnings, expected);
    }
};

QTEST_GUILESS_MAIN(tst_QStompClient)
#include "tst_qstompclient.moc"
