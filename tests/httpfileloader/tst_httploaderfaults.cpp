// The HTTP file loader against a server that cuts its connections: at random
// points of the headers or of the body, with a reset or a clean close, over
// a file of many blocks. The download must end byte-identical within the
// retry budget.
#include "httptestutil.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class tst_HttpLoaderFaults : public QObject
{
    Q_OBJECT
private slots:
    void cutConnectionsStillGiveTheFile();
};

void tst_HttpLoaderFaults::cutConnectionsStillGiveTheFile()
{
    // Retries are logged as warnings: expected here.
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.warning=false\nhfl.debug=false"));
    const QByteArray data = randomBytes(3 * 256 * 1024 + 4321, 11);
    QRandomGenerator random(11);
    // The first two requests for each offset are cut, the third gets the whole
    // answer. (Whatever Qt resends by itself counts as a request too, and Qt
    // reports some cut bodies as complete: the next block then starts where
    // that body ended. So the number of cuts is not fixed.)
    QHash<qint64, int> asked;
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int) {
        const QByteArray answer = ScriptedServer::rangeAnswer(request, data);
        if (++asked[request.start] > 2)
            return ScriptedServer::send(socket, answer);
        // In the headers or in the body, then a reset or a clean close.
        const int headerSize = answer.indexOf("\r\n\r\n") + 4;
        socket->write(answer.left(random.bounded(2) ? random.bounded(headerSize)
                                                    : headerSize + random.bounded(answer.size() - headerSize)));
        if (random.bounded(2))
            return socket->disconnectFromHost();
        socket->flush();
        socket->abort();
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 64 * 1024);
    QVERIFY2(run.exec(60000), "the download did not end");
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QVERIFY(readFile(target) == data);
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
}

QTEST_GUILESS_MAIN(tst_HttpLoaderFaults)
#include "tst_httploaderfaults.moc"
