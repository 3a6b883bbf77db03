// The MQTT stack against a real broker: first as hosts use it, through the
// controller, the worker and its client, then the clients on their own.
#include <mosquittowrapper/qtmosquittoclient.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>
#include <mosquittowrapper/qtmosquittoclientsync.h>

#include "mosquittotestkit.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslKey>
#include <QTest>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

const QStringList retained{QStringLiteral("-r")};

enum class Kind { Sync, Async, Threaded };

std::unique_ptr<QtMosquittoClientBase> makeClient(Kind kind, const MosquittoConfig &config, const QByteArray &id)
{
    if (kind == Kind::Sync)
        return std::make_unique<QtMosquittoClientSync>(config, id);
    if (kind == Kind::Async)
        return std::make_unique<QtMosquittoClientAsync>(config, id);
    return std::make_unique<QtMosquittoClient>(config, id);
}

MosquittoMessage message(const QByteArray &topic, const QByteArray &payload, int qos = 0, bool retain = false)
{
    MosquittoMessage msg;
    msg.setTopic(topic);
    msg.setPayload(payload);
    msg.setQos(qos);
    msg.setRetain(retain);
    return msg;
}

} // namespace

class tst_MosquittoStack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void workerConnectsAndHandlersExchangeMessages_data();
    void workerConnectsAndHandlersExchangeMessages();
    void reconnectTimeoutOnOpenConnection();
    void clientOpenBeforeOnConnectIsKept();

    void clientEndsItsConnection_data();
    void clientEndsItsConnection();

    void clientsOverTls_data();
    void clientsOverTls();

private:
    // With the test account's user name and password as asked.
    MosquittoConfig config(const QString &broker, int mode = 0, bool user = true, bool password = true)
    {
        MosquittoConfig c = brokerConfig(*m_brokers.value(broker), mode);
        c.setUserName(user ? MosquittoBroker::Options().user : QString());
        c.setPassword(password ? MosquittoBroker::Options().password : QString());
        return c;
    }

    // The brokers by name: "plain" takes anonymous clients, "password" does not;
    // the "tls" ones speak TLS only, one with a certificate for "localhost"
    // alone, one that asks clients for theirs.
    QHash<QString, MosquittoBroker *> m_brokers;
    int m_threadsAtStart = 0;
};

void tst_MosquittoStack::initTestCase()
{
    QtMosquittoClientBase::init();
    previousMessageHandler = qInstallMessageHandler(captureStackLog);
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
    for (const char *name : {"plain", "password", "tls", "tls-localhost", "tls-client-certificate"}) {
        auto *broker = m_brokers[QLatin1String(name)] = new MosquittoBroker;
        MosquittoBroker::Options options;
        options.requirePassword = qstrcmp(name, "password") == 0;
        options.tls = qstrncmp(name, "tls", 3) == 0;
        if (qstrcmp(name, "tls-localhost") == 0)
            options.tlsNames = QStringLiteral("DNS:localhost");
        options.requireClientCertificate = qstrcmp(name, "tls-client-certificate") == 0;
        QVERIFY2(broker->start(options), qPrintable(broker->log()));
    }
    m_threadsAtStart = threadCount();
}

void tst_MosquittoStack::cleanupTestCase()
{
    qDeleteAll(m_brokers);
    qInstallMessageHandler(previousMessageHandler);
    QtMosquittoClientBase::release();
}

void tst_MosquittoStack::workerConnectsAndHandlersExchangeMessages_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("broker");
    QTest::addColumn<bool>("user");     // the test account's user name is set
    QTest::addColumn<bool>("password"); // and its password
    QTest::addColumn<QString>("error"); // logged by the worker; none: the connection is taken
    for (const QString broker : {"plain", "password"}) {
        QTest::addRow("async-%s", qPrintable(broker)) << 0 << broker << true << true << QString();
        QTest::addRow("threaded-%s", qPrintable(broker)) << 1 << broker << true << true << QString();
    }
    QTest::newRow("other-mode-is-async") << 5 << QStringLiteral("plain") << true << true << QString();
    const QString notAuthorised = QStringLiteral("-1 (Connection Refused: not authorised.)"); // CONNACK 5
    QTest::newRow("async-anonymous") << 0 << QStringLiteral("password") << false << false << notAuthorised;
    QTest::newRow("threaded-anonymous") << 1 << QStringLiteral("password") << false << false << notAuthorised;
    // Credentials go only when both are set.
    QTest::newRow("user-only") << 0 << QStringLiteral("password") << true << false << notAuthorised;
    QTest::newRow("password-only") << 0 << QStringLiteral("password") << false << true << notAuthorised;
    // Nothing listens on the port, or where the SOCKS5 proxy should be (HTTP proxies, named in
    // every configuration here, are ignored).
    const QString refused = QStringLiteral("14 (mosquittoConnect: %1)").arg(QString::fromUtf8(strerror(ECONNREFUSED)));
    QTest::newRow("closed-port") << 1 << QStringLiteral("plain") << true << true << refused;
    QTest::newRow("socks5-proxy") << 1 << QStringLiteral("plain") << true << true << refused;
}

