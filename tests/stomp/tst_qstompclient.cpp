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

#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

namespace {
// Plays the broker: accepts one client and records what it sends.
class FakeBroker : public QObject
{
    Q_OBJECT
public:
    FakeBroker()
        : server(QStringLiteral("fake-broker"), QWebSocketServer::NonSecureMode)
    {
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                peer = socket;
                ++connections;
                connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
                    messages.append(text.toUtf8());
                    binary.append(false);
                });
                connect(socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray &bytes) {
                    messages.append(bytes);
                    binary.append(true);
                });
            }
        });
    }

    bool listen() { return server.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    void send(const QByteArray &bytes, bool asBinary)
    {
        if (asBinary)
            peer->sendBinaryMessage(bytes);
        else
            peer->sendTextMessage(QString::fromUtf8(bytes.constData(), bytes.size()));
    }

    QWebSocketServer server;
    QPointer<QWebSocket> peer;
    int connections = 0;
    QList<QByteArray> messages;
    QList<bool> binary;
};

// Collects the messages of the "stomp" category (and of the default category
// when asked) instead of printing them; restores the previous handler.
class MessageCatcher
{
public:
    explicit MessageCatcher(bool includeDefault = false)
    {
        s_current = this;
        m_includeDefault = includeDefault;
        m_previous = qInstallMessageHandler(&MessageCatcher::handle);
    }
    ~MessageCatcher()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList warnings; // "stomp"
    QStringList defaultWarnings;
    QStringList debugs; // "stomp"

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        MessageCatcher *self = s_current;
        const bool stomp = qstrcmp(context.category, "stomp") == 0;
        const bool fromDefault = qstrcmp(context.category, "default") == 0;
        if (self && (stomp || (self->m_includeDefault && fromDefault))) {
            if (type == QtWarningMsg)
                (stomp ? self->warnings : self->defaultWarnings).append(text);
            else if (type == QtDebugMsg)
                self->debugs.append(text);
            return;
        }
        if (self && self->m_previous)
            self->m_previous(type, context, text);
    }
    static MessageCatcher *s_current;
    QtMessageHandler m_previous = nullptr;
    bool m_includeDefault = false;
};
MessageCatcher *MessageCatcher::s_current = nullptr;

const char *const corrupted = "QStomp: Framebuffer corrupted, repairing...";
const char *const invalid = "QStomp: Invalid frame received!";
} // namespace

class tst_QStompClient : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void withoutSocket();
    void heartBeatsReceived_data();
    void heartBeatsReceived();
    void cutting_data();
    void cutting();
    void manyFramesInOneMessage();
    void bigFrameInSmallPieces();
    void bufferLimit();
    void fetchAllFramesEmptiesQueue();
    void sending_data();
    void sending();
    void invalidFrameIsNotSent();
    void nothingSentWhenNotConnected();
    void logTexts();
    void disconnectFromHostClosesNormally();
    void reconnectFromDisconnectedHandler();
    void setSocketOwnership();
    void sslErrorsAreLogged();

private:
    void connectClient();
    void deliver(const QList<QByteArray> &messages, bool binary = false);

    FakeBroker *m_broker = nullptr;
    QStompClient *m_client = nullptr;
};

typedef QList<QByteArray> ByteList;

void tst_QStompClient::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
}

void tst_QStompClient::cleanupTestCase()
{
    QLoggingCategory::setFilterRules(QString());
}

void tst_QStompClient::init()
{
    m_broker = new FakeBroker;
    QVERIFY(m_broker->listen());
    m_client = new QStompClient;
}

void tst_QStompClient::cleanup()
{
    delete m_client;
    m_client = nullptr;
    delete m_broker;
    m_broker = nullptr;
}

void tst_QStompClient::connectClient()
{
    QSignalSpy connected(m_client, &QStompClient::socketConnected);
    m_client->connectToHost(m_broker->url());
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(m_broker->peer);
    QCOMPARE(m_client->socketState(), QAbstractSocket::ConnectedState);
}

