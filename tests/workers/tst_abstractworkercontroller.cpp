#include <workers/abstractworker.h>
#include <workers/abstractworkercontroller.h>
#include <workers/abstractworkerthread.h>

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

// What a worker saw, readable after the worker is gone.
struct WorkerLog
{
    QAtomicInt starts;
    QAtomicInt stops;
    QAtomicPointer<QThread> startThread;
    QAtomicPointer<QThread> stopThread;
    QAtomicInt destroyed;
};

class TestWorker : public AbstractWorker
{
    Q_OBJECT
public:
    explicit TestWorker(WorkerLog *log, bool startResult = true, bool stopResult = true)
        : m_log(log), m_startResult(startResult), m_stopResult(stopResult)
    {
    }
    ~TestWorker() override { m_log->destroyed.ref(); }

    bool blockInStart = false;

protected:
    bool doStart() override
    {
        m_log->starts.ref();
        m_log->startThread.storeRelease(QThread::currentThread());
        // A worker stuck in its start, for the forced stop: msleep is a
        // cancellation point, so terminate() ends it.
        while (blockInStart)
            QThread::msleep(5);
        return m_startResult;
    }
    bool doStop() override
    {
        m_log->stops.ref();
        m_log->stopThread.storeRelease(QThread::currentThread());
        return m_stopResult;
    }

private:
    WorkerLog *m_log;
    bool m_startResult;
    bool m_stopResult;
};

// A controller whose doStart() runs the workers it was handed.
class TestController : public AbstractWorkerController
{
    Q_OBJECT
public:
    QList<AbstractWorker *> workers;
    bool startResult = true;
    int startedWorkers = 0;
    QList<AbstractWorkerThread *> created;

    using AbstractWorkerController::addWorkerToThread;
    using AbstractWorkerController::threads;

protected:
    bool doStart() override
    {
        for (AbstractWorker *worker : qAsConst(workers)) {
            AbstractWorkerThread *thread = addWorkerToThread(worker);
            created.append(thread);
            thread->start();
        }
        return startResult;
    }
    void processStartedWorker() override { ++startedWorkers; }
};

} // namespace

class tst_AbstractWorkerController : public QObject
{
    Q_OBJECT
private slots:
    void threadIsNamedAfterWorker_data();
    void threadIsNamedAfterWorker();
    void nullWorkerIsNotAdded();
    void workersRunInTheirOwnThreads();
    void stopWithoutThreadsDoesNotWait();
    void restartSignals_data();
    void restartSignals();
    void failedWorkerStartStillStops();
    void failedControllerStartStopsThreads();
    void workerDeletedBeforeThreadRuns();
    void killThreadsEndsStuckWorker();
};

void tst_AbstractWorkerController::threadIsNamedAfterWorker_data()
{
    QTest::addColumn<QString>("workerName");
    QTest::addColumn<QString>("threadName");
    QTest::newRow("named") << QStringLiteral("loader") << QStringLiteral("loader-AWT");
    QTest::newRow("unnamed-uses-class") << QString() << QStringLiteral("(anonymous namespace)::TestWorker-AWT");
}

void tst_AbstractWorkerController::threadIsNamedAfterWorker()
{
    QFETCH(QString, workerName);
    QFETCH(QString, threadName);
    WorkerLog log;
    auto *worker = new TestWorker(&log);
    worker->setObjectName(workerName);
    const QString className = QString::fromUtf8(worker->metaObject()->className());
    AbstractWorkerThread thread(worker, nullptr);
    if (workerName.isEmpty())
        QCOMPARE(thread.objectName(), className + QStringLiteral("-AWT"));
    else
        QCOMPARE(thread.objectName(), threadName);
    QCOMPARE(worker->thread(), &thread);
    delete worker;
}

void tst_AbstractWorkerController::nullWorkerIsNotAdded()
{
    TestController controller;
    QCOMPARE(controller.addWorkerToThread(nullptr), nullptr);
    QVERIFY(controller.threads().isEmpty());
}

void tst_AbstractWorkerController::workersRunInTheirOwnThreads()
{
    WorkerLog logs[2];
    TestController controller;
    QPointer<AbstractWorker> workers[2];
    for (int i = 0; i < 2; ++i) {
        workers[i] = new TestWorker(&logs[i]);
        controller.workers.append(workers[i]);
    }
    QSignalSpy started(&controller, &AbstractWorkerController::started);
    QSignalSpy stopped(&controller, &AbstractWorkerController::stopped);
    controller.start();
    QCOMPARE(started.count(), 1);
    QCOMPARE(controller.threads().size(), 2);
    QPointer<AbstractWorkerThread> threads[2] = {controller.created.at(0), controller.created.at(1)};
    QCOMPARE(threads[0]->parent(), &controller);

    // started() of each worker reaches the controller, queued, once.
    QTRY_COMPARE(controller.startedWorkers, 2);
    for (int i = 0; i < 2; ++i)
        QCOMPARE(logs[i].startThread.loadAcquire(), threads[i].data());

    controller.stop();
    QCOMPARE(stopped.count(), 1);
    QVERIFY(controller.threads().isEmpty());
    for (int i = 0; i < 2; ++i) {
        QVERIFY(threads[i].isNull());
        QVERIFY(workers[i].isNull());
        QCOMPARE(logs[i].stops.loadAcquire(), 1);
        QCOMPARE(logs[i].destroyed.loadAcquire(), 1);
        QVERIFY(logs[i].stopThread.loadAcquire() != QThread::currentThread());
    }
}

