// QStompClient against a real RabbitMQ node with Web-STOMP, started once for
// the whole program on free loopback ports: what our frames make the broker
// answer, and that its frames reach the host whole.

#include "rabbitmqbroker.h"

#include <stomp/qstompclient.h>

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

#define BYTES(literal) QByteArray(literal, int(sizeof(literal)) - 1)

class tst_QStompClientRabbitMq : public QObject
{
    Q_OBJECT

    RabbitMqBroker m_broker;

    static QStompResponseFrame nextFrame(QStompClient &client)
    {
        return QTest::qWaitFor([&] { return client.framesAvailable() > 0; }, 10000) ? client.fetchFrame()
                                                                                   : QStompResponseFrame();
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
        QVERIFY2(!RabbitMqBroker::serverProgram().isEmpty(),
                 "rabbitmq-server is not installed (see scripts/packages.d/stomp.txt)");
        QVERIFY2(m_broker.start(), qPrintable(m_broker.errorString()));
    }

    void cleanupTestCase() { m_broker.stop(); }

    void exchange_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<int>("heartBeat"); // asked of the broker, in ms
        QTest::addColumn<QByteArray>("body"); // sent to a queue and received back; null: none
        QTest::addColumn<bool>("asText"); // send() with a header of our own, or a raw frame
        QString large;
        for (int i = 0; large.size() < 1024 * 1024; ++i)
            large += QString::number(i) + QLatin1Char(' ');
        const QByteArray guest("guest"), none;
        QTest::newRow("wrong-password") << guest << QByteArray("wrong") << 0 << none << true;
        QTest::newRow("heart-beats-without-credentials") << none << none << 1000 << none << true;
        QTest::newRow("text") << guest << guest << 0 << QByteArray("h\xc3\xa9llo, w\xc3\xb6rld") << true;
        QTest::newRow("nul-bytes") << guest << guest << 0 << BYTES("a\0b\0\nc\0") << false;
        QTest::newRow("one-mebibyte") << guest << guest << 0 << large.toUtf8() << true;
    }

    void exchange()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, password);
        QFETCH(int, heartBeat);
        QFETCH(QByteArray, body);
        QFETCH(bool, asText);
        QStompClient client;
        QSignalSpy connected(&client, &QStompClient::socketConnected);
        QSignalSpy disconnected(&client, &QStompClient::socketDisconnected);
        QSignalSpy beats(&client, &QStompClient::heartBeatRecieved);
        client.connectToHost(m_broker.webStompUrl());
        QVERIFY(connected.wait(10000));
        client.login("/", qMakePair(0, heartBeat), user, password);
        QStompResponseFrame frame = nextFrame(client);
        if (password == "wrong") {
            QCOMPARE(frame.type(), QStompResponseFrame::ResponseError);
            QVERIFY2(!frame.message().isEmpty(), frame.toByteArray().constData());
            QCOMPARE(frame.contentLength(), unsigned(frame.rawBody().size()));
            return;
        }
        QCOMPARE(frame.type(), QStompResponseFrame::ResponseConnected);
        QCOMPARE(frame.headerValue("version"), QByteArray("1.2"));
        if (heartBeat) {
            QCOMPARE(frame.headerValue("heart-beat"), QByteArray("1000,0"));
            QVERIFY(beats.wait(3000));
        }
        if (!body.isNull()) {
            const QByteArray queue = "/queue/orvel-" + QByteArray(QTest::currentDataTag());
            client.subscribe(queue, true, "s1", {{"receipt", "subscribed"}});
            QCOMPARE(nextFrame(client).receiptId(), QByteArray("subscribed"));
            QStompRequestFrame raw(QStompRequestFrame::RequestSend);
            raw.setDestination(queue);
            raw.setRawBody(body);
            if (asText)
                client.send(queue, QString::fromUtf8(body), QByteArray(), {{"x-trace", "42"}});
            else
                client.sendFrame(raw);
            frame = nextFrame(client);
            QCOMPARE(frame.type(), QStompResponseFrame::ResponseMessage);
            QCOMPARE(frame.destination() + frame.subscriptionId(), queue + "s1");
            QCOMPARE(frame.rawBody(), body);
            QCOMPARE(frame.headerValue("x-trace"), asText ? QByteArray("42") : QByteArray());
        }
        client.logout();
        QVERIFY(disconnected.wait(5000)); // the broker closes the connection after DISCONNECT
        QCOMPARE(client.framesAvailable(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_QStompClientRabbitMq)
#include "tst_qstompclientrabbitmq.moc"
