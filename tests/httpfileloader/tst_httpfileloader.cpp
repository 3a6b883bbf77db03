#include "httptestutil.h"
#include "nginxserver.h"

#include <httpfileloader/httpfileloader_p.h>

#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The recorded end notices of the two orders of failure.
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

// Who answers: nginx, or the scripted server in one of these ways.
enum class Server {
    Nginx,          // the file named after the row; none when its size is 0
    Honest,         // every range as asked
    Canned,         // the same answer to every request
    Endless,        // data without end and without a length
    StallFirst,     // no answer at all to the first request
    Silent,         // no answer at all
    Changed,        // the remote file is replaced after the second block
};

// One case: what the server does and what the loader must end with.
struct Case
{
    Server server;
    int blockSize;
    int size = 50000;               // of the remote file
    QByteArray canned;
    int sideSize = 0;               // of the side file already there:
    char sideFill = 0;              // a copy of the remote file's start, or this byte throughout
    int timeout = 10000;            // request timeout
    bool tls = false;               // HTTPS with a self-signed certificate
    bool targetIsDirectory = false; // a non-empty one, which nothing may replace
    QStringList warnings;           // patterns; TARGET stands for the target path
    QStringList failure;            // end notices of a failure; empty on success
    int requests = -1;              // -1: not checked
    QList<QByteArray> ranges;       // first ranges asked for
    QList<int> progress;            // first progress values
    qint64 partSize = -1;           // side file left behind; -1: not checked
    qint64 maxUnread = -1;          // most body bytes held in a reply at once; -1: not checked

    Case(Server s = Server::Nginx, int block = 0) : server(s), blockSize(block) {}
    Case &ofSize(int n) { size = n; return *this; }
    Case &answer(const QByteArray &a) { canned = a; return *this; }
    Case &side(int n, char fill = 0) { sideSize = n; sideFill = fill; return *this; }
    Case &within(int ms) { timeout = ms; return *this; }
    Case &warn(const QString &pattern, int times = 1) { while (times--) warnings << pattern; return *this; }
    Case &fails(const QStringList &events, int attempts, qint64 part = -1)
    { failure = events; requests = attempts; partSize = part; return *this; }
    Case &asks(const QList<QByteArray> &r, int n = -1) { ranges = r; requests = n; return *this; }
    Case &reports(const QList<int> &p) { progress = p; return *this; }
    Case &overTls() { tls = true; return *this; }
    Case &buffers(qint64 n) { maxUnread = n; return *this; }
    Case &blocked() { targetIsDirectory = true; return *this; }
};

} // namespace

Q_DECLARE_METATYPE(Case)

class tst_HttpFileLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { QLoggingCategory::setFilterRules(QString()); }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    }

    void downloads_data();
    void downloads();
    void handlesOffsetsPast2GiB();
    void staticDownload();

private:
    QScopedPointer<NginxServer> m_nginx; // null when nginx is not installed
    QScopedPointer<QTemporaryDir> m_dir; // fresh for every test
    QSslCertificate m_certificate;       // self-signed, for the HTTPS cases
    QSslKey m_key;
};

#define REQUIRE_NGINX()                                                                            \
    do {                                                                                           \
        if (!m_nginx)                                                                              \
            QSKIP("nginx is not installed (scripts/install-deps.sh installs it)");                \
    } while (false)

void tst_HttpFileLoader::initTestCase()
{
    // Passing tests print nothing: the loader's debug lines stay off.
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.debug=false"));
    if (!NginxServer::program().isEmpty()) {
        m_nginx.reset(new NginxServer);
        QVERIFY2(m_nginx->start(), qPrintable(m_nginx->errorString()));
    }
    QTemporaryDir tls;
    const QString cert = tls.filePath(QStringLiteral("cert.pem"));
    const QString key = tls.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=t")
                                                     .split(QLatin1Char(' ')) << "-keyout" << key << "-out" << cert);
    QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0, openssl.readAllStandardError().constData());
    m_certificate = QSslCertificate(readFile(cert), QSsl::Pem);
    m_key = QSslKey(readFile(key), QSsl::Rsa, QSsl::Pem);
    QVERIFY(!m_certificate.isNull() && !m_key.isNull());
}

