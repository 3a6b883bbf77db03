#ifndef ORVELEXTLIB_MOSQUITTOWORKER_H
#define ORVELEXTLIB_MOSQUITTOWORKER_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/basemosquittoworker.h>

/// The concrete reconnecting worker: mode 1 in the configuration gives a
/// threaded client (QtMosquittoClient), any other mode an asynchronous one.
class ORVELEXTLIB_EXPORT MosquittoWorker : public BaseMosquittoWorker
{
    Q_OBJECT
public:
    /// As BaseMosquittoWorker's.
    MosquittoWorker(const MosquittoConfig &config, const QStringList &subscriptions);
    /// As BaseMosquittoWorker's.
    ~MosquittoWorker() override;

protected:
    /// Creates the client the configuration's mode asks for, a child of the
    /// worker, and wires it to the worker's signals and slots (queued for the
    /// asynchronous client, direct for the threaded one).
    void createClient() override;

private:
    Q_DISABLE_COPY(MosquittoWorker)
};

#endif // ORVELEXTLIB_MOSQUITTOWORKER_H
