#include <workers/abstractworker.h>
#include <workers/abstractworkercontroller.h>
#include <workers/abstractworkerthread.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace {

// What a worker saw, readable after the worker is gone.
struct WorkerLog
{
    std::atomic<int> starts{0}, stops{0}, destroyed{0};
    std::atomic<QThread *> startThread{nullptr}, stopThread{nullptr};
};

class TestWorker : public AbstractWorker
{
    Q_OBJECT
public:
    explicit TestWorker(WorkerLog *log, bool startResult = true, bool stopResult = true)
        : m_log(log), m_startResult(startResult), m_stopResult(stopResult) {}
    ~TestWorker() override { ++m_log->destroyed; }
    std::atomic<bool> blockInStart{false};

protected:
    bool doStart() override
    {
        ++m_log->starts;
        m_log->startThread = QThread::currentThread();
        while (blockInStart) // msleep is a cancellation point: terminate() ends it
            QThread::msleep(5);
        return m_startResult;
    }
    bool doStop() override
    {
        ++m_log->stops;
        m_log->stopThread = QThread::currentThread();
        return m_stopResult;
    }

private:
    WorkerLog *m_log;
    bool m_startResult, m_stopResult;
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
    void threadIsNamedAfterWorker_data();
    void threadIsNamedAfterWorker();
    void emptyControllerAddsNothingAndStopsAtOnce();
    void workersRunInTheirOwnThreads_data();
    void workersRunInTheirOwnThreads();
    void restartSignals_data();
    void restartSignals();
    void failedControllerStartStopsThreads_data();
    void failedControllerStartStopsThreads();
    void workerDeletedBeforeThreadRuns();
    void killThreadsEndsStuckWorkers();
};

void tst_AbstractWorkerController::threadIsNamedAfterWorker_data()
{
    QTest::addColumn<QString>("workerName");
    QTest::addColumn<QString>("threadName");
    QTest::newRow("named") << "loader" << "loader-AWT";
    QTest::newRow("unnamed-uses-class") << QString() << "TestWorker-AWT";
}

void tst_AbstractWorkerController::threadIsNamedAfterWorker()
{
    QFETCH(QString, workerName);
    QFETCH(QString, threadName);
    WorkerLog log;
    TestWorker worker(&log);
    worker.setObjectName(workerName);
    AbstractWorkerThread thread(&worker, nullptr);
    QCOMPARE(thread.objectName(), threadName);
    QCOMPARE(worker.thread(), &thread);
}

void tst_AbstractWorkerController::emptyControllerAddsNothingAndStopsAtOnce()
{
    TestController controller;
    QCOMPARE(controller.addWorkerToThread(nullptr), nullptr);
    QVERIFY(controller.threads().isEmpty());
    QStringList order;
    connect(&controller, &AbstractWorkerController::stopWorker, this, [&] { order << "stopWorker"; });
    connect(&controller, &AbstractWorkerController::stopped, this, [&] { order << "stopped"; });
    QElapsedTimer timer;
    timer.start();
    controller.stop();
    QVERIFY(timer.elapsed() < 10);
    QCOMPARE(order, QStringList({"stopWorker", "stopped"}));
}

void tst_AbstractWorkerController::workersRunInTheirOwnThreads_data()
{
    QTest::addColumn<bool>("firstStarts");
    QTest::newRow("both-start") << true;
    // A failed worker start: no started(), the event loop still runs, stop still comes.
    QTest::newRow("first-fails-to-start") << false;
}

