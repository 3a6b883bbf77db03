// MQTT throughput and round trip through a local mosquitto broker, QoS 0,
// 64-byte payloads: a plain libmosquitto publisher/subscriber pair (the
// ceiling for any wrapper), QtMosquittoClientAsync publishing to a
// subscribing QtMosquittoClientAsync, and the whole path from a handler
// through factory, worker and client to the broker and back to the handler,
// for mode 0 (asynchronous client) and mode 1 (threaded client).
//
// Usage: mqtt_bench [messages] [round trips] [runs] [mode 1 loop timeout ms]

#include <mosquittowrapper/basemosquittocontroller.h>
#include <mosquittowrapper/basemosquittohandler.h>
#include <mosquittowrapper/mosquittohandlersfactory.h>
#include <mosquittowrapper/mosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>
#include <workers/abstractworkerthread.h>

#include "mosquittobroker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QByteArray payload64(64, 'x');

struct Result
{
    long sent = 0;
    long received = 0;
    double seconds = 0;
    // CPU time of this process (every thread, broker excluded) per message.
    double cpuUsPerMessage = 0;
    double rate() const { return seconds > 0 ? received / seconds : 0; }
};

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct CpuMeter
{
    double start = processCpuSeconds();
    double perMessageUs(long messages) const
    {
        return messages > 0 ? (processCpuSeconds() - start) * 1e6 / double(messages) : 0;
    }
};

struct Latency
{
    double medianUs = 0;
    double p99Us = 0;
};

Latency summarise(std::vector<double> us)
{
    Latency l;
    if (us.empty())
        return l;
    std::sort(us.begin(), us.end());
    l.medianUs = us[us.size() / 2];
    l.p99Us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    return l;
}

double secondsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Runs the event loop, sleeping while there is nothing to do, until
// progress() reaches target or nothing arrived for stallMs.
void waitFor(const std::function<long()> &progress, long target, int stallMs = 3000)
{
    QTimer tick; // wakes the loop now and then for the stall check
    tick.start(50);
    long last = -1;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (progress() < target) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const long now = progress();
        if (now != last) {
            last = now;
            sinceProgress.restart();
        } else if (sinceProgress.elapsed() > stallMs) {
            break;
        }
    }
}

// --- plain libmosquitto -----------------------------------------------------

struct PlainSide
{
    std::atomic<long> received{0};
    std::atomic<bool> subscribed{false};
    std::atomic<bool> connected{false};
    Clock::time_point last;
    std::mutex mutex;
    std::condition_variable cv;
};

void plainOnConnect(mosquitto *, void *obj, int rc)
{
    if (rc == 0)
        static_cast<PlainSide *>(obj)->connected = true;
}

void plainOnSubscribe(mosquitto *, void *obj, int, int, const int *)
{
    static_cast<PlainSide *>(obj)->subscribed = true;
}

void plainOnMessage(mosquitto *, void *obj, const mosquitto_message *)
{
    auto *side = static_cast<PlainSide *>(obj);
    side->last = Clock::now();
    {
        std::lock_guard<std::mutex> lock(side->mutex);
        side->received.fetch_add(1, std::memory_order_release);
    }
    side->cv.notify_one();
}

