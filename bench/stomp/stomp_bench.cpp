// stomp_bench: how fast QStompClient cuts and parses incoming frames, and how
// many messages per second it moves through a real RabbitMQ Web-STOMP node
// next to hand-written frames over a plain QWebSocket in the same run.
//
//   stomp_bench [--messages N] [--rounds R]

#include "rabbitmqbroker.h"

#include <stomp/qstompclient.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <QVector>
#include <QWebSocket>

#include <cstdio>

namespace {
const QByteArray terminator("\0\n", 2);

// All bytes, NULs included (QString::fromLatin1(QByteArray) stops at a NUL).
QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

void feed(QStompClient &client, const QByteArray &data)
{
    // The client's own entry point for an incoming WebSocket message.
    QMetaObject::invokeMethod(&client, "_q_socketReadyRead", Qt::DirectConnection, Q_ARG(QByteArray, data));
}

QByteArray smallFrame(int i)
{
    return "MESSAGE\ndestination:/queue/bench\nmessage-id:T_" + QByteArray::number(i)
           + "\nsubscription:s1\ncontent-length:16\n\n0123456789abcdef" + terminator;
}

// Waits until `done()` holds or `timeoutMs` passes; returns whether it held.
template<typename Done>
bool waitFor(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void parsingAndCutting()
{
    std::printf("Parsing and cutting (no socket)\n");

    // Parsing alone.
    {
        const QByteArray frame = smallFrame(1);
        const int count = 200000;
        QElapsedTimer timer;
        timer.start();
        int valid = 0;
        for (int i = 0; i < count; ++i)
            valid += QStompResponseFrame(frame).isValid();
        const double s = timer.nsecsElapsed() / 1e9;
        std::printf("  parse, %d small frames:                 %10.0f frames/s%s\n", count, count / s,
                    valid == count ? "" : "  (PARSE ERRORS)");
    }

    // One WebSocket message holding 10,000 small frames.
    {
        QByteArray message;
        for (int i = 0; i < 10000; ++i)
            message += smallFrame(i);
        QStompClient client;
        const int rounds = 20;
        double best = 1e9;
        int frames = 0;
        for (int r = 0; r < rounds; ++r) {
            QElapsedTimer timer;
            timer.start();
            feed(client, message);
            frames = client.fetchAllFrames().size();
            best = qMin(best, timer.nsecsElapsed() / 1e9);
        }
        std::printf("  cut+parse, 1 message of 10,000 frames:  %10.0f frames/s  (%.1f ms per message, %d frames)\n",
                    10000 / best, best * 1e3, frames);
    }

    // One 16 MiB frame arriving in 1 KiB pieces.
    {
        const int bodySize = 16 * 1024 * 1024;
        const QByteArray frame = "MESSAGE\ndestination:/queue/bench\ncontent-length:" + QByteArray::number(bodySize)
                                 + "\n\n" + QByteArray(bodySize, 'x') + terminator;
        QList<QByteArray> pieces;
        for (int i = 0; i < frame.size(); i += 1024)
            pieces.append(frame.mid(i, 1024));
        for (const char *kind : {"content-length", "terminator"}) {
            const bool byLength = qstrcmp(kind, "content-length") == 0;
            QList<QByteArray> input = pieces;
            if (!byLength) {
                // The same frame without "content-length": cut at its NUL.
                const QByteArray plain = "MESSAGE\ndestination:/queue/bench\n\n" + QByteArray(bodySize, 'x') + terminator;
                input.clear();
                for (int i = 0; i < plain.size(); i += 1024)
                    input.append(plain.mid(i, 1024));
            }
            QStompClient client;
            client.setFrameBufferLimit(32 * 1024 * 1024); // above the default 8 MiB
            double best = 1e9;
            int frames = 0;
            for (int r = 0; r < 3; ++r) {
                QElapsedTimer timer;
                timer.start();
                for (const QByteArray &piece : qAsConst(input))
                    feed(client, piece);
                frames = client.fetchAllFrames().size();
                best = qMin(best, timer.nsecsElapsed() / 1e9);
            }
            std::printf("  cut+parse, 16 MiB frame in %d x 1 KiB (%s): %6.1f frames/s  (%.0f MiB/s, %d frame)\n",
                        int(input.size()), kind, 1 / best, 16 / best, frames);
        }
    }
}

struct Rate
{
    double sendPerSecond = 0;    // SEND frames until the broker confirmed the last
    double receivePerSecond = 0; // MESSAGE frames from subscribing until the last arrived
    bool ok = false;
};

QByteArray payload()
{
    return QByteArray(64, 'p');
}

// Sends `count` messages to `queue` (the last one asks for a receipt), then
// subscribes and takes them all back.
Rate viaClient(const QUrl &url, const QByteArray &queue, int count)
{
    Rate rate;
    QStompClient client;
    bool connected = false;
    QObject::connect(&client, &QStompClient::socketConnected, [&] { connected = true; });
    client.connectToHost(url);
    if (!waitFor([&] { return connected; }, 10000))
        return rate;
    client.login("/", qMakePair(0, 0), "guest", "guest");
    if (!waitFor([&] { return client.framesAvailable() > 0; }, 10000)
        || client.fetchFrame().type() != QStompResponseFrame::ResponseConnected)
        return rate;

    int messages = 0;
    bool confirmed = false;
    QObject::connect(&client, &QStompClient::frameReceived, [&] {
        const QList<QStompResponseFrame> frames = client.fetchAllFrames();
        for (const QStompResponseFrame &frame : frames) {
            if (frame.type() == QStompResponseFrame::ResponseMessage)
                ++messages;
            else if (frame.type() == QStompResponseFrame::ResponseReceipt && frame.receiptId() == "last")
                confirmed = true;
        }
    });
    const QString body = latin1(payload());
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i < count; ++i)
        client.send(queue, body);
    client.send(queue, body, QByteArray(), {{"receipt", "last"}});
    if (!waitFor([&] { return confirmed; }, 120000))
        return rate;
    rate.sendPerSecond = count / (timer.nsecsElapsed() / 1e9);

    timer.start();
    client.subscribe(queue, true, "s1");
    rate.ok = waitFor([&] { return messages >= count; }, 120000);
    rate.receivePerSecond = count / (timer.nsecsElapsed() / 1e9);
    client.disconnectFromHost();
    return rate;
}

// The same with hand-written frames over a plain QWebSocket, byte for byte
// those of QStompClient; the received messages are only counted, not parsed.
Rate viaPlainWebSocket(const QUrl &url, const QByteArray &queue, int count, bool flushEach)
{
    Rate rate;
    QWebSocket socket;
    bool connected = false;
    bool loggedIn = false;
    bool confirmed = false;
    int messages = 0;
    QObject::connect(&socket, &QWebSocket::connected, [&] { connected = true; });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString &text) {
        if (text.startsWith(QLatin1String("MESSAGE")))
            ++messages;
        else if (text.startsWith(QLatin1String("RECEIPT")))
            confirmed = true;
        else if (text.startsWith(QLatin1String("CONNECTED")))
            loggedIn = true;
    });
    socket.open(url);
    if (!waitFor([&] { return connected; }, 10000))
        return rate;
    socket.sendTextMessage(latin1("CONNECT\nlogin:guest\npasscode:guest\naccept-version:1.2\nhost:/\n\n" + terminator));
    if (!waitFor([&] { return loggedIn; }, 10000))
        return rate;

    // Byte for byte the frames QStompClient::send() writes.
    const QByteArray head = "content-encoding:UTF-8\ndestination:" + queue + "\ncontent-length:64\n\n";
    const QString frame = latin1("SEND\n" + head + payload() + terminator);
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i < count; ++i) {
        socket.sendTextMessage(frame);
        if (flushEach)
            socket.flush();
    }
    socket.sendTextMessage(latin1("SEND\nreceipt:last\n" + head + payload() + terminator));
    socket.flush();
    if (!waitFor([&] { return confirmed; }, 120000))
        return rate;
    rate.sendPerSecond = count / (timer.nsecsElapsed() / 1e9);

    timer.start();
    socket.sendTextMessage(latin1("SUBSCRIBE\ndestination:" + queue + "\nid:s1\nack:auto\n\n" + terminator));
    rate.ok = waitFor([&] { return messages >= count; }, 120000);
    rate.receivePerSecond = count / (timer.nsecsElapsed() / 1e9);
    socket.close();
    return rate;
}

