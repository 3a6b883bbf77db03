#include <workers/abstractworker.h>
#include <workers/abstractworkercontroller.h>
#include <workers/abstractworkerthread.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace {

// What a worker saw, readable after the worker is gone.
struct WorkerLog
{
    std::atomic<int> stops{0}, destroyed{0};
    std::atomic<QThread *> startThread{nullptr}, stopThread{nullptr};
};

class TestWorker : public AbstractWorker
{
    Q_OBJECT
public:
    explicit TestWorker(WorkerLog *log) : log(log) {}
    ~TestWorker() override { ++log->destroyed; }
    WorkerLog *log;
    bool startResult = true;

protected:
    bool doStart() override
    {
        log->startThread = QThread::currentThread();
        return startResult;
    }
    bool doStop() override
    {
        ++log->stops;
        log->stopThread = QThread::currentThread();
        return true;
    }
};

// A controller whose doStart() runs the workers it was handed.
class TestController : public AbstractWorkerController
{
    Q_OBJECT
public:
    QList<AbstractWorker *> workers;
    bool startResult = true;
    bool startThreads = true;
    int startedWorkers = 0;
    using AbstractWorkerController::addWorkerToThread;
    using AbstractWorkerController::threads;

protected:
    bool doStart() override
    {
        for (AbstractWorker *worker : qAsConst(workers))
            if (AbstractWorkerThread *thread = addWorkerToThread(worker); startThreads)
                thread->start();
        return startResult;
    }
    void processStartedWorker() override { ++startedWorkers; }
};

} // namespace

class tst_AbstractWorkerController : public QObject
{
    Q_OBJECT
private slots:
    void workersRunInTheirOwnThreads_data();
    void workersRunInTheirOwnThreads();
    void failedControllerStartStopsThreads_data();
    void failedControllerStartStopsThreads();
};

void tst_AbstractWorkerController::workersRunInTheirOwnThreads_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("firstStarts");
    QTest::newRow("no-workers") << 0 << true;
    QTest::newRow("both-start") << 2 << true;
    // A failed worker start: no started(), the event loop still runs, stop still comes.
    QTest::newRow("first-fails-to-start") << 2 << false;
}

void tst_AbstractWorkerController::workersRunInTheirOwnThreads()
{
    QFETCH(int, count);
    QFETCH(bool, firstStarts);
    WorkerLog logs[2];
    TestController controller;
    QList<QPointer<TestWorker>> workers;
    for (int i = 0; i < count; ++i) {
        workers << new TestWorker(&logs[i]);
        workers[i]->startResult = i > 0 || firstStarts;
        controller.workers << workers[i];
    }
    if (count > 0)
        workers[0]->setObjectName(QStringLiteral("loader")); // the other is named after its class
    QCOMPARE(controller.addWorkerToThread(nullptr), nullptr);
    QStringList order;
    connect(&controller, &AbstractWorkerController::started, this, [&] { order << "started"; });
    connect(&controller, &AbstractWorkerController::stopWorker, this, [&] { order << "stopWorker"; });
    connect(&controller, &AbstractWorkerController::stopped, this, [&] { order << "stopped"; });
    controller.start();
    const QList<QPointer<AbstractWorkerThread>> threads = controller.threads();
    QCOMPARE(threads.size(), count);
    std::atomic<int> pinged{0};
    for (int i = 0; i < count; ++i) {
        QCOMPARE(threads[i]->parent(), &controller);
        QCOMPARE(threads[i]->objectName(), i == 0 ? QStringLiteral("loader-AWT") : QStringLiteral("TestWorker-AWT"));
        QTRY_COMPARE(logs[i].startThread.load(), threads[i].data());
        QMetaObject::invokeMethod(workers[i], [&] { ++pinged; }, Qt::QueuedConnection); // its event loop runs
    }
    QTRY_COMPARE(pinged.load(), count);
    // started() of each running worker reaches the controller, queued, once.
    const int running = firstStarts ? count : count - 1;
    QTRY_COMPARE(controller.startedWorkers, running);

    controller.stop();
    QCOMPARE(order, QStringList({"started", "stopWorker", "stopped"}));
    QVERIFY(controller.threads().isEmpty());
    for (int i = 0; i < count; ++i) {
        QVERIFY(threads[i].isNull() && workers[i].isNull());
        QCOMPARE(logs[i].stops.load(), 1);
        QCOMPARE(logs[i].destroyed.load(), 1);
        QCOMPARE(logs[i].stopThread.load(), logs[i].startThread.load());
    }
}

void tst_AbstractWorkerController::failedControllerStartStopsThreads_data()
{
    QTest::addColumn<QByteArray>("stopBy"); // empty: the threads are started and quit by themselves
    QTest::newRow("started-quits") << QByteArray();
    // doStart() failed before starting its thread: that thread never finishes.
    QTest::newRow("unstarted-stop") << QByteArray("stop");
    QTest::newRow("unstarted-kill") << QByteArray("killThreads");
}

void tst_AbstractWorkerController::failedControllerStartStopsThreads()
{
    QFETCH(QByteArray, stopBy);
    WorkerLog log;
    TestController controller;
    controller.startResult = false;
    controller.startThreads = stopBy.isEmpty();
    controller.workers.append(new TestWorker(&log));
    QSignalSpy started(&controller, &AbstractWorkerController::started);
    QSignalSpy stopWorker(&controller, &AbstractWorkerController::stopWorker);
    controller.start();
    QCOMPARE(started.count(), 0);
    QCOMPARE(stopWorker.count(), 1);
    if (stopBy.isEmpty()) {
        // Its destruction empties the list.
        QTRY_VERIFY(controller.threads().isEmpty());
        QTRY_COMPARE(log.destroyed.load(), 1);
        return;
    }
    // Should the stop wait for the thread forever, this deletes it, failing the row.
    bool hung = false;
    QTimer::singleShot(5000, &controller, [&] {
        hung = true;
        qDeleteAll(QList<QPointer<AbstractWorkerThread>>(controller.threads()));
    });
    QVERIFY(QMetaObject::invokeMethod(&controller, stopBy.constData()));
    QVERIFY(!hung);
    delete controller.workers.at(0); // it never ran, so nothing deleted it
}

QTEST_GUILESS_MAIN(tst_AbstractWorkerController)
#include "tst_abstractworkercontroller.moc"