mosquitto *plainClient(const MosquittoBroker &broker, PlainSide *side, bool threaded)
{
    mosquitto *m = mosquitto_new(nullptr, true, side);
    int v = MQTT_PROTOCOL_V31;
    mosquitto_opts_set(m, MOSQ_OPT_PROTOCOL_VERSION, &v);
    if (broker.isTls())
        mosquitto_tls_set(m, broker.caFile().toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_connect_callback_set(m, plainOnConnect);
    mosquitto_subscribe_callback_set(m, plainOnSubscribe);
    mosquitto_message_callback_set(m, plainOnMessage);
    mosquitto_connect(m, broker.host().toUtf8().constData(), broker.port(), 60);
    if (threaded) {
        mosquitto_loop_start(m);
        while (!side->connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
        while (!side->connected)
            mosquitto_loop(m, 10, 1);
    }
    return m;
}

void plainClose(mosquitto *m, bool threaded)
{
    mosquitto_disconnect(m);
    if (threaded)
        mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
}

// publisherThreaded: the publisher has libmosquitto's network thread too (as
// the asynchronous client has); otherwise it writes from the calling thread.
Result plainThroughput(const MosquittoBroker &broker, long count, bool publisherThreaded)
{
    PlainSide sub;
    PlainSide pub;
    mosquitto *s = plainClient(broker, &sub, true);
    mosquitto *p = plainClient(broker, &pub, publisherThreaded);
    mosquitto_subscribe(s, nullptr, "bench/plain", 0);
    while (!sub.subscribed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const CpuMeter cpu;
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        mosquitto_publish(p, nullptr, "bench/plain", payload64.size(), payload64.constData(), 0, false);
        if (!publisherThreaded && (i & 63) == 0)
            mosquitto_loop(p, 0, 1);
    }
    if (!publisherThreaded) {
        while (mosquitto_want_write(p))
            mosquitto_loop(p, 10, 1);
    }
    long last = -1;
    auto lastChange = Clock::now();
    while (sub.received < count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!publisherThreaded)
            mosquitto_loop(p, 0, 1);
        const long now = sub.received;
        if (now != last) {
            last = now;
            lastChange = Clock::now();
        } else if (secondsBetween(lastChange, Clock::now()) > 3) {
            break;
        }
    }
    Result r;
    r.sent = count;
    r.received = sub.received;
    r.seconds = secondsBetween(start, sub.last);
    r.cpuUsPerMessage = cpu.perMessageUs(r.received);
    plainClose(p, publisherThreaded);
    plainClose(s, true);
    return r;
}

Latency plainRoundTrip(const MosquittoBroker &broker, int rounds)
{
    PlainSide side;
    mosquitto *m = plainClient(broker, &side, true);
    mosquitto_subscribe(m, nullptr, "bench/plain/rtt", 0);
    while (!side.subscribed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<double> us;
    us.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const long before = side.received;
        const auto t0 = Clock::now();
        mosquitto_publish(m, nullptr, "bench/plain/rtt", payload64.size(), payload64.constData(), 0, false);
        std::unique_lock<std::mutex> lock(side.mutex);
        side.cv.wait(lock, [&] { return side.received.load() > before; });
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    plainClose(m, true);
    return summarise(us);
}

// --- client level -------------------------------------------------------------

// Milliseconds the threaded client's loop may wait for the socket: 0 polls
// (lowest latency, a busy thread), more frees the CPU but delays requests.
int syncLoopTimeout = 0;

MosquittoConfig configFor(const MosquittoBroker &broker, int mode)
{
    MosquittoConfig c;
    c.setHost(broker.host());
    c.setPort(broker.port());
    c.setKeepAlive(60);
    c.setMode(mode);
    // The threaded client polls libmosquitto; let it poll as often as it can.
    c.setSyncLoopInterval(0);
    c.setSyncLoopTimeout(syncLoopTimeout);
    c.setUseSsl(broker.isTls());
    return c;
}

// The broker's CA is the one to trust.
void trustBroker(QtMosquittoClientBase &client, const MosquittoBroker &broker)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(broker.caFile()));
    client.setSslConfiguration(tls);
}

bool openClient(QtMosquittoClientBase &client, const MosquittoBroker &broker)
{
    if (broker.isTls())
        trustBroker(client, broker);
    bool opened = false;
    const auto connection = QObject::connect(&client, &QtMosquittoClientBase::opened, [&] { opened = true; });
    client.open();
    waitFor([&] { return long(opened); }, 1, 5000);
    QObject::disconnect(connection);
    return opened;
}