void tst_HttpFileLoader::downloads_data()
{
    QTest::addColumn<Case>("c");
    using S = Server;

    // nginx: blockSize + 1 bytes per request, one block after another from the side file's end.
    QTest::newRow("one-request") << Case(S::Nginx, 65536).ofSize(65537).asks({"bytes=0-65536"}, 1).reports({100});
    QTest::newRow("one-byte-more") << Case(S::Nginx, 65536).ofSize(65538)
        .asks({"bytes=0-65536", "bytes=65537-131073"}, 2).reports({99, 100});
    // Progress counts the side file.
    QTest::newRow("resumes-from-side-file") << Case(S::Nginx, 128 * 1024).ofSize(1024 * 1024 + 11).side(100000)
        .asks({"bytes=100000-231072", "bytes=231073-362145"}, 8).reports({22, 34});
    // The process ended between the last block and the move into place: 416.
    QTest::newRow("complete-side-file") << Case(S::Nginx, 100000).ofSize(150000).side(150000)
        .asks({"bytes=150000-250000"}, 1).reports({100});
    // The remote file shrank since the side file was written: 416, and from the start again.
    QTest::newRow("side-file-longer-than-remote") << Case(S::Nginx, 100000).ofSize(150000).side(150010, 's')
        .warn(QStringLiteral("longer than the remote file")).asks({"bytes=150010-250010", "bytes=0-100000"}, 3);
    QTest::newRow("not-found-gives-up-at-once") << Case(S::Nginx, 65536).ofSize(0)
        .warn(QStringLiteral("Not Found.*not-found")).fails(emptyThenPlain, 1);
    // Neither removed, renamed over nor copied over: only the empty finished(QString).
    QTest::newRow("target-is-a-directory") << Case(S::Nginx, 65536).ofSize(5000).blocked()
        .warn(QStringLiteral("^\"TARGET copying error\"$")).fails({QStringLiteral("finished()")}, 1, 5000);

    // Given up after five attempts, nothing written.
    const auto answer = [](const QByteArray &status, const QList<QByteArray> &headers,
                           const QByteArray &body = QByteArray(100, 'x')) {
        return Case(S::Canned, 65536).answer(ScriptedServer::answer(status, headers, body));
    };
    const auto headerError = [](Case c) {
        return c.within(60000)
            .warn(QStringLiteral("^(\"Http headers parsing error\" \"http://127.0.0.1|\\(QPair)"), 10)
            .fails(emptyThenPlain, 5, 0);
    };
    const QByteArray part = "206 Partial Content";
    QTest::newRow("zero-content-length") << headerError(answer("200 OK", {"Content-Length: 0"}, {}));
    const QByteArray hundred = "Content-Length: 100";
    QTest::newRow("total-asterisk") << headerError(answer(part, {"Content-Range: bytes 0-99/*", hundred}));
    QTest::newRow("range-past-total") << headerError(answer(part, {"Content-Range: bytes 0-99/50", hundred}));
    // Writing at 500 into an empty side file would leave 500 zero bytes.
    QTest::newRow("range-leaves-hole") << headerError(answer(part, {"Content-Range: bytes 500-599/1000", hundred}));
    QTest::newRow("part-without-position") << headerError(answer(part, {hundred}));
    QTest::newRow("no-content") << headerError(answer("204 No Content", {hundred}));
    // The loader must not keep it all.
    QTest::newRow("endless-body") << headerError(Case(S::Endless, 16384));

    // A range-ignoring server: the whole file with 200, written from 0 as it arrives, never held whole.
    const auto whole = [](int size) {
        const QByteArray length = "Content-Length: " + QByteArray::number(size);
        return Case(S::Canned, 16384).ofSize(size).asks({}, 1).reports({100})
            .answer(ScriptedServer::answer("200 OK", {length}, randomBytes(size, size)));
    };
    QTest::newRow("whole-file-over-longer-side") << whole(300000).side(400000, 'g');
    QTest::newRow("whole-file-streamed") << whole(8 << 20).buffers(4 * 16384);
    // The same first block again and again does not count as progress.
    const QByteArray firstBlock = ScriptedServer::rangeAnswer({"", 0, 9999}, QByteArray(100000, 'f'));
    QTest::newRow("range-ignored") << Case(S::Canned, 9999).answer(firstBlock)
        .warn(QStringLiteral("^Response did not advance the side file"), 5)
        .fails(emptyThenPlain, 6, 10000).reports({10, 10, 10, 10, 10, 10});
    // After a timeout, blocks of half the size, while above 16384.
    QTest::newRow("stalled-reply-times-out") << Case(S::StallFirst, 40000).within(2000)
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\" \"http"))
        .asks({"bytes=0-40000", "bytes=0-20000", "bytes=20001-40001"});
    QTest::newRow("timeouts-halve-then-give-up") << Case(S::Silent, 32770).within(500)
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\""), 5).fails(plainThenEmpty, 5)
        .asks({"bytes=0-32770", "bytes=0-16385", "bytes=0-8192", "bytes=0-8192", "bytes=0-8192"});
    QTest::newRow("authentication-required") << Case(S::Canned, 65536)
        .answer(ScriptedServer::answer("401 Unauthorized",
                                       {"WWW-Authenticate: Basic realm=\"files\"", "Content-Length: 5"}, "nope!"))
        .warn(QStringLiteral("^\"AUTHENTICATION_REQUIRED!\" \"http")).fails(plainThenEmpty, 1);
    QTest::newRow("changed-remote-file-starts-over") << Case(S::Changed, 10000)
        .warn(QStringLiteral("^Remote file changed, starting over"))
        .asks({"bytes=0-10000", "bytes=10001-20001", "bytes=20002-30002", "bytes=0-10000"});
    // Certificate problems are accepted for the requests of the manager made at
    // start only: after a timeout the new manager refuses the self-signed
    // certificate, and the download gives up without a second request.
    QTest::newRow("tls-errors-accepted-at-start") << Case(S::Honest, 10000).ofSize(25000).overTls()
        .warn(QStringLiteral("^SSL errors ignored \\("), 3).asks({}, 3);
    QTest::newRow("tls-errors-refused-after-timeout") << Case(S::StallFirst, 10000).overTls().within(1500)
        .warn(QStringLiteral("^SSL errors ignored \\("))
        .warn(QStringLiteral("^\"DOWNLOAD TIMEOUT\" \"https"))
        .warn(QStringLiteral("^QNetworkReply::SslHandshakeFailedError \"SSL handshake failed\""), 4)
        .fails(emptyThenPlain, 1);
}

