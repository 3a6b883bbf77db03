// The MQTT stack when its broker dies: the broker is killed and restarted
// several times while a publisher keeps sending. The worker rebuilds its
// client and subscribes again each time; once it is back, every QoS 0
// message published reaches every handler, exactly once.
#include "mosquittotestkit.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {

// mosquitto_pub reading one message per line from its standard input.
class LinePublisher
{
public:
    LinePublisher(const MosquittoBroker &broker, const QByteArray &topic)
    {
        m_process.start(PeerProcess::findProgram(QStringLiteral("mosquitto_pub")),
                        broker.clientArguments(topic) << QStringLiteral("-l"));
        m_process.waitForStarted(10000);
    }
    ~LinePublisher()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }
    void send(const QByteArray &line)
    {
        if (m_process.state() == QProcess::Running)
            m_process.write(line + '\n');
    }
    // The broker went away under it: it would keep trying to reconnect.
    void abandon()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Everything written has been handed to the broker.
    bool finish()
    {
        m_process.closeWriteChannel();
        return m_process.waitForFinished(10000) && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
};

} // namespace

class tst_BrokerFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void brokerKilledWhileMessagesFlow_data();
    void brokerKilledWhileMessagesFlow();
};

void tst_BrokerFaults::initTestCase()
{
    QtMosquittoClientBase::init();
    previousMessageHandler = qInstallMessageHandler(captureWorkerLog);
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
}

void tst_BrokerFaults::cleanupTestCase()
{
    qInstallMessageHandler(previousMessageHandler);
    QtMosquittoClientBase::release();
}

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
    QVERIFY(controller.factory);
    RecordingHandler first;
    RecordingHandler second;
    controller.factory->registreExistingHandler(&first);
    controller.factory->registreExistingHandler(&second);

    // Probes until one arrives: the worker is connected and subscribed.
    int probes = 0;
    const auto subscribed = [&] {
        const QByteArray probe = "probe-" + QByteArray::number(++probes);
        broker.publish("flow/probe", probe);
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 300 && !first.counts.contains(probe))
            QTest::qWait(10);
        return first.counts.contains(probe);
    };
    QTRY_VERIFY_WITH_TIMEOUT(subscribed(), 15000);

    // Three outages, each in the middle of a stream of messages.
    int sent = 0;
    for (int outage = 0; outage < 3; ++outage) {
        {
            LinePublisher during(broker, "flow/during");
            QTimer pace;
            QObject::connect(&pace, &QTimer::timeout, [&] { during.send("during-" + QByteArray::number(++sent)); });
            pace.start(2);
            QTest::qWait(150);
            broker.kill();
            QTest::qWait(250);
            pace.stop();
            during.abandon();
        }
        QVERIFY2(broker.restart(), qPrintable(broker.log()));
        QTRY_VERIFY_WITH_TIMEOUT(subscribed(), 15000);
    }
    QVERIFY2(controller.counts.clients.loadAcquire() >= 2, "the worker never rebuilt its client");

    // After recovery nothing is lost.
    const int count = 500;
    LinePublisher after(broker, "flow/after");
    for (int i = 0; i < count; ++i)
        after.send("after-" + QByteArray::number(i));
    QVERIFY(after.finish());
    const auto allArrived = [&](const RecordingHandler &handler) {
        for (int i = 0; i < count; ++i) {
            if (!handler.counts.contains("after-" + QByteArray::number(i)))
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allArrived(first) && allArrived(second), 15000);
    for (const RecordingHandler *handler : {&first, &second}) {
        for (int i = 0; i < count; ++i)
            QCOMPARE(handler->counts.value("after-" + QByteArray::number(i)), 1);
    }

    controller.stop();
    QTRY_COMPARE(threadCount(), threadsAtStart);
}

QTEST_GUILESS_MAIN(tst_BrokerFaults)
#include "tst_brokerfaults.moc"