void tst_AbstractWorkerController::stopWithoutThreadsDoesNotWait()
{
    TestController controller;
    QStringList order;
    connect(&controller, &AbstractWorkerController::stopWorker, this, [&] { order << "stopWorker"; });
    connect(&controller, &AbstractWorkerController::stopped, this, [&] { order << "stopped"; });
    QElapsedTimer timer;
    timer.start();
    controller.stop();
    QVERIFY(timer.elapsed() < 10);
    QCOMPARE(order, QStringList({"stopWorker", "stopped"}));
}

void tst_AbstractWorkerController::restartSignals_data()
{
    QTest::addColumn<bool>("stopResult");
    QTest::addColumn<bool>("startResult");
    QTest::addColumn<int>("starts");
    QTest::addColumn<int>("startedSignals");
    QTest::addColumn<int>("stoppedSignals");
    QTest::newRow("stop-fails") << false << true << 0 << 0 << 0;
    QTest::newRow("both-succeed") << true << true << 1 << 0 << 0;
    QTest::newRow("start-fails") << true << false << 1 << 0 << 1;
}

void tst_AbstractWorkerController::restartSignals()
{
    QFETCH(bool, stopResult);
    QFETCH(bool, startResult);
    QFETCH(int, starts);
    QFETCH(int, startedSignals);
    QFETCH(int, stoppedSignals);
    WorkerLog log;
    TestWorker worker(&log, startResult, stopResult);
    QSignalSpy started(&worker, &AbstractWorker::started);
    QSignalSpy stopped(&worker, &AbstractWorker::stopped);
    worker.restart();
    QCOMPARE(log.stops.loadAcquire(), 1);
    QCOMPARE(log.starts.loadAcquire(), starts);
    QCOMPARE(started.count(), startedSignals);
    QCOMPARE(stopped.count(), stoppedSignals);
}

void tst_AbstractWorkerController::failedWorkerStartStillStops()
{
    WorkerLog log;
    TestController controller;
    auto *worker = new TestWorker(&log, false);
    QSignalSpy workerStarted(worker, &AbstractWorker::started);
    controller.workers.append(worker);
    controller.start();
    QTRY_COMPARE(log.starts.loadAcquire(), 1);
    // The event loop still runs: a queued call reaches the worker's thread.
    QAtomicInt pinged;
    QMetaObject::invokeMethod(worker, [&] { pinged.ref(); }, Qt::QueuedConnection);
    QTRY_COMPARE(pinged.loadAcquire(), 1);
    controller.stop();
    QCOMPARE(workerStarted.count(), 0);
    QCOMPARE(controller.startedWorkers, 0);
    QCOMPARE(log.stops.loadAcquire(), 1);
    QCOMPARE(log.destroyed.loadAcquire(), 1);
}

void tst_AbstractWorkerController::failedControllerStartStopsThreads()
{
    WorkerLog log;
    TestController controller;
    controller.startResult = false;
    controller.workers.append(new TestWorker(&log));
    QSignalSpy started(&controller, &AbstractWorkerController::started);
    QSignalSpy stopWorker(&controller, &AbstractWorkerController::stopWorker);
    controller.start();
    QCOMPARE(started.count(), 0);
    QCOMPARE(stopWorker.count(), 1);
    // The thread quits by itself; its destruction empties the list.
    QTRY_VERIFY(controller.threads().isEmpty());
    QTRY_COMPARE(log.destroyed.loadAcquire(), 1);
}

void tst_AbstractWorkerController::workerDeletedBeforeThreadRuns()
{
    WorkerLog log;
    auto *worker = new TestWorker(&log);
    AbstractWorkerThread thread(worker, nullptr);
    delete worker;
    // finished() comes from the hosted thread: a signal spy there would race.
    thread.start();
    QVERIFY(thread.wait(5000));
    QVERIFY(thread.isFinished());
    QCOMPARE(log.starts.loadAcquire(), 0);
    QCOMPARE(log.stops.loadAcquire(), 0);
}

#if defined(__SANITIZE_THREAD__)
#define ORVEL_THREAD_SANITIZER
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVEL_THREAD_SANITIZER
#endif
#endif

void tst_AbstractWorkerController::killThreadsEndsStuckWorker()
{
#ifdef ORVEL_THREAD_SANITIZER
    QSKIP("ThreadSanitizer does not support cancelling a thread (QThread::terminate)");
#endif
    WorkerLog logs[2];
    TestController controller;
    auto *stuck = new TestWorker(&logs[0]);
    stuck->blockInStart = true;
    controller.workers << stuck << new TestWorker(&logs[1]);
    QSignalSpy stopped(&controller, &AbstractWorkerController::stopped);
    controller.start();
    QTRY_COMPARE(logs[0].starts.loadAcquire(), 1);
    QTRY_COMPARE(controller.startedWorkers, 1);
    controller.killThreads();
    QCOMPARE(stopped.count(), 1);
    QVERIFY(controller.threads().isEmpty());
    // A terminated worker never reaches its stop.
    QCOMPARE(logs[0].stops.loadAcquire(), 0);
    // Nor its deletion: the forced stop leaves the workers to their owner.
    qDeleteAll(controller.workers);
    QCOMPARE(logs[0].destroyed.loadAcquire() + logs[1].destroyed.loadAcquire(), 2);
}

QTEST_GUILESS_MAIN(tst_AbstractWorkerController)
#include "tst_abstractworkercontroller.moc"
