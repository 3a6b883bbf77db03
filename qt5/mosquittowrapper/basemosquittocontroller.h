#ifndef ORVELEXTLIB_BASEMOSQUITTOCONTROLLER_H
#define ORVELEXTLIB_BASEMOSQUITTOCONTROLLER_H

#include <orvelextlib_export.h>

#include <workers/abstractworkercontroller.h>

class BaseMosquittoWorker;
class MosquittoHandlersFactory;

/// A worker controller for MQTT workers. The application's doStart() creates
/// the worker, puts it into a thread with addWorkerToThread(), creates the
/// factory with createFactory() and its handlers, and starts the thread.
class ORVELEXTLIB_EXPORT BaseMosquittoController : public AbstractWorkerController
{
    Q_OBJECT
public:
    /// A controller with no workers; stop it before destroying it.
    explicit BaseMosquittoController(QObject *parent = nullptr);
    /// Neither quits nor waits for the threads (see AbstractWorkerController).
    ~BaseMosquittoController() override;

protected:
    /// A factory (child of this controller) wired to the worker with queued
    /// connections; null for a null worker.
    virtual MosquittoHandlersFactory *createFactory(BaseMosquittoWorker *worker);

private:
    Q_DISABLE_COPY(BaseMosquittoController)
};

#endif // ORVELEXTLIB_BASEMOSQUITTOCONTROLLER_H
