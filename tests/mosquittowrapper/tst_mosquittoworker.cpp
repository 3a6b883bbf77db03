#include <mosquittowrapper/basemosquittocontroller.h>
#include <mosquittowrapper/basemosquittohandler.h>
#include <mosquittowrapper/mosquittohandlersfactory.h>
#include <mosquittowrapper/mosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclient.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>
#include <workers/abstractworkerthread.h>

#include "mosquittobroker.h"

#include <QDir>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .count();
}

// The worker reports its life in warnings; keep them, and out of the test log.
struct WorkerLog
{
    QMutex mutex;
    QStringList lines;
    QtMessageHandler previous = nullptr;

    QStringList take()
    {
        QMutexLocker lock(&mutex);
        return lines;
    }
};
WorkerLog workerLog;

void captureWorkerLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.file && QByteArray(context.file).contains("basemosquittoworker")) {
        QMutexLocker lock(&workerLog.mutex);
        workerLog.lines << text;
        return;
    }
    workerLog.previous(type, context, text);
}

// An application handler that answers requests on one topic.
class EchoHandler : public BaseMosquittoHandler
{
    Q_OBJECT
public:
    using BaseMosquittoHandler::BaseMosquittoHandler;
    QList<MosquittoMessage> seen;

protected:
    void processMessage(MosquittoMessage msg) override
    {
        seen << msg;
        if (msg.topic() == "app/request")
            publish(QByteArray("app/reply"), "re:" + msg.payload());
        BaseMosquittoHandler::processMessage(msg);
    }
};

class CountingWorker : public MosquittoWorker
{
    Q_OBJECT
public:
    using MosquittoWorker::MosquittoWorker;
    QAtomicInt clients;
    QAtomicInt *created = nullptr; // outlives the worker
    QAtomicInt ticks;
    QAtomicPointer<const QMetaObject> clientClass;

protected:
    void doReconnect() override
    {
        ticks.ref();
        MosquittoWorker::doReconnect();
    }

    void createClient() override
    {
        const bool had = client() != nullptr;
        MosquittoWorker::createClient();
        if (!had && client()) {
            clients.ref();
            if (created)
                created->ref();
            clientClass.storeRelease(client()->metaObject());
        }
    }
};

class TestController : public BaseMosquittoController
{
    Q_OBJECT
public:
    TestController(const MosquittoConfig &config, const QStringList &topics, int watchMs)
        : m_config(config), m_topics(topics), m_watchMs(watchMs)
    {
    }
    QPointer<CountingWorker> worker;
    QAtomicInt createdClients;
    MosquittoHandlersFactory *factory = nullptr;
    QString workerName;

    MosquittoHandlersFactory *factoryFor(BaseMosquittoWorker *w) { return createFactory(w); }
    int threadEntries() const { return threads().count(); }

protected:
    bool doStart() override
    {
        auto *w = new CountingWorker(m_config, m_topics);
        w->created = &createdClients;
        w->setObjectName(workerName);
        w->setWatchInterval(m_watchMs);
        worker = w;
        AbstractWorkerThread *thread = addWorkerToThread(w);
        factory = createFactory(w);
        thread->start();
        return true;
    }

private:
    MosquittoConfig m_config;
    QStringList m_topics;
    int m_watchMs;
};

} // namespace

class tst_MosquittoWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void clientIdFormat();
    void modeChoosesClientClass_data();
    void modeChoosesClientClass();
    void createFactoryWithoutWorker();
    void secondStartReplacesClientAndTimer();
    void messagesReachEveryHandler_data();
    void messagesReachEveryHandler();
    void handlerPublishIsRetainedQos0_data();
    void handlerPublishIsRetainedQos0();
    void resubscribesAfterBrokerRestart_data();
    void resubscribesAfterBrokerRestart();
    void reconnectTimeoutRebuildsOpenConnection();
    void zeroReconnectTimeoutKeepsOpenConnection();
    void refusedConnectionIsLogged();

private:
    MosquittoConfig config(const MosquittoBroker &broker, int mode) const;
    MosquittoBroker m_broker;
    int m_threadsAtStart = 0;
};

void tst_MosquittoWorker::initTestCase()
{
    QtMosquittoClientBase::init();
    workerLog.previous = qInstallMessageHandler(captureWorkerLog);
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
    QVERIFY2(m_broker.start(), qPrintable(m_broker.log()));
    m_threadsAtStart = threadCount();
}

void tst_MosquittoWorker::cleanupTestCase()
{
    m_broker.stop();
    qInstallMessageHandler(workerLog.previous);
    QtMosquittoClientBase::release();
}

void tst_MosquittoWorker::init()
{
    QMutexLocker lock(&workerLog.mutex);
    workerLog.lines.clear();
}

