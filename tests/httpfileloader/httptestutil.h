#pragma once

#include "testfiles.h"

#include <httpfileloader/httpfileloader.h>
#include <workers/abstractworkerthread.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// Content, digests and fixtures shared by the loader tests.
inline QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

inline QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("missing");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// Short delays so that retries and give-ups take milliseconds.
inline HttpFileLoader::Timing fastTiming(int requestTimeout = 10000)
{
    HttpFileLoader::Timing timing;
    timing.requestTimeout = requestTimeout;
    timing.retryDelay = 1;
    timing.timeoutRetryDelay = 1;
    return timing;
}

// A loader in its own worker thread, with every signal it sends recorded in
// order of arrival. The thread quits on finished(QString), as with the
// static download().
class Run : public QObject
{
public:
    Run(const QString &url, const QString &fileName, int blockSize,
        const HttpFileLoader::Timing &timing = fastTiming())
        : loader(new HttpFileLoader(url, fileName, blockSize))
    {
        loader->setTiming(timing);
        connect(loader, qOverload<>(&HttpFileLoader::finished), this,
                [this] { events << QStringLiteral("finished"); });
        connect(loader, qOverload<QString>(&HttpFileLoader::finished), this,
                [this](const QString &file) { events << QStringLiteral("finished(%1)").arg(file); });
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
};

// A listening socket that speaks TLS with the given certificate once one is set.
class MaybeTlsServer : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (certificate.isNull())
            return QTcpServer::incomingConnection(descriptor);
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }
};

// A web server of a few lines whose answers the test scripts, for what a
// real server will not do. One request per connection; over TLS once
// useTls() has given it a certificate.
class ScriptedServer : public QObject
{
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

    void useTls(const QSslCertificate &certificate, const QSslKey &key)
    {
        m_server.certificate = certificate;
        m_server.key = key;
    }
    QString url(const QString &path = QStringLiteral("/file.bin")) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(m_server.certificate.isNull() ? QStringLiteral("http") : QStringLiteral("https"))
            .arg(m_server.serverPort())
            .arg(path);
    }
    QList<QByteArray> ranges() const
    {
        QList<QByteArray> result;
        for (const Request &request : requests)
            result << request.range;
        return result;
    }

    static QByteArray answer(const QByteArray &status, const QList<QByteArray> &headers,
                             const QByteArray &body)
    {
        QByteArray out = "HTTP/1.1 " + status + "\r\n";
        for (const QByteArray &header : headers)
            out += header + "\r\n";
        return out + "Connection: close\r\n\r\n" + body;
    }
    // The answer of a server that honours ranges.
    static QByteArray rangeAnswer(const Request &request, const QByteArray &data)
    {
        const QByteArray size = QByteArray::number(data.size());
        if (request.start < 0)
            return answer("200 OK", {"Content-Length: " + size}, data);
        if (request.start >= data.size())
            return answer("416 Range Not Satisfiable", {"Content-Range: bytes */" + size, "Content-Length: 0"}, {});
        const qint64 end = std::min<qint64>(request.end, data.size() - 1);
        const QByteArray part = data.mid(int(request.start), int(end - request.start + 1));
        return answer("206 Partial Content",
                      {"Content-Range: bytes " + QByteArray::number(request.start) + '-'
                           + QByteArray::number(end) + '/' + size,
                       "Content-Length: " + QByteArray::number(part.size())},
                      part);
    }
    static void send(QTcpSocket *socket, const QByteArray &answer)
    {
        socket->write(answer);
        socket->disconnectFromHost();
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
        m_buffers.remove(socket);
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

    MaybeTlsServer m_server;
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