// Subscribes and waits until the subscription is in place (a retained marker
// comes back).
bool subscribeAndSync(QtMosquittoClientBase &client, const MosquittoBroker &broker, const QByteArray &topic)
{
    const QByteArray marker = topic + "/marker";
    broker.publish(marker, "m", {QStringLiteral("-r")});
    bool seen = false;
    const auto connection = QObject::connect(&client, &QtMosquittoClientBase::recieved,
                                             [&](const MosquittoMessage &m) { seen |= m.topic() == marker; });
    client.subscribe(topic, 0);
    client.subscribe(marker, 0);
    waitFor([&] { return long(seen); }, 1, 5000);
    QObject::disconnect(connection);
    client.unsubscribe(marker);
    broker.publish(marker, QByteArray(), {QStringLiteral("-r")});
    return seen;
}

Result clientThroughput(const MosquittoBroker &broker, long count)
{
    QtMosquittoClientAsync pub(configFor(broker, 0), "bench-pub");
    QtMosquittoClientAsync sub(configFor(broker, 0), "bench-sub");
    Result r;
    r.sent = count;
    if (!openClient(pub, broker) || !openClient(sub, broker) || !subscribeAndSync(sub, broker, "bench/client"))
        return r;
    Clock::time_point last;
    long received = 0;
    QObject::connect(&sub, &QtMosquittoClientBase::recieved, [&](const MosquittoMessage &) {
        ++received;
        last = Clock::now();
    });
    MosquittoMessage msg;
    msg.setTopic("bench/client");
    msg.setPayload(payload64);
    const CpuMeter cpu;
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i)
        pub.publish(msg);
    waitFor([&] { return received; }, count);
    r.received = received;
    r.seconds = secondsBetween(start, last);
    r.cpuUsPerMessage = cpu.perMessageUs(received);
    pub.close();
    sub.close();
    return r;
}

Latency clientRoundTrip(const MosquittoBroker &broker, int rounds)
{
    QtMosquittoClientAsync client(configFor(broker, 0), "bench-rtt");
    if (!openClient(client, broker) || !subscribeAndSync(client, broker, "bench/client/rtt"))
        return {};
    QEventLoop loop;
    QObject::connect(&client, &QtMosquittoClientBase::recieved, &loop, &QEventLoop::quit);
    MosquittoMessage msg;
    msg.setTopic("bench/client/rtt");
    msg.setPayload(payload64);
    std::vector<double> us;
    us.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        client.publish(msg);
        loop.exec();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    client.close();
    return summarise(us);
}

// --- handler to handler ---------------------------------------------------------

class BenchController : public BaseMosquittoController
{
public:
    BenchController(const MosquittoConfig &config, const QString &topic)
        : m_config(config), m_topic(topic)
    {
    }
    MosquittoHandlersFactory *factory = nullptr;

protected:
    bool doStart() override
    {
        auto *worker = new MosquittoWorker(m_config, {m_topic});
        worker->setObjectName(QStringLiteral("bench"));
        AbstractWorkerThread *thread = addWorkerToThread(worker);
        factory = createFactory(worker);
        thread->start();
        return true;
    }

private:
    MosquittoConfig m_config;
    QString m_topic;
};

struct HandlerRun
{
    Result throughput;
    Latency latency;
};

HandlerRun handlerPath(const MosquittoBroker &broker, int mode, long count, int rounds)
{
    HandlerRun run;
    run.throughput.sent = count;
    const QByteArray topic = "bench/handler/" + QByteArray::number(mode);
    const QByteArray marker = topic + "/ready";
    broker.publish(marker, "m", {QStringLiteral("-r")});

    BenchController controller(configFor(broker, mode), QString::fromUtf8(topic + "/#"));
    controller.start();
    BaseMosquittoHandler *handler = controller.factory->createBaseHandler(nullptr);
    long received = 0;
    bool ready = false;
    Clock::time_point last;
    QObject::connect(handler, qOverload<MosquittoMessage>(&BaseMosquittoHandler::recieved),
                     [&](const MosquittoMessage &m) {
                         if (m.topic() == marker) {
                             ready = true;
                             return;
                         }
                         ++received;
                         last = Clock::now();
                     });
    waitFor([&] { return long(ready); }, 1, 10000);
    broker.publish(marker, QByteArray(), {QStringLiteral("-r")});
    if (!ready) {
        controller.stop();
        delete handler;
        return run;
    }

    MosquittoMessage msg;
    msg.setTopic(topic + "/data");
    msg.setPayload(payload64);
    const CpuMeter cpu;
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i)
        handler->publish(msg);
    waitFor([&] { return received; }, count);
    run.throughput.received = received;
    run.throughput.seconds = secondsBetween(start, last);
    run.throughput.cpuUsPerMessage = cpu.perMessageUs(received);

    std::vector<double> us;
    us.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const long before = received;
        const auto t0 = Clock::now();
        handler->publish(msg);
        waitFor([&] { return received; }, before + 1);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    run.latency = summarise(us);
    controller.stop();
    delete handler;
    return run;
}

