#include <mosquittowrapper/qtmosquittoclient_p.h>
#include <mosquittowrapper/qtmosquittoclientbase.h>

#include "mosquittobroker.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <mosquitto.h>

#include <functional>

namespace {

// Drives the binding's network loop in this thread until `done` holds.
bool pump(QtMosquittoClientPrivate &binding, const std::function<bool()> &done,
          int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        binding.mosquittoLoop(20, 1);
    }
    return true;
}

int protocol31 = QtMosquittoClientBase::PROTOCOL;

} // namespace

class tst_QtMosquittoClientPrivate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void errCode_data();
    void errCode();
    void conResCode_data();
    void conResCode();
    void operationsBeforeConnackReturnFalseSilently();
    void asyncConnectionCountsOnlyWithNetworkThread();
    void failingSubscribeNamesTheOperation();
    void topicWithNulIsRefused_data();
    void topicWithNulIsRefused();
    void refusedConnackArrivesAsUnknownWithText();
    void closedPortIsSystemErrorWithErrnoText();
    void emptyPayloadProducesNothing();
    void onlySocks5ProxyIsHandedOn();

private:
    MosquittoBroker m_broker;
};

void tst_QtMosquittoClientPrivate::initTestCase()
{
    QtMosquittoClientBase::init();
    if (!MosquittoBroker::isAvailable())
        QSKIP("mosquitto is not installed");
    QVERIFY2(m_broker.start(), qPrintable(m_broker.log()));
}

void tst_QtMosquittoClientPrivate::cleanupTestCase()
{
    m_broker.stop();
    QtMosquittoClientBase::release();
}

void tst_QtMosquittoClientPrivate::errCode_data()
{
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("expected");
    for (int rc = 0; rc <= 16; ++rc)
        QTest::addRow("rc-%d", rc) << rc << rc;
    // Codes libmosquitto 2.0 adds on either side.
    QTest::newRow("conn-pending") << int(MOSQ_ERR_CONN_PENDING) << -1;
    QTest::newRow("auth-continue") << int(MOSQ_ERR_AUTH_CONTINUE) << -1;
    QTest::newRow("plugin-defer") << int(MOSQ_ERR_PLUGIN_DEFER) << -1;
    QTest::newRow("already-exists") << int(MOSQ_ERR_ALREADY_EXISTS) << -1;
}

void tst_QtMosquittoClientPrivate::errCode()
{
    QFETCH(int, rc);
    QtMosquittoClientPrivate binding;
    QTEST(int(binding.errCode(rc)), "expected");
}

void tst_QtMosquittoClientPrivate::conResCode_data()
{
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("expected");
    QTest::newRow("accepted") << 0 << 0;
    QTest::newRow("protocol") << 1 << 0x1000;
    QTest::newRow("identifier") << 2 << 0x2000;
    QTest::newRow("unavailable") << 3 << 0x3000;
    QTest::newRow("bad-credentials") << 4 << -1;
    QTest::newRow("not-authorised") << 5 << -1;
    QTest::newRow("negative") << -1 << -1;
}

void tst_QtMosquittoClientPrivate::conResCode()
{
    QFETCH(int, rc);
    QtMosquittoClientPrivate binding;
    QTEST(int(binding.conResCode(rc)), "expected");
}

void tst_QtMosquittoClientPrivate::operationsBeforeConnackReturnFalseSilently()
{
    QtMosquittoClientPrivate binding(QByteArray("early"), nullptr);
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    MosquittoMessage msg;
    msg.setTopic("t");
    msg.setPayload("p");
    QVERIFY(!binding.mosquittoPublish(msg));
    QVERIFY(binding.setOpts(MOSQ_OPT_PROTOCOL_VERSION, &protocol31));
    QVERIFY(binding.mosquittoConnect(m_broker.host(), m_broker.port(), 60));
    // Connected at TCP level, but no acknowledgement processed yet.
    QVERIFY(!binding.isConnected());
    QVERIFY(!binding.mosquittoPublish(msg));
    QVERIFY(!binding.mosquittoSubscribe("t", 0));
    QVERIFY(!binding.mosquittoUnsubscribe("t"));
    QCOMPARE(errors.count(), 0);

    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QVERIFY(pump(binding, [&] { return connected.count() == 1; }));
    QVERIFY(binding.isConnected());
    QVERIFY(binding.mosquittoPublish(msg));
    QVERIFY(binding.mosquittoDisconnect());
    QVERIFY(!binding.isConnected());
    QCOMPARE(errors.count(), 0);
}

