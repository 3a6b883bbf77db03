#ifndef ORVELEXTLIB_ABSTRACTWORKERCONTROLLER_H
#define ORVELEXTLIB_ABSTRACTWORKERCONTROLLER_H

#include <orvelextlib_export.h>

#include <QList>
#include <QObject>
#include <QPointer>

class AbstractWorker;
class AbstractWorkerThread;

/// Owns the threads of a set of workers. A subclass creates its workers in
/// doStart(), hands each to addWorkerToThread() and starts the returned thread.
/// stop() asks every thread to quit and returns once every thread object is
/// destroyed; killThreads() terminates them. Both block the calling thread but
/// keep its events flowing; call them from the controller's own thread, and
/// call one of them before destroying the controller.
class ORVELEXTLIB_EXPORT AbstractWorkerController : public QObject
{
    Q_OBJECT
public:
    /// A controller without threads.
    explicit AbstractWorkerController(QObject *parent = nullptr);
    /// Neither quits nor waits for the threads: call stop() or killThreads()
    /// first, or a running thread's object is deleted with its children.
    ~AbstractWorkerController() override;

signals:
    /// Emitted by start() when doStart() returned true.
    void started();
    /// Emitted by stop() and killThreads() once they are done.
    void stopped();
    /// Connected to quit() of every thread created by addWorkerToThread().
    void stopWorker();

public slots:
    /// doStart(); emits started() on success, stopWorker() on failure so that
    /// threads the failed start already launched quit.
    void start();
    /// Emits stopWorker() and returns at once.
    void beginStopping();
    /// Polite stop (doStop()), then stopped().
    void stop();
    /// Forced stop (doKillThreads()), then stopped().
    void killThreads();

protected slots:
    /// Reached, queued, by the started() of each worker; calls processStartedWorker().
    void workerStarted();
    /// Reached by the destroyed() of each thread object; calls processStoppedWorker().
    void workerStopped();

protected:
    /// Creates the workers, hands each to addWorkerToThread() and starts the
    /// returned threads; returns true on success. Runs in the controller's thread.
    virtual bool doStart() = 0;
    /// Emits stopWorker() and waits, processing events, until every thread
    /// object created here has been destroyed. No time limit. A thread that
    /// was never started is deleted at once.
    virtual bool doStop();
    /// Terminates every thread still alive, 100 ms apart, until all are gone;
    /// deletes one that was never started instead.
    virtual bool doKillThreads();
    /// Puts the worker into a new thread owned by this controller and wires
    /// it up. Returns the thread, not yet started, or null for a null worker.
    virtual AbstractWorkerThread *addWorkerToThread(AbstractWorker *worker);
    /// Called once for every worker that reported started(). Does nothing here.
    virtual void processStartedWorker();
    /// Called once for every destroyed thread object. Sweeps dead entries here.
    virtual void processStoppedWorker();

    /// The threads created so far, in creation order; destroyed ones read null
    /// until the next sweep.
    const QList<QPointer<AbstractWorkerThread>> &threads() const;

private:
    void sweep();

    QList<QPointer<AbstractWorkerThread>> m_threads;

    Q_DISABLE_COPY(AbstractWorkerController)
};

#endif // ORVELEXTLIB_ABSTRACTWORKERCONTROLLER_H
