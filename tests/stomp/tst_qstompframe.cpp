// QStompFrame and its request and response forms: parsing and its failures,
// header rules, typed accessors, codecs, serialisation and copies.

#include <stomp/qstompframe.h>
#include <stomp/qstomprequestframe.h>
#include <stomp/qstompresponseframe.h>

#include <QTest>
#include <QTextCodec>

using Headers = QList<QPair<QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(Headers)

// A byte array of a literal with all its bytes, NULs included.
#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

class tst_QStompFrame : public QObject
{
    Q_OBJECT

private slots:
    void parseResponse_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<QByteArray>("body");
        const int message = QStompResponseFrame::ResponseMessage;
        const auto row = [](const char *tag, const QByteArray &wire, int type, const Headers &headers = {},
                            const QByteArray &body = {}, bool valid = true) {
            QTest::newRow(tag) << wire << valid << type << headers << body;
        };
        row("lf", BYTES("MESSAGE\ndestination:/queue/a\n\nabc\0\n"), message, {{"destination", "/queue/a"}}, "abc");
        row("crlf", BYTES("MESSAGE\r\ndestination:/q\r\n\r\nabc\0\r\n"), message, {{"destination", "/q"}}, "abc");
        row("length-cuts-nul-and-after", BYTES("MESSAGE\ncontent-length:3\n\nab\0c\0\n"), message,
            {{"content-length", "3"}}, BYTES("ab\0"));
        row("no-length-keeps-bare-nul", BYTES("ERROR\nmessage:bad\n\noops\0"), QStompResponseFrame::ResponseError,
            {{"message", "bad"}}, BYTES("oops\0"));
        row("connected-no-headers", BYTES("CONNECTED\n\n\0\n"), QStompResponseFrame::ResponseConnected);
        row("receipt", BYTES("RECEIPT\nreceipt-id:7\n\n\0\n"), QStompResponseFrame::ResponseReceipt,
            {{"receipt-id", "7"}});
        row("repeated-headers-kept", BYTES("MESSAGE\nfoo:1\nFOO:2\nfoo:3\n\n\0\n"), message,
            {{"foo", "1"}, {"FOO", "2"}, {"foo", "3"}});
        row("key-and-colon-only", BYTES("MESSAGE\nempty:\n\n\0\n"), message, {{"empty", ""}});
        row("further-colons-and-blanks", BYTES("MESSAGE\n  url :  http://h:80/x  \n\n\0\n"), message,
            {{"url", "http://h:80/x"}});
        row("escapes-not-decoded", BYTES("MESSAGE\nk:a\\cb\\n\n\n\0\n"), message, {{"k", "a\\cb\\n"}});
        row("length-not-a-number-empties-body", BYTES("MESSAGE\ncontent-length:x\n\nabc\0\n"), message,
            {{"content-length", "x"}});
        row("other-ending-stays", BYTES("MESSAGE\n\nabc\n"), message, {}, "abc\n");
        // Failures.
        row("starts-with-blank-line", BYTES("\n\nMESSAGE\n\n\0\n"), 0, {}, {}, false);
        row("no-blank-line", BYTES("MESSAGE\ndestination:/q\n\0\n"), 0, {}, {}, false);
        row("lower-case-command", BYTES("message\n\n\0\n"), 0, {}, {}, false);
        row("trailing-blank-command", BYTES("MESSAGE \n\n\0\n"), 0, {}, {}, false);
        row("request-command", BYTES("SEND\n\n\0\n"), 0, {}, {}, false);
        row("header-without-colon", BYTES("MESSAGE\nfoo:1\nnocolon\nbar:2\n\n\0\n"), message, {{"foo", "1"}}, {},
            false);
        row("length-beyond-bytes", BYTES("MESSAGE\ncontent-length:4000000000\n\nab\0\n"), message,
            {{"content-length", "4000000000"}}, {}, false);
    }

    void parseResponse()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(Headers, headers);
        QFETCH(QByteArray, body);
        const QStompResponseFrame frame(wire);
        QCOMPARE(frame.isValid(), valid);
        QCOMPARE(int(frame.type()), type);
        QCOMPARE(frame.header(), headers);
        if (valid)
            QCOMPARE(frame.rawBody(), body);
        else
            QVERIFY(frame.toByteArray().isEmpty());
    }

    void parseRequest()
    {
        const QStompRequestFrame frame(BYTES("CONNECT\naccept-version:1.2\n\n\0\n"));
        QVERIFY(frame.isValid());
        QCOMPARE(frame.type(), QStompRequestFrame::RequestConnect);
        QCOMPARE(frame.headerValue("accept-version"), QByteArray("1.2"));
        QVERIFY(!QStompRequestFrame(BYTES("CONNECTED\n\n\0\n")).isValid());
        const QStompRequestFrame nack(BYTES("NACK\nid:1\n\n\0\n"));
        QCOMPARE(nack.type(), QStompRequestFrame::RequestNack);
        QCOMPARE(nack.subscriptionId(), QByteArray("1"));
    }

    void credentialsKeepBlanks_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("passcode") << QByteArray("passcode") << QByteArray("  p w ");
        QTest::newRow("login") << QByteArray("login") << QByteArray("  p w ");
        QTest::newRow("Login-any-case") << QByteArray("Login") << QByteArray("  p w ");
        QTest::newRow("other-key-trimmed") << QByteArray("host") << QByteArray("p w");
    }

    void credentialsKeepBlanks()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        const QStompRequestFrame frame("CONNECT\n " + key + " :  p w \n\n" + QByteArray(1, '\0'));
        QVERIFY(frame.isValid());
        QCOMPARE(frame.header().first().first, key);
        QCOMPARE(frame.headerValue(key), expected);
    }

    void caseInsensitiveKeys()
    {
        QStompResponseFrame frame(QStompResponseFrame::ResponseMessage);
        frame.setHeaderValues({{"Foo", "1"}, {"fOO", "2"}, {"bar", "3"}, {"c", "4"}, {"BAR", "5"}});
        QVERIFY(frame.headerHasKey("FOO"));
        QCOMPARE(frame.headerValue("foo"), QByteArray("1"));
        QCOMPARE(frame.allHeaderValues("FOO"), QList<QByteArray>({"1", "2"}));
        QCOMPARE(frame.headerKeys(), QList<QByteArray>({"Foo", "bar", "c"})); // first appearance, first spelling
        QVERIFY(frame.headerValue("missing").isNull());

        frame.setHeaderValue("fOO", "changed");
        QCOMPARE(frame.header().first(), qMakePair(QByteArray("Foo"), QByteArray("changed")));
        frame.setHeaderValue("new", "6");
        QCOMPARE(frame.header().last(), qMakePair(QByteArray("new"), QByteArray("6")));
        frame.removeHeaderValue("FOO");
        QCOMPARE(frame.header(), Headers({{"fOO", "2"}, {"bar", "3"}, {"c", "4"}, {"BAR", "5"}, {"new", "6"}}));
        frame.removeAllHeaderValues("bar");
        QCOMPARE(frame.header(), Headers({{"fOO", "2"}, {"c", "4"}, {"new", "6"}}));

        // Latin-1 letters fold too, as QByteArray::toLower() does.
        frame.addHeaderValue("\xC0x", "7");
        QCOMPARE(frame.headerValue("\xE0X"), QByteArray("7"));
    }

    void parsedNumbersAndNames_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *tag, const char *key, const QByteArray &value, const QVariant &expected) {
            QTest::newRow(tag) << QByteArray(key) << value << expected;
        };
        row("type-with-parameter", "Content-Type", "text/plain; charset=utf-8", QByteArray("text/plain"));
        row("type-blanks-before-semicolon", "Content-Type", "  text/xml  ;x", QByteArray("text/xml"));
        row("type-no-parameter-untrimmed", "Content-Type", "application/json ", QByteArray("application/json "));
        row("type-empty", "Content-Type", "", QByteArray());
        row("length-number", "CONTENT-LENGTH", "42", 42u);
        row("length-not-a-number", "CONTENT-LENGTH", "4x", 0u);
        row("length-negative", "CONTENT-LENGTH", "-1", 0u);
        row("length-empty", "CONTENT-LENGTH", "", 0u);
        row("length-largest", "CONTENT-LENGTH", "4294967295", 4294967295u);
        row("ack-client", "Ack", "client", int(QStompRequestFrame::AckClient));
        row("ack-client-upper-case", "Ack", "CLIENT", int(QStompRequestFrame::AckAuto));
        row("ack-client-individual", "Ack", "client-individual", int(QStompRequestFrame::AckAuto));
        row("ack-auto", "Ack", "auto", int(QStompRequestFrame::AckAuto));
    }

    void parsedNumbersAndNames()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QVariant, expected);
        QStompRequestFrame frame(QStompRequestFrame::RequestSubscribe);
        QVERIFY(!frame.hasContentType() && !frame.hasContentLength() && !frame.hasAckType());
        QVERIFY(frame.contentType().isNull());
        QCOMPARE(frame.contentLength(), 0u);
        QCOMPARE(frame.ackType(), QStompRequestFrame::AckAuto);
        frame.addHeaderValue(key, value);
        if (key == "Content-Type") {
            QVERIFY(frame.hasContentType());
            QCOMPARE(frame.contentType(), expected.toByteArray());
            QCOMPARE(frame.contentType().isNull(), expected.toByteArray().isNull());
        } else if (key == "CONTENT-LENGTH") {
            QCOMPARE(frame.contentLength(), expected.toUInt());
            frame.setContentLength(7); // replaces the entry, keeps its key
            QCOMPARE(frame.header(), Headers({{key, "7"}}));
        } else {
            QCOMPARE(int(frame.ackType()), expected.toInt());
            frame.setAckType(QStompRequestFrame::AckClient);
            QCOMPARE(frame.header(), Headers({{key, "client"}}));
            frame.setAckType(QStompRequestFrame::AckType(7));
            QCOMPARE(frame.headerValue("ack"), QByteArray("auto"));
        }
    }

    void codecs()
    {
        QStompRequestFrame frame(QStompRequestFrame::RequestSend);
        frame.setBody(QStringLiteral("\u00e9"));
        QCOMPARE(frame.rawBody(), QByteArray("\xc3\xa9"));
        QCOMPARE(frame.headerValue("content-length"), QByteArray("2"));

        frame.setContentEncoding(QByteArray("ISO-8859-1"));
        QCOMPARE(frame.contentEncoding(), QByteArray("ISO-8859-1"));
        frame.setBody(QStringLiteral("\u00e9t\u00e9"));
        QCOMPARE(frame.rawBody(), QByteArray("\xe9t\xe9"));
        QCOMPARE(frame.contentLength(), 3u);
        QCOMPARE(frame.body(), QStringLiteral("\u00e9t\u00e9"));

        frame.setContentEncoding(QTextCodec::codecForName("UTF-16LE"));
        QCOMPARE(frame.contentEncoding(), QByteArray("UTF-16LE"));
        QCOMPARE(frame.header().size(), 2); // replaced in place

        // An unknown name is kept; the body falls back to UTF-8.
        frame.setContentEncoding(QByteArray("x-no-such-codec"));
        QCOMPARE(frame.contentEncoding(), QByteArray("x-no-such-codec"));
        frame.setBody(QStringLiteral("\u00e9"));
        QCOMPARE(frame.rawBody(), QByteArray("\xc3\xa9"));
        QCOMPARE(frame.body(), QStringLiteral("\u00e9"));

        // A null codec changes nothing.
        QStompRequestFrame unchanged(QStompRequestFrame::RequestSend);
        unchanged.setContentEncoding(static_cast<const QTextCodec *>(nullptr));
        QVERIFY(!unchanged.hasContentEncoding());
        unchanged.setBody(QStringLiteral("\u00e9"));
        QCOMPARE(unchanged.rawBody(), QByteArray("\xc3\xa9"));

        // A parsed "content-encoding" decodes the body; its name is logged.
        QTest::ignoreMessage(QtDebugMsg, "ISO-8859-1");
        QCOMPARE(QStompResponseFrame(BYTES("MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9\0\n")).body(),
                 QStringLiteral("\u00e9"));
        QTest::ignoreMessage(QtDebugMsg, "bogus");
        QCOMPARE(QStompResponseFrame(BYTES("MESSAGE\ncontent-encoding:bogus\n\n\xc3\xa9\0\n")).body(),
                 QStringLiteral("\u00e9"));
    }

    void serialise()
    {
        QStompRequestFrame frame(QStompRequestFrame::RequestSend);
        frame.setDestination("/queue/a");
        frame.setRawBody("hi");
        QCOMPARE(frame.toByteArray(), QByteArray("SEND\ndestination:/queue/a\ncontent-length:2\n\nhi"));

        // Verbatim: duplicates, colons, blanks and case are written as stored.
        QStompResponseFrame response(QStompResponseFrame::ResponseMessage);
        response.setHeaderValues({{"K", " a:b "}, {"k", "2"}, {"", ""}});
        QCOMPARE(response.toByteArray(), QByteArray("MESSAGE\nK: a:b \nk:2\n:\n\n"));

        QStompRequestFrame nulBody(QStompRequestFrame::RequestSend);
        nulBody.setRawBody(BYTES("a\0b"));
        QCOMPARE(nulBody.toByteArray(), BYTES("SEND\ncontent-length:3\n\na\0b"));
    }

    void invalidFramesSerialiseToNothing()
    {
        QVERIFY(!QStompResponseFrame().isValid());
        QVERIFY(!QStompResponseFrame(QStompResponseFrame::ResponseInvalid).isValid());
        QVERIFY(QStompResponseFrame().toByteArray().isEmpty());
        QVERIFY(QStompRequestFrame().toByteArray().isEmpty());

        QStompRequestFrame untyped;
        untyped.setValid(true);
        untyped.setDestination("/q");
        QVERIFY(untyped.toByteArray().isEmpty());

        QStompResponseFrame invalidated(QStompResponseFrame::ResponseMessage);
        invalidated.setValid(false);
        QVERIFY(invalidated.toByteArray().isEmpty());

        QStompRequestFrame frame;
        frame.setType(QStompRequestFrame::RequestAck);
        QVERIFY(frame.isValid());
        frame.setType(QStompRequestFrame::RequestInvalid);
        QVERIFY(!frame.isValid());
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("body");
        for (int type = QStompRequestFrame::RequestConnect; type <= QStompRequestFrame::RequestDisconnect; ++type)
            QTest::addRow("type-%d", type) << type << QByteArray("body");
        QTest::newRow("nul-in-body") << int(QStompRequestFrame::RequestSend) << BYTES("\0a\0\n\0");
    }

    void roundTrip()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, body);
        QStompRequestFrame frame{QStompRequestFrame::RequestType(type)};
        frame.setHeaderValues({{"id", "x"}, {"receipt", "r"}});
        frame.setRawBody(body);
        const QStompRequestFrame parsed(frame.toByteArray() + BYTES("\0\n"));
        QVERIFY(parsed.isValid());
        QCOMPARE(int(parsed.type()), type);
        QCOMPARE(parsed.header(), frame.header());
        QCOMPARE(parsed.rawBody(), body);
    }

    void copiesAreIndependent()
    {
        QStompResponseFrame original(QStompResponseFrame::ResponseMessage);
        original.setDestination("/a");
        original.setRawBody("one");
        QStompResponseFrame copy(original);
        copy.setDestination("/b");
        copy.setRawBody("two");
        copy.setType(QStompResponseFrame::ResponseError);
        QCOMPARE(original.toByteArray(), QByteArray("MESSAGE\ndestination:/a\ncontent-length:3\n\none"));

        QStompResponseFrame assigned;
        assigned = copy;
        QCOMPARE(assigned.type(), QStompResponseFrame::ResponseError);
        QCOMPARE(assigned.toByteArray(), copy.toByteArray());
        assigned = assigned;
        QCOMPARE(assigned.toByteArray(), copy.toByteArray());

        // The base assignment copies the common part only.
        QStompRequestFrame request(QStompRequestFrame::RequestSend);
        static_cast<QStompFrame &>(request) = original;
        QCOMPARE(request.type(), QStompRequestFrame::RequestSend);
        QCOMPARE(request.rawBody(), QByteArray("one"));
        QCOMPARE(QVariant::fromValue(original).value<QStompResponseFrame>().destination(), QByteArray("/a"));
    }

    void typedAccessorKeys()
    {
        QStompRequestFrame request(QStompRequestFrame::RequestAck);
        request.setDestination("d");
        request.setTransactionId("t");
        request.setMessageId("m");
        request.setReceiptId("r");
        request.setSubscriptionId("s");
        QCOMPARE(request.header(), Headers({{"destination", "d"}, {"transaction", "t"}, {"message-id", "m"},
                                            {"receipt", "r"}, {"id", "s"}}));
        QVERIFY(request.hasDestination() && request.hasTransactionId() && request.hasMessageId()
                && request.hasReceiptId() && request.hasSubscriptionId());

        QStompResponseFrame response(QStompResponseFrame::ResponseMessage);
        response.setDestination("d");
        response.setSubscriptionId("s");
        response.setMessageId("m");
        response.setReceiptId("r");
        response.setMessage("e");
        QCOMPARE(response.header(), Headers({{"destination", "d"}, {"subscription", "s"}, {"message-id", "m"},
                                             {"receipt-id", "r"}, {"message", "e"}}));
        QVERIFY(response.hasDestination() && response.hasSubscriptionId() && response.hasMessageId()
                && response.hasReceiptId() && response.hasMessage());
        QCOMPARE(response.receiptId() + response.message(), QByteArray("re"));
    }
};

QTEST_GUILESS_MAIN(tst_QStompFrame)
#include "tst_qstompframe.moc"