MosquittoConfig tst_MosquittoWorker::config(const MosquittoBroker &broker, int mode) const
{
    MosquittoConfig c;
    c.setHost(broker.host());
    c.setPort(broker.port());
    c.setKeepAlive(30);
    c.setMode(mode);
    c.setSyncLoopInterval(2);
    return c;
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

void tst_MosquittoWorker::modeChoosesClientClass_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("className");
    QTest::newRow("async") << 0 << QByteArray(QtMosquittoClientAsync::staticMetaObject.className());
    QTest::newRow("threaded") << 1 << QByteArray(QtMosquittoClient::staticMetaObject.className());
    QTest::newRow("other") << 5 << QByteArray(QtMosquittoClientAsync::staticMetaObject.className());
}

void tst_MosquittoWorker::modeChoosesClientClass()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, className);
    TestController controller(config(m_broker, mode), {}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    QTRY_VERIFY(controller.worker && controller.worker->clients.loadAcquire() == 1);
    QCOMPARE(QByteArray(controller.worker->clientClass.loadAcquire()->className()), className);
    controller.stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
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
    MosquittoWorker worker(config(m_broker, 0), {});
    QSignalSpy started(&worker, &AbstractWorker::started);
    worker.start();
    worker.start();
    QCOMPARE(started.count(), 2);
    QCOMPARE(worker.findChildren<QtMosquittoClientBase *>().count(), 1);
    // The replaced timer goes once control is back in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(worker.findChildren<QTimer *>().count(), 1);
    QCOMPARE(worker.findChildren<QTimer *>().at(0)->interval(), BaseMosquittoWorker::DefaultWatchInterval);
    worker.stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(worker.findChildren<QtMosquittoClientBase *>().isEmpty());
    QVERIFY(worker.findChildren<QTimer *>().isEmpty());
}

void tst_MosquittoWorker::messagesReachEveryHandler_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("async") << 0;
    QTest::newRow("threaded") << 1;
}

void tst_MosquittoWorker::messagesReachEveryHandler()
{
    QFETCH(int, mode);
    const QByteArray topic = "every/" + QByteArray::number(mode);
    QVERIFY(m_broker.publish(topic, "ready", {QStringLiteral("-r")}));
    const auto clearRetained =
        qScopeGuard([&] { m_broker.publish(topic, QByteArray(), {QStringLiteral("-r")}); });

    TestController controller(config(m_broker, mode), {QString::fromUtf8(topic)}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    QVERIFY(controller.factory);
    BaseMosquittoHandler *plain = controller.factory->createBaseHandler(this);
    EchoHandler echo;
    controller.factory->registreExistingHandler(&echo);
    controller.factory->registreExistingHandler(&echo); // still once
    QSignalSpy plainMessages(plain, qOverload<MosquittoMessage>(&BaseMosquittoHandler::recieved));
    QSignalSpy plainBytes(plain, qOverload<QByteArray, QByteArray>(&BaseMosquittoHandler::recieved));

    // The retained message arrives once the worker has subscribed.
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 1, 10000);
    QVERIFY(m_broker.publish(topic, QByteArray()));  // empty payload: dropped
    QVERIFY(m_broker.publish(topic, "one"));
    QVERIFY(m_broker.publish(topic, "two", {QStringLiteral("-q"), QStringLiteral("1")}));
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 3, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(echo.seen.count(), 3, 10000);

    QCOMPARE(plainBytes.at(1).at(0).toByteArray(), topic);
    QCOMPARE(plainBytes.at(1).at(1).toByteArray(), QByteArray("one"));
    QCOMPARE(echo.seen.at(0).payload(), QByteArray("ready"));
    QVERIFY(echo.seen.at(0).retain());
    QCOMPARE(echo.seen.at(1).payload(), QByteArray("one"));
    QCOMPARE(echo.seen.at(2).payload(), QByteArray("two"));
    QCOMPARE(echo.seen.at(2).qos(), 0); // the worker subscribes with QoS 0

    QCOMPARE(controller.threadEntries(), 1);
    controller.stop();
    QCOMPARE(controller.threadEntries(), 0);
    QVERIFY(!controller.worker);
    // Worker thread, libmosquitto's thread or the threaded client's: all gone.
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    QCOMPARE(echo.seen.count(), 3);
    delete plain;
}

void tst_MosquittoWorker::handlerPublishIsRetainedQos0_data()
{
    messagesReachEveryHandler_data();
}

