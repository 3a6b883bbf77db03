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

// Connects synchronously and drives the loop until the broker has accepted.
bool connectTo(QtMosquittoClientPrivate &binding, const MosquittoBroker &broker)
{
    QSignalSpy connected(&binding, &QtMosquittoClientPrivate::connected);
    return binding.mosquittoConnect(broker.host(), broker.port(), 60)
           && pump(binding, [&] { return connected.count() == 1; });
}

qtmosquitto::MosquittoErrorCode codeOf(const QSignalSpy &errors, int i = 0)
{
    return errors.at(i).at(0).value<qtmosquitto::MosquittoErrorCode>();
}

} // namespace

class tst_QtMosquittoClientPrivate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void codeMapping_data();
    void codeMapping();
    void operationsBeforeConnackReturnFalseSilently();
    void asyncConnectionCountsOnlyWithNetworkThread();
    void refusedTopicNamesTheOperation_data();
    void refusedTopicNamesTheOperation();
    void closedPortIsSystemErrorWithErrnoText();

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

void tst_QtMosquittoClientPrivate::codeMapping_data()
{
    QTest::addColumn<bool>("connack");
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("expected");
    for (int rc = 0; rc <= 16; ++rc)
        QTest::addRow("err-%d", rc) << false << rc << rc;
    // Codes libmosquitto 2.0 adds on either side.
    for (int rc : {MOSQ_ERR_CONN_PENDING, MOSQ_ERR_AUTH_CONTINUE, MOSQ_ERR_PLUGIN_DEFER,
                   MOSQ_ERR_ALREADY_EXISTS})
        QTest::addRow("err-%d", rc) << false << rc << -1;
    QTest::newRow("connack-accepted") << true << 0 << 0;
    QTest::newRow("connack-protocol") << true << 1 << 0x1000;
    QTest::newRow("connack-identifier") << true << 2 << 0x2000;
    QTest::newRow("connack-unavailable") << true << 3 << 0x3000;
    QTest::newRow("connack-bad-credentials") << true << 4 << -1;
    QTest::newRow("connack-not-authorised") << true << 5 << -1;
    QTest::newRow("connack-negative") << true << -1 << -1;
}

void tst_QtMosquittoClientPrivate::codeMapping()
{
    QFETCH(bool, connack);
    QFETCH(int, rc);
    QtMosquittoClientPrivate binding;
    QTEST(connack ? int(binding.conResCode(rc)) : int(binding.errCode(rc)), "expected");
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

void tst_QtMosquittoClientPrivate::refusedTopicNamesTheOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("topic");
    QTest::newRow("subscribe-wildcard-inside")
        << QStringLiteral("mosquittoSubscribe") << QByteArray("a/#/b");
    // Cut at the NUL, these would address "nul/a" instead.
    for (const char *op : {"mosquittoPublish", "mosquittoSubscribe", "mosquittoUnsubscribe"})
        QTest::addRow("%s-nul", op) << QString::fromLatin1(op) << QByteArray("nul/a\0b", 7);
}

void tst_QtMosquittoClientPrivate::refusedTopicNamesTheOperation()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, topic);
    QtMosquittoClientPrivate binding;
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(connectTo(binding, m_broker));

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
    QCOMPARE(codeOf(errors), qtmosquitto::InvalidArguments);
    QCOMPARE(errors.at(0).at(1).toString(),
             operation + QLatin1String(": ") + QString::fromUtf8(mosquitto_strerror(MOSQ_ERR_INVAL)));
}

void tst_QtMosquittoClientPrivate::closedPortIsSystemErrorWithErrnoText()
{
    const quint16 closed = PeerProcess::freePort();
    QtMosquittoClientPrivate binding;
    QSignalSpy errors(&binding, &QtMosquittoClientPrivate::mosquittoError);
    QVERIFY(!binding.mosquittoConnect(QStringLiteral("127.0.0.1"), closed, 60));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(codeOf(errors), qtmosquitto::SystemError);
    QCOMPARE(errors.at(0).at(1).toString(),
             QStringLiteral("mosquittoConnect: ") + QString::fromUtf8(strerror(ECONNREFUSED)));
}

QTEST_GUILESS_MAIN(tst_QtMosquittoClientPrivate)
#include "tst_qtmosquittoclientprivate.moc"
