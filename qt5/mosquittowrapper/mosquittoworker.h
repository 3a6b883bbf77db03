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
    MosquittoWorker(const MosquittoConfig &config, const QStringList &subscriptions);
    ~MosquittoWorker() override;

protected:
    void createClient() override;

private:
    Q_DISABLE_COPY(MosquittoWorker)
};

#endif // ORVELEXTLIB_MOSQUITTOWORKER_H