void tst_HttpFileLoader::downloads()
{
    QFETCH(Case, c);
    const QString name = QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".bin");
    const QByteArray data = c.canned.isEmpty() ? randomBytes(c.size, quint32(c.size)) : c.canned.right(c.size);
    const QByteArray changed = c.server == Server::Changed ? randomBytes(c.size - 5000, 1) : QByteArray();
    ScriptedServer server([&](QTcpSocket *socket, ScriptedServer::Request request, int index) {
        switch (c.server) {
        case Server::Canned:
            return ScriptedServer::send(socket, c.canned);
        case Server::Endless:
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < (1 << 16))
                    socket->write(QByteArray(1 << 16, 'z'));
            });
            return;
        case Server::StallFirst:
        case Server::Silent:
            if (index == 0 || c.server == Server::Silent)
                return;
            break;
        default:
            break;
        }
        const QByteArray &content = index >= 2 && !changed.isNull() ? changed : data;
        ScriptedServer::send(socket, ScriptedServer::rangeAnswer(request, content));
    });
    if (c.tls) {
        server.certificate = m_certificate;
        server.key = m_key;
    }
    QString url = server.url();
    if (c.server == Server::Nginx) {
        REQUIRE_NGINX();
        QVERIFY(c.size == 0 || m_nginx->putFile(name, data));
        url = m_nginx->url(name);
    }
    const QString target = m_dir->filePath(QStringLiteral("sub/dir/") + name);
    const QByteArray older = "an older file, replaced only by a complete download";
    QVERIFY(writeFile(target, older));
    if (c.targetIsDirectory)
        QVERIFY(QFile::remove(target) && QDir().mkpath(target + QStringLiteral("/inside")));
    if (c.sideSize > 0)
        QVERIFY(writeFile(target + QStringLiteral(".part"),
                          c.sideFill ? QByteArray(c.sideSize, c.sideFill) : data.left(c.sideSize)));
    for (QString pattern : qAsConst(c.warnings))
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(pattern.replace("TARGET", QRegularExpression::escape(target))));

    Run run(url, target, c.blockSize, c.timeout);
    hflbuffer::takePeakUnread();
    QVERIFY(run.exec());
    const qint64 peakUnread = hflbuffer::takePeakUnread();
    if (c.failure.isEmpty()) {
        QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
        QVERIFY(readFile(target) == (changed.isNull() ? data : changed));
        QVERIFY(!QFile::exists(target + QStringLiteral(".part")));
        QCOMPARE(run.progress.last(), 100);
    } else {
        QCOMPARE(run.events, c.failure);
        QCOMPARE(readFile(target), c.targetIsDirectory ? QByteArray() : older);
    }
    // nginx logs a request once it has sent the answer, maybe after the loader ended.
    const auto ranges = [&] {
        QList<QByteArray> asked;
        for (const ScriptedServer::Request &request : qAsConst(server.requests))
            asked << request.range;
        for (const NginxServer::Request &request : m_nginx ? m_nginx->requests(name) : QList<NginxServer::Request>())
            asked << request.range.toLatin1();
        return asked;
    };
    if (c.requests >= 0)
        QTRY_COMPARE(ranges().size(), c.requests);
    QTRY_COMPARE(ranges().mid(0, c.ranges.size()), c.ranges);
    QCOMPARE(run.progress.mid(0, c.progress.size()), c.progress);
    if (c.partSize >= 0)
        QCOMPARE(QFileInfo(target + QStringLiteral(".part")).size(), c.partSize);
    if (c.maxUnread >= 0)
        QVERIFY2(peakUnread <= c.maxUnread, qPrintable(QString::number(peakUnread)));
}

