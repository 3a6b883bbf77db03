// QStompClient against a QWebSocketServer that plays the broker: exact wire
// bytes both ways, frame cutting and parsing and their repairs, signals,
// socket ownership; frame rules a host reaches without the client.

#include <stomp/qstompclient.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTextCodec>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>

#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

using Headers = QList<QPair<QByteArray, QByteArray>>;
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
            peer = server.nextPendingConnection();
            peer->setParent(this);
            connect(peer, &QWebSocket::textMessageReceived, this,
                    [this](const QString &text) { messages.append({text.toUtf8(), false}); });
            connect(peer, &QWebSocket::binaryMessageReceived, this,
                    [this](const QByteArray &bytes) { messages.append({bytes, true}); });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    QWebSocketServer server{QStringLiteral("fake-broker"), QWebSocketServer::NonSecureMode};
    QPointer<QWebSocket> peer;
    QList<QPair<QByteArray, bool>> messages; // bytes, sent as binary
};

// Warnings since the test function began, "<category>: <text>", caught instead of printed.
QStringList warnings;
QtMessageHandler qtTestHandler = nullptr;
void catchWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg)
        warnings << QLatin1String(context.category) + QLatin1String(": ") + text;
    else
        qtTestHandler(type, context, text);
}

const QString corrupted = QStringLiteral("stomp: QStomp: Framebuffer corrupted, repairing...");
const QString invalid = QStringLiteral("stomp: QStomp: Invalid frame received!");

} // namespace

