#include <mosquittowrapper/mosquittoconfig.h>
#include <mosquittowrapper/mosquittomessage.h>

#include <QTest>

#include <functional>

#include <mosquitto.h>

class tst_MosquittoValues : public QObject
{
    Q_OBJECT
private slots:
    void messageFromRecord_data();
    void messageFromRecord();
    void knownTopicIsSharedOnlyWhenEqual();
    void messageEquality();
    void configDefaults();
    void configModeIsZeroOrOne_data();
    void configModeIsZeroOrOne();
    void configEqualityCoversEveryField();
};

void tst_MosquittoValues::messageFromRecord_data()
{
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("qos");
    QTest::addColumn<bool>("retain");
    QTest::addColumn<int>("expectedQos");
    QTest::addColumn<bool>("expectedRetain");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << QByteArray("a/b") << QByteArray("hello") << 1 << true << 1 << true
                           << true;
    QTest::newRow("binary-payload") << QByteArray("t") << QByteArray("\0\x01\xff", 3) << 2
                                    << false << 2 << false << true;
    QTest::newRow("empty-payload-resets-qos-retain")
        << QByteArray("t") << QByteArray() << 2 << true << 0 << false << false;
    QTest::newRow("no-topic") << QByteArray() << QByteArray("x") << 0 << false << 0 << false
                              << false;
}

void tst_MosquittoValues::messageFromRecord()
{
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(int, qos);
    QFETCH(bool, retain);

    mosquitto_message record{};
    record.mid = 42;
    record.topic = topic.isNull() ? nullptr : topic.data();
    record.payload = payload.data();
    record.payloadlen = payload.size();
    record.qos = qos;
    record.retain = retain;

    const MosquittoMessage msg(&record);
    QCOMPARE(msg.id(), 42);
    QCOMPARE(msg.topic(), topic);
    QCOMPARE(msg.payload(), payload);
    QTEST(msg.qos(), "expectedQos");
    QTEST(msg.retain(), "expectedRetain");
    QTEST(msg.isValid(), "valid");
    QCOMPARE(MosquittoMessage(static_cast<const mosquitto_message *>(nullptr)), MosquittoMessage());
}

void tst_MosquittoValues::knownTopicIsSharedOnlyWhenEqual()
{
    char topic[] = "a/b";
    char body[] = "x";
    mosquitto_message record{};
    record.topic = topic;
    record.payload = body;
    record.payloadlen = 1;

    const QByteArray same("a/b");
    QCOMPARE(MosquittoMessage(&record, same).topic().constData(), same.constData());
    for (const QByteArray &other : {QByteArray("a/c"), QByteArray("a/bc"), QByteArray("a/"),
                                    QByteArray()}) {
        const MosquittoMessage msg(&record, other);
        QCOMPARE(msg.topic(), QByteArray("a/b"));
        QVERIFY(msg.topic().constData() != other.constData());
    }
}

void tst_MosquittoValues::messageEquality()
{
    MosquittoMessage a;
    a.setTopic("t");
    a.setPayload("p");
    MosquittoMessage b = a;
    QVERIFY(a == b);
    b.setRetain(true);
    QVERIFY(a != b);
    QVERIFY(!a.retain()); // copies do not share changes
    b = a;
    b.setPayload(QByteArray("p\0", 2));
    QVERIFY(a != b);
}

void tst_MosquittoValues::configDefaults()
{
    const MosquittoConfig c;
    QVERIFY(c.cleanSession() && !c.useMessagesQueue() && !c.useTopicsQueue() && !c.useSsl());
    QCOMPARE(c.host(), QStringLiteral("localhost"));
    QCOMPARE(c.port(), quint16(1883));
    QCOMPARE(c.keepAlive(), 120);
    QCOMPARE(c.maxInfliteMessages(), 10);
    QCOMPARE(c.msgRetrySet(), 60u);
    QCOMPARE(c.mode(), 0);
    QCOMPARE(c.syncLoopTimeout(), 0);
    QCOMPARE(c.syncLoopInterval(), 100);
    QCOMPARE(c.reconnectTimeout(), 259200000);
    QCOMPARE(c.proxy(), QNetworkProxy());
    QVERIFY(c.userName().isEmpty() && c.password().isEmpty() && c.bindAddress().isEmpty());
}

void tst_MosquittoValues::configModeIsZeroOrOne_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("expected");
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("two") << 2 << 0;
    QTest::newRow("minus-one") << -1 << 0;
}

void tst_MosquittoValues::configModeIsZeroOrOne()
{
    QFETCH(int, set);
    MosquittoConfig c;
    c.setMode(1);
    c.setMode(set);
    QTEST(c.mode(), "expected");
}

void tst_MosquittoValues::configEqualityCoversEveryField()
{
    using C = MosquittoConfig;
    const QString s = QStringLiteral("x");
    const QList<QPair<const char *, std::function<void(C &)>>> changes = {
        {"cleanSession", [](C &c) { c.setCleanSession(false); }},
        {"useMessagesQueue", [](C &c) { c.setUseMessagesQueue(true); }},
        {"useTopicsQueue", [](C &c) { c.setUseTopicsQueue(true); }},
        {"useSsl", [](C &c) { c.setUseSsl(true); }},
        {"userName", [&](C &c) { c.setUserName(s); }},
        {"password", [&](C &c) { c.setPassword(s); }},
        {"host", [&](C &c) { c.setHost(s); }},
        {"port", [](C &c) { c.setPort(1); }},
        {"keepAlive", [](C &c) { c.setKeepAlive(1); }},
        {"bindAddress", [&](C &c) { c.setBindAddress(s); }},
        {"proxy", [&](C &c) { c.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, s, 1080)); }},
        {"maxInfliteMessages", [](C &c) { c.setMaxInfliteMessages(1); }},
        {"msgRetrySet", [](C &c) { c.setMsgRetrySet(1); }},
        {"mode", [](C &c) { c.setMode(1); }},
        {"syncLoopTimeout", [](C &c) { c.setSyncLoopTimeout(1); }},
        {"syncLoopInterval", [](C &c) { c.setSyncLoopInterval(1); }},
        {"reconnectTimeout", [](C &c) { c.setReconnectTimeout(1); }},
    };
    const C base;
    for (const auto &change : changes) {
        C other = base;
        change.second(other);
        QVERIFY2(other != base && base == C(), change.first);
    }
}

QTEST_GUILESS_MAIN(tst_MosquittoValues)
#include "tst_mosquittovalues.moc"
