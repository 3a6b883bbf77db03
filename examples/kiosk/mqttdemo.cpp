// MQTT over TLS: a local broker that asks for client certificates, the
// kiosk's certificate store as the source of trust and identity, a controller
// whose worker keeps the connection, and one handler that answers
// "kiosk/ping" on "kiosk/pong".

#include "demos.h"

#include <orvelextlib.h>

#include "mosquittobroker.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>

namespace {

class PingHandler : public BaseMosquittoHandler
{
public:
    QTextStream *out = nullptr;
    int answered = 0;

protected:
    void processMessage(MosquittoMessage msg) override
    {
        if (msg.topic() != "kiosk/ping")
            return;
        const QByteArray reply = "pong: " + msg.payload();
        if (answered++ == 0)
            *out << "   handler: " << msg.topic() << " \"" << msg.payload() << "\" -> kiosk/pong \""
                 << reply << '"' << Qt::endl;
        publish(QByteArray("kiosk/pong"), reply);
    }
};

class KioskMqttController : public BaseMosquittoController
{
public:
    explicit KioskMqttController(const MosquittoConfig &config) : m_config(config) {}
    MosquittoHandlersFactory *factory = nullptr;

protected:
    bool doStart() override
    {
        auto *worker = new MosquittoWorker(m_config, {QStringLiteral("kiosk/#")});
        worker->setObjectName(QStringLiteral("kiosk-mqtt"));
        AbstractWorkerThread *thread = addWorkerToThread(worker);
        factory = createFactory(worker);
        thread->start();
        return true;
    }

private:
    MosquittoConfig m_config;
};

QtMessageHandler previousHandler = nullptr;
void quietWorker(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // The worker reports its life in warnings; the demo shows the exchange.
    if (context.file && QByteArray(context.file).contains("basemosquittoworker"))
        return;
    previousHandler(type, context, text);
}

} // namespace

bool demoMqtt(DemoContext &ctx)
{
    if (!MosquittoBroker::isAvailable()) {
        ctx.out << "   skipped: mosquitto is not installed" << Qt::endl;
        return true;
    }
    QtMosquittoClientBase::init();
    previousHandler = qInstallMessageHandler(quietWorker);
    const auto restore = qScopeGuard([] {
        qInstallMessageHandler(previousHandler);
        QtMosquittoClientBase::release();
    });

    MosquittoBroker broker;
    MosquittoBroker::Options options;
    options.tls = true;
    options.requireClientCertificate = true;
    if (!broker.start(options)) {
        ctx.out << "   broker did not start:\n" << broker.log() << Qt::endl;
        return false;
    }
    ctx.out << "   broker: mosquitto on " << broker.host() << ':' << broker.port()
            << ", TLS only, client certificates required" << Qt::endl;

    // The certificate store holds the broker's CA and the kiosk's certificate
    // and key; installed as the process default, it is where every MQTT
    // client takes its TLS material from.
    const QSslConfiguration previousDefault = QSslConfiguration::defaultConfiguration();
    const auto restoreTls = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(previousDefault); });
    CryptoDataManager store(ctx.workDir + QStringLiteral("/tls.enc"));
    store.addCaCertificate(QSslCertificate::fromPath(broker.caFile()).value(0));
    store.addLocalCertificate(QSslCertificate::fromPath(broker.clientCertificateFile()).value(0));
    QFile key(broker.clientKeyFile());
    key.open(QIODevice::ReadOnly);
    store.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
    store.prepareDefaultSSlConfig();
    ctx.out << "   certificate store: " << store.caCertificates().size() << " CA, "
            << store.localCertificates().size() << " local certificate and its key" << Qt::endl;

    MosquittoConfig config;
    config.setHost(broker.host());
    config.setPort(broker.port());
    config.setUseSsl(true);
    KioskMqttController controller(config);
    controller.start();
    PingHandler handler;
    handler.out = &ctx.out;
    controller.factory->registreExistingHandler(&handler);

    // Ping (as an outside client, mosquitto_pub) until the worker has
    // subscribed and the handler answers.
    QElapsedTimer timer;
    timer.start();
    while (handler.answered == 0 && timer.elapsed() < 10000) {
        broker.publish("kiosk/ping", "hello");
        QEventLoop slice;
        QTimer::singleShot(200, &slice, &QEventLoop::quit);
        slice.exec();
    }
    bool ok = handler.answered > 0;
    if (ok) {
        // The reply was published with retain set: a later subscriber gets it.
        QProcess sub;
        sub.start(PeerProcess::findProgram(QStringLiteral("mosquitto_sub")),
                  broker.subscribeArguments("kiosk/pong", 1, 5));
        ok = sub.waitForFinished(10000) && sub.exitCode() == 0;
        ctx.out << "   mosquitto_sub (retain qos topic payload): "
                << sub.readAllStandardOutput().trimmed() << Qt::endl;
    } else {
        ctx.out << "   no answer from the handler" << Qt::endl;
    }
    controller.stop();
    ctx.out << "   controller stopped: worker, client and their threads are gone" << Qt::endl;
    return ok;
}
