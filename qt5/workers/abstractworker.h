#ifndef ORVELEXTLIB_ABSTRACTWORKER_H
#define ORVELEXTLIB_ABSTRACTWORKER_H

#include <orvelextlib_export.h>

#include <QObject>

/// A unit of work with a start/stop contract, meant to run in a thread of its
/// own (see AbstractWorkerThread). Created without a parent so that it can be
/// moved to another thread. Subclasses supply doStart() and doStop(); both run
/// in the worker's thread when the worker is hosted by an AbstractWorkerThread.
class ORVELEXTLIB_EXPORT AbstractWorker : public QObject
{
    Q_OBJECT
public:
    /// Creates the worker without a parent, so that it can be moved to
    /// another thread.
    AbstractWorker();
    ~AbstractWorker() override;

signals:
    /// Emitted by start() when doStart() returned true, in the worker's thread.
    void started();
    /// Emitted by stop() when doStop() returned true, and by restart() when
    /// the stop succeeded but the new start failed.
    void stopped();

public slots:
    /// Calls doStart(); emits started() when it returned true.
    void start();
    /// Calls doStop(); emits stopped() when it returned true.
    void stop();
    /// doStop(), then doStart(). Emits stopped() only when the stop succeeded
    /// and the new start failed; a successful restart emits nothing.
    void restart();

protected:
    /// Returns true when the worker now runs.
    virtual bool doStart() = 0;
    /// Returns true when the worker has stopped.
    virtual bool doStop() = 0;

private:
    Q_DISABLE_COPY(AbstractWorker)
};

#endif // ORVELEXTLIB_ABSTRACTWORKER_H