void tst_AbstractWorkerController::workersRunInTheirOwnThreads()
{
    QFETCH(bool, firstStarts);
    WorkerLog logs[2];
    TestController controller;
    QPointer<AbstractWorker> workers[2] = {new TestWorker(&logs[0], firstStarts), new TestWorker(&logs[1])};
    controller.workers << workers[0] << workers[1];
    QSignalSpy firstStarted(workers[0], &AbstractWorker::started);
    QSignalSpy started(&controller, &AbstractWorkerController::started);
    QSignalSpy stopped(&controller, &AbstractWorkerController::stopped);
    controller.start();
    QCOMPARE(started.count(), 1);
    QCOMPARE(controller.threads().size(), 2);
    const QList<QPointer<AbstractWorkerThread>> threads = controller.threads();
    QCOMPARE(threads[0]->parent(), &controller);

    // started() of each running worker reaches the controller, queued, once.
    QTRY_COMPARE(controller.startedWorkers, firstStarts ? 2 : 1);
    for (int i = 0; i < 2; ++i)
        QTRY_COMPARE(logs[i].startThread.load(), threads[i].data());
    std::atomic<int> pinged{0};
    QMetaObject::invokeMethod(workers[0], [&] { ++pinged; }, Qt::QueuedConnection);
    QTRY_COMPARE(pinged.load(), 1);

    controller.stop();
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(firstStarted.count(), firstStarts ? 1 : 0);
    QCOMPARE(controller.startedWorkers, firstStarts ? 2 : 1);
    QVERIFY(controller.threads().isEmpty());
    for (int i = 0; i < 2; ++i) {
        QVERIFY(threads[i].isNull());
        QVERIFY(workers[i].isNull());
        QCOMPARE(logs[i].stops.load(), 1);
        QCOMPARE(logs[i].destroyed.load(), 1);
        QCOMPARE(logs[i].stopThread.load(), logs[i].startThread.load());
    }
}

void tst_AbstractWorkerController::restartSignals_data()
{
    QTest::addColumn<bool>("stopResult");
    QTest::addColumn<bool>("startResult");
    QTest::addColumn<int>("starts");
    QTest::addColumn<int>("stoppedSignals");
    QTest::newRow("stop-fails") << false << true << 0 << 0;
    QTest::newRow("both-succeed") << true << true << 1 << 0;
    QTest::newRow("start-fails") << true << false << 1 << 1;
}

void tst_AbstractWorkerController::restartSignals()
{
    QFETCH(bool, stopResult);
    QFETCH(bool, startResult);
    QFETCH(int, starts);
    QFETCH(int, stoppedSignals);
    WorkerLog log;
    TestWorker worker(&log, startResult, stopResult);
    QSignalSpy started(&worker, &AbstractWorker::started);
    QSignalSpy stopped(&worker, &AbstractWorker::stopped);
    worker.restart();
    QCOMPARE(log.stops.load(), 1);
    QCOMPARE(log.starts.load(), starts);
    QCOMPARE(started.count(), 0);
    QCOMPARE(stopped.count(), stoppedSignals);
}

void tst_AbstractWorkerController::failedControllerStartStopsThreads_data()
{
    QTest::addColumn<QByteArray>("stopBy"); // the threads are started when empty
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
        // The thread quits by itself; its destruction empties the list.
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

void tst_AbstractWorkerController::workerDeletedBeforeThreadRuns()
{
    WorkerLog log;
    auto *worker = new TestWorker(&log);
    AbstractWorkerThread thread(worker, nullptr);
    delete worker;
    thread.start();
    QVERIFY(thread.wait(5000));
    QCOMPARE(log.starts.load() + log.stops.load(), 0);
}

#if defined(__SANITIZE_THREAD__)
#define ORVEL_THREAD_SANITIZER
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVEL_THREAD_SANITIZER
#endif
#endif

void tst_AbstractWorkerController::killThreadsEndsStuckWorkers()
{
#ifdef ORVEL_THREAD_SANITIZER
    QSKIP("ThreadSanitizer does not support cancelling a thread (QThread::terminate)");
#endif
    // Both stuck outside their event loops (a terminated event loop warns).
    WorkerLog logs[2];
    TestController controller;
    for (WorkerLog &log : logs) {
        auto *stuck = new TestWorker(&log);
        stuck->blockInStart = true;
        controller.workers << stuck;
    }
    QSignalSpy stopped(&controller, &AbstractWorkerController::stopped);
    controller.start();
    QTRY_COMPARE(logs[0].starts + logs[1].starts, 2);
    controller.killThreads();
    QCOMPARE(stopped.count(), 1);
    QVERIFY(controller.threads().isEmpty());
    QCOMPARE(logs[0].stops + logs[1].stops, 0); // a terminated worker never reaches its stop
    // Nor its deletion: the forced stop leaves the workers to their owner.
    qDeleteAll(controller.workers);
}

QTEST_GUILESS_MAIN(tst_AbstractWorkerController)
#include "tst_abstractworkercontroller.moc"