void tst_QStompClient::deliver(const QList<QByteArray> &messages, bool binary)
{
    QSignalSpy received(m_client, &QStompClient::bytesRecieved);
    for (const QByteArray &message : messages)
        m_broker->send(message, binary);
    QTRY_COMPARE(received.count(), messages.size());
    for (int i = 0; i < messages.size(); ++i)
        QCOMPARE(received.at(i).at(0).toInt(), messages.at(i).size());
}

void tst_QStompClient::withoutSocket()
{
    QStompClient client;
    QVERIFY(!client.socket());
    QCOMPARE(client.socketState(), QAbstractSocket::UnconnectedState);
    QCOMPARE(int(client.socketError()), -1);
    QCOMPARE(client.socketErrorString(), QStringLiteral("No socket"));
    QCOMPARE(client.framesAvailable(), 0);
    const QStompResponseFrame none = client.fetchFrame();
    QVERIFY(!none.isValid());
    QCOMPARE(none.type(), QStompResponseFrame::ResponseInvalid);
    QVERIFY(client.fetchAllFrames().isEmpty());
    QCOMPARE(client.frameBufferLimit(), 8 * 1024 * 1024);
    QCOMPARE(client.contentEncoding(), QByteArray("UTF-8"));

    QSignalSpy sent(&client, &QStompClient::bytesSended);
    client.login("/");
    client.sendHeartBeat();
    client.disconnectFromHost();
    QCOMPARE(sent.count(), 0);
}

void tst_QStompClient::heartBeatsReceived_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("heartBeats");
    QTest::newRow("lf") << QByteArray("\n") << 1;
    QTest::newRow("cr-lf") << QByteArray("\r\n") << 0;
    QTest::newRow("three-lf") << QByteArray("\n\n\n") << 1;
    QTest::newRow("lf-then-other") << QByteArray("\nab") << 1;
    QTest::newRow("other-byte") << QByteArray("x") << 0;
}

void tst_QStompClient::heartBeatsReceived()
{
    QFETCH(QByteArray, message);
    QFETCH(int, heartBeats);
    connectClient();
    QSignalSpy beats(m_client, &QStompClient::heartBeatRecieved);
    QSignalSpy frames(m_client, &QStompClient::frameReceived);
    MessageCatcher catcher;
    deliver({message});
    QCOMPARE(beats.count(), heartBeats);
    QCOMPARE(frames.count(), 0);
    QVERIFY(catcher.warnings.isEmpty());

    // Such messages never enter the buffer: a frame right after is whole.
    deliver({BYTES("RECEIPT\nreceipt-id:1\n\n\0\n")});
    QCOMPARE(frames.count(), 1);
    QCOMPARE(m_client->fetchFrame().receiptId(), QByteArray("1"));
}

