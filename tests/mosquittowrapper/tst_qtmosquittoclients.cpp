#include <mosquittowrapper/qtmosquittoclient.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>
#include <mosquittowrapper/qtmosquittoclientsync.h>

#include "mosquittotestkit.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <mosquitto.h>

#include <memory>

namespace {

enum class Kind { Sync, Async, Threaded };

std::unique_ptr<QtMosquittoClientBase> makeClient(Kind kind, const MosquittoConfig &config,
                                                  const QByteArray &id)
{
    if (kind == Kind::Sync)
        return std::make_unique<QtMosquittoClientSync>(config, id);
    if (kind == Kind::Async)
        return std::make_unique<QtMosquittoClientAsync>(config, id);
    return std::make_unique<QtMosquittoClient>(config, id);
}

MosquittoMessage message(const QByteArray &topic, const QByteArray &payload, int qos = 0,
                         bool retain = false)
{
    MosquittoMessage msg;
    msg.setTopic(topic);
    msg.setPayload(payload);
    msg.setQos(qos);
    msg.setRetain(retain);
    return msg;
}

const QList<QPair<const char *, Kind>> kinds = {
    {"sync", Kind::Sync}, {"async", Kind::Async}, {"threaded", Kind::Threaded}};

void addKinds()
{
    QTest::addColumn<int>("kind");
    for (const auto &kind : kinds)
        QTest::newRow(kind.first) << int(kind.second);
}

} // namespace

class tst_QtMosquittoClients : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void connectPublishSubscribeReceive_data() { addKinds(); }
    void connectPublishSubscribeReceive();
    void closeIsACleanDisconnect_data() { addKinds(); }
    void closeIsACleanDisconnect();
    void credentialsOnlyWhenBothAreSet_data();
    void credentialsOnlyWhenBothAreSet();
    void asyncOpenOnOpenClientCloses();
    void asyncOpenWhileConnectingDoesNotSpin();
    void syncCloseAndPublishWithoutConnection();
    void threadedPublishWhileClosedReturnsTrue();
    void destructionEndsThreadAndConnection_data();
    void destructionEndsThreadAndConnection();
    void httpProxyIsIgnoredSocks5IsUsed();

private:
    MosquittoBroker m_broker;
    MosquittoBroker m_locked; // refuses anonymous clients
    int m_threadsAtStart = 0;
};

void tst_QtMosquittoClients::initTestCase()
{
    QtMosquittoClientBase::init();
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
    QVERIFY2(m_broker.start(), qPrintable(m_broker.log()));
    MosquittoBroker::Options options;
    options.requirePassword = true;
    QVERIFY2(m_locked.start(options), qPrintable(m_locked.log()));
    m_threadsAtStart = threadCount();
}

void tst_QtMosquittoClients::cleanupTestCase()
{
    m_broker.stop();
    m_locked.stop();
    QtMosquittoClientBase::release();
}

void tst_QtMosquittoClients::connectPublishSubscribeReceive()
{
    QFETCH(int, kind);
    const QByteArray topic = "clients/" + QByteArray::number(kind);
    auto client = makeClient(Kind(kind), brokerConfig(m_broker), "roundtrip-" + QByteArray::number(kind));
    QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
    QSignalSpy closed(client.get(), &QtMosquittoClientBase::closed);
    QSignalSpy received(client.get(), &QtMosquittoClientBase::recieved);
    QSignalSpy errors(client.get(), &QtMosquittoClientBase::error);

    client->open();
    QVERIFY(opened.wait(5000));
    QVERIFY(client->isOpen());

    // A retained marker proves the subscription is in place.
    QVERIFY(m_broker.publish(topic, "marker", {QStringLiteral("-r")}));
    QVERIFY(client->subscribe(topic, 1));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
    QCOMPARE(received.at(0).at(0).value<MosquittoMessage>().payload(), QByteArray("marker"));
    QVERIFY(received.at(0).at(0).value<MosquittoMessage>().retain());

    const MosquittoMessage msg = message(topic, QByteArray("\x00\x01 binary \xff", 11), 1);
    QVERIFY(client->publish(msg));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 5000);
    const auto back = received.at(1).at(0).value<MosquittoMessage>();
    QCOMPARE(back.topic(), topic);
    QCOMPARE(back.payload(), msg.payload());
    QCOMPARE(back.qos(), 1);
    QVERIFY(!back.retain());

    QVERIFY(client->unsubscribe(topic));
    QVERIFY(m_broker.publish(topic, QByteArray(), {QStringLiteral("-r")}));
    QCOMPARE(errors.count(), 0);

    client->close();
    if (Kind(kind) != Kind::Async)
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
    QTRY_VERIFY(!client->isOpen());
}

