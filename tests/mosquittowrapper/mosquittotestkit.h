#ifndef ORVEL_TESTS_MOSQUITTOTESTKIT_H
#define ORVEL_TESTS_MOSQUITTOTESTKIT_H

// Pieces the MQTT tests share: a client configuration for the test broker, a
// recording handler, a worker that counts its clients and a controller that
// runs one such worker in its thread.
#include <mosquittowrapper/basemosquittocontroller.h>
#include <mosquittowrapper/basemosquittohandler.h>
#include <mosquittowrapper/mosquittohandlersfactory.h>
#include <mosquittowrapper/mosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclientbase.h>
#include <workers/abstractworkerthread.h>

#include "mosquittobroker.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QPointer>

inline int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).count();
}

inline MosquittoConfig brokerConfig(const MosquittoBroker &broker, int mode = 0)
{
    MosquittoConfig c;
    c.setHost(broker.host());
    c.setPort(broker.port());
    c.setKeepAlive(30);
    c.setMode(mode);
    c.setSyncLoopInterval(2);
    return c;
}

// The worker reports its life and its connection losses as warnings: kept
// here for the tests that check them, and out of the test log.
struct WorkerLog
{
    QMutex mutex;
    QStringList lines;
    QtMessageHandler previous = nullptr;

    static WorkerLog &instance()
    {
        static WorkerLog log;
        return log;
    }
    static void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        WorkerLog &log = instance();
        if (context.file && QByteArray(context.file).contains("mosquitto")) {
            QMutexLocker lock(&log.mutex);
            log.lines << text;
            return;
        }
        log.previous(type, context, text);
    }
    static void install() { instance().previous = qInstallMessageHandler(capture); }
    static void uninstall() { qInstallMessageHandler(instance().previous); }
    static QStringList take()
    {
        QMutexLocker lock(&instance().mutex);
        return instance().lines;
    }
    static void clear()
    {
        QMutexLocker lock(&instance().mutex);
        instance().lines.clear();
    }
};

// Records what arrives and answers a "<...>/request" with a "<...>/reply".
class RecordingHandler : public BaseMosquittoHandler
{
public:
    QList<MosquittoMessage> seen;
    QHash<QByteArray, int> counts; // by payload

    bool sawTopic(const QByteArray &topic) const
    {
        return std::any_of(seen.cbegin(), seen.cend(),
                           [&](const MosquittoMessage &m) { return m.topic() == topic; });
    }

protected:
    void processMessage(MosquittoMessage msg) override
    {
        seen << msg;
        ++counts[msg.payload()];
        if (msg.topic().endsWith("/request"))
            publish(msg.topic().replace("/request", "/reply"), "re:" + msg.payload());
        BaseMosquittoHandler::processMessage(msg);
    }
};

class CountingWorker : public MosquittoWorker
{
public:
    using MosquittoWorker::MosquittoWorker;
    QAtomicInt clients;
    QAtomicInt *created = nullptr; // outlives the worker
    QAtomicInt ticks;
    QAtomicPointer<const QMetaObject> clientClass;

protected:
    void doReconnect() override
    {
        ticks.ref();
        MosquittoWorker::doReconnect();
    }
    void createClient() override
    {
        const bool had = client() != nullptr;
        MosquittoWorker::createClient();
        if (!had && client()) {
            clients.ref();
            if (created)
                created->ref();
            clientClass.storeRelease(client()->metaObject());
        }
    }
};

class TestController : public BaseMosquittoController
{
public:
    TestController(const MosquittoConfig &config, const QStringList &topics, int watchMs)
        : m_config(config), m_topics(topics), m_watchMs(watchMs)
    {
    }
    QPointer<CountingWorker> worker;
    QAtomicInt createdClients;
    MosquittoHandlersFactory *factory = nullptr;
    QString workerName;

    MosquittoHandlersFactory *factoryFor(BaseMosquittoWorker *w) { return createFactory(w); }
    int threadEntries() const { return threads().count(); }

protected:
    bool doStart() override
    {
        auto *w = new CountingWorker(m_config, m_topics);
        w->created = &createdClients;
        w->setObjectName(workerName);
        w->setWatchInterval(m_watchMs);
        worker = w;
        AbstractWorkerThread *thread = addWorkerToThread(w);
        factory = createFactory(w);
        thread->start();
        return true;
    }

private:
    MosquittoConfig m_config;
    QStringList m_topics;
    int m_watchMs;
};

#endif // ORVEL_TESTS_MOSQUITTOTESTKIT_H
