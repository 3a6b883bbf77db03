#include "abstractworkercontroller.h"

#include "abstractworker.h"
#include "abstractworkerthread.h"

#include <QCoreApplication>

namespace {

// A thread that was never started (its doStart() failed before starting it)
// never emits finished(), so nothing would ever delete it: it counts as
// stopped and goes now. Running is asked first: a finishing thread is no
// longer running but already finished.
bool deleteIfNeverStarted(AbstractWorkerThread *thread)
{
    if (!thread || thread->isRunning() || thread->isFinished())
        return false;
    delete thread;
    return true;
}

} // namespace

AbstractWorkerController::AbstractWorkerController(QObject *parent)
    : QObject(parent)
{
}

AbstractWorkerController::~AbstractWorkerController() = default;

void AbstractWorkerController::start()
{
    if (doStart())
        emit started();
    else
        emit stopWorker();
}

void AbstractWorkerController::beginStopping()
{
    emit stopWorker();
}

void AbstractWorkerController::stop()
{
    doStop();
    emit stopped();
}

void AbstractWorkerController::killThreads()
{
    doKillThreads();
    emit stopped();
}

void AbstractWorkerController::workerStarted()
{
    processStartedWorker();
}

void AbstractWorkerController::workerStopped()
{
    processStoppedWorker();
}

bool AbstractWorkerController::doStop()
{
    emit stopWorker();
    while (!m_threads.isEmpty()) {
        // A copy: each deletion sweeps the list.
        const QList<QPointer<AbstractWorkerThread>> threads = m_threads;
        for (const QPointer<AbstractWorkerThread> &thread : threads)
            deleteIfNeverStarted(thread);
        QThread::msleep(10);
        // Lets each finished thread's deleteLater() happen.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        sweep();
    }
    return true;
}

bool AbstractWorkerController::doKillThreads()
{
    while (!m_threads.isEmpty()) {
        int i = 0;
        while (i < m_threads.size()) {
            AbstractWorkerThread *thread = m_threads.at(i);
            if (!deleteIfNeverStarted(thread) && thread)
                thread->terminate();
            QThread::msleep(100);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            // The events may have run a sweep that shortened the list.
            if (i >= m_threads.size())
                break;
            if (m_threads.at(i).isNull())
                m_threads.removeAt(i);
            else
                ++i;
        }
    }
    return true;
}

AbstractWorkerThread *AbstractWorkerController::addWorkerToThread(AbstractWorker *worker)
{
    if (!worker)
        return nullptr;
    auto *thread = new AbstractWorkerThread(worker, this);
    m_threads.append(thread);
    connect(this, &AbstractWorkerController::stopWorker, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &AbstractWorker::started, this, &AbstractWorkerController::workerStarted,
            Qt::QueuedConnection);
    connect(thread, &QObject::destroyed, this, &AbstractWorkerController::workerStopped);
    return thread;
}

void AbstractWorkerController::processStartedWorker()
{
}

void AbstractWorkerController::processStoppedWorker()
{
    sweep();
}

const QList<QPointer<AbstractWorkerThread>> &AbstractWorkerController::threads() const
{
    return m_threads;
}

void AbstractWorkerController::sweep()
{
    int i = 0;
    while (i < m_threads.size()) {
        if (m_threads.at(i).isNull())
            m_threads.removeAt(i);
        else
            ++i;
    }
}
