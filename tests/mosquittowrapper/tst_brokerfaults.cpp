// The MQTT stack when its broker dies: the broker is killed in the middle of
// a stream of messages and started again, three times. The worker comes back
// and subscribes again each time; then every QoS 0 message published reaches
// the handler exactly once (a rebuilt client must not add a second path).
#include "mosquittotestkit.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QTest>

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
    void brokerKilledWhileMessagesFlow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("tls"); // the worker comes back over TLS, with its certificate store
        QTest::newRow("async") << 0 << false;
        QTest::newRow("threaded") << 1 << false;
        QTest::newRow("async-tls") << 0 << true;
        QTest::newRow("threaded-tls") << 1 << true;
    }
    void brokerKilledWhileMessagesFlow();
};

void tst_BrokerFaults::brokerKilledWhileMessagesFlow()
{
    QFETCH(int, mode);
    QFETCH(bool, tls);
    const int threadsAtStart = threadCount();
    MosquittoBroker broker;
    MosquittoBroker::Options options;
    options.tls = options.requireClientCertificate = tls;
    QVERIFY2(broker.start(options), qPrintable(broker.log()));
    MosquittoConfig config = brokerConfig(broker, mode);
    config.setKeepAlive(5);
    config.setUseSsl(tls);
    TestController controller(config, {QStringLiteral("flow/#")}, 100);
    if (tls) {
        QSslConfiguration store;
        store.setCaCertificates(QSslCertificate::fromPath(broker.caFile()));
        store.setLocalCertificate(QSslCertificate::fromPath(broker.clientCertificateFile()).value(0));
        QFile key(broker.clientKeyFile());
        QVERIFY(key.open(QIODevice::ReadOnly));
        store.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        controller.worker->setSslConfiguration(store);
    }
    controller.start();
    RecordingHandler handler;
    controller.factory->registreExistingHandler(&handler);
    const auto received = [&](const QByteArray &payload) {
        return std::count_if(handler.seen.cbegin(), handler.seen.cend(),
                             [&](const MosquittoMessage &m) { return m.payload() == payload; });
    };
    // mosquitto_pub sending one message per line of its input.
    QProcess publisher;
    const auto publish = [&](const QByteArray &prefix, int count) {
        publisher.start(PeerProcess::findProgram(QStringLiteral("mosquitto_pub")),
                        broker.clientArguments("flow/" + prefix) << QStringLiteral("-l"));
        for (int i = 0; publisher.waitForStarted(10000) && i < count; ++i)
            publisher.write(prefix + QByteArray::number(i) + '\n');
        return publisher.state() == QProcess::Running;
    };

    for (int outage = 0; outage <= 3; ++outage) {
        if (outage > 0) {
            // Killed while it delivers.
            const QByteArray during = "during" + QByteArray::number(outage) + '-';
            QVERIFY(publish(during, 200));
            QTRY_VERIFY_WITH_TIMEOUT(received(during + "10") > 0, 10000);
            broker.kill();
            publisher.kill(); // it would keep trying to reconnect
            publisher.waitForFinished();
            QVERIFY2(broker.restart(), qPrintable(broker.log()));
        }
        // A retained probe arrives once the worker is connected and subscribed, whichever comes first.
        const QByteArray probe = "probe-" + QByteArray::number(outage);
        QVERIFY(broker.publish("flow/probe", probe, {QStringLiteral("-r")}));
        QTRY_VERIFY_WITH_TIMEOUT(received(probe) > 0, 15000);
    }

    const int count = 500;
    QVERIFY(publish("after", count));
    publisher.closeWriteChannel();
    QVERIFY(publisher.waitForFinished(10000) && publisher.exitCode() == 0);
    QTRY_VERIFY_WITH_TIMEOUT(received("after" + QByteArray::number(count - 1)) > 0, 15000);
    for (int i = 0; i < count; ++i)
        QCOMPARE(received("after" + QByteArray::number(i)), 1);
    controller.stop();
    QTRY_COMPARE(threadCount(), threadsAtStart);
}

QTEST_GUILESS_MAIN(tst_BrokerFaults)
#include "tst_brokerfaults.moc"
