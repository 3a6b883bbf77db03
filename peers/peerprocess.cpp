#include "peerprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

PeerProcess::PeerProcess()
    : m_env(QProcessEnvironment::systemEnvironment())
{
}

PeerProcess::~PeerProcess()
{
    stop();
}

quint16 PeerProcess::freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

QString PeerProcess::findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty()) {
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                   QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/lib/rabbitmq/bin")});
    }
    return path;
}

bool PeerProcess::waitForPort(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

QString PeerProcess::logFile() const
{
    return m_dir.filePath(QStringLiteral("peer.log"));
}

bool PeerProcess::start(const QString &program, const QStringList &arguments, quint16 port,
                        int timeoutMs)
{
    stop();
    m_process = new QProcess;
    m_process->setProcessEnvironment(m_env);
    m_process->setWorkingDirectory(m_dir.path());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logFile(), QIODevice::Append);
    m_process->start(program, arguments);
    if (!m_process->waitForStarted(timeoutMs))
        return false;
    if (port == 0)
        return true;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (m_process->state() != QProcess::Running)
            return false;
        if (waitForPort(port, 200))
            return true;
        m_process->waitForFinished(20);
    }
    return false;
}

void PeerProcess::stop(int timeoutMs)
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(timeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    delete m_process;
    m_process = nullptr;
}

void PeerProcess::kill()
{
    if (!m_process)
        return;
    m_process->kill();
    m_process->waitForFinished(5000);
    delete m_process;
    m_process = nullptr;
}

bool PeerProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 PeerProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

QString PeerProcess::log() const
{
    QFile file(logFile());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}