class tst_QStomp : public QObject
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
    }

    void deliver(const ByteList &messages, bool binary = false)
    {
        QSignalSpy received(m_client, &QStompClient::bytesRecieved);
        for (const QByteArray &message : messages) {
            if (binary)
                m_broker->peer->sendBinaryMessage(message);
            else
                m_broker->peer->sendTextMessage(QString::fromUtf8(message.constData(), message.size()));
        }
        QTRY_COMPARE(received.count(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(received.at(i).at(0).toInt(), messages.at(i).size());
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
        qtTestHandler = qInstallMessageHandler(catchWarnings);
    }

    void init()
    {
        warnings.clear();
        m_broker = new FakeBroker;
        QVERIFY(m_broker->server.listen(QHostAddress::LocalHost, 0));
        m_client = new QStompClient;
    }

    void cleanup()
    {
        delete m_client;
        delete m_broker;
    }

    // --- frames ---

    // Header lookup ignores case and takes the first entry; copies; what the client never hands
    // over (a leading blank line, a command with a trailing blank, no terminator, request frames).
    void frameRules()
    {
        QStompResponseFrame frame(QStompResponseFrame::ResponseMessage);
        frame.setHeaderValues({{"Foo", "1"}, {"fOO", "2"}, {"bar", "3"}, {"BAR", "4"}, {"Content-Type", " a/b ;x"}});
        QCOMPARE(frame.headerValue("foo") + frame.allHeaderValues("FOO").join(), QByteArray("112"));
        QCOMPARE(frame.headerKeys(), QList<QByteArray>({"Foo", "bar", "Content-Type"})); // first appearance, spelling
        QVERIFY(frame.headerValue("missing").isNull() && frame.contentType() == "a/b"); // cut at ';', trimmed
        frame.removeHeaderValue("content-type");
        frame.setHeaderValue("fOO", "x");
        frame.removeHeaderValue("BAR");
        frame.addHeaderValue("\xC0", "5"); // Latin-1 letters fold too, as QByteArray::toLower() does
        QCOMPARE(frame.headerValue("\xE0"), QByteArray("5"));
        QStompRequestFrame request(QStompRequestFrame::RequestSend);
        static_cast<QStompFrame &>(request) = frame; // the common part only
        frame.removeAllHeaderValues("foo");
        QCOMPARE(frame.header(), Headers({{"BAR", "4"}, {"\xC0", "5"}}));
        QCOMPARE(request.toByteArray(), QByteArray("SEND\nFoo:x\nfOO:2\nBAR:4\n\xC0:5\n\n"));
        QVERIFY(!QStompResponseFrame(BYTES("\n\nMESSAGE\n\n\0\n")).isValid());
        QVERIFY(!QStompResponseFrame(BYTES("MESSAGE \n\n\0\n")).isValid());
        QCOMPARE(QStompResponseFrame(BYTES("MESSAGE\n\nab\n")).rawBody(), QByteArray("ab\n"));
        QCOMPARE(QStompRequestFrame(BYTES("STOMP\nLogin: u \n\n\0\n")).header(), Headers({{"Login", " u "}}));
        QVERIFY(!QStompRequestFrame(BYTES("CONNECTED\n\n\0\n")).isValid());
        QStompRequestFrame untyped;
        untyped.setValid(true);
        untyped.setContentEncoding(static_cast<const QTextCodec *>(nullptr)); // changes nothing
        QVERIFY(untyped.toByteArray().isEmpty() && !untyped.hasContentEncoding());
        QCOMPARE(QStompResponseFrame(BYTES("MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9\0\n")).body(),
                 QStringLiteral("\u00e9"));
    }

    // --- the client ---

    void receiving_data()
    {
        QTest::addColumn<ByteList>("messages");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<ByteList>("frames"); // as they serialise
        QTest::addColumn<int>("frameSignals");
        QTest::addColumn<QStringList>("expectedWarnings");
        QTest::addColumn<int>("heartBeats");
        QTest::addColumn<int>("bufferLimit"); // 0: the default
        const auto row = [](const char *tag, const ByteList &messages, const ByteList &frames, int frameSignals = 1,
                            const QStringList &expected = {}, int heartBeats = 0, bool binary = false, int limit = 0) {
            QTest::newRow(tag) << messages << binary << frames << frameSignals << expected << heartBeats << limit;
        };
        // Short messages never enter the buffer: the frame after them is whole.
        const QByteArray receipt = BYTES("RECEIPT\n\n\0\n");
        row("heart-beats", {"\n", "\n\n\n", "\nab", "\r\n", "x", receipt}, {"RECEIPT\n\n"}, 1, {}, 3);
        // Parsing.
        row("cr-lf", {BYTES("MESSAGE\r\ndestination:/q\r\n\r\nabc\0\r\n")}, {"MESSAGE\ndestination:/q\n\nabc"});
        row("headers-trimmed-repeated-not-unescaped",
            {BYTES("MESSAGE\nfoo:1\nFOO:2\nempty:\n  url :  http://h:80/x  \nk:a\\cb\\n\n\n\0\n")},
            {"MESSAGE\nfoo:1\nFOO:2\nempty:\nurl:http://h:80/x\nk:a\\cb\\n\n\n"});
        row("credentials-keep-blanks", {BYTES("MESSAGE\n passcode :  p w \nLogin: u \n\n\0\n")},
            {"MESSAGE\npasscode:  p w \nLogin: u \n\n"});
        row("no-length-keeps-bare-nul", {BYTES("ERROR\nmessage:x\n\noops\0")}, {BYTES("ERROR\nmessage:x\n\noops\0")});
        row("length-not-a-number-empties-body", {BYTES("MESSAGE\ncontent-length:x\n\nabc\0\n")},
            {"MESSAGE\ncontent-length:x\n\n"});
        // Cutting.
        row("line-breaks-between-frames",
            {BYTES("\nRECEIPT\nreceipt-id:1\n\n\0\n\n\r\n\nRECEIPT\nreceipt-id:2\n\n\0\n\n")},
            {"RECEIPT\nreceipt-id:1\n\n", "RECEIPT\nreceipt-id:2\n\n"});
        row("split-after-header", {"MESSAGE\ncontent-length:3\n\n", BYTES("abc\0\n")},
            {"MESSAGE\ncontent-length:3\n\nabc"});
        row("nul-lf-in-length-body-split", {BYTES("MESSAGE\ncontent-length:7\n\na\0\nb"), BYTES("\0\nc\0\n")},
            {BYTES("MESSAGE\ncontent-length:7\n\na\0\nb\0\nc")});
        row("terminator-in-next-message",
            {"MESSAGE\ncontent-length:3\n\nabc", BYTES("\0\nMESSAGE\ncontent-length:1\n\nd\0\n")},
            {"MESSAGE\ncontent-length:3\n\nabc", "MESSAGE\ncontent-length:1\n\nd"}, 2);
        row("terminator-alone-in-next-message", {"MESSAGE\ncontent-length:3\n\nabc", BYTES("\0\n"), receipt},
            {"MESSAGE\ncontent-length:3\n\nabc", "RECEIPT\n\n"}, 2);
        row("cr-lf-length-frames-as-binary",
            {BYTES("MESSAGE\r\ncontent-length:2\r\n\r\n\0x\0\r\nMESSAGE\r\ncontent-length:0\r\n\r\n\0\r\n")},
            {BYTES("MESSAGE\ncontent-length:2\n\n\0x"), "MESSAGE\ncontent-length:0\n\n"}, 1, {}, 0, true);
        // Line breaks alone are heart-beats also while a frame waits for its body, which they join.
        row("heart-beats-while-body-pending", {"MESSAGE\ncontent-length:10\n\nabc", "\n", "\n\r\n", BYTES("def\0\n")},
            {"MESSAGE\ncontent-length:10\n\nabc\n\n\r\ndef"}, 1, {}, 2);
        // Repairs and refusals.
        row("lower-case-command-dropped-through-terminator", {BYTES("message\nid:1\n\n\0\nMESSAGE\nid:2\n\n\0\n")},
            {"MESSAGE\nid:2\n\n"}, 1, {corrupted});
        row("repair-without-terminator", {"xyz\nabc", receipt}, {"RECEIPT\n\n"}, 1, {corrupted});
        row("header-without-colon", {BYTES("MESSAGE\nnocolon\n\n\0\n")}, {}, 0, {invalid});
        row("length-beyond-bytes", {BYTES("MESSAGE\ncontent-length:4000000000\n\nab\0\n")}, {}, 0, {invalid});
        row("no-header-end", {BYTES("MESSAGE\0")}, {}, 0, {invalid});
        // A hostile broker cannot make the buffer grow without end.
        row("unterminated-outgrows-limit",
            {"MESSAGE\ndestination:/q\n\n" + QByteArray(900, 'x'), QByteArray(200, 'y'), receipt}, {"RECEIPT\n\n"},
            1, {corrupted}, 0, false, 1024);
        row("announced-beyond-limit", {"MESSAGE\ncontent-length:100000\n\n" + QByteArray(1100, 'z'), receipt},
            {"RECEIPT\n\n"}, 1, {corrupted}, 0, false, 1024);
        row("complete-frame-beyond-limit", {"MESSAGE\ncontent-length:5000\n\n" + QByteArray(5000, 'b') + BYTES("\0\n")},
            {"MESSAGE\ncontent-length:5000\n\n" + QByteArray(5000, 'b')}, 1, {}, 0, false, 1024);
    }

    void receiving()
    {
        QFETCH(ByteList, messages);
        QFETCH(bool, binary);
        QFETCH(ByteList, frames);
        QFETCH(int, bufferLimit);
        connectClient();
        if (bufferLimit)
            m_client->setFrameBufferLimit(bufferLimit);
        QSignalSpy received(m_client, &QStompClient::frameReceived);
        QSignalSpy beats(m_client, &QStompClient::heartBeatRecieved);
        deliver(messages, binary);
        QTEST(warnings, "expectedWarnings");
        QTEST(int(received.count()), "frameSignals");
        QTEST(int(beats.count()), "heartBeats");
        QCOMPARE(m_client->framesAvailable(), frames.size());
        for (const QByteArray &expected : qAsConst(frames))
            QCOMPARE(m_client->fetchFrame().toByteArray(), expected);
        QVERIFY(m_client->fetchAllFrames().isEmpty());
    }

    void sending_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("binary");
        const auto row = [](const char *tag, const Operation &operation, const QByteArray &wire, bool binary = false) {
            QTest::newRow(tag) << operation << wire << binary;
        };
        const auto bare = [](const char *head) { return QByteArray(head) + BYTES("content-length:0\n\n\0\n"); };
        row("login-with-user", [](QStompClient &c) { c.login("vhost", qMakePair(0, 1000), "guest", " p w "); },
            bare("CONNECT\nlogin:guest\npasscode: p w \naccept-version:1.2\nhost:vhost\nheart-beat:0,1000\n"));
        row("login-without-user", [](QStompClient &c) { c.login("/", qMakePair(10000, 20000)); },
            bare("CONNECT\naccept-version:1.2\nhost:/\nheart-beat:10000,20000\n"));
        row("logout", [](QStompClient &c) { c.logout(); }, bare("DISCONNECT\n"));
        row("send", [](QStompClient &c) { c.send("/queue/a", QStringLiteral("h\u00e9")); },
            BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/queue/a\ncontent-length:3\n\nh\xc3\xa9\0\n"));
        row("send-caller-headers-and-transaction",
            [](QStompClient &c) { c.send("/a", QStringLiteral("x"), "t", {{"receipt", "r"}, {"Destination", "/b"}}); },
            BYTES("SEND\nreceipt:r\nDestination:/a\ncontent-encoding:UTF-8\ncontent-length:1\ntransaction:t\n\nx\0\n"));
        row("send-empty-transaction", [](QStompClient &c) { c.send("/q", QString(), QByteArray("")); },
            BYTES("SEND\ncontent-encoding:UTF-8\ndestination:/q\ncontent-length:0\ntransaction:\n\n\0\n"));
        row("send-latin-1-as-binary", // not valid text
            [](QStompClient &c) {
                c.setContentEncoding(QByteArray("ISO-8859-1"));
                c.send("/q", QStringLiteral("\u00e9"));
            },
            BYTES("SEND\ncontent-encoding:ISO-8859-1\ndestination:/q\ncontent-length:1\n\n\xe9\0\n"), true);
        row("send-unknown-codec",
            [](QStompClient &c) {
                c.setContentEncoding(QByteArray("x-no-such-codec"));
                c.send("/q", QStringLiteral("\u00e9"));
            },
            BYTES("SEND\ndestination:/q\ncontent-length:2\n\n\xc3\xa9\0\n"));
        row("subscribe-client-empty-id", [](QStompClient &c) { c.subscribe("/a", false); },
            bare("SUBSCRIBE\ndestination:/a\nid:\nack:client\n"));
        row("subscribe-auto", [](QStompClient &c) { c.subscribe("/t", true, "s-1", {{"prefetch-count", "10"}}); },
            bare("SUBSCRIBE\nprefetch-count:10\ndestination:/t\nid:s-1\nack:auto\n"));
        row("unsubscribe", [](QStompClient &c) { c.unsubscribe("s-1"); }, bare("UNSUBSCRIBE\nid:s-1\n"));
        row("begin", [](QStompClient &c) { c.begin("tx1"); }, bare("BEGIN\ntransaction:tx1\n"));
        row("commit", [](QStompClient &c) { c.commit("tx1", {{"receipt", "c"}}); },
            bare("COMMIT\nreceipt:c\ntransaction:tx1\n"));
        row("abort", [](QStompClient &c) { c.abort("tx1"); }, bare("ABORT\ntransaction:tx1\n"));
        row("ack", [](QStompClient &c) { c.ack("m-1"); }, bare("ACK\nid:m-1\n"));
        row("nack", [](QStompClient &c) { c.nack("m-2", "tx2", {{"receipt", "n"}}); },
            bare("NACK\nreceipt:n\nid:m-2\ntransaction:tx2\n"));
        // Frames of the host's own: headers verbatim (duplicates, colons, blanks, case); bodies that
        // are not valid text go as binary messages.
        const auto frame = [](const Headers &headers, const QByteArray &body) -> Operation {
            return [headers, body](QStompClient &c) {
                QStompRequestFrame frame(QStompRequestFrame::RequestStomp);
                frame.setHeaderValues(headers);
                frame.setRawBody(body);
                c.sendFrame(frame);
            };
        };
        row("frame-verbatim-headers", frame({{"K", " a:b "}, {"k", "2"}, {"", ""}}, ""),
            bare("STOMP\nK: a:b \nk:2\n:\n"));
        row("frame-nul-in-body", frame({}, BYTES("a\0b")), BYTES("STOMP\ncontent-length:3\n\na\0b\0\n"), true);
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
        m_client->sendHeartBeat();
        m_client->disconnectFromHost();
        QVERIFY(m_client->socketState() == QAbstractSocket::UnconnectedState && int(m_client->socketError()) == -1);
        QCOMPARE(m_client->fetchFrame().type(), QStompResponseFrame::ResponseInvalid);
        m_client->connectToHost(m_broker->url());
        m_client->login("/"); // not connected yet
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(m_broker->peer);
        m_client->sendFrame(QStompRequestFrame());
        QCOMPARE(warnings, QStringList{QStringLiteral("stomp: QStomp: Invalid frame not sent!")});
        m_client->sendHeartBeat(); // the only message that arrives
        QTRY_COMPARE(m_broker->messages.size(), 1);
        QCOMPARE(m_broker->messages.at(0), qMakePair(QByteArray("\n"), false));
        QCOMPARE(sent.count(), 0);
    }

    // disconnectFromHost() closes normally, without a DISCONNECT frame, and the host may reconnect
    // from the disconnected signal, which drops the old socket. A socket of the client's own is
    // deleted when replaced; one of the host's serves as it is, connected once, and is kept.
    void socketLifecycle()
    {
        connectClient();
        const QPointer<QWebSocket> first = m_client->socket(), peer = m_broker->peer;
        QSignalSpy states(m_client, &QStompClient::socketStateChanged);
        QSignalSpy connected(m_client, &QStompClient::socketConnected);
        const auto reconnect = connect(m_client, &QStompClient::socketDisconnected, this, [this] {
            QCOMPARE(m_client->socketState(), QAbstractSocket::UnconnectedState);
            m_client->connectToHost(m_broker->url());
        });
        m_client->disconnectFromHost();
        QVERIFY(connected.wait(5000) && !states.isEmpty());
        disconnect(reconnect);
        QTRY_VERIFY(first.isNull());
        QTRY_COMPARE(peer->closeCode(), QWebSocketProtocol::CloseCodeNormal);
        QVERIFY(peer->closeReason().isEmpty() && m_broker->messages.isEmpty());
        const QPointer<QWebSocket> owned = m_client->socket(), ownedPeer = m_broker->peer;
        QWebSocket external;
        QSignalSpy open(&external, &QWebSocket::connected);
        external.open(m_broker->url());
        QVERIFY(open.wait(5000));
        QTRY_VERIFY(m_broker->peer != ownedPeer);
        m_client->setSocket(owned); // the socket it holds: kept
        m_client->setSocket(&external);
        m_client->setSocket(&external);
        QTRY_VERIFY(owned.isNull());
        deliver({BYTES("RECEIPT\n\n\0\n")});
        QCOMPARE(m_client->framesAvailable(), 1);
        m_client->setSocket(nullptr);
        QCOMPARE(external.state(), QAbstractSocket::ConnectedState);
        auto *shortLived = new QWebSocket; // a socket that goes away leaves a null pointer behind
        m_client->setSocket(shortLived);
        delete shortLived;
        QCOMPARE(m_client->socketErrorString(), QStringLiteral("No socket"));
    }
};

QTEST_GUILESS_MAIN(tst_QStomp)
#include "tst_qstomp.moc"
