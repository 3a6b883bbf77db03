#include <httpfileloader/httpfileloader.h>
#include <workers/abstractworkerthread.h>

#include "httptestutil.h"
#include "nginxserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Short delays so that retries and give-ups take milliseconds.
HttpFileLoader::Timing fastTiming(int requestTimeout = 10000)
{
    HttpFileLoader::Timing timing;
    timing.requestTimeout = requestTimeout;
    timing.retryDelay = 1;
    timing.timeoutRetryDelay = 1;
    return timing;
}

// The recorded end notices of a failure, in the order they were sent.
const QStringList emptyThenPlain{QStringLiteral("finished()"), QStringLiteral("finished")};
const QStringList plainThenEmpty{QStringLiteral("finished"), QStringLiteral("finished()")};

// A loader in its own worker thread, with every signal it sends recorded in
// order of arrival. The thread quits on finished(QString), as with the
// static download().
class Run : public QObject
{
    Q_OBJECT
public:
    Run(const QString &url, const QString &fileName, int blockSize,
        const HttpFileLoader::Timing &timing = fastTiming())
    {
        loader = new HttpFileLoader(url, fileName, blockSize);
        loader->setTiming(timing);
        connect(loader, qOverload<>(&HttpFileLoader::finished), this,
                [this] { events << QStringLiteral("finished"); });
        connect(loader, qOverload<QString>(&HttpFileLoader::finished), this,
                [this](const QString &file) {
                    events << QStringLiteral("finished(%1)").arg(file);
                    result = file;
                    done = true;
                });
        connect(loader, &HttpFileLoader::progress, this, [this](const QString &file, int value) {
            progressFiles << file;
            progress << value;
        });
        thread = new AbstractWorkerThread(loader, nullptr);
        connect(loader, qOverload<QString>(&HttpFileLoader::finished), thread, &QThread::quit);
    }
    ~Run() override
    {
        thread->quit();
        thread->wait();
        delete thread;
    }

    // Starts the loader and returns once its thread has ended and every
    // signal it sent has arrived.
    bool exec(int timeoutMs = 20000)
    {
        thread->start();
        QElapsedTimer timer;
        timer.start();
        while (!thread->isFinished() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
        return thread->isFinished();
    }

    QPointer<HttpFileLoader> loader;
    AbstractWorkerThread *thread = nullptr;
    QStringList events;
    QList<int> progress;
    QStringList progressFiles;
    QString result;
    bool done = false;
};

// A web server of a few lines whose answers the test scripts, for what a
// real server will not do. One request per connection.
class ScriptedServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray path;
        QByteArray range;
        qint64 start = -1;
        qint64 end = -1;
    };
    using Handler = std::function<void(QTcpSocket *, const Request &, int index)>;

    explicit ScriptedServer(Handler handler)
        : m_handler(std::move(handler))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url(const QString &path = QStringLiteral("/file.bin")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    QList<QByteArray> ranges() const
    {
        QList<QByteArray> result;
        for (const Request &request : requests)
            result << request.range;
        return result;
    }

    static void reply(QTcpSocket *socket, const QByteArray &status,
                      const QList<QByteArray> &headers, const QByteArray &body)
    {
        QByteArray out = "HTTP/1.1 " + status + "\r\n";
        for (const QByteArray &header : headers)
            out += header + "\r\n";
        out += "Connection: close\r\n\r\n" + body;
        socket->write(out);
        socket->disconnectFromHost();
    }

    // Answers like a server that honours ranges.
    static void serveRange(QTcpSocket *socket, const Request &request, const QByteArray &data)
    {
        const qint64 size = data.size();
        if (request.start < 0) {
            reply(socket, "200 OK", {"Content-Length: " + QByteArray::number(size)}, data);
        } else if (request.start >= size) {
            reply(socket, "416 Range Not Satisfiable",
                  {"Content-Range: bytes */" + QByteArray::number(size), "Content-Length: 0"}, {});
        } else {
            const qint64 end = std::min(request.end, size - 1);
            const QByteArray part = data.mid(int(request.start), int(end - request.start + 1));
            reply(socket, "206 Partial Content",
                  {"Content-Range: bytes " + QByteArray::number(request.start) + '-'
                       + QByteArray::number(end) + '/' + QByteArray::number(size),
                   "Content-Length: " + QByteArray::number(part.size())},
                  part);
        }
    }

    QList<Request> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.clear();
        Request request;
        request.path = lines.value(0).split(' ').value(1);
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("range:")) {
                request.range = line.mid(6).trimmed();
                const QList<QByteArray> bounds = request.range.mid(6).split('-');
                request.start = bounds.value(0).toLongLong();
                request.end = bounds.value(1).toLongLong();
            }
        }
        requests << request;
        m_handler(socket, request, requests.size() - 1);
    }

    QTcpServer m_server;
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// Receives the loader's signals through SLOT() names, as hosts of the static
// download() do.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList finishedFiles;
    QList<int> progressValues;
