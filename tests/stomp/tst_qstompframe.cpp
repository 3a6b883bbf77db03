#include <stomp/qstompframe.h>
#include <stomp/qstomprequestframe.h>
#include <stomp/qstompresponseframe.h>

#include <QTest>
#include <QTextCodec>

typedef QList<QPair<QByteArray, QByteArray>> Headers;
Q_DECLARE_METATYPE(Headers)

class tst_QStompFrame : public QObject
{
    Q_OBJECT
private slots:
    void parseResponse_data();
    void parseResponse();
    void parseRequestConnect();
    void credentialsKeepBlanks_data();
    void credentialsKeepBlanks();
    void caseInsensitiveKeys();
    void headerKeysInFirstAppearanceOrder();
    void contentType_data();
    void contentType();
    void contentLength_data();
    void contentLength();
    void codecs();
    void unknownCodecFallsBackToUtf8();
    void serialise();
    void serialiseInvalid();
    void roundTrip_data();
    void roundTrip();
    void validityFollowsType();
    void copiesAreIndependent();
    void ackType_data();
    void ackType();
    void typedAccessorKeys();
};

// A byte array of a literal with all its bytes, NULs included.
#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

void tst_QStompFrame::parseResponse_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("type");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<QByteArray>("body");

    const Headers none;
    QTest::newRow("lf") << BYTES("MESSAGE\ndestination:/queue/a\n\nabc\0\n") << true
                        << int(QStompResponseFrame::ResponseMessage)
                        << Headers{{"destination", "/queue/a"}} << QByteArray("abc");
    QTest::newRow("crlf") << BYTES("MESSAGE\r\ndestination:/q\r\n\r\nabc\0\r\n") << true
                          << int(QStompResponseFrame::ResponseMessage)
                          << Headers{{"destination", "/q"}} << QByteArray("abc");
    QTest::newRow("length-cuts-nul-and-after")
        << BYTES("MESSAGE\ncontent-length:3\n\nab\0c\0\n") << true
        << int(QStompResponseFrame::ResponseMessage) << Headers{{"content-length", "3"}}
        << BYTES("ab\0");
    QTest::newRow("no-length-keeps-bare-nul")
        << BYTES("ERROR\nmessage:bad\n\noops\0") << true << int(QStompResponseFrame::ResponseError)
        << Headers{{"message", "bad"}} << BYTES("oops\0");
    QTest::newRow("connected-no-headers") << BYTES("CONNECTED\n\n\0\n") << true
                                          << int(QStompResponseFrame::ResponseConnected) << none
                                          << QByteArray();
    QTest::newRow("receipt") << BYTES("RECEIPT\nreceipt-id:7\n\n\0\n") << true
                             << int(QStompResponseFrame::ResponseReceipt)
                             << Headers{{"receipt-id", "7"}} << QByteArray();
    QTest::newRow("repeated-headers-kept")
        << BYTES("MESSAGE\nfoo:1\nFOO:2\nfoo:3\n\n\0\n") << true
        << int(QStompResponseFrame::ResponseMessage)
        << Headers{{"foo", "1"}, {"FOO", "2"}, {"foo", "3"}} << QByteArray();
    QTest::newRow("key-and-colon-only") << BYTES("MESSAGE\nempty:\n\n\0\n") << true
                                        << int(QStompResponseFrame::ResponseMessage)
                                        << Headers{{"empty", ""}} << QByteArray();
    QTest::newRow("further-colons-and-blanks")
        << BYTES("MESSAGE\n  url :  http://h:80/x  \n\n\0\n") << true
        << int(QStompResponseFrame::ResponseMessage) << Headers{{"url", "http://h:80/x"}}
        << QByteArray();
    QTest::newRow("escapes-not-decoded") << BYTES("MESSAGE\nk:a\\cb\\n\n\n\0\n") << true
                                         << int(QStompResponseFrame::ResponseMessage)
                                         << Headers{{"k", "a\\cb\\n"}} << QByteArray();
    QTest::newRow("length-not-a-number-empties-body")
        << BYTES("MESSAGE\ncontent-length:x\n\nabc\0\n") << true
        << int(QStompResponseFrame::ResponseMessage) << Headers{{"content-length", "x"}}
        << QByteArray();
    QTest::newRow("other-ending-stays") << BYTES("MESSAGE\n\nabc\n") << true
                                        << int(QStompResponseFrame::ResponseMessage) << none
                                        << QByteArray("abc\n");

    // Failures.
    QTest::newRow("starts-with-blank-line") << BYTES("\n\nMESSAGE\n\n\0\n") << false << 0
                                            << none << QByteArray();
    QTest::newRow("no-blank-line") << BYTES("MESSAGE\ndestination:/q\n\0\n") << false << 0
                                   << none << QByteArray();
    QTest::newRow("lower-case-command") << BYTES("message\n\n\0\n") << false << 0 << none
                                        << QByteArray();
    QTest::newRow("trailing-blank-command") << BYTES("MESSAGE \n\n\0\n") << false << 0
                                            << none << QByteArray();
    QTest::newRow("request-command") << BYTES("SEND\n\n\0\n") << false << 0 << none
                                     << QByteArray();
    QTest::newRow("header-without-colon")
        << BYTES("MESSAGE\nfoo:1\nnocolon\nbar:2\n\n\0\n") << false
        << int(QStompResponseFrame::ResponseMessage) << Headers{{"foo", "1"}} << QByteArray();
    QTest::newRow("length-beyond-bytes") << BYTES("MESSAGE\ncontent-length:4000000000\n\nab\0\n")
                                         << false << int(QStompResponseFrame::ResponseMessage)
                                         << Headers{{"content-length", "4000000000"}}
                                         << BYTES("ab\0\n");
}