void tst_QStompClient::cutting_data()
{
    QTest::addColumn<ByteList>("messages");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<ByteList>("frames");
    QTest::addColumn<int>("frameSignals");
    QTest::addColumn<QStringList>("warnings");

    const QStringList none;
    QTest::newRow("lf") << ByteList{BYTES("MESSAGE\ndestination:/q\n\nabc\0\n")} << false
                        << ByteList{"MESSAGE\ndestination:/q\n\nabc"} << 1 << none;
    QTest::newRow("cr-lf") << ByteList{BYTES("MESSAGE\r\ndestination:/q\r\n\r\nabc\0\r\n")} << false
                           << ByteList{"MESSAGE\ndestination:/q\n\nabc"} << 1 << none;
    QTest::newRow("two-frames-one-message")
        << ByteList{BYTES("MESSAGE\nid:1\n\na\0\nMESSAGE\nid:2\n\nb\0\n")} << false
        << ByteList{"MESSAGE\nid:1\n\na", "MESSAGE\nid:2\n\nb"} << 1 << none;
    QTest::newRow("two-length-frames-one-message")
        << ByteList{BYTES("MESSAGE\ncontent-length:1\n\na\0\nMESSAGE\ncontent-length:1\n\nb\0\n")} << false
        << ByteList{"MESSAGE\ncontent-length:1\n\na", "MESSAGE\ncontent-length:1\n\nb"} << 1 << none;
    QTest::newRow("line-breaks-between-frames")
        << ByteList{BYTES("\nRECEIPT\nreceipt-id:1\n\n\0\n\n\r\n\nRECEIPT\nreceipt-id:2\n\n\0\n\n")} << false
        << ByteList{"RECEIPT\nreceipt-id:1\n\n", "RECEIPT\nreceipt-id:2\n\n"} << 1 << none;
    QTest::newRow("split-in-header")
        << ByteList{BYTES("MESSAGE\ndestina"), BYTES("tion:/q\n\nabc\0\n")} << false
        << ByteList{"MESSAGE\ndestination:/q\n\nabc"} << 1 << none;
    QTest::newRow("split-after-header")
        << ByteList{BYTES("MESSAGE\ncontent-length:3\n\n"), BYTES("abc\0\n")} << false
        << ByteList{"MESSAGE\ncontent-length:3\n\nabc"} << 1 << none;
    QTest::newRow("nul-in-length-body")
        << ByteList{BYTES("MESSAGE\ncontent-length:5\n\na\0b\0c\0\n")} << false
        << ByteList{BYTES("MESSAGE\ncontent-length:5\n\na\0b\0c")} << 1 << none;
    QTest::newRow("nul-lf-in-length-body-split")
        << ByteList{BYTES("MESSAGE\ncontent-length:7\n\na\0\nb"), BYTES("\0\nc\0\n")} << false
        << ByteList{BYTES("MESSAGE\ncontent-length:7\n\na\0\nb\0\nc")} << 1 << none;
    QTest::newRow("short-last-piece")
        << ByteList{BYTES("MESSAGE\ndestination:/q\n\nab"), BYTES("c\0\n")} << false
        << ByteList{"MESSAGE\ndestination:/q\n\nabc"} << 1 << none;
    QTest::newRow("terminator-in-next-message")
        << ByteList{BYTES("MESSAGE\ncontent-length:3\n\nabc"), BYTES("\0\nMESSAGE\ncontent-length:1\n\nd\0\n")}
        << false << ByteList{"MESSAGE\ncontent-length:3\n\nabc", "MESSAGE\ncontent-length:1\n\nd"} << 2
        << none;
    QTest::newRow("terminator-alone-in-next-message")
        << ByteList{BYTES("MESSAGE\ncontent-length:3\n\nabc"), BYTES("\0\n"), BYTES("RECEIPT\n\n\0\n")}
        << false << ByteList{"MESSAGE\ncontent-length:3\n\nabc", "RECEIPT\n\n"} << 2 << none;
    QTest::newRow("cr-lf-length-frames")
        << ByteList{BYTES("MESSAGE\r\ncontent-length:2\r\n\r\n\0x\0\r\nMESSAGE\r\ncontent-length:0\r\n\r\n\0\r\n")}
        << false << ByteList{BYTES("MESSAGE\ncontent-length:2\n\n\0x"), "MESSAGE\ncontent-length:0\n\n"} << 1
        << none;
    QTest::newRow("binary-latin-1") << ByteList{BYTES("MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9t\xe9\0\n")}
                                    << true
                                    << ByteList{"MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9t\xe9"} << 1
                                    << none;
    QTest::newRow("garbage-before-frame") << ByteList{BYTES("junk\0\nMESSAGE\nid:1\n\n\0\n")} << false
                                          << ByteList{"MESSAGE\nid:1\n\n"} << 1 << QStringList{corrupted};
    QTest::newRow("lower-case-command")
        << ByteList{BYTES("message\nid:1\n\n\0\nMESSAGE\nid:2\n\n\0\n")} << false
        << ByteList{"MESSAGE\nid:2\n\n"} << 1 << QStringList{corrupted};
    QTest::newRow("repair-drops-through-next-terminator")
        << ByteList{BYTES("x\nMESSAGE\nid:1\n\n\0\nMESSAGE\nid:2\n\n\0\n")} << false
        << ByteList{"MESSAGE\nid:2\n\n"} << 1 << QStringList{corrupted};
    QTest::newRow("repair-without-terminator")
        << ByteList{BYTES("xyz\nabc"), BYTES("RECEIPT\n\n\0\n")} << false << ByteList{"RECEIPT\n\n"} << 1
        << QStringList{corrupted};
    QTest::newRow("header-without-colon") << ByteList{BYTES("MESSAGE\nnocolon\n\n\0\n")} << false << ByteList{}
                                          << 0 << QStringList{invalid};
    QTest::newRow("request-command-from-broker")
        << ByteList{BYTES("SEND\n\n\0\nRECEIPT\nreceipt-id:1\n\n\0\n")} << false
        << ByteList{"RECEIPT\nreceipt-id:1\n\n"} << 1 << QStringList{invalid};
    QTest::newRow("no-header-end") << ByteList{BYTES("MESSAGE\0")} << false << ByteList{} << 0
                                   << QStringList{invalid};
    QTest::newRow("length-beyond-frame-waits")
        << ByteList{BYTES("MESSAGE\ncontent-length:9\n\nabc\0\n"), BYTES("defg\0\n")} << false
        << ByteList{BYTES("MESSAGE\ncontent-length:9\n\nabc\0\ndefg")} << 1 << none;
}

