// QStompClient against a real RabbitMQ node with Web-STOMP, started once for
// the whole program on free loopback ports.

#include "rabbitmqbroker.h"

#include <stomp/qstompclient.h>

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

class tst_QStompClientRabbitMq : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
        QVERIFY2(!RabbitMqBroker::serverProgram().isEmpty(),
                 "rabbitmq-server is not installed (see scripts/packages.d/stomp.txt)");
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    }

    void cleanupTestCase()
    {
        m_broker.stop();
        QLoggingCategory::setFilterRules(QString());
    }

    void login_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("with-credentials") << QByteArray("guest") << QByteArray("guest") << true;
        QTest::newRow("without-credentials") << QByteArray() << QByteArray() << true;
        QTest::newRow("wrong-password") << QByteArray("guest") << QByteArray("wrong") << false;
    }

    void login()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, password);
        QFETCH(bool, accepted);
        QStompClient client;
        QVERIFY(open(client));
        QSignalSpy received(&client, &QStompClient::frameReceived);
        QSignalSpy sent(&client, &QStompClient::bytesSended);
        client.login("/", qMakePair(0, 0), user, password);
        QCOMPARE(sent.count(), 1);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.count(), 1);
        QCOMPARE(client.framesAvailable(), 1);
        const QStompResponseFrame answer = client.fetchFrame();
        QCOMPARE(client.framesAvailable(), 0);
        if (accepted) {
            QCOMPARE(answer.type(), QStompResponseFrame::ResponseConnected);
            QCOMPARE(answer.headerValue("version"), QByteArray("1.2"));
            QVERIFY(answer.headerValue("server").startsWith("RabbitMQ"));
        } else {
            QCOMPARE(answer.type(), QStompResponseFrame::ResponseError);
            QVERIFY2(!answer.message().isEmpty(), answer.toByteArray().constData());
            QCOMPARE(answer.contentLength(), unsigned(answer.rawBody().size()));
        }
    }

    void sendAndReceive()
    {
        QStompClient client;
        QVERIFY(logIn(client));
        QVERIFY(subscribeWithReceipt(client, "/queue/orvel-send", true, "s1"));

        const QString body = QStringLiteral("h\u00e9llo, w\u00f6rld");
        client.send("/queue/orvel-send", body, QByteArray(), {{"x-trace", "42"}, {"content-type", "text/plain"}});
        QStompResponseFrame message;
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.type(), QStompResponseFrame::ResponseMessage);
        QCOMPARE(message.destination(), QByteArray("/queue/orvel-send"));
        QCOMPARE(message.subscriptionId(), QByteArray("s1"));
        QVERIFY(!message.messageId().isEmpty());
        QCOMPARE(message.headerValue("x-trace"), QByteArray("42"));
        QCOMPARE(message.contentType(), QByteArray("text/plain"));
        QCOMPARE(message.contentEncoding(), QByteArray("UTF-8"));
        QCOMPARE(message.contentLength(), unsigned(body.toUtf8().size()));
        QCOMPARE(message.body(), body);

        // Several messages in a row keep their order and all headers.
        for (int i = 0; i < 20; ++i)
            client.send("/queue/orvel-send", QString::number(i));
        for (int i = 0; i < 20; ++i) {
            QVERIFY(nextFrame(client, message));
            QCOMPARE(message.body(), QString::number(i));
        }
    }

    void clientAckAndNack()
    {
        QStompClient client;
        QVERIFY(logIn(client));
        QVERIFY(subscribeWithReceipt(client, "/queue/orvel-ack", false, "s1"));

        client.send("/queue/orvel-ack", QStringLiteral("one"));
        QStompResponseFrame message;
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.body(), QStringLiteral("one"));
        QVERIFY(message.headerHasKey("ack"));
        QVERIFY(!message.headerHasKey("redelivered") || message.headerValue("redelivered") == "false");

        // NACK puts it back: it comes again, marked as redelivered.
        client.nack(message.headerValue("ack"));
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.body(), QStringLiteral("one"));
        QCOMPARE(message.headerValue("redelivered"), QByteArray("true"));

        // ACK settles it: a new subscriber does not get it again.
        client.ack(message.headerValue("ack"), QByteArray(), {{"receipt", "acked"}});
        QStompResponseFrame receipt;
        QVERIFY(nextFrame(client, receipt));
        QCOMPARE(receipt.receiptId(), QByteArray("acked"));
        client.unsubscribe("s1");
        QVERIFY(subscribeWithReceipt(client, "/queue/orvel-ack", true, "s2"));
        client.send("/queue/orvel-ack", QStringLiteral("two"));
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.body(), QStringLiteral("two"));
        QCOMPARE(message.subscriptionId(), QByteArray("s2"));
    }

    void transactions()
    {
        QStompClient client;
        QVERIFY(logIn(client));
        QVERIFY(subscribeWithReceipt(client, "/queue/orvel-tx", true, "s1"));
        QStompResponseFrame message;

        // A committed message is published at the commit, after a plain one.
        client.begin("tx1");
        client.send("/queue/orvel-tx", QStringLiteral("in-tx1"), "tx1");
        client.send("/queue/orvel-tx", QStringLiteral("plain-1"));
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.body(), QStringLiteral("plain-1"));
        client.commit("tx1");
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.body(), QStringLiteral("in-tx1"));

        // An aborted one never is: the next message on the queue is the plain one.
        client.begin("tx2");
        client.send("/queue/orvel-tx", QStringLiteral("in-tx2"), "tx2");
        client.abort("tx2");
        client.send("/queue/orvel-tx", QStringLiteral("plain-2"));
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.type(), QStompResponseFrame::ResponseMessage);
        QCOMPARE(message.body(), QStringLiteral("plain-2"));
        QCOMPARE(client.framesAvailable(), 0);
    }

    void heartBeatsFromBroker()
    {
        QStompClient client;
        QSignalSpy beats(&client, &QStompClient::heartBeatRecieved);
        QVERIFY(logIn(client, "guest", "guest", qMakePair(0, 1000)));
        QCOMPARE(m_connected.headerValue("heart-beat"), QByteArray("1000,0"));
        QVERIFY(beats.wait(3000));
        QCOMPARE(client.framesAvailable(), 0);
    }

    void logoutAndDisconnect()
    {
        QStompClient client;
        QVERIFY(logIn(client));
        QSignalSpy disconnected(&client, &QStompClient::socketDisconnected);
        client.logout();
        // The broker closes the connection after DISCONNECT.
        QVERIFY(disconnected.wait(5000));

        QStompClient other;
        QVERIFY(logIn(other));
        QSignalSpy otherDisconnected(&other, &QStompClient::socketDisconnected);
        other.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(otherDisconnected.count(), 1, 5000);
        QCOMPARE(other.socketState(), QAbstractSocket::UnconnectedState);
    }

    void bodiesArriveWhole()
    {
        QStompClient client;
        QVERIFY(logIn(client));
        QVERIFY(subscribeWithReceipt(client, "/queue/orvel-whole", true, "s1"));

        // NUL bytes: sent as a binary message, received cut by its content-length.
        QStompRequestFrame frame(QStompRequestFrame::RequestSend);
        frame.setDestination("/queue/orvel-whole");
        const QByteArray nulBody = BYTES("a\0b\0\nc\0");
        frame.setRawBody(nulBody);
        client.sendFrame(frame);
        QStompResponseFrame message;
        QVERIFY(nextFrame(client, message));
        QCOMPARE(message.rawBody(), nulBody);

        QString large;
        for (int i = 0; large.size() < 1024 * 1024; ++i)
            large += QString::number(i) + QLatin1Char(' ');
        client.send("/queue/orvel-whole", large);
        QVERIFY(nextFrame(client, message, 10000));
        QCOMPARE(message.body(), large);
    }