void tst_QStompFrame::parseResponse()
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

void tst_QStompFrame::parseRequestConnect()
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

void tst_QStompFrame::credentialsKeepBlanks_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("passcode") << QByteArray("passcode") << QByteArray("  p w ");
    QTest::newRow("login") << QByteArray("login") << QByteArray("  p w ");
    QTest::newRow("Login-any-case") << QByteArray("Login") << QByteArray("  p w ");
    QTest::newRow("other-key-trimmed") << QByteArray("host") << QByteArray("p w");
}

void tst_QStompFrame::credentialsKeepBlanks()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    const QStompRequestFrame frame("CONNECT\n " + key + " :  p w \n\n" + QByteArray(1, '\0'));
    QVERIFY(frame.isValid());
    QCOMPARE(frame.header().first().first, key);
    QCOMPARE(frame.headerValue(key), expected);
}

void tst_QStompFrame::caseInsensitiveKeys()
{
    QStompResponseFrame frame(QStompResponseFrame::ResponseMessage);
    frame.addHeaderValue("Foo", "1");
    frame.addHeaderValue("fOO", "2");
    frame.addHeaderValue("bar", "3");

    QVERIFY(frame.headerHasKey("FOO"));
    QCOMPARE(frame.headerValue("foo"), QByteArray("1"));
    QCOMPARE(frame.allHeaderValues("FOO"), (QList<QByteArray>{"1", "2"}));
    QCOMPARE(frame.headerKeys(), (QList<QByteArray>{"Foo", "bar"}));
    QVERIFY(frame.headerValue("missing").isNull());
    QVERIFY(frame.headerValue("bar").isNull() == false);

    frame.setHeaderValue("fOO", "changed");
    QCOMPARE(frame.header(), (Headers{{"Foo", "changed"}, {"fOO", "2"}, {"bar", "3"}}));
    frame.setHeaderValue("new", "4");
    QCOMPARE(frame.header().last(), qMakePair(QByteArray("new"), QByteArray("4")));

    frame.removeHeaderValue("FOO");
    QCOMPARE(frame.header(), (Headers{{"fOO", "2"}, {"bar", "3"}, {"new", "4"}}));
    frame.addHeaderValue("BAR", "5");
    frame.removeAllHeaderValues("bar");
    QCOMPARE(frame.header(), (Headers{{"fOO", "2"}, {"new", "4"}}));

    // Latin-1 letters fold too, as QByteArray::toLower() does.
    frame.addHeaderValue("\xC0x", "6");
    QCOMPARE(frame.headerValue("\xE0X"), QByteArray("6"));
}

void tst_QStompFrame::headerKeysInFirstAppearanceOrder()
{
    QStompResponseFrame frame(QStompResponseFrame::ResponseMessage);
    frame.setHeaderValues({{"b", "1"}, {"A", "2"}, {"B", "3"}, {"c", "4"}, {"a", "5"}});
    QCOMPARE(frame.headerKeys(), (QList<QByteArray>{"b", "A", "c"}));
}

void tst_QStompFrame::contentType_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("with-parameter") << QByteArray("text/plain; charset=utf-8") << QByteArray("text/plain");
    QTest::newRow("blanks-before-semicolon") << QByteArray("  text/xml  ;x") << QByteArray("text/xml");
    QTest::newRow("no-parameter-untrimmed") << QByteArray("application/json ") << QByteArray("application/json ");
    QTest::newRow("empty") << QByteArray("") << QByteArray();
}

void tst_QStompFrame::contentType()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expected);
    QStompResponseFrame frame(QStompResponseFrame::ResponseMessage);
    QVERIFY(frame.contentType().isNull());
    frame.setHeaderValues({{"Content-Type", value}});
    QVERIFY(frame.hasContentType());
    QCOMPARE(frame.contentType(), expected);
    QCOMPARE(frame.contentType().isNull(), expected.isNull());
}