void tst_QStompClient::cutting()
{
    QFETCH(ByteList, messages);
    QFETCH(bool, binary);
    QFETCH(ByteList, frames);
    QFETCH(int, frameSignals);
    QFETCH(QStringList, warnings);

    connectClient();
    QSignalSpy received(m_client, &QStompClient::frameReceived);
    QSignalSpy beats(m_client, &QStompClient::heartBeatRecieved);
    MessageCatcher catcher;
    deliver(messages, binary);

    QCOMPARE(catcher.warnings, warnings);
    QCOMPARE(received.count(), frameSignals);
    QCOMPARE(beats.count(), 0);
    QCOMPARE(m_client->framesAvailable(), frames.size());
    for (const QByteArray &expected : qAsConst(frames))
        QCOMPARE(m_client->fetchFrame().toByteArray(), expected);
}

void tst_QStompClient::manyFramesInOneMessage()
{
    connectClient();
    QByteArray message;
    for (int i = 0; i < 10000; ++i) {
        message += "MESSAGE\nmessage-id:" + QByteArray::number(i) + "\ncontent-length:2\n\nok";
        message += QByteArray("\0\n", 2);
    }
    QSignalSpy received(m_client, &QStompClient::frameReceived);
    MessageCatcher catcher;
    deliver({message});
    QCOMPARE(received.count(), 1);
    const QList<QStompResponseFrame> frames = m_client->fetchAllFrames();
    QCOMPARE(frames.size(), 10000);
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames.at(i).messageId(), QByteArray::number(i));
        QCOMPARE(frames.at(i).rawBody(), QByteArray("ok"));
    }
    QVERIFY(catcher.warnings.isEmpty());
}

void tst_QStompClient::bigFrameInSmallPieces()
{
    connectClient();
    QByteArray body(1024 * 1024, 'x');
    for (int i = 0; i < body.size(); i += 4093)
        body[i] = '\0';
    const QByteArray frame = "MESSAGE\ncontent-length:" + QByteArray::number(body.size()) + "\n\n" + body
                             + QByteArray("\0\n", 2);
    ByteList pieces;
    for (int i = 0; i < frame.size(); i += 1024)
        pieces.append(frame.mid(i, 1024));
    QSignalSpy received(m_client, &QStompClient::frameReceived);
    MessageCatcher catcher;
    deliver(pieces, true);
    QCOMPARE(received.count(), 1);
    QCOMPARE(m_client->fetchFrame().rawBody(), body);
    QVERIFY(catcher.warnings.isEmpty());
}

