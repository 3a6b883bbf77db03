#pragma once

// The loader run and the scripted server shared by the loader tests.
#include "testfiles.h"

#include <httpfileloader/httpfileloader.h>
#include <workers/abstractworkerthread.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

#include <functional>

// A loader in its own worker thread, with every signal it sends recorded in
// order of arrival (progress for another file name as -1), and short delays
// so that retries and give-ups take milliseconds. The thread quits on
// finished(QString), as with the static download().
class Run : public QObject
{
public:
    Run(const QString &url, const QString &fileName, int blockSize, int requestTimeout = 10000)
        : loader(new HttpFileLoader(url, fileName, blockSize)), thread(loader, nullptr)
    {
        loader->setTiming({requestTimeout, 1, 1});
        connect(loader, qOverload<>(&HttpFileLoader::finished), this, [this] { events << QStringLiteral("finished"); });
        connect(loader, qOverload<QString>(&HttpFileLoader::finished), this,
                [this](const QString &file) { events << QStringLiteral("finished(%1)").arg(file); });
        connect(loader, &HttpFileLoader::progress, this, [this, fileName](const QString &file, int value) {
            progress << (file == QFileInfo(fileName).fileName() ? value : -1);
        });
        connect(loader, qOverload<QString>(&HttpFileLoader::finished), &thread, &QThread::quit);
    }
    ~Run() override
    {
        thread.quit();
        thread.wait();
    }

    // Starts the loader and returns once its thread has ended and every
    // signal it sent has arrived.
    bool exec(int timeoutMs = 30000)
    {
        thread.start();
        QElapsedTimer timer;
        timer.start();
        while (!thread.isFinished() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
        return thread.isFinished();
    }

    QPointer<HttpFileLoader> loader;
    AbstractWorkerThread thread;
    QStringList events;
    QList<int> progress;
};

// A web server of a few lines whose answers the test scripts, for what a
// real server will not do. One request per connection; over TLS once it has
// a certificate.
class ScriptedServer : public QTcpServer
{
public:
    struct Request
    {
        QByteArray range; // as sent
        qint64 start = -1;
        qint64 end = -1;
    };
    using Handler = std::function<void(QTcpSocket *, const Request &, int index)>;

    explicit ScriptedServer(Handler handler)
        : m_handler(std::move(handler))
    {
        listen(QHostAddress::LocalHost, 0);
    }

    QSslCertificate certificate;
    QSslKey key;
    QList<Request> requests;

    QString url() const
    {
        return QStringLiteral("%1://127.0.0.1:%2/file.bin")
            .arg(certificate.isNull() ? QStringLiteral("http") : QStringLiteral("https"))
            .arg(serverPort());
    }

    static QByteArray answer(const QByteArray &status, const QList<QByteArray> &headers, const QByteArray &body)
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
                      {"Content-Range: bytes " + QByteArray::number(request.start) + '-' + QByteArray::number(end)
                           + '/' + size,
                       "Content-Length: " + QByteArray::number(part.size())},
                      part);
    }
    static void send(QTcpSocket *socket, const QByteArray &answer)
    {
        socket->write(answer);
        socket->disconnectFromHost();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = certificate.isNull() ? new QTcpSocket(this) : new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        if (auto *tls = qobject_cast<QSslSocket *>(socket)) {
            tls->setLocalCertificate(certificate);
            tls->setPrivateKey(key);
            tls->startServerEncryption();
        }
        // Read until the blank line; then the script answers.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray &buffer = m_buffers[socket];
            buffer += socket->readAll();
            const int end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            Request request;
            for (const QByteArray &line : buffer.left(end).split('\n')) {
                if (line.toLower().startsWith("range: bytes=")) {
                    request.range = line.mid(6).trimmed();
                    request.start = request.range.mid(6).split('-').value(0).toLongLong();
                    request.end = request.range.mid(6).split('-').value(1).toLongLong();
                }
            }
            m_buffers.remove(socket);
            requests << request;
            m_handler(socket, request, requests.size() - 1);
        });
        connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }

private:
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