private:
    bool open(QStompClient &client)
    {
        QSignalSpy connected(&client, &QStompClient::socketConnected);
        client.connectToHost(m_broker.webStompUrl());
        return connected.wait(10000) && client.socketState() == QAbstractSocket::ConnectedState;
    }

    bool logIn(QStompClient &client, const QByteArray &user = "guest", const QByteArray &password = "guest",
               QPair<int, int> heartBeat = qMakePair(0, 0))
    {
        if (!open(client))
            return false;
        client.login("/", heartBeat, user, password);
        return nextFrame(client, m_connected) && m_connected.type() == QStompResponseFrame::ResponseConnected;
    }

    bool nextFrame(QStompClient &client, QStompResponseFrame &frame, int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([&] { return client.framesAvailable() > 0; }, timeoutMs))
            return false;
        frame = client.fetchFrame();
        return true;
    }

    bool subscribeWithReceipt(QStompClient &client, const QByteArray &destination, bool autoAck,
                              const QByteArray &id)
    {
        client.subscribe(destination, autoAck, id, {{"receipt", "sub-" + id}});
        QStompResponseFrame receipt;
        return nextFrame(client, receipt) && receipt.type() == QStompResponseFrame::ResponseReceipt
               && receipt.receiptId() == "sub-" + id;
    }

    RabbitMqBroker m_broker;
    QStompResponseFrame m_connected;
};

QTEST_GUILESS_MAIN(tst_QStompClientRabbitMq)
#include "tst_qstompclientrabbitmq.moc"
