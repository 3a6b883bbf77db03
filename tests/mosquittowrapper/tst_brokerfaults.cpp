// The MQTT stack when its broker dies: the broker is killed and restarted
// several times while a publisher keeps sending. The worker comes back and
// subscribes again each time; once it is back, every QoS 0 message published
// reaches the handler exactly once (a rebuilt client must not add a path).
#include "mosquittotestkit.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

class tst_BrokerFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QtMosquittoClientBase::init();
        previousMessageHandler = qInstallMessageHandler(captureStackLog);
        if (!MosquittoBroker::isAvailable())
            QSKIP("mosquitto is not installed");
    }
    void cleanupTestCase()
    {
        qInstallMessageHandler(previousMessageHandler);
        QtMosquittoClientBase::release();
    }
    void brokerKilledWhileMessagesFlow_data();
    void brokerKilledWhileMessagesFlow();
};

void tst_BrokerFaults::brokerKilledWhileMessagesFlow_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("async") << 0;
    QTest::newRow("threaded") << 1;
}

void tst_BrokerFaults::brokerKilledWhileMessagesFlow()
{
    QFETCH(int, mode);
    const int threadsAtStart = threadCount();
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.log()));
    MosquittoConfig config = brokerConfig(broker, mode);
    config.setKeepAlive(5);
    TestController controller(config, {QStringLiteral("flow/#")}, 100);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    RecordingHandler handler;
    controller.factory->registreExistingHandler(&handler);

    // A retained probe reaches the handler once the worker is connected and
    // subscribed, whichever comes first.
    const auto probeArrives = [&](int n) {
        const QByteArray probe = "probe-" + QByteArray::number(n);
        return broker.publish("flow/probe", probe, {QStringLiteral("-r")})
               && QTest::qWaitFor([&] { return handler.counts.contains(probe); }, 15000);
    };
    // mosquitto_pub sending one message per line of its input.
    QProcess publisher;
    const auto startPublisher = [&](const QByteArray &topic) {
        publisher.start(PeerProcess::findProgram(QStringLiteral("mosquitto_pub")),
                        broker.clientArguments(topic) << QStringLiteral("-l"));
        return publisher.waitForStarted(10000);
    };
    QVERIFY(probeArrives(0));

    // Three outages, each in the middle of a stream of messages.
    int sent = 0;
    for (int outage = 1; outage <= 3; ++outage) {
        QVERIFY(startPublisher("flow/during"));
        QTimer pace;
        connect(&pace, &QTimer::timeout, this, [&] { publisher.write("during-" + QByteArray::number(++sent) + '\n'); });
        pace.start(2);
        const int before = handler.seen.count();
        QTRY_VERIFY_WITH_TIMEOUT(handler.seen.count() > before + 10, 10000);
        broker.kill();
        pace.stop();
        publisher.kill(); // it would keep trying to reconnect
        publisher.waitForFinished();
        QVERIFY2(broker.restart(), qPrintable(broker.log()));
        QVERIFY(probeArrives(outage));
    }

    // After recovery nothing is lost.
    const int count = 500;
    QVERIFY(startPublisher("flow/after"));
    for (int i = 0; i < count; ++i)
        publisher.write("after-" + QByteArray::number(i) + '\n');
    publisher.closeWriteChannel();
    QVERIFY(publisher.waitForFinished(10000) && publisher.exitCode() == 0);
    const auto allArrived = [&] {
        for (int i = 0; i < count; ++i) {
            if (!handler.counts.contains("after-" + QByteArray::number(i)))
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allArrived(), 15000);
    for (int i = 0; i < count; ++i)
        QCOMPARE(handler.counts.value("after-" + QByteArray::number(i)), 1);
    controller.stop();
    QTRY_COMPARE(threadCount(), threadsAtStart);
}

QTEST_GUILESS_MAIN(tst_BrokerFaults)
#include "tst_brokerfaults.moc"