void tst_MosquittoStack::workerConnectsAndHandlersExchangeMessages()
{
    QFETCH(int, mode);
    QFETCH(QString, broker);
    QFETCH(bool, user);
    QFETCH(bool, password);
    QFETCH(QString, error);
    MosquittoBroker &b = *m_brokers.value(broker);
    MosquittoConfig c = config(broker, mode, user, password);
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "closed-port")
        c.setPort(PeerProcess::freePort());
    if (tag == "socks5-proxy")
        c.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), PeerProcess::freePort()));
    const QByteArray base = QByteArray("handlers/") + QTest::currentDataTag();
    const QByteArray topic = base + "/t";
    QVERIFY(b.publish(topic, "ready", retained));
    const auto clearRetained = qScopeGuard([&] {
        b.publish(base + "/reply", QByteArray(), retained);
        b.publish(base + "/qos1", QByteArray(), retained);
    });

    TestController controller(c, {QString::fromUtf8(base + "/#")}, 60000);
    const QString name = mode == 1 ? QStringLiteral("meter") : QString(); // the others go by their class
    controller.worker->setObjectName(name);
    QCOMPARE(controller.createFactory(nullptr), nullptr);
    takeStackLog();
    controller.start();
    QStringList log;
    if (!error.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT((log += takeStackLog()).contains("\"MOSQTUITTO ERROR: " + error + '"'), 10000);
        QVERIFY(log.contains(QStringLiteral("START")));
        return;
    }
    BaseMosquittoHandler *plain = controller.factory->createBaseHandler(this);
    RecordingHandler echo;
    controller.factory->registreExistingHandler(&echo);
    controller.factory->registreExistingHandler(&echo); // still once
    QSignalSpy plainMessages(plain, qOverload<MosquittoMessage>(&BaseMosquittoHandler::recieved));
    QSignalSpy plainBytes(plain, qOverload<QByteArray, QByteArray>(&BaseMosquittoHandler::recieved));

    // The retained message arrives once the worker has subscribed; the worker
    // has logged its client (and so its class) on connecting.
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 1, 10000);
    const QString client = mode == 1 ? QStringLiteral("QtMosquittoClient") : QStringLiteral("QtMosquittoClientAsync");
    QCOMPARE(takeStackLog().filter(QRegularExpression(QLatin1Char('^') + client + QLatin1String("\\(0x"))).size(), 1);
    // The client's id: the worker's name, or the application's and the class's; then its address.
    const QString id = name.isEmpty() ? QCoreApplication::applicationName() + QLatin1String("_MosquittoWorker") : name;
    const QString address = QString::number(quintptr(controller.worker.data()), 16);
    QVERIFY(b.log().contains(QStringLiteral(" as %1_%2 ").arg(id, address)));
    QVERIFY(b.publish(topic, QByteArray(), retained)); // an empty payload is dropped
    QVERIFY(b.publish(topic, "one"));
    QVERIFY(b.publish(topic + "2", "two", {QStringLiteral("-q"), QStringLiteral("1")}));
    QVERIFY(b.publish(base + "/request", "ping")); // the handler's reply comes back through the worker
    QTRY_COMPARE_WITH_TIMEOUT(plainMessages.count(), 5, 10000);
    QTRY_COMPARE(echo.seen.count(), 5);
    QCOMPARE(plainBytes.at(1).at(0).toByteArray(), topic);
    QCOMPARE(plainBytes.at(1).at(1).toByteArray(), QByteArray("one"));
    QVERIFY(echo.seen.at(0).retain());
    QCOMPARE(echo.seen.at(2).topic(), topic + "2"); // not the one before, which it extends
    QCOMPARE(echo.seen.at(2).qos(), 0); // the worker subscribes with QoS 0
    QCOMPARE(echo.seen.at(4).topic(), base + "/reply");

    // A handler's message reaches the broker as given; a topic with a NUL would
    // be cut short, so each operation refuses it and the worker logs that.
    const QByteArray binary("\x00\x01 binary \xff", 11);
    echo.publish(message(base + "/qos1", binary, 1, true));
    const QByteArray nul("nul/a\0b", 7);
    echo.publish(message(nul, "p"));
    echo.subscribe(nul);
    echo.unsubscribe(nul);
    QTRY_COMPARE(echo.seen.count(), 6);
    QCOMPARE(echo.seen.at(5).payload(), binary);
    QProcess sub;
    sub.start(PeerProcess::findProgram(QStringLiteral("mosquitto_sub")),
              b.subscribeArguments(base + "/+", 2, 5) << QStringLiteral("-q") << QStringLiteral("1"));
    QVERIFY(sub.waitForFinished(10000));
    QList<QByteArray> lines = sub.readAllStandardOutput().trimmed().split('\n');
    std::sort(lines.begin(), lines.end());
    // publish(topic, payload) of a handler is retained, with QoS 0.
    QCOMPARE(lines, QList<QByteArray>({"1 0 " + base + "/reply re:ping", "1 1 " + base + "/qos1 " + binary}));
    const QString invalid = QString::fromUtf8(mosquitto_strerror(MOSQ_ERR_INVAL));
    for (const char *op : {"mosquittoPublish", "mosquittoSubscribe", "mosquittoUnsubscribe"}) {
        const QString error = QStringLiteral("\"MOSQTUITTO ERROR: 3 (%1: %2)\"").arg(QLatin1String(op), invalid);
        QTRY_VERIFY2((log += takeStackLog()).contains(error), qPrintable(error));
    }
    controller.stop();
    QVERIFY(takeStackLog().contains(QStringLiteral("STOP")));
    // Worker thread, libmosquitto's thread or the threaded client's: all gone.
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    delete plain;
}