public slots:
    void onFinished(const QString &file) { finishedFiles << file; }
    void onProgress(const QString &, int value) { progressValues << value; }
};

} // namespace

class tst_HttpFileLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    // against nginx
    void downloadsFiles_data();
    void downloadsFiles();
    void resumesFromPartFile();
    void finishesCompleteSideFile_data();
    void finishesCompleteSideFile();
    void handlesOffsetsPast2GiB();
    void notFoundGivesUpAtOnce();
    void failedMoveKeepsSideFile();
    void staticDownloadWiresReceiver();
    void staticDownloadRefusesEmptyArguments();
    void unreachablePortGivesUp();
    void defaultTimingReachesStaticDownload();

    // against the scripted server
    void headerErrorsGiveUp_data();
    void headerErrorsGiveUp();
    void endlessBodyIsCutOff();
    void wholeFileWrittenOnce_data();
    void wholeFileWrittenOnce();
    void rangeIgnoredGivesUp();
    void longerPartTakesTenBlocks();
    void stalledReplyTimesOut();
    void timeoutsHalveBlocksThenGiveUp();
    void authenticationRequired();
    void cutConnectionResumes();
    void changedRemoteFileStartsOver();
    void followsRedirect();

private:
    bool startNginx();

    QScopedPointer<NginxServer> m_nginx;
};

void tst_HttpFileLoader::initTestCase()
{
    // Passing tests print nothing: the loader's debug lines stay off.
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.debug=false"));
}

void tst_HttpFileLoader::cleanupTestCase()
{
    QLoggingCategory::setFilterRules(QString());
    if (m_nginx)
        m_nginx->stop();
}

bool tst_HttpFileLoader::startNginx()
{
    if (m_nginx && m_nginx->isRunning())
        return true;
    m_nginx.reset(new NginxServer);
    return m_nginx->start();
}

#define REQUIRE_NGINX()                                                                            \
    do {                                                                                           \
        if (NginxServer::program().isEmpty())                                                      \
            QSKIP("nginx is not installed (scripts/install-deps.sh installs it)");                \
        QVERIFY2(startNginx(), qPrintable(m_nginx->errorString()));                               \
    } while (false)

void tst_HttpFileLoader::downloadsFiles_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("blockSize");

    QTest::newRow("one-byte") << qint64(1) << 65536;
    QTest::newRow("exactly-one-block") << qint64(65536) << 65536;
    QTest::newRow("one-request") << qint64(65537) << 65536;
    QTest::newRow("one-byte-more") << qint64(65538) << 65536;
    QTest::newRow("several-blocks") << qint64(5 * 65536 + 7) << 65536;
    QTest::newRow("few-mib") << qint64(3 * 1024 * 1024 + 123) << 256 * 1024;
    QTest::newRow("default-block-size") << qint64(5 * 1024 * 1024 + 5) << 0;
}

void tst_HttpFileLoader::downloadsFiles()
{
    QFETCH(qint64, size);
    QFETCH(int, blockSize);
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));

    const QString name = QStringLiteral("%1.bin").arg(QTest::currentDataTag());
    const QByteArray data = randomBytes(size, quint32(size));
    QVERIFY(m_nginx->putFile(name, data));
    const QString target = dir.filePath(QStringLiteral("sub/dir/") + name);
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));

    Run run(m_nginx->url(name), target, blockSize);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));

    // Progress never goes back and ends at 100, reported for the file name.
    QVERIFY(!run.progress.isEmpty());
    QCOMPARE(run.progress.last(), 100);
    for (int i = 1; i < run.progress.size(); ++i)
        QVERIFY2(run.progress.at(i - 1) <= run.progress.at(i), "progress went back");
    for (const QString &file : qAsConst(run.progressFiles))
        QCOMPARE(file, name);

    // blockSize + 1 bytes per request, one block after another.
    const qint64 step = (blockSize > 0 ? blockSize : HttpFileLoader::DEFAULT_BLOCK_SIZE) + 1;
    const QList<NginxServer::Request> requests = m_nginx->requests(name);
    QCOMPARE(requests.size(), int((size + step - 1) / step));
    for (int i = 0; i < requests.size(); ++i) {
        QCOMPARE(requests.at(i).range,
                 QStringLiteral("bytes=%1-%2").arg(i * step).arg(i * step + step - 1));
        QCOMPARE(requests.at(i).status, 206);
    }
}