void tst_QStompClient::bufferLimit()
{
    connectClient();
    m_client->setFrameBufferLimit(1024);
    QCOMPARE(m_client->frameBufferLimit(), 1024);
    QSignalSpy received(m_client, &QStompClient::frameReceived);
    MessageCatcher catcher;

    // An unterminated frame below the limit is kept...
    const QByteArray start = "MESSAGE\ndestination:/q\n\n" + QByteArray(900, 'x');
    deliver({start});
    QVERIFY(catcher.warnings.isEmpty());
    // ...and dropped once it outgrows it.
    deliver({QByteArray(200, 'y')});
    QCOMPARE(catcher.warnings, QStringList{corrupted});
    QCOMPARE(received.count(), 0);

    // The same for a frame that announces more than the limit.
    deliver({"MESSAGE\ncontent-length:100000\n\n" + QByteArray(1100, 'z')});
    QCOMPARE(catcher.warnings, (QStringList{corrupted, corrupted}));

    // A complete frame larger than the limit in one message is fine, and
    // the buffer is usable again.
    const QByteArray body(5000, 'b');
    deliver({"MESSAGE\ncontent-length:5000\n\n" + body + QByteArray("\0\n", 2)});
    QCOMPARE(received.count(), 1);
    QCOMPARE(m_client->fetchFrame().rawBody(), body);
    QCOMPARE(catcher.warnings.size(), 2);
}

void tst_QStompClient::fetchAllFramesEmptiesQueue()
{
    connectClient();
    deliver({BYTES("RECEIPT\nreceipt-id:1\n\n\0\nRECEIPT\nreceipt-id:2\n\n\0\n"),
             BYTES("RECEIPT\nreceipt-id:3\n\n\0\n")});
    QCOMPARE(m_client->framesAvailable(), 3);
    QCOMPARE(m_client->fetchFrame().receiptId(), QByteArray("1"));
    const QList<QStompResponseFrame> rest = m_client->fetchAllFrames();
    QCOMPARE(rest.size(), 2);
    QCOMPARE(rest.at(0).receiptId(), QByteArray("2"));
    QCOMPARE(rest.at(1).receiptId(), QByteArray("3"));
    QVERIFY(m_client->fetchAllFrames().isEmpty());
    QCOMPARE(m_client->framesAvailable(), 0);
}

