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
inline QMutex workerLogMutex;
inline QStringList workerLogLines;
inline QtMessageHandler previousMessageHandler = nullptr;

inline void captureWorkerLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!context.file || !QByteArray(context.file).contains("mosquitto"))
        return previousMessageHandler(type, context, text);
    QMutexLocker lock(&workerLogMutex);
    workerLogLines << text;
}

inline QStringList workerLog()
{
    QMutexLocker lock(&workerLogMutex);
    return workerLogLines;
}

inline void clearWorkerLog()
{
    QMutexLocker lock(&workerLogMutex);
    workerLogLines.clear();
}

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

// What the controller's worker did, counted from its thread.
struct WorkerCounts
{
    QAtomicInt clients; // built from scratch
    QAtomicInt ticks;
    QAtomicPointer<const QMetaObject> clientClass;
};

class CountingWorker : public MosquittoWorker
{
public:
    CountingWorker(const MosquittoConfig &config, const QStringList &topics, WorkerCounts &counts)
        : MosquittoWorker(config, topics), m_counts(counts)
    {
    }

protected:
    void doReconnect() override
    {
        m_counts.ticks.ref();
        MosquittoWorker::doReconnect();
    }
    void createClient() override
    {
        const bool had = client() != nullptr;
        MosquittoWorker::createClient();
        if (!had && client()) {
            m_counts.clientClass.storeRelease(client()->metaObject());
            m_counts.clients.ref();
        }
    }

private:
    WorkerCounts &m_counts; // outlives the worker
};

class TestController : public BaseMosquittoController
{
public:
    TestController(const MosquittoConfig &config, const QStringList &topics, int watchMs)
        : m_config(config), m_topics(topics), m_watchMs(watchMs)
    {
    }
    QPointer<CountingWorker> worker;
    WorkerCounts counts;
    MosquittoHandlersFactory *factory = nullptr;
    QString workerName;

    MosquittoHandlersFactory *factoryFor(BaseMosquittoWorker *w) { return createFactory(w); }
    int threadEntries() const { return threads().count(); }

protected:
    bool doStart() override
    {
        auto *w = new CountingWorker(m_config, m_topics, counts);
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
