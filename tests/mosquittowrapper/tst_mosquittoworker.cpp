#include <mosquittowrapper/qtmosquittoclient.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>

#include "mosquittotestkit.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
const QStringList retained{QStringLiteral("-r")};
}

class tst_MosquittoWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void clientIdFormat();
    void createFactoryWithoutWorker();
    void secondStartReplacesClientAndTimer();
    void messagesReachEveryHandler_data();
    void messagesReachEveryHandler();
    void reconnectTimeoutOnOpenConnection_data();
    void reconnectTimeoutOnOpenConnection();
    void refusedConnectionIsLogged();

private:
    MosquittoBroker m_broker;
    int m_threadsAtStart = 0;
};

void tst_MosquittoWorker::initTestCase()
{
    QtMosquittoClientBase::init();
    previousMessageHandler = qInstallMessageHandler(captureWorkerLog);
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
    QVERIFY2(m_broker.start(), qPrintable(m_broker.log()));
    m_threadsAtStart = threadCount();
}

void tst_MosquittoWorker::cleanupTestCase()
{
    m_broker.stop();
    qInstallMessageHandler(previousMessageHandler);
    QtMosquittoClientBase::release();
}

void tst_MosquittoWorker::clientIdFormat()
{
    QCoreApplication::setApplicationName(QStringLiteral("tstapp"));
    const auto restore = qScopeGuard([] { QCoreApplication::setApplicationName(QString()); });
    class IdWorker : public MosquittoWorker
    {
    public:
        using MosquittoWorker::MosquittoWorker;
        QByteArray id() const { return clientId(); }
    };
    IdWorker worker{MosquittoConfig(), QStringList()};
    const QByteArray address = QByteArray::number(reinterpret_cast<quintptr>(&worker), 16);
    QCOMPARE(worker.id(), "tstapp_MosquittoWorker_" + address);
    worker.setObjectName(QStringLiteral("meter"));
    QCOMPARE(worker.id(), "meter_" + address);
}

void tst_MosquittoWorker::createFactoryWithoutWorker()
{
    TestController controller(MosquittoConfig(), {}, 1000);
    QCOMPARE(controller.factoryFor(nullptr), nullptr);
    QVERIFY(controller.findChildren<MosquittoHandlersFactory *>().isEmpty());
}

void tst_MosquittoWorker::secondStartReplacesClientAndTimer()
{
    // Driven directly in this thread, without a worker thread.
    MosquittoWorker worker(brokerConfig(m_broker), {});
    QSignalSpy started(&worker, &AbstractWorker::started);
    worker.start();
    worker.start();
    QCOMPARE(started.count(), 2);
    QCOMPARE(worker.findChildren<QtMosquittoClientBase *>().count(), 1);
    // The replaced timer goes once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(worker.findChildren<QTimer *>().count(), 1);
    QCOMPARE(worker.findChildren<QTimer *>().at(0)->interval(), BaseMosquittoWorker::DefaultWatchInterval);
    // Open before onConnect() ran (as after libmosquitto reconnected on its
    // own): a tick takes the connection for a fresh one and keeps the client.
    QPointer<QtMosquittoClientBase> client = worker.findChildren<QtMosquittoClientBase *>().at(0);
    client->blockSignals(true);
    QTRY_VERIFY(client->isOpen());
    QMetaObject::invokeMethod(&worker, "reconnect");
    QVERIFY(client);
    worker.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(worker.findChildren<QtMosquittoClientBase *>().isEmpty());
    QVERIFY(worker.findChildren<QTimer *>().isEmpty());
}

void tst_MosquittoWorker::messagesReachEveryHandler_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("className");
    const QByteArray async = QtMosquittoClientAsync::staticMetaObject.className();
    QTest::newRow("async") << 0 << async;
    QTest::newRow("threaded") << 1 << QByteArray(QtMosquittoClient::staticMetaObject.className());
    QTest::newRow("other-mode-is-async") << 5 << async;
}

