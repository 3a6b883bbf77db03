#ifndef ORVEL_PEERS_MOSQUITTOBROKER_H
#define ORVEL_PEERS_MOSQUITTOBROKER_H

#include "peerprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct MosquittoBrokerOptions
{
    /// Refuse anonymous clients; accept user/password from a password
    /// file made with mosquitto_passwd.
    bool requirePassword = false;
    QString user = QStringLiteral("orvel");
    QString password = QStringLiteral("secret");
    /// "max_queued_messages 0": nothing is dropped for a slow subscriber,
    /// so deliveries can be counted.
    bool unlimitedQueue = true;
    /// The listener speaks TLS only, with a CA, a server certificate for
    /// `tlsNames` and a client certificate made by openssl in dir().
    bool tls = false;
    QString tlsNames = QStringLiteral("DNS:localhost,IP:127.0.0.1");
    /// Clients must show a certificate signed by the CA.
    bool requireClientCertificate = false;
};

/// Debian's mosquitto broker on 127.0.0.1 and a free port, with a generated
/// configuration in its own temporary directory. It can be killed and started
/// again on the same port. Also runs mosquitto_pub and mosquitto_sub against it.
class MosquittoBroker
{
public:
    using Options = MosquittoBrokerOptions;

    MosquittoBroker();
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    /// True when the broker and its command-line clients are installed.
    static bool isAvailable();

    /// Writes the configuration and starts the broker on a free port (the
    /// same port again after kill() or stop()). False: see log().
    bool start(const Options &options);
    bool start() { return start(Options()); }
    /// Starts again with the last options, on the same port.
    bool restart();
    /// SIGKILL: the clients see their connections drop.
    void kill() { m_peer.kill(); }
    void stop() { m_peer.stop(); }
    bool isRunning() const { return m_peer.isRunning(); }
    bool isTls() const { return m_options.tls; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString dir() const { return m_peer.dir(); }
    /// What the broker printed and logged so far.
    QString log() const;
    /// With Options::tls: PEM files of the CA, and of a client certificate
    /// and key it signed.
    QString caFile() const { return dir() + QStringLiteral("/ca.pem"); }
    QString clientCertificateFile() const { return dir() + QStringLiteral("/client.pem"); }
    QString clientKeyFile() const { return dir() + QStringLiteral("/client.key"); }

    /// "-h <host> -p <port> -t <topic>" and the credentials, for mosquitto_pub or _sub.
    QStringList clientArguments(const QByteArray &topic) const;
    /// mosquitto_pub, blocking. Extra arguments such as "-r" or "-q 1".
    bool publish(const QByteArray &topic, const QByteArray &payload,
                 const QStringList &extra = QStringList()) const;
    /// The arguments of mosquitto_sub that print "<retain> <qos> <topic> <payload>"
    /// for `count` messages of `topic`, giving up after `timeoutSec`.
    QStringList subscribeArguments(const QByteArray &topic, int count, int timeoutSec) const;

private:
    bool writeConfig();
    bool makeCertificates() const;

    PeerProcess m_peer;
    Options m_options;
    quint16 m_port = 0;
};

#endif // ORVEL_PEERS_MOSQUITTOBROKER_H