void tst_QtMosquittoClients::closeIsACleanDisconnect()
{
    QFETCH(int, kind);
    const QByteArray id = "clean-" + QByteArray::number(kind);
    auto client = makeClient(Kind(kind), brokerConfig(m_broker), id);
    QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
    client->open();
    QVERIFY(opened.wait(5000));
    client->close();
    // The broker got the DISCONNECT (so it would not publish a will), rather
    // than seeing the socket drop. (Kept apart from the round trip: with an
    // UNSUBACK still unread as libmosquitto closes, the broker sees a reset.)
    const QString clean = QStringLiteral("Client %1 disconnected.").arg(QString::fromUtf8(id));
    QTRY_VERIFY_WITH_TIMEOUT(m_broker.log().contains(clean), 5000);
    QVERIFY(!m_broker.log().contains(QStringLiteral("Client %1 closed its connection.").arg(QString::fromUtf8(id))));
}

void tst_QtMosquittoClients::credentialsOnlyWhenBothAreSet_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    const QString user = MosquittoBroker::Options().user;
    const QString password = MosquittoBroker::Options().password;
    for (const auto &kind : kinds) {
        QTest::addRow("%s-none", kind.first) << int(kind.second) << QString() << QString() << false;
        QTest::addRow("%s-user-only", kind.first)
            << int(kind.second) << user << QString() << false;
        QTest::addRow("%s-password-only", kind.first)
            << int(kind.second) << QString() << password << false;
        QTest::addRow("%s-both", kind.first) << int(kind.second) << user << password << true;
    }
}

// A refusal arrives with libmosquitto's CONNACK text, through every client kind.
void tst_QtMosquittoClients::credentialsOnlyWhenBothAreSet()
{
    QFETCH(int, kind);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);

    MosquittoConfig c = brokerConfig(m_locked);
    c.setUserName(user);
    c.setPassword(password);
    auto client = makeClient(Kind(kind), c, "credentials");
    QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
    QSignalSpy errors(client.get(), &QtMosquittoClientBase::error);
    client->open();
    if (accepted) {
        QVERIFY(opened.wait(5000));
        QCOMPARE(errors.count(), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(errors.count() >= 1, 5000);
        QCOMPARE(errors.at(0).at(0).value<qtmosquitto::MosquittoErrorCode>(),
                 qtmosquitto::UnknownError);
        QCOMPARE(errors.at(0).at(1).toString(), QString::fromUtf8(mosquitto_connack_string(5)));
        QCOMPARE(opened.count(), 0);
        QVERIFY(!client->isOpen());
    }
    client->close();
}

void tst_QtMosquittoClients::asyncOpenOnOpenClientCloses()
{
    QtMosquittoClientAsync client(brokerConfig(m_broker), "open-twice");
    QSignalSpy opened(&client, &QtMosquittoClientBase::opened);
    client.open();
    QVERIFY(opened.wait(5000));
    QVERIFY(client.isOpen());
    client.open();
    QVERIFY(!client.isOpen());
}

void tst_QtMosquittoClients::asyncOpenWhileConnectingDoesNotSpin()
{
    // Nothing listens: libmosquitto's thread keeps trying in the background.
    MosquittoConfig c = brokerConfig(m_broker);
    c.setPort(PeerProcess::freePort());
    QtMosquittoClientAsync client(c, "connecting");
    QSignalSpy errors(&client, &QtMosquittoClientBase::error);
    client.open();
    QElapsedTimer timer;
    timer.start();
    client.open();
    QVERIFY(timer.elapsed() < 2000);
    QCoreApplication::processEvents();
    for (const auto &e : qAsConst(errors))
        QVERIFY2(!e.at(1).toString().startsWith(QLatin1String("mosquittoLoopStart")),
                 qPrintable(e.at(1).toString()));
    client.close();
}