void tst_MosquittoWorker::messagesReachEveryHandler()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, className);
    const QByteArray base = "every" + QByteArray::number(mode);
    const QByteArray topic = base + "/t";
    QVERIFY(m_broker.publish(topic, "ready", retained));
    const auto clearRetained = qScopeGuard([&] {
        m_broker.publish(topic, QByteArray(), retained);
        m_broker.publish(base + "/reply", QByteArray(), retained);
    });

    TestController controller(brokerConfig(m_broker, mode), {QString::fromUtf8(base + "/#")}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    QVERIFY(controller.factory);
    BaseMosquittoHandler *plain = controller.factory->createBaseHandler(this);
    RecordingHandler echo;
    controller.factory->registreExistingHandler(&echo);
    controller.factory->registreExistingHandler(&echo); // still once
    QSignalSpy plainMessages(plain, qOverload<MosquittoMessage>(&BaseMosquittoHandler::recieved));
    QSignalSpy plainBytes(plain, qOverload<QByteArray, QByteArray>(&BaseMosquittoHandler::recieved));

    // The retained message arrives once the worker has subscribed.
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 1, 10000);
    QCOMPARE(QByteArray(controller.counts.clientClass.loadAcquire()->className()), className);
    QVERIFY(m_broker.publish(topic, QByteArray()));  // empty payload: dropped
    QVERIFY(m_broker.publish(topic, "one"));
    QVERIFY(m_broker.publish(topic, "two", {QStringLiteral("-q"), QStringLiteral("1")}));
    // The handler answers; its reply comes back through the worker.
    QVERIFY(m_broker.publish(base + "/request", "ping"));
    QTRY_VERIFY_WITH_TIMEOUT(echo.sawTopic(base + "/reply"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 5, 10000);
    QCOMPARE(echo.seen.count(), 5);

    QCOMPARE(plainBytes.at(1).at(0).toByteArray(), topic);
    QCOMPARE(plainBytes.at(1).at(1).toByteArray(), QByteArray("one"));
    QCOMPARE(echo.seen.at(0).payload(), QByteArray("ready"));
    QVERIFY(echo.seen.at(0).retain());
    QCOMPARE(echo.seen.at(1).payload(), QByteArray("one"));
    QCOMPARE(echo.seen.at(2).payload(), QByteArray("two"));
    QCOMPARE(echo.seen.at(2).qos(), 0); // the worker subscribes with QoS 0

    // A handler's publish is retained, with QoS 0.
    QProcess sub;
    sub.start(PeerProcess::findProgram(QStringLiteral("mosquitto_sub")),
              m_broker.subscribeArguments(base + "/reply", 1, 5));
    QVERIFY(sub.waitForFinished(10000));
    QCOMPARE(sub.readAllStandardOutput().trimmed(), "1 0 " + base + "/reply re:ping");

    QCOMPARE(controller.threadEntries(), 1);
    controller.stop();
    QCOMPARE(controller.threadEntries(), 0);
    QVERIFY(!controller.worker);
    // Worker thread, libmosquitto's thread or the threaded client's: all gone.
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    QCOMPARE(echo.seen.count(), 5);
    delete plain;
}

void tst_MosquittoWorker::reconnectTimeoutOnOpenConnection_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("watchMs");
    QTest::newRow("elapsed-rebuilds") << 300 << 50;
    QTest::newRow("zero-keeps") << 0 << 20;
}

void tst_MosquittoWorker::reconnectTimeoutOnOpenConnection()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, watchMs);
    MosquittoConfig c = brokerConfig(m_broker);
    c.setReconnectTimeout(timeoutMs);
    TestController controller(c, {QStringLiteral("rebuild/t")}, watchMs);
    controller.workerName = QStringLiteral("rebuilt%1").arg(timeoutMs);
    QVERIFY(m_broker.publish("rebuild/t", "again", retained));
    const auto clearRetained = qScopeGuard([&] { m_broker.publish("rebuild/t", QByteArray(), retained); });
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    RecordingHandler echo;
    controller.factory->registreExistingHandler(&echo);
    QTRY_VERIFY_WITH_TIMEOUT(!echo.seen.isEmpty(), 10000);
    if (timeoutMs == 0) {
        // (A tick before the first acknowledgement may rebuild; none after it.)
        const int clientsWhenConnected = controller.counts.clients.loadAcquire();
        const int ticksWhenConnected = controller.counts.ticks.loadAcquire();
        QTRY_VERIFY_WITH_TIMEOUT(controller.counts.ticks.loadAcquire() >= ticksWhenConnected + 10, 10000);
        QCOMPARE(controller.counts.clients.loadAcquire(), clientsWhenConnected);
        QCOMPARE(echo.seen.count(), 1);
        return;
    }
    // Each new connection subscribes again and gets the retained message.
    QTRY_VERIFY_WITH_TIMEOUT(echo.seen.count() >= 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(controller.counts.clients.loadAcquire() >= 3, 10000);
    controller.stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    // Every client's connection was ended, the replaced ones and the last.
    // (A replaced client unsubscribed just before; when the broker's replies
    // are still unread as libmosquitto closes, the broker sees a reset instead
    // of the DISCONNECT and logs "closed its connection".)
    const QRegularExpression ended(
        QStringLiteral("Client %1_[0-9a-f]+ (disconnected|closed its connection)\\.").arg(controller.workerName));
    QTRY_COMPARE(m_broker.log().count(ended), controller.counts.clients.loadAcquire());
}

void tst_MosquittoWorker::refusedConnectionIsLogged()
{
    clearWorkerLog();
    MosquittoBroker locked;
    MosquittoBroker::Options options;
    options.requirePassword = true;
    QVERIFY2(locked.start(options), qPrintable(locked.log()));
    TestController controller(brokerConfig(locked), {QStringLiteral("t")}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    const QString expected = QStringLiteral("\"MOSQTUITTO ERROR: -1 (Connection Refused: not authorised.)\"");
    QTRY_VERIFY_WITH_TIMEOUT(workerLog().contains(expected), 10000);
    QVERIFY(workerLog().contains(QStringLiteral("START")));
    controller.stop();
    QVERIFY(workerLog().contains(QStringLiteral("STOP")));
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
}

QTEST_GUILESS_MAIN(tst_MosquittoWorker)
#include "tst_mosquittoworker.moc"