void tst_HttpFileLoader::handlesOffsetsPast2GiB()
{
    REQUIRE_NGINX();
    // Sparse files: 3 GiB on paper, a few blocks on disk. The side file lacks the last 200000 bytes.
    const qint64 size = 3LL << 30;
    const QByteArray tail = randomBytes(300000, 11);
    const auto sparse = [&](const QString &path, int length) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(size - tail.size()) && file.seek(size - tail.size())
            && file.write(tail.left(length)) == length;
    };
    const QString remote = m_nginx->rootDir() + QStringLiteral("/big.bin");
    const auto removeRemote = qScopeGuard([&] { QFile::remove(remote); });
    const QString target = m_dir->filePath(QStringLiteral("big.bin"));
    QVERIFY(sparse(remote, tail.size()) && sparse(target + QStringLiteral(".part"), 100000));
    Run run(m_nginx->url(QStringLiteral("big.bin")), target, 65536);
    QVERIFY(run.exec());
    QCOMPARE(run.events, QStringList{QStringLiteral("finished(%1)").arg(target)});
    QFile result(target);
    QVERIFY(result.open(QIODevice::ReadOnly) && result.size() == size && result.seek(size - tail.size()));
    QVERIFY(result.read(tail.size()) == tail);
    QCOMPARE(m_nginx->requests(QStringLiteral("big.bin")).first().range,
             QStringLiteral("bytes=%1-%2").arg(size - 200000).arg(size - 200000 + 65536));
    QCOMPARE(run.progress.first(), 99);
}

void tst_HttpFileLoader::staticDownload()
{
    QTest::ignoreMessage(QtWarningMsg, "\"Invalid fileName or url: /tmp/x.bin - \"");
    QVERIFY(HttpFileLoader::download(QString(), QStringLiteral("/tmp/x.bin")).isNull());
    QTest::ignoreMessage(QtWarningMsg, "\"Invalid fileName or url:  - http://127.0.0.1:1/%1%2\"");
    QVERIFY(HttpFileLoader::download(QStringLiteral("http://127.0.0.1:1/%1%2"), QString()).isNull());

    REQUIRE_NGINX();
    const QByteArray data = randomBytes(700000, 9);
    QVERIFY(m_nginx->putFile(QStringLiteral("static.bin"), data));
    // The target directory does not exist yet: download() creates it.
    const QString target = m_dir->filePath(QStringLiteral("new/level/static.bin"));
    Receiver receiver;
    const QPointer<QThread> thread = HttpFileLoader::download(m_nginx->url(QStringLiteral("static.bin")), target,
        &receiver, SLOT(onFinished(QString)), SLOT(onProgress(QString,int)), 200000);
    QCOMPARE(thread->objectName(), QStringLiteral("HttpFileLoader-AWT"));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.finishedFiles, QStringList{target}, 20000);
    // The thread quits and deletes itself.
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 10000);
    QCOMPARE(receiver.progressValues, QList<int>({28, 57, 85, 100}));
    QVERIFY(readFile(target) == data);
}

QTEST_GUILESS_MAIN(tst_HttpFileLoader)

#include "tst_httpfileloader.moc"