void tst_HttpFileLoader::resumesFromPartFile()
{
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(1024 * 1024 + 11, 7);
    QVERIFY(m_nginx->putFile(QStringLiteral("resume.bin"), data));
    const QString target = dir.filePath(QStringLiteral("resume.bin"));
    QVERIFY(writeFile(target, "an older file that is replaced"));
    QVERIFY(writeFile(target + QStringLiteral(".part"), data.left(100000)));

    Run run(m_nginx->url(QStringLiteral("resume.bin")), target, 128 * 1024);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));

    const QList<NginxServer::Request> requests = m_nginx->requests(QStringLiteral("resume.bin"));
    QVERIFY(!requests.isEmpty());
    QCOMPARE(requests.first().range, QStringLiteral("bytes=100000-231072"));
    QCOMPARE(run.progress.first(), int(231073LL * 100 / data.size()));
}

void tst_HttpFileLoader::finishesCompleteSideFile_data()
{
    QTest::addColumn<QByteArray>("sideExtra");
    QTest::addColumn<int>("expectedRequests");

    // The process ended between the last block and the move into place.
    QTest::newRow("complete") << QByteArray() << 1;
    // The remote file shrank since the side file was written.
    QTest::newRow("longer-than-remote") << QByteArray("stale tail") << 3;
}

void tst_HttpFileLoader::finishesCompleteSideFile()
{
    QFETCH(QByteArray, sideExtra);
    QFETCH(int, expectedRequests);
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString name = QStringLiteral("side-%1.bin").arg(QTest::currentDataTag());
    const QByteArray data = randomBytes(150000, 3);
    QVERIFY(m_nginx->putFile(name, data));
    const QString target = dir.filePath(name);
    QVERIFY(writeFile(target + QStringLiteral(".part"), data + sideExtra));

    if (!sideExtra.isEmpty())
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("longer than the remote file")));
    Run run(m_nginx->url(name), target, 100000);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(run.progress.last(), 100);
    QCOMPARE(fileSha256(target), sha256(data));
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));

    const QList<NginxServer::Request> requests = m_nginx->requests(name);
    QCOMPARE(requests.size(), expectedRequests);
    QCOMPARE(requests.first().status, 416);
    QCOMPARE(requests.first().range,
             QStringLiteral("bytes=%1-%2").arg(data.size() + sideExtra.size())
                 .arg(data.size() + sideExtra.size() + 100000));
}