// Two workers side by side: one rebuilds its open connection whenever it is
// older than the reconnect timeout, the other, with a timeout of 0, keeps it.
void tst_MosquittoStack::reconnectTimeoutOnOpenConnection()
{
    MosquittoBroker &b = *m_brokers.value(QStringLiteral("plain"));
    QVERIFY(b.publish("rebuild/t", "again", retained));
    const auto clearRetained = qScopeGuard([&] { b.publish("rebuild/t", QByteArray(), retained); });
    std::unique_ptr<TestController> controllers[2];
    RecordingHandler echoes[2];
    for (int timeout : {300, 0}) {
        MosquittoConfig c = config(QStringLiteral("plain"));
        c.setReconnectTimeout(timeout);
        auto &controller = controllers[timeout == 0];
        controller = std::make_unique<TestController>(c, QStringList{"rebuild/t"}, 50);
        controller->worker->setObjectName(QStringLiteral("rebuilt%1").arg(timeout));
        controller->start();
        controller->factory->registreExistingHandler(&echoes[timeout == 0]);
    }
    const auto connections = [&](int timeout) { return b.log().count(QStringLiteral(" as rebuilt%1_").arg(timeout)); };
    // (A watch tick before the first acknowledgement may rebuild; none after it.)
    QTRY_VERIFY_WITH_TIMEOUT(!echoes[1].seen.isEmpty(), 10000);
    const int keptConnections = connections(0);
    // Each new connection subscribes again and gets the retained message.
    QTRY_VERIFY_WITH_TIMEOUT(echoes[0].seen.count() >= 3 && connections(300) >= 3, 10000);
    QCOMPARE(connections(0), keptConnections);
    QCOMPARE(echoes[1].seen.count(), 1);
    for (auto &controller : controllers)
        controller->stop();
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    // Every client's connection was ended, the replaced ones and the last.
    // (A replaced client unsubscribed just before; when the broker's replies
    // are still unread as libmosquitto closes, the broker sees a reset instead
    // of the DISCONNECT and logs "closed its connection".)
    const QRegularExpression ended(
        QStringLiteral("Client rebuilt300_[0-9a-f]+ (disconnected|closed its connection)\\."));
    QTRY_COMPARE(b.log().count(ended), connections(300));
}

