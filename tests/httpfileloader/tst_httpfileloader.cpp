#include "httptestutil.h"
#include "nginxserver.h"

#include <httpfileloader/httpfileloader_p.h>

#include <QDir>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The recorded end notices of a success and of the two orders of failure.
QStringList succeeded(const QString &target) { return {QStringLiteral("finished(%1)").arg(target)}; }
const QStringList emptyThenPlain{QStringLiteral("finished()"), QStringLiteral("finished")};
const QStringList plainThenEmpty{QStringLiteral("finished"), QStringLiteral("finished()")};

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

// How the scripted server answers.
enum class Script {
    Canned,          // the same answer to every request
    Endless,         // data without end and without a length
    FirstBlockOnly,  // always the first block, whatever was asked for
    Longer,          // thirty blocks for every request of one
    StallFirst,      // no answer at all to the first request
    Silent,          // no answer at all
    CutSecond,       // the second answer breaks off in the middle of its body
    Changed,         // the remote file is replaced after the second block
    Redirect,        // "/moved.bin" redirects to "/file.bin"
    Refused,         // nothing listens on the port
    Honest,          // every range as asked
};

// One scripted case: what the server does and what the loader must end with.
struct Case
{
    Script script = Script::Canned;
    int blockSize = 10000;
    int size = 50000;               // of the remote file
    QByteArray canned, sideFile;
    int timeout = 10000;            // request timeout
    QStringList warnings;           // patterns of the expected warnings
    QStringList failure;            // end notices of a failure; empty on success
    int requests = -1;              // -1: not checked
    QList<QByteArray> ranges;       // first ranges asked for
    QList<int> progress;            // first progress values, or all of them
    bool progressExact = false;
    qint64 partSize = -1;           // side file left behind; -1: not checked
    bool tls = false;               // HTTPS with a self-signed certificate
    qint64 maxUnread = -1;          // most body bytes held in a reply at once; -1: not checked

    Case() = default;
    Case(Script s, int block) : script(s), blockSize(block) {}
    Case &ofSize(int n) { size = n; return *this; }
    Case &answer(const QByteArray &a) { canned = a; return *this; }
    Case &side(const QByteArray &s) { sideFile = s; return *this; }
    Case &within(int ms) { timeout = ms; return *this; }
    Case &warn(const QString &pattern, int times = 1) { while (times--) warnings << pattern; return *this; }
    Case &fails(const QStringList &events, int attempts, qint64 part = -1)
    { failure = events; requests = attempts; partSize = part; return *this; }
    Case &asks(int n, const QList<QByteArray> &r = {}) { requests = n; ranges = r; return *this; }
    Case &asks(const QList<QByteArray> &r) { ranges = r; return *this; }
    Case &reports(const QList<int> &p, bool all = false) { progress = p; progressExact = all; return *this; }
    Case &overTls() { tls = true; return *this; }
    Case &buffers(qint64 n) { maxUnread = n; return *this; }
};

} // namespace

Q_DECLARE_METATYPE(Case)

class tst_HttpFileLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    }

    // against nginx
    void downloadsFiles_data();
    void downloadsFiles();
    void handlesOffsetsPast2GiB();
    void notFoundGivesUpAtOnce();
    void failedMoveKeepsSideFile();
    void staticDownloadWiresReceiver();
    void staticDownloadRefusesEmptyArguments();
    void defaultTimingReachesStaticDownload();

    // against the scripted server
    void scripted_data();
    void scripted();

private:
    bool startNginx();

    QScopedPointer<NginxServer> m_nginx;
    QScopedPointer<QTemporaryDir> m_dir;  // fresh for every test
    QSslCertificate m_certificate;        // self-signed, for the HTTPS cases
    QSslKey m_key;
};

