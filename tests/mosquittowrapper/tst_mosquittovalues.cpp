#include <mosquittowrapper/mosquittomessage.h>
#include <mosquittowrapper/qtmosquittoclient_p.h>

#include <QTest>

#include <mosquitto.h>

class tst_MosquittoValues : public QObject
{
    Q_OBJECT
private slots:
    void messageFromRecord_data();
    void messageFromRecord();
    void codeMapping_data();
    void codeMapping();
};

void tst_MosquittoValues::messageFromRecord_data()
{
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("qos");
    QTest::addColumn<bool>("retain");
    QTest::addColumn<QByteArray>("previous"); // topic of the message received before
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << QByteArray("a/b") << QByteArray("hello") << 1 << true << QByteArray() << true;
    QTest::newRow("binary-payload") << QByteArray("t") << QByteArray("\0\x01\xff", 3) << 2 << false << QByteArray()
                                    << true;
    // qos and retain are taken only with a payload.
    QTest::newRow("empty-payload") << QByteArray("t") << QByteArray() << 2 << true << QByteArray() << false;
    QTest::newRow("no-topic") << QByteArray() << QByteArray("x") << 0 << false << QByteArray() << false;
    // A topic equal to the one before shares its bytes; any other is its own.
    for (const char *previous : {"a/b", "a/c", "a/bc", "a/"})
        QTest::addRow("after-%s", previous)
            << QByteArray("a/b") << QByteArray("x") << 0 << false << QByteArray(previous) << true;
}

void tst_MosquittoValues::messageFromRecord()
{
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(int, qos);
    QFETCH(bool, retain);
    QFETCH(QByteArray, previous);
    QFETCH(bool, valid);

    mosquitto_message record{};
    record.mid = 42;
    record.topic = topic.isNull() ? nullptr : topic.data();
    record.payload = payload.data();
    record.payloadlen = payload.size();
    record.qos = qos;
    record.retain = retain;

    const MosquittoMessage msg(&record, previous);
    QCOMPARE(msg.id(), 42);
    QCOMPARE(msg.topic(), topic);
    if (!previous.isEmpty())
        QCOMPARE(msg.topic().constData() == previous.constData(), topic == previous);
    QCOMPARE(msg.payload(), payload);
    QCOMPARE(msg.qos(), payload.isEmpty() ? 0 : qos);
    QCOMPARE(msg.retain(), !payload.isEmpty() && retain);
    QCOMPARE(msg.isValid(), valid);
    QVERIFY(msg == MosquittoMessage(msg) && msg != MosquittoMessage());
    QCOMPARE(MosquittoMessage(static_cast<const mosquitto_message *>(nullptr)), MosquittoMessage());
}

void tst_MosquittoValues::codeMapping_data()
{
    QTest::addColumn<bool>("connack");
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("expected");
    for (int rc = 0; rc <= 16; ++rc)
        QTest::addRow("err-%d", rc) << false << rc << rc;
    // Codes libmosquitto 2.0 adds on either side.
    for (int rc : {MOSQ_ERR_CONN_PENDING, MOSQ_ERR_AUTH_CONTINUE, MOSQ_ERR_PLUGIN_DEFER, MOSQ_ERR_ALREADY_EXISTS})
        QTest::addRow("err-%d", rc) << false << rc << -1;
    for (int rc = -1; rc <= 5; ++rc)
        QTest::addRow("connack-%d", rc) << true << rc << (rc >= 0 && rc <= 3 ? rc << 12 : -1);
}

void tst_MosquittoValues::codeMapping()
{
    QFETCH(bool, connack);
    QFETCH(int, rc);
    QtMosquittoClientPrivate binding;
    QTEST(connack ? int(binding.conResCode(rc)) : int(binding.errCode(rc)), "expected");
}

QTEST_GUILESS_MAIN(tst_MosquittoValues)
#include "tst_mosquittovalues.moc"