void tst_QStompFrame::contentLength_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<uint>("expected");
    QTest::newRow("number") << QByteArray("42") << 42u;
    QTest::newRow("not-a-number") << QByteArray("4x") << 0u;
    QTest::newRow("negative") << QByteArray("-1") << 0u;
    QTest::newRow("empty") << QByteArray("") << 0u;
    QTest::newRow("largest") << QByteArray("4294967295") << 4294967295u;
}

void tst_QStompFrame::contentLength()
{
    QFETCH(QByteArray, value);
    QFETCH(uint, expected);
    QStompRequestFrame frame(QStompRequestFrame::RequestSend);
    QVERIFY(!frame.hasContentLength());
    QCOMPARE(frame.contentLength(), 0u);
    frame.addHeaderValue("CONTENT-LENGTH", value);
    QCOMPARE(frame.contentLength(), expected);
    frame.setContentLength(7);
    QCOMPARE(frame.header(), (Headers{{"CONTENT-LENGTH", "7"}}));
}

void tst_QStompFrame::codecs()
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

    // A parsed "content-encoding" decodes the body; its name is logged.
    QTest::ignoreMessage(QtDebugMsg, "ISO-8859-1");
    const QStompResponseFrame latin(BYTES("MESSAGE\ncontent-encoding:ISO-8859-1\n\n\xe9\0\n"));
    QVERIFY(latin.isValid());
    QCOMPARE(latin.body(), QStringLiteral("\u00e9"));

    // A null codec changes nothing.
    QStompRequestFrame unchanged(QStompRequestFrame::RequestSend);
    unchanged.setContentEncoding(static_cast<const QTextCodec *>(nullptr));
    QVERIFY(!unchanged.hasContentEncoding());
    unchanged.setBody(QStringLiteral("\u00e9"));
    QCOMPARE(unchanged.rawBody(), QByteArray("\xc3\xa9"));
}

void tst_QStompFrame::unknownCodecFallsBackToUtf8()
{
    QStompRequestFrame frame(QStompRequestFrame::RequestSend);
    frame.setContentEncoding(QByteArray("x-no-such-codec"));
    QCOMPARE(frame.contentEncoding(), QByteArray("x-no-such-codec"));
    frame.setBody(QStringLiteral("\u00e9"));
    QCOMPARE(frame.rawBody(), QByteArray("\xc3\xa9"));
    QCOMPARE(frame.body(), QStringLiteral("\u00e9"));

    QTest::ignoreMessage(QtDebugMsg, "bogus");
    const QStompResponseFrame parsed(BYTES("MESSAGE\ncontent-encoding:bogus\n\n\xc3\xa9\0\n"));
    QVERIFY(parsed.isValid());
    QCOMPARE(parsed.body(), QStringLiteral("\u00e9"));
}

void tst_QStompFrame::serialise()
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

void tst_QStompFrame::serialiseInvalid()
{
    QVERIFY(QStompRequestFrame().toByteArray().isEmpty());
    QVERIFY(QStompResponseFrame().toByteArray().isEmpty());

    QStompRequestFrame untyped;
    untyped.setValid(true);
    untyped.setDestination("/q");
    QVERIFY(untyped.toByteArray().isEmpty());

    QStompResponseFrame invalidated(QStompResponseFrame::ResponseMessage);
    invalidated.setValid(false);
    QVERIFY(invalidated.toByteArray().isEmpty());
}

void tst_QStompFrame::roundTrip_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<QByteArray>("body");
    for (int type = QStompRequestFrame::RequestConnect; type <= QStompRequestFrame::RequestDisconnect; ++type) {
        QTest::addRow("type-%d", type) << type << Headers{{"id", "x"}, {"receipt", "r"}}
                                       << QByteArray("body");
    }
    QTest::newRow("nul-in-body") << int(QStompRequestFrame::RequestSend) << Headers{{"destination", "/q"}}
                                 << BYTES("\0a\0\n\0");
}

void tst_QStompFrame::roundTrip()
{
    QFETCH(int, type);
    QFETCH(Headers, headers);
    QFETCH(QByteArray, body);
    QStompRequestFrame frame{QStompRequestFrame::RequestType(type)};
    frame.setHeaderValues(headers);
    frame.setRawBody(body);

    const QStompRequestFrame parsed(frame.toByteArray() + QByteArray("\0\n", 2));
    QVERIFY(parsed.isValid());
    QCOMPARE(int(parsed.type()), type);
    QCOMPARE(parsed.header(), frame.header());
    QCOMPARE(parsed.rawBody(), body);
}