void tst_QtMosquittoClientPrivate::asyncConnectionCountsOnlyWithNetworkThread()
{
    QtMosquittoClientPrivate binding;
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QVERIFY(binding.setOpts(MOSQ_OPT_PROTOCOL_VERSION, &protocol31));
    QVERIFY(binding.mosquittoConnectAsync(m_broker.host(), m_broker.port(), 60));
    // The acknowledgement is taken in by driving the loop here...
    QVERIFY(pump(binding, [&] { return connected.count() == 1; }));
    // ...but an asynchronous connection counts only with libmosquitto's thread.
    QVERIFY(!binding.isConnected());
    QVERIFY(!binding.mosquittoSubscribe("t", 0));
    QVERIFY(binding.mosquittoLoopStart());
    QVERIFY(binding.isLoopRunning());
    QVERIFY(binding.isConnected());
    QVERIFY(binding.mosquittoSubscribe("t", 0));

    // As the asynchronous client closes: the forced stop cancels libmosquitto's
    // thread, so it comes only once that thread has sent the DISCONNECT (a
    // thread cancelled while writing keeps one of libmosquitto's mutexes).
    const int seen = binding.disconnections();
    QVERIFY(binding.mosquittoDisconnect());
    QVERIFY(binding.waitForDisconnection(seen, 5000));
    QVERIFY(binding.mosquittoLoopStop(true));
    QVERIFY(!binding.isLoopRunning());
    // A second stop calls nothing and reports nothing.
    QVERIFY(!binding.mosquittoLoopStop(true));
    QCOMPARE(errors.count(), 0);
}

void tst_QtMosquittoClientPrivate::failingSubscribeNamesTheOperation()
{
    QtMosquittoClientPrivate binding;
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(binding.mosquittoConnect(m_broker.host(), m_broker.port(), 60));
    QVERIFY(pump(binding, [&] { return connected.count() == 1; }));

    QVERIFY(!binding.mosquittoSubscribe("a/#/b", 0));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<qtmosquitto::MosquittoErrorCode>(),
             qtmosquitto::InvalidArguments);
    QCOMPARE(errors.at(0).at(1).toString(),
             QStringLiteral("mosquittoSubscribe: ") + QString::fromUtf8(mosquitto_strerror(3)));
}

void tst_QtMosquittoClientPrivate::topicWithNulIsRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("publish") << QStringLiteral("mosquittoPublish");
    QTest::newRow("subscribe") << QStringLiteral("mosquittoSubscribe");
    QTest::newRow("unsubscribe") << QStringLiteral("mosquittoUnsubscribe");
}

void tst_QtMosquittoClientPrivate::topicWithNulIsRefused()
{
    QFETCH(QString, operation);
    QtMosquittoClientPrivate binding;
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(binding.mosquittoConnect(m_broker.host(), m_broker.port(), 60));
    QVERIFY(pump(binding, [&] { return connected.count() == 1; }));

    // Cut at the NUL, it would address "nul/a" instead.
    const QByteArray topic("nul/a\0b", 7);
    MosquittoMessage msg;
    msg.setTopic(topic);
    msg.setPayload("p");
    bool result = true;
    if (operation == QLatin1String("mosquittoPublish"))
        result = binding.mosquittoPublish(msg);
    else if (operation == QLatin1String("mosquittoSubscribe"))
        result = binding.mosquittoSubscribe(topic, 0);
    else
        result = binding.mosquittoUnsubscribe(topic);
    QVERIFY(!result);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<qtmosquitto::MosquittoErrorCode>(),
             qtmosquitto::InvalidArguments);
    QVERIFY(errors.at(0).at(1).toString().startsWith(operation + QLatin1String(": ")));
}