void tst_MosquittoWorker::handlerPublishIsRetainedQos0()
{
    QFETCH(int, mode);
    TestController controller(config(m_broker, mode), {QStringLiteral("app/#")}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    EchoHandler echo;
    controller.factory->registreExistingHandler(&echo);
    QSignalSpy bytes(&echo, qOverload<QByteArray, QByteArray>(&BaseMosquittoHandler::recieved));
    const auto clearRetained =
        qScopeGuard([&] { m_broker.publish("app/reply", QByteArray(), {QStringLiteral("-r")}); });

    // Publish requests until the worker is subscribed and the handler answers;
    // its own reply comes back through the worker once the broker has it.
    QTRY_VERIFY_WITH_TIMEOUT(
        (m_broker.publish("app/request", "ping"),
         std::any_of(echo.seen.cbegin(), echo.seen.cend(),
                     [](const MosquittoMessage &m) { return m.topic() == "app/reply"; })),
        10000);

    QProcess sub;
    sub.start(PeerProcess::findProgram(QStringLiteral("mosquitto_sub")),
              m_broker.subscribeArguments("app/reply", 1, 5));
    QVERIFY(sub.waitForFinished(10000));
    QCOMPARE(sub.readAllStandardOutput().trimmed(), QByteArray("1 0 app/reply re:ping"));
    controller.stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
}

void tst_MosquittoWorker::resubscribesAfterBrokerRestart_data()
{
    messagesReachEveryHandler_data();
}

void tst_MosquittoWorker::resubscribesAfterBrokerRestart()
{
    QFETCH(int, mode);
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.log()));
    QVERIFY(broker.publish("restart/t", "first", {QStringLiteral("-r")}));

    TestController controller(config(broker, mode), {QStringLiteral("restart/t")}, 100);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    EchoHandler echo;
    controller.factory->registreExistingHandler(&echo);
    QTRY_COMPARE_WITH_TIMEOUT(echo.seen.count(), 1, 10000);

    broker.kill();
    QVERIFY2(broker.restart(), qPrintable(broker.log()));
    // The restarted broker knows no subscription and no retained message.
    QVERIFY(broker.publish("restart/t", "second", {QStringLiteral("-r")}));
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(echo.seen.cbegin(), echo.seen.cend(),
                    [](const MosquittoMessage &m) { return m.payload() == "second"; }),
        15000);
    QVERIFY(controller.worker->clients.loadAcquire() >= 1);
    controller.stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
}

void tst_MosquittoWorker::reconnectTimeoutRebuildsOpenConnection()
{
    MosquittoConfig c = config(m_broker, 0);
    c.setReconnectTimeout(300);
    TestController controller(c, {QStringLiteral("rebuild/t")}, 50);
    controller.workerName = QStringLiteral("rebuilt");
    QVERIFY(m_broker.publish("rebuild/t", "again", {QStringLiteral("-r")}));
    const auto clearRetained =
        qScopeGuard([&] { m_broker.publish("rebuild/t", QByteArray(), {QStringLiteral("-r")}); });
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    EchoHandler echo;
    controller.factory->registreExistingHandler(&echo);
    // Each new connection subscribes again and gets the retained message.
    QTRY_VERIFY_WITH_TIMEOUT(echo.seen.count() >= 3, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(controller.worker->clients.loadAcquire() >= 3, 10000);
    controller.stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    // Every client's connection was ended, the replaced ones and the last.
    // (A replaced client unsubscribed just before; when the broker's replies
    // are still unread as libmosquitto closes, the broker sees a reset instead
    // of the DISCONNECT and logs "closed its connection".)
    const QRegularExpression ended(
        QStringLiteral("Client rebuilt_[0-9a-f]+ (disconnected|closed its connection)\\."));
    QTRY_COMPARE(m_broker.log().count(ended), controller.createdClients.loadAcquire());
}

void tst_MosquittoWorker::zeroReconnectTimeoutKeepsOpenConnection()
{
    MosquittoConfig c = config(m_broker, 0);
    c.setReconnectTimeout(0);
    TestController controller(c, {QStringLiteral("keep/t")}, 20);
    QVERIFY(m_broker.publish("keep/t", "kept", {QStringLiteral("-r")}));
    const auto clearRetained =
        qScopeGuard([&] { m_broker.publish("keep/t", QByteArray(), {QStringLiteral("-r")}); });
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    EchoHandler echo;
    controller.factory->registreExistingHandler(&echo);
    QTRY_COMPARE_WITH_TIMEOUT(echo.seen.count(), 1, 10000);
    // (A tick before the first acknowledgement may rebuild; none after it.)
    const int clientsWhenConnected = controller.worker->clients.loadAcquire();
    const int ticksWhenConnected = controller.worker->ticks.loadAcquire();
    QTRY_VERIFY_WITH_TIMEOUT(controller.worker->ticks.loadAcquire() >= ticksWhenConnected + 10, 10000);
    QCOMPARE(controller.worker->clients.loadAcquire(), clientsWhenConnected);
    QCOMPARE(echo.seen.count(), 1);
}

void tst_MosquittoWorker::refusedConnectionIsLogged()
{
    MosquittoBroker locked;
    MosquittoBroker::Options options;
    options.requirePassword = true;
    QVERIFY2(locked.start(options), qPrintable(locked.log()));
    TestController controller(config(locked, 0), {QStringLiteral("t")}, 60000);
    const auto stopController = qScopeGuard([&] { controller.stop(); });
    controller.start();
    const QString expected = QStringLiteral("\"MOSQTUITTO ERROR: -1 (Connection Refused: not authorised.)\"");
    QTRY_VERIFY_WITH_TIMEOUT(workerLog.take().contains(expected), 10000);
    QVERIFY(workerLog.take().contains(QStringLiteral("START")));
    controller.stop();
    QVERIFY(workerLog.take().contains(QStringLiteral("STOP")));
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
}

QTEST_GUILESS_MAIN(tst_MosquittoWorker)
#include "tst_mosquittoworker.moc"