void tst_QStompClient::sending_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("binary");

    QTest::newRow("login-with-user")
        << "login-with-user"
        << BYTES("CONNECT\nlogin:guest\npasscode: p w \naccept-version:1.2\nhost:vhost\nheart-beat:0,1000\n"
                 "content-length:0\n\n\0\n")
        << false;
    QTest::newRow("login-without-user")
        << "login-without-user"
        << BYTES("CONNECT\naccept-version:1.2\nhost:/\nheart-beat:10000,20000\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("logout") << "logout" << BYTES("DISCONNECT\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("send") << "send"
                          << BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/queue/a\ncontent-length:3\n\nh\xc3\xa9\0\n")
                          << false;
    QTest::newRow("send-caller-headers-and-transaction")
        << "send-caller-headers-and-transaction"
        << BYTES("SEND\nreceipt:r1\nDestination:/queue/a\ncontent-encoding:UTF-8\ncontent-length:1\n"
                 "transaction:tx1\n\nx\0\n")
        << false;
    QTest::newRow("send-empty-transaction")
        << "send-empty-transaction"
        << BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/q\ncontent-length:0\ntransaction:\n\n\0\n") << false;
    QTest::newRow("send-latin-1-as-binary")
        << "send-latin-1-as-binary"
        << BYTES("SEND\ncontent-encoding:ISO-8859-1\ndestination:/q\ncontent-length:1\n\n\xe9\0\n") << true;
    QTest::newRow("send-unknown-codec")
        << "send-unknown-codec" << BYTES("SEND\ndestination:/q\ncontent-length:2\n\n\xc3\xa9\0\n") << false;
    QTest::newRow("subscribe-client-empty-id")
        << "subscribe-client-empty-id"
        << BYTES("SUBSCRIBE\ndestination:/queue/a\nid:\nack:client\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("subscribe-auto")
        << "subscribe-auto"
        << BYTES("SUBSCRIBE\nprefetch-count:10\ndestination:/topic/t\nid:sub-1\nack:auto\ncontent-length:0\n\n\0\n")
        << false;
    QTest::newRow("unsubscribe") << "unsubscribe" << BYTES("UNSUBSCRIBE\nid:sub-1\ncontent-length:0\n\n\0\n")
                                 << false;
    QTest::newRow("begin") << "begin" << BYTES("BEGIN\ntransaction:tx1\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("commit") << "commit" << BYTES("COMMIT\nreceipt:c\ntransaction:tx1\ncontent-length:0\n\n\0\n")
                            << false;
    QTest::newRow("abort") << "abort" << BYTES("ABORT\ntransaction:tx1\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("ack") << "ack" << BYTES("ACK\nid:m-1\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("ack-transaction") << "ack-transaction"
                                     << BYTES("ACK\nid:m-1\ntransaction:tx1\ncontent-length:0\n\n\0\n") << false;
    QTest::newRow("nack") << "nack" << BYTES("NACK\nreceipt:n\nid:m-2\ntransaction:tx2\ncontent-length:0\n\n\0\n")
                          << false;
    QTest::newRow("frame-nul-in-body-as-binary")
        << "frame-nul-in-body-as-binary" << BYTES("SEND\ndestination:/q\ncontent-length:3\n\na\0b\0\n") << true;
    QTest::newRow("frame-invalid-utf8-as-binary")
        << "frame-invalid-utf8-as-binary" << BYTES("SEND\ndestination:/q\ncontent-length:1\n\n\xff\0\n") << true;
}

void tst_QStompClient::sending()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, wire);
    QFETCH(bool, binary);
    connectClient();
    QSignalSpy sent(m_client, &QStompClient::bytesSended);

    QStompRequestFrame frame(QStompRequestFrame::RequestSend);
    frame.setDestination("/q");
    if (operation == "login-with-user") {
        m_client->login("vhost", qMakePair(0, 1000), "guest", " p w ");
    } else if (operation == "login-without-user") {
        m_client->login("/", qMakePair(10000, 20000));
    } else if (operation == "logout") {
        m_client->logout();
    } else if (operation == "send") {
        m_client->send("/queue/a", QStringLiteral("h\u00e9"));
    } else if (operation == "send-caller-headers-and-transaction") {
        m_client->send("/queue/a", QStringLiteral("x"), "tx1", {{"receipt", "r1"}, {"Destination", "/other"}});
    } else if (operation == "send-empty-transaction") {
        m_client->send("/q", QString(), QByteArray(""));
    } else if (operation == "send-latin-1-as-binary") {
        m_client->setContentEncoding(QByteArray("ISO-8859-1"));
        m_client->send("/q", QStringLiteral("\u00e9"));
    } else if (operation == "send-unknown-codec") {
        m_client->setContentEncoding(QByteArray("x-no-such-codec"));
        QCOMPARE(m_client->contentEncoding(), QByteArray());
        m_client->send("/q", QStringLiteral("\u00e9"));
    } else if (operation == "subscribe-client-empty-id") {
        m_client->subscribe("/queue/a", false);
    } else if (operation == "subscribe-auto") {
        m_client->subscribe("/topic/t", true, "sub-1", {{"prefetch-count", "10"}});
    } else if (operation == "unsubscribe") {
        m_client->unsubscribe("sub-1");
    } else if (operation == "begin") {
        m_client->begin("tx1");
    } else if (operation == "commit") {
        m_client->commit("tx1", {{"receipt", "c"}});
    } else if (operation == "abort") {
        m_client->abort("tx1");
    } else if (operation == "ack") {
        m_client->ack("m-1");
    } else if (operation == "ack-transaction") {
        m_client->ack("m-1", "tx1");
    } else if (operation == "nack") {
        m_client->nack("m-2", "tx2", {{"receipt", "n"}});
    } else if (operation == "frame-nul-in-body-as-binary") {
        frame.setRawBody(BYTES("a\0b"));
        m_client->sendFrame(frame);
    } else if (operation == "frame-invalid-utf8-as-binary") {
        frame.setRawBody("\xff");
        m_client->sendFrame(frame);
    } else {
        QFAIL("unknown operation");
    }

    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.at(0).at(0).toInt(), wire.size() - 2);
    QTRY_COMPARE(m_broker->messages.size(), 1);
    QCOMPARE(m_broker->messages.at(0), wire);
    QCOMPARE(m_broker->binary.at(0), binary);
}