void tst_HttpFileLoader::initTestCase()
{
    // Passing tests print nothing: the loader's debug lines stay off.
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.debug=false"));

    QTemporaryDir tls;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=orvel-test"), QStringLiteral("-keyout"), tls.filePath(QStringLiteral("key.pem")),
                   QStringLiteral("-out"), tls.filePath(QStringLiteral("cert.pem"))});
    QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0, openssl.readAllStandardError().constData());
    QFile certificate(tls.filePath(QStringLiteral("cert.pem")));
    QFile key(tls.filePath(QStringLiteral("key.pem")));
    QVERIFY(certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
    m_certificate = QSslCertificate(&certificate, QSsl::Pem);
    m_key = QSslKey(&key, QSsl::Rsa, QSsl::Pem);
    QVERIFY(!m_certificate.isNull() && !m_key.isNull());
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
    QTest::addColumn<int>("sideSize");  // already in the side file

    QTest::newRow("one-byte") << qint64(1) << 65536 << 0;
    QTest::newRow("exactly-one-block") << qint64(65536) << 65536 << 0;
    QTest::newRow("one-request") << qint64(65537) << 65536 << 0;
    QTest::newRow("one-byte-more") << qint64(65538) << 65536 << 0;
    QTest::newRow("several-blocks") << qint64(5 * 65536 + 7) << 65536 << 0;
    QTest::newRow("few-mib") << qint64(3 * 1024 * 1024 + 123) << 256 * 1024 << 0;
    QTest::newRow("default-block-size") << qint64(5 * 1024 * 1024 + 5) << 0 << 0;
    QTest::newRow("resumes-from-side-file") << qint64(1024 * 1024 + 11) << 128 * 1024 << 100000;
    // The process ended between the last block and the move into place.
    QTest::newRow("complete-side-file") << qint64(150000) << 100000 << 150000;
    // The remote file shrank since the side file was written.
    QTest::newRow("side-file-longer-than-remote") << qint64(150000) << 100000 << 150010;
}

void tst_HttpFileLoader::downloadsFiles()
{
    QFETCH(qint64, size);
    QFETCH(int, blockSize);
    QFETCH(int, sideSize);
    REQUIRE_NGINX();

    const QString name = QStringLiteral("%1.bin").arg(QTest::currentDataTag());
    const QByteArray data = randomBytes(size, quint32(size));
    QVERIFY(m_nginx->putFile(name, data));
    const QString target = m_dir->filePath(QStringLiteral("sub/dir/") + name);
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
    QVERIFY(writeFile(target, "an older file that is replaced"));
    if (sideSize > 0)
        QVERIFY(writeFile(target + QStringLiteral(".part"), data.left(sideSize).leftJustified(sideSize, 's')));
    if (sideSize > size)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("longer than the remote file")));

    Run run(m_nginx->url(name), target, blockSize);
    QVERIFY(run.exec());
    QCOMPARE(run.events, succeeded(target));
    QCOMPARE(fileSha256(target), sha256(data));
    QVERIFY(!QFile::exists(target + QStringLiteral(".part")));

    // blockSize + 1 bytes per request, one block after another from the side
    // file's end; a side file as long as the remote file or longer is
    // answered with 416 and either taken or dropped.
    const qint64 step = (blockSize > 0 ? blockSize : HttpFileLoader::DEFAULT_BLOCK_SIZE) + 1;
    QStringList expected;
    qint64 first = sideSize;
    const auto ask = [&](int status) {
        expected << QStringLiteral("bytes=%1-%2 %3").arg(first).arg(first + step - 1).arg(status);
    };
    if (first >= size) {
        ask(416);
        first = first > size ? 0 : size;
    }
    const qint64 resumed = first;
    for (; first < size; first += step)
        ask(206);
    const auto logged = [&] {
        QStringList requests;
        for (const NginxServer::Request &request : m_nginx->requests(name))
            requests << QStringLiteral("%1 %2").arg(request.range).arg(request.status);
        return requests;
    };
    // nginx logs a request once it has sent the answer, maybe after the loader ended.
    QTRY_COMPARE(logged(), expected);

    // Progress for the file name, counting the side file, never going back
    // and ending at 100.
    QCOMPARE(run.progress.first(), int(std::min(size, resumed + step) * 100 / size));
    QCOMPARE(run.progress.last(), 100);
    for (int i = 1; i < run.progress.size(); ++i)
        QVERIFY2(run.progress.at(i - 1) <= run.progress.at(i), "progress went back");
    for (const QString &file : qAsConst(run.progressFiles))
        QCOMPARE(file, name);
}

