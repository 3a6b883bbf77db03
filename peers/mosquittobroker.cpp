#include "mosquittobroker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <unistd.h>

MosquittoBroker::MosquittoBroker() = default;

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::isAvailable()
{
    for (const char *program : {"mosquitto", "mosquitto_pub", "mosquitto_sub"}) {
        if (PeerProcess::findProgram(QLatin1String(program)).isEmpty())
            return false;
    }
    return true;
}

bool MosquittoBroker::writeConfig()
{
    const QDir dir(m_peer.dir());
    QFile file(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream conf(&file);
    conf << "listener " << m_port << " 127.0.0.1\n";
    conf << "persistence false\n";
    // A log file is flushed line by line; a redirected stdout is not.
    conf << "log_dest file " << dir.filePath(QStringLiteral("broker.log")) << "\n";
    // Run as root, mosquitto would switch to its own user and could not
    // read the files in this private directory.
    if (::geteuid() == 0)
        conf << "user root\n";
    if (m_options.unlimitedQueue)
        conf << "max_queued_messages 0\n";
    if (m_options.tls) {
        if (!makeCertificates())
            return false;
        conf << "cafile " << caFile() << "\ncertfile " << dir.filePath(QStringLiteral("server.pem"))
             << "\nkeyfile " << dir.filePath(QStringLiteral("server.key")) << "\n";
        if (m_options.requireClientCertificate)
            conf << "require_certificate true\n";
    }
    if (m_options.requirePassword) {
        const QString passwordFile = dir.filePath(QStringLiteral("passwords"));
        QFile::remove(passwordFile);
        QProcess passwd;
        passwd.start(PeerProcess::findProgram(QStringLiteral("mosquitto_passwd")),
                     {QStringLiteral("-c"), QStringLiteral("-b"), passwordFile, m_options.user,
                      m_options.password});
        if (!passwd.waitForFinished(10000) || passwd.exitCode() != 0)
            return false;
        conf << "allow_anonymous false\n";
        conf << "password_file " << passwordFile << "\n";
    } else {
        conf << "allow_anonymous true\n";
    }
    return true;
}

bool MosquittoBroker::makeCertificates() const
{
    const QDir dir(m_peer.dir());
    const auto openssl = [&](const QString &arguments) {
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(PeerProcess::findProgram(QStringLiteral("openssl")),
                      arguments.split(QLatin1Char(' ')));
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    QFile names(dir.filePath(QStringLiteral("names.ext")));
    if (!names.open(QIODevice::WriteOnly)
        || names.write("subjectAltName=" + m_options.tlsNames.toUtf8() + "\n") < 0)
        return false;
    names.close();
    const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
    const QString sign = QStringLiteral("x509 -req -CA ca.pem -CAkey ca.key -CAcreateserial -days 2");
    return openssl(QStringLiteral("req -x509 %1 -keyout ca.key -out ca.pem -days 2 -subj /CN=orvel-ca").arg(key))
        && openssl(QStringLiteral("req %1 -keyout server.key -out server.csr -subj /CN=broker").arg(key))
        && openssl(sign + QStringLiteral(" -in server.csr -out server.pem -extfile names.ext"))
        && openssl(QStringLiteral("req %1 -keyout client.key -out client.csr -subj /CN=client").arg(key))
        && openssl(sign + QStringLiteral(" -in client.csr -out client.pem"));
}

bool MosquittoBroker::start(const Options &options)
{
    m_options = options;
    if (m_port == 0)
        m_port = PeerProcess::freePort();
    if (m_port == 0 || !writeConfig())
        return false;
    return restart();
}

bool MosquittoBroker::restart()
{
    const QString program = PeerProcess::findProgram(QStringLiteral("mosquitto"));
    if (program.isEmpty() || m_port == 0)
        return false;
    return m_peer.start(program,
                        {QStringLiteral("-c"),
                         QDir(m_peer.dir()).filePath(QStringLiteral("mosquitto.conf"))},
                        m_port);
}

QString MosquittoBroker::log() const
{
    QString text = m_peer.log();
    QFile file(QDir(m_peer.dir()).filePath(QStringLiteral("broker.log")));
    if (file.open(QIODevice::ReadOnly))
        text += QString::fromUtf8(file.readAll());
    return text;
}

QStringList MosquittoBroker::clientArguments(const QByteArray &topic) const
{
    QStringList args{QStringLiteral("-h"), host(), QStringLiteral("-p"), QString::number(m_port),
                     QStringLiteral("-t"), QString::fromUtf8(topic)};
    if (m_options.requirePassword)
        args << QStringLiteral("-u") << m_options.user << QStringLiteral("-P") << m_options.password;
    if (m_options.tls) {
        args << QStringLiteral("--cafile") << caFile() << QStringLiteral("--cert")
             << clientCertificateFile() << QStringLiteral("--key") << clientKeyFile();
    }
    return args;
}

bool MosquittoBroker::publish(const QByteArray &topic, const QByteArray &payload,
                              const QStringList &extra) const
{
    QStringList args = clientArguments(topic) + extra;
    if (payload.isEmpty())
        args << QStringLiteral("-n");
    else
        args << QStringLiteral("-m") << QString::fromUtf8(payload);
    QProcess pub;
    pub.start(PeerProcess::findProgram(QStringLiteral("mosquitto_pub")), args);
    return pub.waitForFinished(10000) && pub.exitStatus() == QProcess::NormalExit
           && pub.exitCode() == 0;
}

QStringList MosquittoBroker::subscribeArguments(const QByteArray &topic, int count,
                                                int timeoutSec) const
{
    return clientArguments(topic)
           << QStringLiteral("-C") << QString::number(count) << QStringLiteral("-W")
           << QString::number(timeoutSec) << QStringLiteral("-F") << QStringLiteral("%r %q %t %p");
}