void tst_QtMosquittoClients::syncCloseAndPublishWithoutConnection()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.log()));
    QtMosquittoClientSync client(brokerConfig(broker), "lost");
    QSignalSpy opened(&client, &QtMosquittoClientBase::opened);
    QSignalSpy closed(&client, &QtMosquittoClientBase::closed);
    client.close(); // never opened: nothing to report
    QCoreApplication::processEvents();
    QCOMPARE(closed.count(), 0);
    client.open();
    QVERIFY(opened.wait(5000));
    broker.kill();
    QVERIFY(closed.wait(5000));
    QVERIFY(!client.publish(message("t", "p")));
}

void tst_QtMosquittoClients::threadedPublishWhileClosedReturnsTrue()
{
    QtMosquittoClient client(brokerConfig(m_broker), "closed-publish");
    QSignalSpy errors(&client, &QtMosquittoClientBase::error);
    QVERIFY(client.publish(message("t", "p")));
    QVERIFY(!client.isOpen());
    QSignalSpy opened(&client, &QtMosquittoClientBase::opened);
    client.open();
    // Open only once the queued opened() has come back to this thread.
    QVERIFY(!client.isOpen());
    QVERIFY(opened.wait(5000));
    QVERIFY(client.isOpen());
    QCOMPARE(errors.count(), 0);
}

void tst_QtMosquittoClients::destructionEndsThreadAndConnection_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("rounds");
    // The network thread may be anywhere in its work as the client goes: many tries.
    QTest::newRow("async") << int(Kind::Async) << 20;
    QTest::newRow("threaded") << int(Kind::Threaded) << 1;
}

// Deleted while open, subscribed and receiving.
void tst_QtMosquittoClients::destructionEndsThreadAndConnection()
{
    QFETCH(int, kind);
    QFETCH(int, rounds);
    MosquittoBroker broker; // left with large retained messages
    QVERIFY2(broker.start(), qPrintable(broker.log()));
    // Threads of earlier clients may still be on their way out.
    QTRY_COMPARE(threadCount(), m_threadsAtStart);
    const int before = threadCount();
    for (int round = 0; round < rounds; ++round) {
        auto client
            = makeClient(Kind(kind), brokerConfig(broker), "gone" + QByteArray::number(round));
        QSignalSpy opened(client.get(), &QtMosquittoClientBase::opened);
        int received = 0; // counted only: they are large
        connect(client.get(), &QtMosquittoClientBase::recieved, this, [&] { ++received; });
        client->open();
        QVERIFY(opened.wait(5000));
        QTRY_COMPARE(threadCount(), before + 1);
        // Retained, they come back at once on every subscription, each under a
        // topic of its own.
        for (int i = 0; round == 0 && i < 40; ++i)
            client->publish(
                message("gone/" + QByteArray::number(i), QByteArray(1 << 20, 'x'), 0, true));
        QVERIFY(client->subscribe("gone/#"));
        QTRY_VERIFY_WITH_TIMEOUT(received >= 5, 10000);
        client.reset();
        // isFinished() comes just before the system thread is gone.
        QTRY_COMPARE(threadCount(), before);
    }
    // The network thread went with the client, and with it the connection.
    const QRegularExpression ended(
        QStringLiteral("Client gone[0-9]+ (closed its connection|disconnected)"));
    QTRY_COMPARE_WITH_TIMEOUT(broker.log().count(ended), rounds, 5000);
}

void tst_QtMosquittoClients::httpProxyIsIgnoredSocks5IsUsed()
{
    MosquittoConfig viaHttp = brokerConfig(m_broker);
    viaHttp.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 1));
    QtMosquittoClientAsync direct(viaHttp, "http-proxy");
    QSignalSpy opened(&direct, &QtMosquittoClientBase::opened);
    direct.open();
    QVERIFY(opened.wait(5000));
    direct.close();

    QTcpServer socks;
    QVERIFY(socks.listen(QHostAddress::LocalHost));
    MosquittoConfig viaSocks = brokerConfig(m_broker);
    viaSocks.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"),
                                    socks.serverPort()));
    QtMosquittoClientSync proxied(viaSocks, "socks-proxy");
    proxied.open();
    QVERIFY(socks.waitForNewConnection(5000));
    QTcpSocket *peer = socks.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0, 5000);
    QCOMPARE(peer->read(1), QByteArray("\x05", 1)); // SOCKS version 5 greeting
    proxied.close();
}

QTEST_GUILESS_MAIN(tst_QtMosquittoClients)
#include "tst_qtmosquittoclients.moc"
