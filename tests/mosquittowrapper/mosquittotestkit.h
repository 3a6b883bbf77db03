#ifndef ORVEL_TESTS_MOSQUITTOTESTKIT_H
#define ORVEL_TESTS_MOSQUITTOTESTKIT_H

// Pieces the MQTT tests share: a client configuration for a test broker, a
// capture of the stack's log, a recording handler, and a controller that runs
// one worker in its thread.
#include <mosquittowrapper/basemosquittocontroller.h>
#include <mosquittowrapper/basemosquittohandler.h>
#include <mosquittowrapper/mosquittohandlersfactory.h>
#include <mosquittowrapper/mosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclientbase.h>
#include <workers/abstractworkerthread.h>

#include "mosquittobroker.h"

#include <QDir>
#include <QMutex>
#include <QPointer>

inline int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).count();
}

// Every configuration names an HTTP proxy that does not exist: the clients
// apply SOCKS5 proxies only, so it must change nothing.
inline MosquittoConfig brokerConfig(const MosquittoBroker &broker, int mode = 0)
{
    MosquittoConfig c;
    c.setHost(broker.host());
    c.setPort(broker.port());
    c.setKeepAlive(30);
    c.setMode(mode);
    c.setSyncLoopInterval(2);
    c.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 1));
    return c;
}

// The stack logs its life and its failures: kept here for the tests that
// check them, and out of the test log.
inline QMutex stackLogMutex;
inline QStringList stackLogLines;
inline QtMessageHandler previousMessageHandler = nullptr;

inline void captureStackLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!context.file || !QByteArray(context.file).contains("mosquitto"))
        return previousMessageHandler(type, context, text);
    QMutexLocker lock(&stackLogMutex);
    stackLogLines << text;
}

inline QStringList takeStackLog()
{
    QMutexLocker lock(&stackLogMutex);
    return std::exchange(stackLogLines, QStringList());
}

// Records what arrives and answers a "<...>/request" with a "<...>/reply".
class RecordingHandler : public BaseMosquittoHandler
{
public:
    QList<MosquittoMessage> seen;

protected:
    void processMessage(MosquittoMessage msg) override
    {
        seen << msg;
        if (msg.topic().endsWith("/request"))
            publish(msg.topic().replace("/request", "/reply"), "re:" + msg.payload());
        BaseMosquittoHandler::processMessage(msg);
    }
};

// Runs one worker, created at once so that a test can name it or set its
// watch; stopped at the latest when the controller goes.
class TestController : public BaseMosquittoController
{
public:
    TestController(const MosquittoConfig &config, const QStringList &topics, int watchMs)
        : worker(new MosquittoWorker(config, topics))
    {
        worker->setWatchInterval(watchMs);
    }
    ~TestController() override { stop(); }
    QPointer<MosquittoWorker> worker;
    MosquittoHandlersFactory *factory = nullptr;
    using BaseMosquittoController::createFactory;

protected:
    bool doStart() override
    {
        AbstractWorkerThread *thread = addWorkerToThread(worker);
        factory = createFactory(worker);
        thread->start();
        return true;
    }
};

#endif // ORVEL_TESTS_MOSQUITTOTESTKIT_H