void tst_QtMosquittoClientPrivate::refusedConnackArrivesAsUnknownWithText()
{
    MosquittoBroker locked;
    MosquittoBroker::Options options;
    options.requirePassword = true;
    QVERIFY2(locked.start(options), qPrintable(locked.log()));

    QtMosquittoClientPrivate binding;
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(binding.setOpts(MOSQ_OPT_PROTOCOL_VERSION, &protocol31));
    QVERIFY(binding.mosquittoConnect(locked.host(), locked.port(), 60));
    QVERIFY(pump(binding, [&] { return errors.count() >= 1; }));
    QCOMPARE(errors.at(0).at(0).value<qtmosquitto::MosquittoErrorCode>(),
             qtmosquitto::UnknownError);
    QCOMPARE(errors.at(0).at(1).toString(), QString::fromUtf8(mosquitto_connack_string(5)));
    QCOMPARE(connected.count(), 0);
    QVERIFY(!binding.isConnected());
}

void tst_QtMosquittoClientPrivate::closedPortIsSystemErrorWithErrnoText()
{
    const quint16 closed = PeerProcess::freePort();
    QtMosquittoClientPrivate binding;
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(!binding.mosquittoConnect(QStringLiteral("127.0.0.1"), closed, 60));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<qtmosquitto::MosquittoErrorCode>(),
             qtmosquitto::SystemError);
    QCOMPARE(errors.at(0).at(1).toString(),
             QStringLiteral("mosquittoConnect: ") + QString::fromUtf8(strerror(ECONNREFUSED)));
}

void tst_QtMosquittoClientPrivate::emptyPayloadProducesNothing()
{
    QtMosquittoClientPrivate binding;
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    QSignalSpy received(&binding, &QtMosquittoClientPrivate::recieved);
    QVERIFY(binding.mosquittoConnect(m_broker.host(), m_broker.port(), 60));
    QVERIFY(pump(binding, [&] { return connected.count() == 1; }));
    QVERIFY(binding.mosquittoSubscribe("empty/t", 0));
    // The subscription is in place once a retained marker comes back.
    QVERIFY(m_broker.publish("empty/marker", "m", {QStringLiteral("-r")}));
    QVERIFY(binding.mosquittoSubscribe("empty/marker", 0));
    QVERIFY(pump(binding, [&] { return received.count() == 1; }));

    QVERIFY(m_broker.publish("empty/t", QByteArray()));
    QVERIFY(m_broker.publish("empty/t", "after"));
    QVERIFY(pump(binding, [&] { return received.count() == 2; }));
    const auto msg = received.at(1).at(0).value<MosquittoMessage>();
    QCOMPARE(msg.topic(), QByteArray("empty/t"));
    QCOMPARE(msg.payload(), QByteArray("after"));
    QVERIFY(m_broker.publish("empty/marker", QByteArray(), {QStringLiteral("-r")}));
}

void tst_QtMosquittoClientPrivate::onlySocks5ProxyIsHandedOn()
{
    QtMosquittoClientPrivate binding;
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(!binding.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 8080)));
    QVERIFY(!binding.setProxy(QNetworkProxy(QNetworkProxy::NoProxy)));
    QCOMPARE(errors.count(), 0);
    QVERIFY(binding.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"),
                                           1080, QStringLiteral("u"), QStringLiteral("p"))));
    QCOMPARE(errors.count(), 0);
}

QTEST_GUILESS_MAIN(tst_QtMosquittoClientPrivate)
#include "tst_qtmosquittoclientprivate.moc"