// libmosquitto may reconnect by itself before onConnect() ran: a watch tick
// takes that connection for a fresh one and keeps the client.
void tst_MosquittoStack::clientOpenBeforeOnConnectIsKept()
{
    // Driven directly in this thread, without a worker thread.
    MosquittoWorker worker(config(QStringLiteral("plain")), {});
    worker.start();
    worker.start(); // a fresh start: the first client goes
    QCOMPARE(worker.findChildren<QtMosquittoClientBase *>().count(), 1);
    QPointer<QtMosquittoClientBase> client = worker.findChild<QtMosquittoClientBase *>();
    client->blockSignals(true);
    QTRY_VERIFY(client->isOpen());
    QMetaObject::invokeMethod(&worker, "reconnect");
    QVERIFY(client);
    worker.stop();
    QVERIFY(!client);
}

void tst_MosquittoStack::clientEndsItsConnection_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<int>("rounds");
    QTest::newRow("sync-close") << int(Kind::Sync) << QByteArray("close") << 1;
    QTest::newRow("async-close") << int(Kind::Async) << QByteArray("close") << 1;
    QTest::newRow("threaded-close") << int(Kind::Threaded) << QByteArray("close") << 1;
    // An open() on an open asynchronous client closes it.
    QTest::newRow("async-open-again") << int(Kind::Async) << QByteArray("open") << 1;
    // Deleted while subscribed and receiving large messages. The network thread
    // may be anywhere in its work as the client goes: many tries.
    QTest::newRow("async-deleted") << int(Kind::Async) << QByteArray("delete") << 20;
    QTest::newRow("threaded-deleted") << int(Kind::Threaded) << QByteArray("delete") << 1;
}

void tst_MosquittoStack::clientEndsItsConnection()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, how);
    QFETCH(int, rounds);
    MosquittoBroker broker; // of this row alone: its log, its large retained messages
    QVERIFY2(broker.start(), qPrintable(broker.log()));
    // Threads of earlier clients may still be on their way out.
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    for (int round = 0; round < rounds; ++round) {
        auto client = makeClient(Kind(kind), brokerConfig(broker), "ends" + QByteArray::number(round));
        QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
        QSignalSpy closed(client.get(), &QtMosquittoClientBase::closed);
        int received = 0; // counted only: they are large
        connect(client.get(), &QtMosquittoClientBase::recieved, this, [&] { ++received; });
        client->open();
        QVERIFY(opened.wait(5000));
        if (how == "delete") {
            // Retained, they come back at once on every subscription, each under a topic of its own.
            for (int i = 0; round == 0 && i < 40; ++i)
                client->publish(message("big/" + QByteArray::number(i), QByteArray(1 << 20, 'x'), 0, true));
            QVERIFY(client->subscribe("big/#"));
            QTRY_VERIFY_WITH_TIMEOUT(received >= 5, 10000);
            client.reset();
            // The network thread goes with the client (isFinished() comes just before it is gone).
            QTRY_COMPARE(threadCount(), m_threadsAtStart);
            continue;
        }
        how == "open" ? client->open() : client->close();
        if (Kind(kind) != Kind::Async) // its close() does not report
            QTRY_COMPARE(closed.count(), 1);
        QTRY_VERIFY(!client->isOpen());
    }
    // Each connection ended. A closed one with the DISCONNECT (so the broker
    // would not publish a will) rather than by the socket dropping, which a
    // deleted client may also do.
    const QRegularExpression ended(QStringLiteral("Client ends[0-9]+ (closed its connection|disconnected)"));
    QTRY_COMPARE_WITH_TIMEOUT(broker.log().count(ended), rounds, 5000);
    if (how != "delete")
        QCOMPARE(broker.log().count(QRegularExpression(QStringLiteral("Client ends[0-9]+ disconnected\\."))), rounds);
}

