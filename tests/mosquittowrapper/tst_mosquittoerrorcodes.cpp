#include <mosquittowrapper/qtmosquittoclient_p.h>

#include <QTest>

#include <mosquitto.h>

class tst_MosquittoErrorCodes : public QObject
{
    Q_OBJECT
private slots:
    void codeMapping_data();
    void codeMapping();
};

void tst_MosquittoErrorCodes::codeMapping_data()
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

void tst_MosquittoErrorCodes::codeMapping()
{
    QFETCH(bool, connack);
    QFETCH(int, rc);
    QtMosquittoClientPrivate binding;
    QTEST(connack ? int(binding.conResCode(rc)) : int(binding.errCode(rc)), "expected");
}

QTEST_GUILESS_MAIN(tst_MosquittoErrorCodes)
#include "tst_mosquittoerrorcodes.moc"
