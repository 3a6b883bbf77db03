// The HTTP file loader against a server that cuts its connections: at random
// points of the headers or of the body, with a reset or a clean close, over
// a file of many blocks. The download must end byte-identical (SHA-256)
// within the retry budget.
#include "httptestutil.h"

#include <httpfileloader/httpfileloader.h>
#include <workers/abstractworkerthread.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

enum class Cut { Headers, BodyReset, BodyClose, Mixed };

// Serves one file with ranges, one request per connection, and cuts most
// answers short as the scenario says. Every fourth answer is whole, so the
// loader always gets on.
class CuttingServer : public QObject
{
    Q_OBJECT
public:
    CuttingServer(const QByteArray &data, Cut cut, quint32 seed)
        : m_data(data), m_cut(cut), m_random(seed)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/file.bin").arg(m_server.serverPort()); }
    int requests = 0;
    int cuts = 0;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        qint64 first = 0;
        qint64 last = m_data.size() - 1;
        for (const QByteArray &line : buffer.left(end).split('\n')) {
            if (line.toLower().startsWith("range: bytes=")) {
                const QList<QByteArray> bounds = line.mid(13).trimmed().split('-');
                first = bounds.value(0).toLongLong();
                last = std::min<qint64>(bounds.value(1).toLongLong(), m_data.size() - 1);
            }
        }
        m_buffers.remove(socket);
        ++requests;

        QByteArray answer;
        if (first >= m_data.size()) {
            answer = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */"
                     + QByteArray::number(m_data.size()) + "\r\nContent-Length: 0\r\n\r\n";
            socket->write(answer);
            socket->disconnectFromHost();
            return;
        }
        const QByteArray body = m_data.mid(int(first), int(last - first + 1));
        const QByteArray headers = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
                                   + QByteArray::number(first) + '-' + QByteArray::number(last) + '/'
                                   + QByteArray::number(m_data.size())
                                   + "\r\nContent-Length: " + QByteArray::number(body.size())
                                   + "\r\nConnection: close\r\n\r\n";
        if (requests % 4 == 0) {
            socket->write(headers + body);
            socket->disconnectFromHost();
            return;
        }
        ++cuts;
        Cut cut = m_cut;
        if (cut == Cut::Mixed)
            cut = Cut(m_random.bounded(3));
        switch (cut) {
        case Cut::Headers:
            socket->write(headers.left(m_random.bounded(headers.size())));
            socket->abort();
            break;
        case Cut::BodyReset:
            socket->write(headers + body.left(m_random.bounded(body.size())));
            socket->flush();
            socket->abort();
            break;
        case Cut::BodyClose:
        case Cut::Mixed:
            socket->write(headers + body.left(m_random.bounded(body.size())));
            socket->disconnectFromHost();
            break;
        }
    }

    QByteArray m_data;
    Cut m_cut;
    QRandomGenerator m_random;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace

class tst_HttpLoaderFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cutConnectionsStillGiveTheFile_data();
    void cutConnectionsStillGiveTheFile();
};

void tst_HttpLoaderFaults::initTestCase()
{
    // Retries are logged as warnings: expected here.
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.warning=false\nhfl.debug=false"));
}

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
    CuttingServer server(data, Cut(cut), seed);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("file.bin"));

    auto *loader = new HttpFileLoader(server.url(), target, 64 * 1024);
    HttpFileLoader::Timing timing;
    timing.requestTimeout = 10000;
    timing.retryDelay = 1;
    timing.timeoutRetryDelay = 1;
    loader->setTiming(timing);
    QString result = QStringLiteral("(none)");
    connect(loader, qOverload<QString>(&HttpFileLoader::finished), this,
            [&result](const QString &file) { result = file; });
    AbstractWorkerThread thread(loader, nullptr);
    connect(loader, qOverload<QString>(&HttpFileLoader::finished), &thread, &QThread::quit);
    thread.start();
    QElapsedTimer timer;
    timer.start();
    while (!thread.isFinished() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    QVERIFY2(thread.isFinished(), "the download did not end");

    QCOMPARE(result, target);
    QVERIFY(server.cuts > 10);
    QCOMPARE(fileSha256(target), sha256(data));
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
}

QTEST_GUILESS_MAIN(tst_HttpLoaderFaults)
#include "tst_httploaderfaults.moc"
