#ifndef ORVELEXTLIB_BASEMOSQUITTOWORKER_P_H
#define ORVELEXTLIB_BASEMOSQUITTOWORKER_P_H

#include <mosquittowrapper/basemosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclientbase.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <atomic>

class BaseMosquittoWorkerPrivate
{
public:
    BaseMosquittoWorkerPrivate(const MosquittoConfig &config, const QStringList &subscriptions)
        : config(config), subscriptions(subscriptions)
    {
    }

    bool started = false;
    MosquittoConfig config;
    QPointer<QtMosquittoClientBase> client;
    QPointer<QTimer> reconnectTimer;
    QStringList subscriptions;
    // Invalid while there is no connection.
    QElapsedTimer connectTime;
    std::atomic<int> watchInterval{BaseMosquittoWorker::DefaultWatchInterval};
    QSslConfiguration sslConfiguration;
    bool hasSslConfiguration = false;
};

#endif // ORVELEXTLIB_BASEMOSQUITTOWORKER_P_H