void throughput(int count, int rounds)
{
    std::printf("\nThrough RabbitMQ Web-STOMP, %d messages of 64 bytes per run: one connection sends\n"
                "them to a queue (until the broker confirms the last), then subscribes and takes them back\n",
                count);
    RabbitMqBroker broker;
    if (RabbitMqBroker::serverProgram().isEmpty()) {
        std::printf("  skipped: RabbitMQ is not installed\n");
        return;
    }
    if (!broker.start()) {
        std::printf("  skipped: %s\n", qPrintable(broker.errorString()));
        return;
    }
    enum { Plain, PlainFlush, Client, Variants };
    const char *const names[Variants] = {"plain QWebSocket", "plain QWebSocket, flush each", "QStompClient"};
    QVector<double> sendSum(Variants, 0), receiveSum(Variants, 0), sendBest(Variants, 0), receiveBest(Variants, 0);
    QVector<int> good(Variants, 0);
    for (int r = 0; r < rounds; ++r) {
        std::printf("  run %d\n", r + 1);
        for (int k = 0; k < Variants; ++k) {
            // Rotate the order so that no variant always follows the same one.
            const int v = (k + r) % Variants;
            const QByteArray queue = "/queue/bench-" + QByteArray::number(v) + "-" + QByteArray::number(r);
            const Rate rate = v == Client ? viaClient(broker.webStompUrl(), queue, count)
                                          : viaPlainWebSocket(broker.webStompUrl(), queue, count, v == PlainFlush);
            std::printf("    %-30s sent %7.0f msg/s, received %7.0f msg/s%s\n", names[v], rate.sendPerSecond,
                        rate.receivePerSecond, rate.ok ? "" : " (INCOMPLETE)");
            if (rate.ok) {
                sendSum[v] += rate.sendPerSecond;
                receiveSum[v] += rate.receivePerSecond;
                sendBest[v] = qMax(sendBest[v], rate.sendPerSecond);
                receiveBest[v] = qMax(receiveBest[v], rate.receivePerSecond);
                ++good[v];
            }
        }
    }
    std::printf("  mean (best) of %d runs:\n", rounds);
    for (int v = 0; v < Variants; ++v) {
        const int n = qMax(1, good[v]);
        std::printf("    %-30s sent %7.0f (%7.0f) msg/s, received %7.0f (%7.0f) msg/s\n", names[v], sendSum[v] / n,
                    sendBest[v], receiveSum[v] / n, receiveBest[v]);
    }
    if (good[Plain] && good[Client]) {
        std::printf("  QStompClient / plain QWebSocket, mean: sent %.0f %%, received %.0f %%\n",
                    100 * (sendSum[Client] / good[Client]) / (sendSum[Plain] / good[Plain]),
                    100 * (receiveSum[Client] / good[Client]) / (receiveSum[Plain] / good[Plain]));
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("messages"), QStringLiteral("Messages per broker run."), QStringLiteral("n"),
                      QStringLiteral("20000")});
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Broker runs per variant."), QStringLiteral("r"),
                      QStringLiteral("3")});
    parser.process(app);
    // Per-frame debug lines would measure the terminal, not the client.
    QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));

    parsingAndCutting();
    throughput(parser.value(QStringLiteral("messages")).toInt(), parser.value(QStringLiteral("rounds")).toInt());
    return 0;
}