void tst_QStompClient::invalidFrameIsNotSent()
{
    connectClient();
    QSignalSpy sent(m_client, &QStompClient::bytesSended);
    {
        MessageCatcher catcher;
        m_client->sendFrame(QStompRequestFrame());
        QCOMPARE(catcher.warnings, QStringList{QStringLiteral("QStomp: Invalid frame not sent!")});
    }
    m_client->sendHeartBeat();
    QTRY_COMPARE(m_broker->messages.size(), 1);
    QCOMPARE(m_broker->messages.at(0), QByteArray("\n"));
    QCOMPARE(sent.count(), 0);
}

void tst_QStompClient::nothingSentWhenNotConnected()
{
    QSignalSpy sent(m_client, &QStompClient::bytesSended);
    QSignalSpy connected(m_client, &QStompClient::socketConnected);
    m_client->connectToHost(m_broker->url());
    QVERIFY(m_client->socketState() != QAbstractSocket::ConnectedState);
    m_client->login("/");
    m_client->send("/q", QStringLiteral("lost"));
    QCOMPARE(sent.count(), 0);
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(m_broker->peer);
    m_client->sendHeartBeat();
    QTRY_COMPARE(m_broker->messages.size(), 1);
    QCOMPARE(m_broker->messages.at(0), QByteArray("\n"));
    QCOMPARE(m_broker->binary.at(0), false);
    QCOMPARE(sent.count(), 0);
}

void tst_QStompClient::logTexts()
{
    connectClient();
    QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=true"));
    const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false")); });
    MessageCatcher catcher;
    m_client->logout();
    QCOMPARE(catcher.debugs, QStringList{QStringLiteral("Send 29 bytes")});
    deliver({BYTES("RECEIPT\nreceipt-id:1\n\n\0\nRECEIPT\n\n\0\n")});
    QCOMPARE(catcher.debugs.size(), 2);
    QCOMPARE(catcher.debugs.at(1), QStringLiteral("35 bytes recieved"));
    deliver({BYTES("junk")});
    QCOMPARE(catcher.debugs.size(), 2); // no frame, no line
}

void tst_QStompClient::disconnectFromHostClosesNormally()
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

void tst_QStompClient::reconnectFromDisconnectedHandler()
{
    connectClient();
    const QPointer<QWebSocket> first = m_client->socket();
    bool reconnected = false;
    connect(m_client, &QStompClient::socketDisconnected, this, [&] {
        if (!reconnected) {
            reconnected = true;
            m_client->connectToHost(m_broker->url());
        }
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

void tst_QStompClient::setSocketOwnership()
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

void tst_QStompClient::sslErrorsAreLogged()
{
    const QList<QSslError> errors{QSslError(QSslError::SelfSignedCertificate),
                                  QSslError(QSslError::HostNameMismatch)};
    MessageCatcher catcher(true);
    QVERIFY(QMetaObject::invokeMethod(m_client, "_q_sslErrors", Q_ARG(QList<QSslError>, errors)));
    QCOMPARE(catcher.warnings, QStringList());
    QCOMPARE(catcher.defaultWarnings,
             (QStringList{QStringLiteral("%1 \"%2\"").arg(int(QSslError::SelfSignedCertificate))
                              .arg(errors.at(0).errorString()),
                          QStringLiteral("%1 \"%2\"").arg(int(QSslError::HostNameMismatch))
                              .arg(errors.at(1).errorString())}));
}

QTEST_GUILESS_MAIN(tst_QStompClient)
#include "tst_qstompclient.moc"
