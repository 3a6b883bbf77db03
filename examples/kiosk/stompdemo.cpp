// STOMP: a throwaway RabbitMQ Web-STOMP node, one client that subscribes to a
// queue, sends itself a message and prints the frame it gets back.

#include "demos.h"

#include "rabbitmqbroker.h"

#include <orvelextlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>

namespace {
template<typename Done>
bool waitFor(Done done, int timeoutMs = 10000)
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

bool nextFrame(QStompClient &client, QStompResponseFrame &frame)
{
    if (!waitFor([&] { return client.framesAvailable() > 0; }))
        return false;
    frame = client.fetchFrame();
    return true;
}
} // namespace

bool demoStomp(DemoContext &ctx)
{
    if (RabbitMqBroker::serverProgram().isEmpty()) {
        ctx.out << "   skipped: RabbitMQ (rabbitmq-server) is not installed" << Qt::endl;
        return true;
    }
    QElapsedTimer started;
    started.start();
    RabbitMqBroker broker;
    if (!broker.start()) {
        ctx.out << "   skipped: RabbitMQ did not start: " << broker.errorString().left(300) << Qt::endl;
        return true;
    }
    ctx.out << "   RabbitMQ Web-STOMP on " << broker.webStompUrl().toString() << " (started in "
            << QString::number(started.elapsed() / 1000.0, 'f', 1) << " s)" << Qt::endl;

    // One debug line per frame is too chatty for a demo.
    QLoggingCategory::setFilterRules(QStringLiteral("stomp.debug=false"));
    const auto restoreRules = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    QStompClient client;
    bool connected = false;
    QObject::connect(&client, &QStompClient::socketConnected, [&] { connected = true; });
    client.connectToHost(broker.webStompUrl());
    if (!waitFor([&] { return connected; })) {
        ctx.out << "   cannot connect: " << client.socketErrorString() << Qt::endl;
        return false;
    }

    QStompResponseFrame frame;
    client.login("/", qMakePair(0, 0), "guest", "guest");
    if (!nextFrame(client, frame) || frame.type() != QStompResponseFrame::ResponseConnected) {
        ctx.out << "   no CONNECTED frame: " << frame.message() << Qt::endl;
        return false;
    }
    ctx.out << "   logged in: " << frame.headerValue("server") << ", STOMP " << frame.headerValue("version")
            << Qt::endl;

    const QByteArray queue = "/queue/kiosk-demo";
    client.subscribe(queue, true, "kiosk", {{"receipt", "subscribed"}});
    if (!nextFrame(client, frame) || frame.receiptId() != "subscribed") {
        ctx.out << "   subscription not confirmed" << Qt::endl;
        return false;
    }
    client.send(queue, QStringLiteral("Hello from the kiosk, gr\u00fc\u00dfe!"), QByteArray(),
                {{"content-type", "text/plain"}});
    ctx.out << "   subscribed to " << queue << " and sent one message; the frame received:" << Qt::endl;
    if (!nextFrame(client, frame) || frame.type() != QStompResponseFrame::ResponseMessage) {
        ctx.out << "   no MESSAGE frame arrived" << Qt::endl;
        return false;
    }
    const QList<QByteArray> lines = frame.toByteArray().split('\n');
    for (const QByteArray &line : lines)
        ctx.out << "      | " << QString::fromUtf8(line) << Qt::endl;
    ctx.out << "   body() decoded as " << frame.contentEncoding() << ": " << frame.body() << Qt::endl;

    client.logout();
    client.disconnectFromHost();
    waitFor([&] { return client.socketState() == QAbstractSocket::UnconnectedState; }, 3000);
    return true;
}