// The worker reports its life in warnings; they are not figures.
QtMessageHandler previousHandler = nullptr;
void quietWorker(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.file && QByteArray(context.file).contains("basemosquittoworker"))
        return;
    previousHandler(type, context, text);
}

// Figures of one path over all repetitions. Each repetition runs every path
// back to back, so its share of the plain rate is taken against the plain
// pair of the same repetition: load from elsewhere on the machine drifts
// slowly and hits both alike.
struct Series
{
    const char *name;
    std::vector<Result> runs;
    std::vector<Latency> latencies;
    std::vector<double> shares; // rate / ceiling of the same repetition

    static double median(std::vector<double> v)
    {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    double medianRate() const
    {
        std::vector<double> rates;
        for (const Result &r : runs)
            rates.push_back(r.rate());
        return median(rates);
    }
    double medianCpu() const
    {
        std::vector<double> cpu;
        for (const Result &r : runs)
            cpu.push_back(r.cpuUsPerMessage);
        return median(cpu);
    }
    long lost() const
    {
        long n = 0;
        for (const Result &r : runs)
            n += r.sent - r.received;
        return n;
    }
    long sent() const
    {
        long n = 0;
        for (const Result &r : runs)
            n += r.sent;
        return n;
    }
    Latency latency() const
    {
        std::vector<Latency> sorted = latencies;
        std::sort(sorted.begin(), sorted.end(),
                  [](const Latency &a, const Latency &b) { return a.medianUs < b.medianUs; });
        return sorted.empty() ? Latency() : sorted[sorted.size() / 2];
    }
};

void printSeries(const Series &s)
{
    const double best = s.shares.empty() ? 0 : *std::max_element(s.shares.begin(), s.shares.end());
    std::printf("%-34s %9.0f | %7.1f%% %7.1f%% | %6.2f | %ld of %ld\n", s.name, s.medianRate(),
                100.0 * Series::median(s.shares), 100.0 * best, s.medianCpu(), s.lost(), s.sent());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    previousHandler = qInstallMessageHandler(quietWorker);
    const long count = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 50000;
    const int rounds = argc > 2 ? std::max(10, std::atoi(argv[2])) : 1000;
    const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    syncLoopTimeout = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;

    if (!MosquittoBroker::isAvailable()) {
        std::puts("mqtt_bench: skipped: mosquitto is not installed");
        return 0;
    }
    QtMosquittoClientBase::init();
    MosquittoBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "mqtt_bench: broker did not start\n%s\n", qPrintable(broker.log()));
        return 1;
    }
    MosquittoBroker tlsBroker;
    MosquittoBroker::Options tlsOptions;
    tlsOptions.tls = true;
    if (!tlsBroker.start(tlsOptions)) {
        std::fprintf(stderr, "mqtt_bench: TLS broker did not start\n%s\n", qPrintable(tlsBroker.log()));
        return 1;
    }
    std::printf("mqtt_bench: %ld QoS 0 messages of %d bytes per run, %d round trips, %d runs, "
                "broker on port %u, over TLS on %u\n",
                count, int(payload64.size()), rounds, repetitions, broker.port(), tlsBroker.port());

    Series plainThreaded{"plain pair, both with net thread", {}, {}, {}};
    Series plainDirect{"plain pair, publisher writes", {}, {}, {}};
    Series ceiling{"plain ceiling (faster of the two)", {}, {}, {}};
    Series client{"client level (async -> async)", {}, {}, {}};
    Series mode0{"handler to handler, mode 0", {}, {}, {}};
    Series mode1{"handler to handler, mode 1", {}, {}, {}};
    Series plainRtt{"plain libmosquitto", {}, {}, {}};
    Series tlsCeiling{"TLS: plain pair (faster of the two)", {}, {}, {}};
    Series tlsClient{"TLS: client level (async -> async)", {}, {}, {}};
    Series tlsPlainRtt{"TLS: plain libmosquitto", {}, {}, {}};

    plainThroughput(broker, count / 10, true); // warm-up
    for (int rep = 0; rep < repetitions; ++rep) {
        const Result pt = plainThroughput(broker, count, true);
        const Result pd = plainThroughput(broker, count, false);
        const Result c = clientThroughput(broker, count);
        const HandlerRun h0 = handlerPath(broker, 0, count, rounds);
        const HandlerRun h1 = handlerPath(broker, 1, count, rounds);
        plainRtt.latencies.push_back(plainRoundTrip(broker, rounds));
        client.latencies.push_back(clientRoundTrip(broker, rounds));
        const Result tpt = plainThroughput(tlsBroker, count, true);
        const Result tpd = plainThroughput(tlsBroker, count, false);
        const Result tc = clientThroughput(tlsBroker, count);
        tlsPlainRtt.latencies.push_back(plainRoundTrip(tlsBroker, rounds));
        tlsClient.latencies.push_back(clientRoundTrip(tlsBroker, rounds));
        const Result &tlsTop = tpt.rate() >= tpd.rate() ? tpt : tpd;
        tlsCeiling.runs.push_back(tlsTop);
        tlsCeiling.shares.push_back(1.0);
        tlsClient.runs.push_back(tc);
        tlsClient.shares.push_back(tc.rate() / tlsTop.rate());

        const Result &top = pt.rate() >= pd.rate() ? pt : pd;
        const double rate = top.rate();
        plainThreaded.runs.push_back(pt);
        plainThreaded.shares.push_back(pt.rate() / rate);
        plainDirect.runs.push_back(pd);
        plainDirect.shares.push_back(pd.rate() / rate);
        ceiling.runs.push_back(top);
        ceiling.shares.push_back(1.0);
        client.runs.push_back(c);
        client.shares.push_back(c.rate() / rate);
        mode0.runs.push_back(h0.throughput);
        mode0.shares.push_back(h0.throughput.rate() / rate);
        mode0.latencies.push_back(h0.latency);
        mode1.runs.push_back(h1.throughput);
        mode1.shares.push_back(h1.throughput.rate() / rate);
        mode1.latencies.push_back(h1.latency);
    }

    std::printf("\n%-34s %9s | %8s %8s | %6s | %s\n", "throughput", "msg/s", "%plain", "best",
                "cpu us", "lost");
    for (const Series *s : {&plainThreaded, &plainDirect, &ceiling, &client, &mode0, &mode1})
        printSeries(*s);
    for (const Series *s : {&tlsCeiling, &tlsClient})
        printSeries(*s);
    std::printf("\n%-34s %10s %10s\n", "round trip (us, median run)", "median", "p99");
    for (const Series *s : {&plainRtt, &client, &mode0, &mode1, &tlsPlainRtt, &tlsClient}) {
        const Latency l = s->latency();
        std::printf("%-34s %10.1f %10.1f\n", s->name, l.medianUs, l.p99Us);
    }
    std::printf("\nmsg/s and cpu us: median over the runs; %%plain: median of each run's rate "
                "over the plain ceiling\nof the same run; best: the best such share; cpu us: "
                "CPU time of this process per message\n(all its threads, broker excluded). "
                "mode 1 runs with syncLoopInterval 0 and syncLoopTimeout %d.\nTLS rows: "
                "shares of the plain libmosquitto pair over TLS of the same run.\n",
                syncLoopTimeout);

    broker.stop();
    tlsBroker.stop();
    QtMosquittoClientBase::release();
    return 0;
}