void tst_HttpFileLoader::handlesOffsetsPast2GiB()
{
    REQUIRE_NGINX();
    // Sparse files: 3 GiB on paper, a few blocks on disk.
    const qint64 size = 3LL * 1024 * 1024 * 1024 + 4321;
    const QByteArray tail = randomBytes(300000, 11);
    const auto sparse = [&](const QString &path, const QByteArray &end) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size - tail.size())
            && file.seek(size - tail.size()) && file.write(end) == end.size();
    };
    QVERIFY(sparse(m_nginx->rootDir() + QStringLiteral("/big.bin"), tail));
    const QString target = m_dir->filePath(QStringLiteral("big.bin"));
    QVERIFY(sparse(target + QStringLiteral(".part"), tail.left(100000)));
    const qint64 offset = size - 200000;

    Run run(m_nginx->url(QStringLiteral("big.bin")), target, 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, succeeded(target));
    QCOMPARE(QFileInfo(target).size(), size);
    QFile result(target);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QVERIFY(result.seek(size - tail.size()));
    QCOMPARE(sha256(result.read(tail.size())), sha256(tail));

    QTRY_COMPARE(m_nginx->requests(QStringLiteral("big.bin")).size(), 4);
    QCOMPARE(m_nginx->requests(QStringLiteral("big.bin")).first().range,
             QStringLiteral("bytes=%1-%2").arg(offset).arg(offset + 65536));
    QCOMPARE(run.progress.first(), 99);
    QFile::remove(m_nginx->rootDir() + QStringLiteral("/big.bin"));
}