void tst_HttpFileLoader::handlesOffsetsPast2GiB()
{
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Sparse files: 3 GiB on paper, a few blocks on disk.
    const qint64 size = 3LL * 1024 * 1024 * 1024 + 4321;
    const QByteArray tail = randomBytes(300000, 11);
    {
        QFile source(m_nginx->rootDir() + QStringLiteral("/big.bin"));
        QVERIFY(source.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(source.resize(size - tail.size()));
        QVERIFY(source.seek(size - tail.size()));
        QCOMPARE(source.write(tail), qint64(tail.size()));
    }
    const QString target = dir.filePath(QStringLiteral("big.bin"));
    const qint64 offset = size - 200000;
    {
        QFile part(target + QStringLiteral(".part"));
        QVERIFY(part.open(QIODevice::WriteOnly));
        QVERIFY(part.resize(size - tail.size()));
        QVERIFY(part.seek(size - tail.size()));
        QCOMPARE(part.write(tail.left(100000)), qint64(100000));
    }

    Run run(m_nginx->url(QStringLiteral("big.bin")), target, 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(QFileInfo(target).size(), size);
    QFile result(target);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QVERIFY(result.seek(size - tail.size()));
    QCOMPARE(sha256(result.read(tail.size())), sha256(tail));

    const QList<NginxServer::Request> requests = m_nginx->requests(QStringLiteral("big.bin"));
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests.first().range,
             QStringLiteral("bytes=%1-%2").arg(offset).arg(offset + 65536));
    QCOMPARE(run.progress.first(), 99);
    QFile::remove(m_nginx->rootDir() + QStringLiteral("/big.bin"));
}

void tst_HttpFileLoader::notFoundGivesUpAtOnce()
{
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString url = m_nginx->url(QStringLiteral("missing.bin"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Not Found.*missing.bin")));
    Run run(url, dir.filePath(QStringLiteral("missing.bin")), 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, emptyThenPlain);
    QCOMPARE(m_nginx->requests(QStringLiteral("missing.bin")).size(), 1);
    QVERIFY(run.progress.isEmpty());
}

void tst_HttpFileLoader::failedMoveKeepsSideFile()
{
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(5000, 5);
    QVERIFY(m_nginx->putFile(QStringLiteral("blocked.bin"), data));
    // A non-empty directory where the target should go: neither removed,
    // renamed over nor copied over.
    const QString target = dir.filePath(QStringLiteral("blocked.bin"));
    QVERIFY(QDir().mkpath(target + QStringLiteral("/inside")));

    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("\"%1 copying error\"").arg(target)));
    Run run(m_nginx->url(QStringLiteral("blocked.bin")), target, 65536);
    QVERIFY(run.exec());
    // Only the empty finished(QString), no plain finished().
    QCOMPARE(run.events, QStringList{QStringLiteral("finished()")});
    QCOMPARE(fileSha256(target + QStringLiteral(".part")), sha256(data));
}

void tst_HttpFileLoader::staticDownloadWiresReceiver()
{
    REQUIRE_NGINX();
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(700000, 9);
    QVERIFY(m_nginx->putFile(QStringLiteral("static.bin"), data));
    // The target directory does not exist yet: download() creates it.
    const QString target = dir.filePath(QStringLiteral("new/level/static.bin"));

    Receiver receiver;
    const QPointer<QThread> thread = HttpFileLoader::download(
        m_nginx->url(QStringLiteral("static.bin")), target, &receiver, SLOT(onFinished(QString)),
        SLOT(onProgress(QString,int)), 200000);
    QVERIFY(thread);
    QCOMPARE(thread->objectName(), QStringLiteral("HttpFileLoader-AWT"));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.finishedFiles, QStringList{target}, 20000);
    // The thread quits and deletes itself.
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 10000);
    QCOMPARE(receiver.progressValues.last(), 100);
    QCOMPARE(receiver.progressValues.size(), 4);
    QCOMPARE(fileSha256(target), sha256(data));
}

void tst_HttpFileLoader::staticDownloadRefusesEmptyArguments()
{
    QTest::ignoreMessage(QtWarningMsg, "\"Invalid fileName or url: /tmp/x.bin - \"");
    QVERIFY(HttpFileLoader::download(QString(), QStringLiteral("/tmp/x.bin")).isNull());
    QTest::ignoreMessage(QtWarningMsg,
                         "\"Invalid fileName or url:  - http://127.0.0.1:1/%1%2\"");
    QVERIFY(HttpFileLoader::download(QStringLiteral("http://127.0.0.1:1/%1%2"), QString()).isNull());
}

void tst_HttpFileLoader::unreachablePortGivesUp()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const quint16 port = PeerProcess::freePort();
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ConnectionRefusedError")));
    Run run(QStringLiteral("http://127.0.0.1:%1/file.bin").arg(port),
            dir.filePath(QStringLiteral("file.bin")), 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, emptyThenPlain);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("file.bin"))));
}

void tst_HttpFileLoader::defaultTimingReachesStaticDownload()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const HttpFileLoader::Timing saved = HttpFileLoader::defaultTiming();
    QCOMPARE(saved.requestTimeout, 180000);
    QCOMPARE(saved.retryDelay, 10000);
    QCOMPARE(saved.timeoutRetryDelay, 2000);
    const auto restore = qScopeGuard([saved] { HttpFileLoader::setDefaultTiming(saved); });
    HttpFileLoader::setDefaultTiming(fastTiming());

    // With the default 10 s between retries this would take 40 s.
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ConnectionRefusedError")));
    Receiver receiver;
    const QPointer<QThread> thread = HttpFileLoader::download(
        QStringLiteral("http://127.0.0.1:%1/file.bin").arg(PeerProcess::freePort()),
        dir.filePath(QStringLiteral("file.bin")), &receiver, SLOT(onFinished(QString)));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.finishedFiles, QStringList{QString()}, 8000);
    QTRY_VERIFY(thread.isNull());
}

