#include "abstractworkerthread.h"

#include "abstractworker.h"

AbstractWorkerThread::AbstractWorkerThread(AbstractWorker *worker, QObject *parent)
    : QThread(parent)
    , m_worker(worker)
{
    if (worker) {
        const QString name = worker->objectName().isEmpty()
                                 ? QString::fromUtf8(worker->metaObject()->className())
                                 : worker->objectName();
        setObjectName(name + QStringLiteral("-AWT"));
        worker->moveToThread(this);
    }
    connect(this, &QThread::started, this, &AbstractWorkerThread::threadStarted);
    connect(this, &QThread::finished, this, &AbstractWorkerThread::threadFinished);
}

AbstractWorkerThread::~AbstractWorkerThread() = default;

void AbstractWorkerThread::run()
{
    if (!m_worker)
        return;
    m_worker->start();
    exec();
    if (m_worker) {
        m_worker->stop();
        // Carried out by QThread as the thread finishes, still in this thread.
        m_worker->deleteLater();
    }
    m_worker.clear();
}

void AbstractWorkerThread::threadStarted()
{
}

void AbstractWorkerThread::threadFinished()
{
}