void tst_HttpFileLoader::notFoundGivesUpAtOnce()
{
    REQUIRE_NGINX();
    const QString url = m_nginx->url(QStringLiteral("missing.bin"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Not Found.*missing.bin")));
    Run run(url, m_dir->filePath(QStringLiteral("missing.bin")), 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, emptyThenPlain);
    QTRY_COMPARE(m_nginx->requests(QStringLiteral("missing.bin")).size(), 1);
    QVERIFY(run.progress.isEmpty());
}

void tst_HttpFileLoader::failedMoveKeepsSideFile()
{
    REQUIRE_NGINX();
    const QByteArray data = randomBytes(5000, 5);
    QVERIFY(m_nginx->putFile(QStringLiteral("blocked.bin"), data));
    // A non-empty directory where the target should go: neither removed,
    // renamed over nor copied over.
    const QString target = m_dir->filePath(QStringLiteral("blocked.bin"));
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
    const QByteArray data = randomBytes(700000, 9);
    QVERIFY(m_nginx->putFile(QStringLiteral("static.bin"), data));
    // The target directory does not exist yet: download() creates it.
    const QString target = m_dir->filePath(QStringLiteral("new/level/static.bin"));

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

void tst_HttpFileLoader::defaultTimingReachesStaticDownload()
{
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
        m_dir->filePath(QStringLiteral("file.bin")), &receiver, SLOT(onFinished(QString)));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.finishedFiles, QStringList{QString()}, 8000);
    QTRY_VERIFY(thread.isNull());
}

void tst_HttpFileLoader::scripted_data()
{
    QTest::addColumn<Case>("c");

    // Given up after five attempts, nothing written.
    const auto headerError = [](Case c) {
        return c.within(60000)
            .warn(QStringLiteral("^(\"Http headers parsing error\" \"http://127.0.0.1|\\(QPair)"), 10)
            .fails(emptyThenPlain, 5, 0);
    };
    const auto answer = [&](const QByteArray &status, const QList<QByteArray> &headers,
                            const QByteArray &body = QByteArray(100, 'x')) {
        return headerError(Case(Script::Canned, 65536).answer(ScriptedServer::answer(status, headers, body)));
    };
    const QByteArray part = "206 Partial Content";
    QTest::newRow("no-content-length") << answer("200 OK", {});
    QTest::newRow("zero-content-length") << answer("200 OK", {"Content-Length: 0"}, {});
    QTest::newRow("content-length-not-a-number") << answer("200 OK", {"Content-Length: 1e2"});
    QTest::newRow("total-asterisk") << answer(part, {"Content-Range: bytes 0-99/*", "Content-Length: 100"});
    QTest::newRow("range-past-total") << answer(part, {"Content-Range: bytes 0-99/50", "Content-Length: 100"});
    // Writing at 500 into an empty side file would leave 500 zero bytes.
    QTest::newRow("range-leaves-hole")
        << answer(part, {"Content-Range: bytes 500-599/1000", "Content-Length: 100"});
    QTest::newRow("part-without-position") << answer(part, {"Content-Length: 100"});
    QTest::newRow("no-content") << answer("204 No Content", {"Content-Length: 100"});
    // The loader must not keep it all.
    QTest::newRow("endless-body") << headerError(Case(Script::Endless, 16384));

    // More than ten reads of a block: a whole answer is still taken at once.
    const QByteArray whole = randomBytes(300000, 300000);
    const Case wholeFile = Case(Script::Canned, 16384).ofSize(whole.size())
        .answer(ScriptedServer::answer("200 OK", {"Content-Length: 300000"}, whole)).asks(1).reports({100}, true);
    QTest::newRow("whole-file") << wholeFile;
    QTest::newRow("whole-file-over-side-prefix") << Case(wholeFile).side(whole.left(50000));
    QTest::newRow("whole-file-over-longer-side") << Case(wholeFile).side(QByteArray(400000, 'g'));
    // Far larger than a block: written as it arrives, never held whole.
    const QByteArray big = randomBytes(8 << 20, 8 << 20);
    QTest::newRow("whole-file-streamed") << Case(Script::Canned, 16384).ofSize(big.size()).asks(1).buffers(4 * 16384)
        .answer(ScriptedServer::answer("200 OK", {"Content-Length: " + QByteArray::number(big.size())}, big));

    QTest::newRow("range-ignored") << Case(Script::FirstBlockOnly, 9999).ofSize(100000)
        .warn(QStringLiteral("^Response did not advance the side file"), 5)
        .fails(emptyThenPlain, 6, 10000).reports({10, 10, 10, 10, 10, 10}, true);
    QTest::newRow("longer-part-takes-ten-blocks") << Case(Script::Longer, 1000).ofSize(95000)
        .asks({"bytes=0-1000", "bytes=10000-11000", "bytes=20000-21000"}).reports({10, 21, 31});
    // After the timeout, blocks of half the size.
    QTest::newRow("stalled-reply-times-out") << Case(Script::StallFirst, 40000).within(1000)
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\" \"http"))
        .asks({"bytes=0-40000", "bytes=0-20000", "bytes=20001-40001"});
    // Halved only while above 16384.
    QTest::newRow("timeouts-halve-then-give-up") << Case(Script::Silent, 32770).within(150)
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\""), 5).fails(plainThenEmpty, 5)
        .asks({"bytes=0-32770", "bytes=0-16385", "bytes=0-8192", "bytes=0-8192", "bytes=0-8192"});
    QTest::newRow("authentication-required") << Case(Script::Canned, 65536)
        .answer(ScriptedServer::answer("401 Unauthorized",
                                       {"WWW-Authenticate: Basic realm=\"files\"", "Content-Length: 5"}, "nope!"))
        .warn(QStringLiteral("^\"AUTHENTICATION_REQUIRED!\" \"http")).fails(plainThenEmpty, 1);
    QTest::newRow("cut-connection-resumes") << Case(Script::CutSecond, 10000).ofSize(35000)
        .warn(QStringLiteral("RemoteHostClosedError"))
        .asks({"bytes=0-10000", "bytes=10001-20001", "bytes=10001-20001"});
    QTest::newRow("changed-remote-file-starts-over") << Case(Script::Changed, 10000)
        .warn(QStringLiteral("^Remote file changed, starting over"))
        .asks({"bytes=0-10000", "bytes=10001-20001", "bytes=20002-30002", "bytes=0-10000"});
    // The range goes along with the redirect.
    QTest::newRow("follows-redirect") << Case(Script::Redirect, 10000).ofSize(25000)
        .asks({"bytes=0-10000", "bytes=0-10000"});
    QTest::newRow("connection-refused") << Case(Script::Refused, 65536)
        .warn(QStringLiteral("ConnectionRefusedError"), 5).fails(emptyThenPlain, 0);

    // Certificate problems are accepted for the requests of the manager made at
    // start only: after a timeout the new manager refuses the self-signed
    // certificate, and the download gives up without a second request.
    QTest::newRow("tls-errors-accepted-at-start") << Case(Script::Honest, 10000).ofSize(25000).overTls()
        .warn(QStringLiteral("^SSL errors ignored \\("), 3).asks(3);
    QTest::newRow("tls-errors-refused-after-timeout") << Case(Script::StallFirst, 10000).overTls().within(300)
        .warn(QStringLiteral("^SSL errors ignored \\("))
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\" \"https"))
        .warn(QStringLiteral("^QNetworkReply::SslHandshakeFailedError \"SSL handshake failed\""), 4)
        .fails(emptyThenPlain, 1);
}