void tst_HttpFileLoader::headerErrorsGiveUp_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<QByteArray>("body");

    const QByteArray body(100, 'x');
    QTest::newRow("no-content-length") << QByteArray("200 OK") << QList<QByteArray>{} << body;
    QTest::newRow("zero-content-length")
        << QByteArray("200 OK") << QList<QByteArray>{"Content-Length: 0"} << QByteArray();
    QTest::newRow("content-length-not-a-number")
        << QByteArray("200 OK") << QList<QByteArray>{"Content-Length: 1e2"} << body;
    QTest::newRow("total-asterisk")
        << QByteArray("206 Partial Content")
        << QList<QByteArray>{"Content-Range: bytes 0-99/*", "Content-Length: 100"} << body;
    QTest::newRow("range-past-total")
        << QByteArray("206 Partial Content")
        << QList<QByteArray>{"Content-Range: bytes 0-99/50", "Content-Length: 100"} << body;
    // Writing at 500 into an empty side file would leave 500 zero bytes.
    QTest::newRow("range-leaves-hole")
        << QByteArray("206 Partial Content")
        << QList<QByteArray>{"Content-Range: bytes 500-599/1000", "Content-Length: 100"} << body;
    QTest::newRow("part-without-position")
        << QByteArray("206 Partial Content") << QList<QByteArray>{"Content-Length: 100"} << body;
    QTest::newRow("no-content")
        << QByteArray("204 No Content") << QList<QByteArray>{"Content-Length: 100"} << body;
}

void tst_HttpFileLoader::headerErrorsGiveUp()
{
    QFETCH(QByteArray, status);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(QByteArray, body);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &, int) {
        ScriptedServer::reply(socket, status, headers, body);
    });
    for (int i = 0; i < 5; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\"Http headers parsing error\" \"http://127.0.0.1")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\(QPair")));
    }
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, emptyThenPlain);
    QCOMPARE(server.requests.size(), 5);
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QFileInfo(target + QStringLiteral(".part")).size(), qint64(0));
}

void tst_HttpFileLoader::endlessBodyIsCutOff()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Data without end and without a length: the loader must not keep it all.
    ScriptedServer server([](QTcpSocket *socket, const ScriptedServer::Request &, int) {
        socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const QByteArray chunk(64 * 1024, 'z');
        socket->write(chunk);
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, chunk] {
            if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < chunk.size())
                socket->write(chunk);
        });
    });
    for (int i = 0; i < 5; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\"Http headers parsing error\"")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\(QPair")));
    }
    Run run(server.url(), dir.filePath(QStringLiteral("file.bin")), 16384, fastTiming(60000));
    QVERIFY(run.exec(30000));
    QCOMPARE(run.events, emptyThenPlain);
    QCOMPARE(server.requests.size(), 5);
}

void tst_HttpFileLoader::wholeFileWrittenOnce_data()
{
    QTest::addColumn<QByteArray>("sideFile");
    const QByteArray data = randomBytes(300000, 21);
    QTest::newRow("no-side-file") << QByteArray();
    QTest::newRow("side-file-prefix") << data.left(50000);
    QTest::newRow("side-file-longer") << QByteArray(400000, 'g');
}

void tst_HttpFileLoader::wholeFileWrittenOnce()
{
    QFETCH(QByteArray, sideFile);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // More than ten reads of a block: the whole answer is still taken.
    const QByteArray data = randomBytes(300000, 21);
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &, int) {
        ScriptedServer::reply(socket, "200 OK", {"Content-Length: " + QByteArray::number(data.size())},
                              data);
    });
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    if (!sideFile.isEmpty())
        QVERIFY(writeFile(target + QStringLiteral(".part"), sideFile));
    Run run(server.url(), target, 16384);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(fileSha256(target), sha256(data));
    QCOMPARE(run.progress, QList<int>{100});
}

void tst_HttpFileLoader::rangeIgnoredGivesUp()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Always the first block, whatever was asked for.
    const QByteArray data = randomBytes(100000, 13);
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &, int) {
        ScriptedServer::Request first;
        first.start = 0;
        first.end = 9999;
        ScriptedServer::serveRange(socket, first, data);
    });
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Response did not advance the side file")));
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 9999);
    QVERIFY(run.exec());
    QCOMPARE(run.events, emptyThenPlain);
    QCOMPARE(server.requests.size(), 6);
    QCOMPARE(run.progress, (QList<int>{10, 10, 10, 10, 10, 10}));
    QCOMPARE(QFileInfo(target + QStringLiteral(".part")).size(), qint64(10000));
}

