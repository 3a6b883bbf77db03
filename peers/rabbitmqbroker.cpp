#include "rabbitmqbroker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {
bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(contents) == contents.size();
}

// A free port none of `taken` holds (freePort() may hand out one twice).
quint16 freePortBesides(QList<quint16> &taken)
{
    for (;;) {
        const quint16 port = PeerProcess::freePort();
        if (port == 0 || !taken.contains(port)) {
            taken.append(port);
            return port;
        }
    }
}
} // namespace

RabbitMqBroker::~RabbitMqBroker()
{
    stop();
}

QString RabbitMqBroker::serverProgram()
{
    // The script itself: /usr/sbin/rabbitmq-server is a wrapper that switches
    // to the rabbitmq user and the system's node.
    const QString script = QStringLiteral("/usr/lib/rabbitmq/bin/rabbitmq-server");
    if (QFileInfo(script).isExecutable())
        return script;
    return QString();
}

bool RabbitMqBroker::start(int timeoutMs)
{
    stop();
    m_errorString.clear();
    const QString server = serverProgram();
    const QString epmd = PeerProcess::findProgram(QStringLiteral("epmd"));
    if (server.isEmpty() || epmd.isEmpty()) {
        m_errorString = QStringLiteral("RabbitMQ is not installed");
        return false;
    }

    // An epmd of our own on a free port, so that nodes of other programs and
    // the system's epmd are left alone and we know which one to stop.
    QList<quint16> ports;
    const quint16 epmdPort = freePortBesides(ports);
    if (!m_epmd.start(epmd, {QStringLiteral("-port"), QString::number(epmdPort),
                             QStringLiteral("-address"), QStringLiteral("127.0.0.1")},
                      epmdPort, 10000)) {
        m_errorString = QStringLiteral("epmd did not start: ") + m_epmd.log();
        return false;
    }

    m_amqpPort = freePortBesides(ports);
    m_webStompPort = freePortBesides(ports);
    const quint16 distPort = freePortBesides(ports);
    const QDir dir(m_server.dir());
    const QByteArray config =
        "listeners.tcp.1 = 127.0.0.1:" + QByteArray::number(m_amqpPort) + "\n"
        "web_stomp.tcp.ip = 127.0.0.1\n"
        "web_stomp.tcp.port = " + QByteArray::number(m_webStompPort) + "\n"
        "log.console = true\n"
        "log.console.level = warning\n"
        "log.file = false\n";
    if (!writeFile(dir.filePath(QStringLiteral("rabbitmq.conf")), config)
        || !writeFile(dir.filePath(QStringLiteral("enabled_plugins")), "[rabbitmq_web_stomp].\n")
        || !writeFile(dir.filePath(QStringLiteral("rabbitmq-env.conf")), QByteArray())) {
        m_errorString = QStringLiteral("cannot write the node's files");
        return false;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path()); // the Erlang cookie goes there
    env.insert(QStringLiteral("RABBITMQ_NODENAME"),
               QStringLiteral("orveltest%1@localhost").arg(m_webStompPort));
    env.insert(QStringLiteral("RABBITMQ_CONFIG_FILE"), dir.filePath(QStringLiteral("rabbitmq.conf")));
    env.insert(QStringLiteral("RABBITMQ_CONF_ENV_FILE"), dir.filePath(QStringLiteral("rabbitmq-env.conf")));
    env.insert(QStringLiteral("RABBITMQ_ENABLED_PLUGINS_FILE"),
               dir.filePath(QStringLiteral("enabled_plugins")));
    env.insert(QStringLiteral("RABBITMQ_MNESIA_BASE"), dir.filePath(QStringLiteral("mnesia")));
    env.insert(QStringLiteral("RABBITMQ_LOG_BASE"), dir.filePath(QStringLiteral("log")));
    env.insert(QStringLiteral("RABBITMQ_DIST_PORT"), QString::number(distPort));
    env.insert(QStringLiteral("ERL_EPMD_ADDRESS"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("ERL_EPMD_PORT"), QString::number(epmdPort));
    env.remove(QStringLiteral("RABBITMQ_ALLOW_INPUT")); // breaks start-up
    m_server.setEnvironment(env);

    // The script stays in the foreground and turns SIGTERM into a clean stop
    // of the Erlang node it runs.
    if (!m_server.start(server, {}, m_webStompPort, timeoutMs)) {
        m_errorString = QStringLiteral("RabbitMQ did not start:\n") + m_server.log();
        stop();
        return false;
    }
    return true;
}

void RabbitMqBroker::stop()
{
    m_server.stop(20000);
    m_epmd.stop();
}

bool RabbitMqBroker::isRunning() const
{
    return m_server.isRunning();
}

QUrl RabbitMqBroker::webStompUrl() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(m_webStompPort));
}