void tst_HttpFileLoader::scripted()
{
    QFETCH(Case, c);
    const QByteArray data = randomBytes(c.size, quint32(c.size));
    const QByteArray changed = randomBytes(c.size - 5000, 1);
    ScriptedServer server([&](QTcpSocket *socket, const ScriptedServer::Request &request, int index) {
        ScriptedServer::Request asked = request;
        const QByteArray *content = &data;
        switch (c.script) {
        case Script::Canned:
            return ScriptedServer::send(socket, c.canned);
        case Script::Endless: {
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            const QByteArray chunk(64 * 1024, 'z');
            socket->write(chunk);
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, chunk] {
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < chunk.size())
                    socket->write(chunk);
            });
            return;
        }
        case Script::FirstBlockOnly:
            asked.start = 0;
            asked.end = c.blockSize;
            break;
        case Script::Longer:
            asked.end = request.start + 30 * c.blockSize - 1;
            break;
        case Script::StallFirst:
            if (index == 0)
                return;
            break;
        case Script::Silent:
            return;
        case Script::CutSecond:
            if (index == 1) {
                const QByteArray answer = ScriptedServer::rangeAnswer(request, data);
                socket->write(answer.left(answer.indexOf("\r\n\r\n") + 4 + 4000));
                return socket->disconnectFromHost();
            }
            break;
        case Script::Changed:
            if (index >= 2)
                content = &changed;
            break;
        case Script::Redirect:
            if (request.path == "/moved.bin")
                return ScriptedServer::send(socket, ScriptedServer::answer(
                    "302 Found", {"Location: " + server.url().toLatin1(), "Content-Length: 0"}, {}));
            break;
        case Script::Refused:
        case Script::Honest:
            break;
        }
        ScriptedServer::send(socket, ScriptedServer::rangeAnswer(asked, *content));
    });
    if (c.tls)
        server.useTls(m_certificate, m_key);
    const QString target = m_dir->filePath(QStringLiteral("file.bin"));
    if (!c.sideFile.isEmpty())
        QVERIFY(writeFile(target + QStringLiteral(".part"), c.sideFile));
    for (const QString &pattern : qAsConst(c.warnings))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
    const QString url = c.script == Script::Refused
        ? QStringLiteral("http://127.0.0.1:%1/file.bin").arg(PeerProcess::freePort())
        : server.url(c.script == Script::Redirect ? QStringLiteral("/moved.bin") : QStringLiteral("/file.bin"));

    Run run(url, target, c.blockSize, fastTiming(c.timeout));
    hflbuffer::takePeakUnread();
    QVERIFY(run.exec(30000));
    const qint64 peakUnread = hflbuffer::takePeakUnread();
    if (c.failure.isEmpty()) {
        QCOMPARE(run.events, succeeded(target));
        QCOMPARE(fileSha256(target), sha256(c.script == Script::Changed ? changed : data));
    } else {
        QCOMPARE(run.events, c.failure);
        QVERIFY(!QFile::exists(target));
    }
    if (c.requests >= 0)
        QCOMPARE(server.requests.size(), c.requests);
    QCOMPARE(server.ranges().mid(0, c.ranges.size()), c.ranges);
    QCOMPARE(c.progressExact ? run.progress : run.progress.mid(0, c.progress.size()), c.progress);
    if (c.partSize >= 0)
        QCOMPARE(QFileInfo(target + QStringLiteral(".part")).size(), c.partSize);
    if (c.maxUnread >= 0)
        QVERIFY2(peakUnread <= c.maxUnread, qPrintable(QString::number(peakUnread)));
}

QTEST_GUILESS_MAIN(tst_HttpFileLoader)

#include "tst_httpfileloader.moc"
