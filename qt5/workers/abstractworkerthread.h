#ifndef ORVELEXTLIB_ABSTRACTWORKERTHREAD_H
#define ORVELEXTLIB_ABSTRACTWORKERTHREAD_H

#include <orvelextlib_export.h>

#include <QPointer>
#include <QThread>

class AbstractWorker;

/// A thread that hosts exactly one worker. The constructor moves the worker
/// into the thread and names the thread after it ("<name>-AWT"). When the
/// thread runs it starts the worker, runs its event loop until quit(), then
/// stops the worker and deletes it inside the thread. A worker deleted
/// elsewhere reads as null and is skipped.
class ORVELEXTLIB_EXPORT AbstractWorkerThread : public QThread
{
    Q_OBJECT
public:
    /// Takes a guarded pointer to `worker` (not owned), names the thread
    /// "<worker's object name>-AWT" (the worker's class name when it has no
    /// object name) and moves the worker into this thread. Call from the
    /// worker's current thread; `parent` (the controller) owns the thread.
    AbstractWorkerThread(AbstractWorker *worker, QObject *parent);
    ~AbstractWorkerThread() override;

protected:
    /// Starts the worker, runs the event loop until quit(), then stops the
    /// worker and deletes it (deleteLater(), carried out in this thread). A
    /// worker already deleted makes the thread finish at once.
    void run() override;

private slots:
    void threadStarted();
    void threadFinished();

private:
    QPointer<AbstractWorker> m_worker;

    Q_DISABLE_COPY(AbstractWorkerThread)
};

#endif // ORVELEXTLIB_ABSTRACTWORKERTHREAD_H
