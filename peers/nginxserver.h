#ifndef ORVEL_PEERS_NGINXSERVER_H
#define ORVEL_PEERS_NGINXSERVER_H

#include "peerprocess.h"

#include <QList>
#include <QString>

/// A real nginx serving the files of its own temporary directory on a free
/// 127.0.0.1 port, in the foreground, with config, pid and logs beside them.
/// The access log records the Range header of every request, so a test can
/// see which ranges a client asked for.
class NginxServer
{
public:
    /// One access-log line.
    struct Request
    {
        QString path;     // request URI
        int status = 0;   // response status
        QString range;    // Range header as sent, empty when none
        qint64 bytesSent = 0;
    };

    NginxServer() = default;
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    /// The nginx binary, or empty when nginx is not installed.
    static QString program();

    /// Writes the config and starts nginx; false (see errorString()) when it
    /// does not come up.
    bool start();
    void stop();
    bool isRunning() const { return m_peer.isRunning(); }

    quint16 port() const { return m_port; }
    /// Directory whose files are served at "/".
    QString rootDir() const;
    /// "http://127.0.0.1:<port>/<path>".
    QString url(const QString &path) const;
    /// Writes `data` to rootDir()/path (replacing it atomically, so a request
    /// in flight sees either the old or the new file).
    bool putFile(const QString &path, const QByteArray &data) const;

    /// Every request logged so far, in order; with `path` only those for it.
    QList<Request> requests(const QString &path = QString()) const;
    QString errorString() const { return m_error; }

private:
    PeerProcess m_peer;
    quint16 m_port = 0;
    QString m_error;
};

#endif // ORVEL_PEERS_NGINXSERVER_H