void tst_HttpFileLoader::longerPartTakesTenBlocks()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Thirty blocks for every request of one: ten of them are taken.
    const QByteArray data = randomBytes(95000, 37);
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int) {
        ScriptedServer::Request longer = request;
        longer.end = request.start + 30000 - 1;
        ScriptedServer::serveRange(socket, longer, data);
    });
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 1000);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));
    QCOMPARE(server.ranges().mid(0, 3),
             (QList<QByteArray>{"bytes=0-1000", "bytes=10000-11000", "bytes=20000-21000"}));
    QCOMPARE(run.progress.mid(0, 3), (QList<int>{10, 21, 31}));
}

void tst_HttpFileLoader::stalledReplyTimesOut()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(50000, 17);
    // The first request gets no answer at all.
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int index) {
        if (index > 0)
            ScriptedServer::serveRange(socket, request, data);
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\"DOWNLOAD TIMEOUT\" \"http")));
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 40000, fastTiming(1000));
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));
    // After the timeout, blocks of half the size.
    QCOMPARE(server.ranges().mid(0, 3),
             (QList<QByteArray>{"bytes=0-40000", "bytes=0-20000", "bytes=20001-40001"}));
}

void tst_HttpFileLoader::timeoutsHalveBlocksThenGiveUp()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    ScriptedServer server([](QTcpSocket *, const ScriptedServer::Request &, int) {});
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\"DOWNLOAD TIMEOUT\"")));
    Run run(server.url(), dir.filePath(QStringLiteral("file.bin")), 32770, fastTiming(150));
    QVERIFY(run.exec());
    QCOMPARE(run.events, plainThenEmpty);
    // Halved only while above 16384.
    QCOMPARE(server.ranges(), (QList<QByteArray>{"bytes=0-32770", "bytes=0-16385", "bytes=0-8192",
                                                 "bytes=0-8192", "bytes=0-8192"}));
}

void tst_HttpFileLoader::authenticationRequired()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    ScriptedServer server([](QTcpSocket *socket, const ScriptedServer::Request &, int) {
        ScriptedServer::reply(socket, "401 Unauthorized",
                              {"WWW-Authenticate: Basic realm=\"files\"", "Content-Length: 5"},
                              "nope!");
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\"AUTHENTICATION_REQUIRED!\" \"http")));
    Run run(server.url(), dir.filePath(QStringLiteral("file.bin")), 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, plainThenEmpty);
    QCOMPARE(server.requests.size(), 1);
}

void tst_HttpFileLoader::cutConnectionResumes()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(35000, 19);
    // The second answer breaks off in the middle of its body.
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int index) {
        if (index != 1) {
            ScriptedServer::serveRange(socket, request, data);
            return;
        }
        socket->write("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10001-20001/35000\r\n"
                      "Content-Length: 10001\r\n\r\n");
        socket->write(data.mid(10001, 4000));
        socket->disconnectFromHost();
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("RemoteHostClosedError")));
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 10000);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));
    QCOMPARE(server.ranges().mid(0, 3),
             (QList<QByteArray>{"bytes=0-10000", "bytes=10001-20001", "bytes=10001-20001"}));
}

void tst_HttpFileLoader::changedRemoteFileStartsOver()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray before = randomBytes(50000, 23);
    const QByteArray after = randomBytes(45000, 29);
    // Replaced on the server after the second block.
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int index) {
        ScriptedServer::serveRange(socket, request, index < 2 ? before : after);
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Remote file changed, starting over")));
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server.url(), target, 10000);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(after));
    QCOMPARE(server.ranges().mid(0, 4), (QList<QByteArray>{"bytes=0-10000", "bytes=10001-20001",
                                                           "bytes=20002-30002", "bytes=0-10000"}));
}

void tst_HttpFileLoader::followsRedirect()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QByteArray data = randomBytes(25000, 31);
    QScopedPointer<ScriptedServer> server;
    server.reset(new ScriptedServer([&](QTcpSocket *socket, const ScriptedServer::Request &request, int) {
        if (request.path == "/moved.bin")
            ScriptedServer::reply(socket, "302 Found",
                                  {"Location: " + server->url().toLatin1(), "Content-Length: 0"}, {});
        else
            ScriptedServer::serveRange(socket, request, data);
    }));
    const QString target = dir.filePath(QStringLiteral("file.bin"));
    Run run(server->url(QStringLiteral("/moved.bin")), target, 10000);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QCOMPARE(fileSha256(target), sha256(data));
    // The range goes along with the redirect.
    QCOMPARE(server->ranges().mid(0, 2), (QList<QByteArray>{"bytes=0-10000", "bytes=0-10000"}));
}

QTEST_GUILESS_MAIN(tst_HttpFileLoader)

#include "tst_httpfileloader.moc"
