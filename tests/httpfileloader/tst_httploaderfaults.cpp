// The HTTP file loader against a server that cuts its connections: at random
// points of the headers or of the body, with a reset or a clean close, over
// a file of many blocks. The download must end byte-identical (SHA-256)
// within the retry budget.
#include "httptestutil.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

enum class Cut { Headers, BodyReset, BodyClose, Mixed };

class tst_HttpLoaderFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Retries are logged as warnings: expected here.
        QLoggingCategory::setFilterRules(QStringLiteral("hfl.warning=false\nhfl.debug=false"));
    }
    void cutConnectionsStillGiveTheFile_data();
    void cutConnectionsStillGiveTheFile();
};

void tst_HttpLoaderFaults::cutConnectionsStillGiveTheFile_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("in-headers") << int(Cut::Headers) << 11u;
    QTest::newRow("in-body-reset") << int(Cut::BodyReset) << 12u;
    QTest::newRow("in-body-close") << int(Cut::BodyClose) << 13u;
    QTest::newRow("mixed") << int(Cut::Mixed) << 14u;
}

void tst_HttpLoaderFaults::cutConnectionsStillGiveTheFile()
{
    QFETCH(int, cut);
    QFETCH(quint32, seed);
    const QByteArray data = randomBytes(3 * 256 * 1024 + 4321, seed);
    QRandomGenerator random(seed);
    int cuts = 0;
    // Every third request for a block gets the whole answer, so the loader
    // gets on whatever Qt resends by itself.
    QHash<qint64, int> asked;
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int) {
        const QByteArray answer = ScriptedServer::rangeAnswer(request, data);
        if (request.start >= data.size() || ++asked[request.start] % 3 == 0)
            return ScriptedServer::send(socket, answer);
        ++cuts;
        const Cut now = Cut(cut) == Cut::Mixed ? Cut(random.bounded(3)) : Cut(cut);
        const int headerSize = answer.indexOf("\r\n\r\n") + 4;
        socket->write(answer.left(now == Cut::Headers
                                      ? random.bounded(headerSize)
                                      : headerSize + random.bounded(answer.size() - headerSize)));
        if (now == Cut::BodyClose)
            return socket->disconnectFromHost();
        socket->flush();
        socket->abort();
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 64 * 1024);
    QVERIFY2(run.exec(60000), "the download did not end");
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QVERIFY(cuts > 10);
    QCOMPARE(fileSha256(target), sha256(data));
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
}

QTEST_GUILESS_MAIN(tst_HttpLoaderFaults)
#include "tst_httploaderfaults.moc"