void tst_QStompFrame::validityFollowsType()
{
    QVERIFY(!QStompResponseFrame().isValid());
    QCOMPARE(QStompResponseFrame().type(), QStompResponseFrame::ResponseInvalid);
    QVERIFY(!QStompResponseFrame(QStompResponseFrame::ResponseInvalid).isValid());
    QVERIFY(QStompResponseFrame(QStompResponseFrame::ResponseError).isValid());

    QStompRequestFrame frame;
    frame.setType(QStompRequestFrame::RequestAck);
    QVERIFY(frame.isValid());
    frame.setDestination("/q");
    frame.setBody(QStringLiteral("x"));
    QVERIFY(frame.isValid());
    frame.setType(QStompRequestFrame::RequestInvalid);
    QVERIFY(!frame.isValid());
}

void tst_QStompFrame::copiesAreIndependent()
{
    QStompResponseFrame original(QStompResponseFrame::ResponseMessage);
    original.setDestination("/a");
    original.setRawBody("one");

    QStompResponseFrame copy(original);
    copy.setDestination("/b");
    copy.setRawBody("two");
    copy.setType(QStompResponseFrame::ResponseError);
    QCOMPARE(original.destination(), QByteArray("/a"));
    QCOMPARE(original.rawBody(), QByteArray("one"));
    QCOMPARE(original.type(), QStompResponseFrame::ResponseMessage);

    QStompResponseFrame assigned;
    assigned = copy;
    QCOMPARE(assigned.type(), QStompResponseFrame::ResponseError);
    QVERIFY(assigned.isValid());
    QCOMPARE(assigned.toByteArray(), copy.toByteArray());
    assigned = assigned;
    QCOMPARE(assigned.toByteArray(), copy.toByteArray());

    // The base assignment copies the common part only.
    QStompRequestFrame request(QStompRequestFrame::RequestSend);
    static_cast<QStompFrame &>(request) = original;
    QCOMPARE(request.type(), QStompRequestFrame::RequestSend);
    QCOMPARE(request.rawBody(), QByteArray("one"));

    const QVariant variant = QVariant::fromValue(original);
    QCOMPARE(variant.value<QStompResponseFrame>().destination(), QByteArray("/a"));
}

void tst_QStompFrame::ackType_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("client") << QByteArray("client") << int(QStompRequestFrame::AckClient);
    QTest::newRow("client-upper-case") << QByteArray("CLIENT") << int(QStompRequestFrame::AckAuto);
    QTest::newRow("client-individual") << QByteArray("client-individual") << int(QStompRequestFrame::AckAuto);
    QTest::newRow("auto") << QByteArray("auto") << int(QStompRequestFrame::AckAuto);
}

void tst_QStompFrame::ackType()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    QStompRequestFrame frame(QStompRequestFrame::RequestSubscribe);
    QVERIFY(!frame.hasAckType());
    QCOMPARE(frame.ackType(), QStompRequestFrame::AckAuto);
    frame.addHeaderValue("Ack", value);
    QCOMPARE(int(frame.ackType()), expected);

    frame.setAckType(QStompRequestFrame::AckClient);
    QCOMPARE(frame.header(), (Headers{{"Ack", "client"}}));
    frame.setAckType(QStompRequestFrame::AckType(7));
    QCOMPARE(frame.headerValue("ack"), QByteArray("auto"));
}

void tst_QStompFrame::typedAccessorKeys()
{
    QStompRequestFrame request(QStompRequestFrame::RequestAck);
    request.setDestination("d");
    request.setTransactionId("t");
    request.setMessageId("m");
    request.setReceiptId("r");
    request.setSubscriptionId("s");
    QCOMPARE(request.header(), (Headers{{"destination", "d"}, {"transaction", "t"}, {"message-id", "m"},
                                        {"receipt", "r"}, {"id", "s"}}));
    QVERIFY(request.hasDestination() && request.hasTransactionId() && request.hasMessageId()
            && request.hasReceiptId() && request.hasSubscriptionId());

    QStompResponseFrame response(QStompResponseFrame::ResponseMessage);
    response.setDestination("d");
    response.setSubscriptionId("s");
    response.setMessageId("m");
    response.setReceiptId("r");
    response.setMessage("e");
    QCOMPARE(response.header(), (Headers{{"destination", "d"}, {"subscription", "s"}, {"message-id", "m"},
                                         {"receipt-id", "r"}, {"message", "e"}}));
    QVERIFY(response.hasDestination() && response.hasSubscriptionId() && response.hasMessageId()
            && response.hasReceiptId() && response.hasMessage());
    QCOMPARE(response.receiptId(), QByteArray("r"));
    QCOMPARE(response.message(), QByteArray("e"));
}

QTEST_GUILESS_MAIN(tst_QStompFrame)
#include "tst_qstompframe.moc"