void tst_MosquittoStack::clientsOverTls_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("broker");
    QTest::addColumn<QString>("trust");    // whose CA certificates: "broker", "default" (the process's), "none"
    QTest::addColumn<bool>("identity");    // the client certificate and key are offered
    QTest::addColumn<QString>("error");    // after "<operation>: "; none: the round trip works
    const QString untrusted = QStringLiteral("certificate verify failed \\(self-signed certificate in certificate chain\\)");
    for (const char *kind : {"sync", "async", "threaded"}) {
        const int k = qstrcmp(kind, "sync") == 0 ? int(Kind::Sync) : qstrcmp(kind, "async") == 0 ? int(Kind::Async) : int(Kind::Threaded);
        QTest::addRow("%s-trusted", kind) << k << QStringLiteral("tls") << QStringLiteral("broker") << false << QString();
        QTest::addRow("%s-untrusted", kind) << k << QStringLiteral("tls") << QStringLiteral("default") << false << untrusted;
        QTest::addRow("%s-wrong-host", kind) << k << QStringLiteral("tls-localhost") << QStringLiteral("broker") << false
                                             << QStringLiteral("certificate verify failed \\(IP address mismatch\\)");
        QTest::addRow("%s-client-certificate", kind) << k << QStringLiteral("tls-client-certificate") << QStringLiteral("broker") << true << QString();
        // Refused once the handshake ended on our side: OpenSSL's alert, or the write that meets the reset.
        QTest::addRow("%s-no-client-certificate", kind) << k << QStringLiteral("tls-client-certificate")
                                                        << QStringLiteral("broker") << false << QStringLiteral(".+");
        QTest::addRow("%s-plain-broker", kind) << k << QStringLiteral("plain") << QStringLiteral("none") << false << QStringLiteral(".+");
    }
}

// useSsl() over each client kind: a connection is TLS or nothing, with the
// broker verified and named, and every failure a TlsError with its reason.
void tst_MosquittoStack::clientsOverTls()
{
    QFETCH(int, kind);
    QFETCH(QString, broker);
    QFETCH(QString, trust);
    QFETCH(bool, identity);
    QFETCH(QString, error);
    MosquittoBroker &b = *m_brokers.value(broker);
    MosquittoConfig c = brokerConfig(b);
    c.setUseSsl(true);
    const QByteArray id = "tls-" + QByteArray(QTest::currentDataTag());
    QList<MosquittoMessage> received; // outlives the client, whose end may still deliver
    auto client = makeClient(Kind(kind), c, id);
    if (trust != QLatin1String("default")) {
        QSslConfiguration tls;
        if (trust == QLatin1String("broker"))
            tls.setCaCertificates(QSslCertificate::fromPath(m_brokers.value(QStringLiteral("tls-client-certificate"))->caFile())
                                  + QSslCertificate::fromPath(b.caFile()));
        if (identity) {
            QFile key(b.clientKeyFile());
            QVERIFY(key.open(QIODevice::ReadOnly));
            tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
            tls.setLocalCertificate(QSslCertificate::fromPath(b.clientCertificateFile()).value(0));
        }
        client->setSslConfiguration(tls);
    }
    QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
    QSignalSpy errors(client.get(), &QtMosquittoClientBase::error);
    connect(client.get(), &QtMosquittoClientBase::recieved, this, [&](const MosquittoMessage &m) { received << m; });
    client->open();
    if (!error.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
        QCOMPARE(errors.first().at(0).value<qtmosquitto::MosquittoErrorCode>(), qtmosquitto::TlsError);
        const QString text = errors.first().at(1).toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^mosquitto[A-Za-z]+: ") + error + QLatin1Char('$')).match(text).hasMatch(),
                 qPrintable(text));
        // Opened again while the first attempt may still be retried: refused the same way.
        client->open();
        QTRY_VERIFY_WITH_TIMEOUT(errors.size() > 1, 10000);
        QVERIFY(opened.isEmpty());
        QVERIFY(!b.log().contains(QStringLiteral(" as ") + QString::fromUtf8(id))); // never connected, in clear or not
        return;
    }
    QVERIFY2(opened.wait(10000), qPrintable(errors.isEmpty() ? QString() : errors.first().at(1).toString()));
    QVERIFY(client->subscribe("tls/" + id));
    QTRY_VERIFY(client->publish(message("tls/" + id, "over tls")) && !received.isEmpty());
    QCOMPARE(received.first().payload(), QByteArray("over tls"));
    // The broker listens for TLS only: it took this client.
    QVERIFY(b.log().contains(QStringLiteral(" as ") + QString::fromUtf8(id)));
    // Reopened with the same configuration, then with another: each context made is released
    // once (a leak or a second release shows in the sanitizer suites).
    QSslConfiguration other = client->sslConfiguration();
    other.setPeerVerifyDepth(5);
    for (const bool change : {false, true}) {
        client->close();
        if (change)
            client->setSslConfiguration(other);
        opened.clear();
        client->open();
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), 10000);
    }
    QVERIFY(errors.isEmpty());
}

QTEST_GUILESS_MAIN(tst_MosquittoStack)
#include "tst_mosquittostack.moc"
