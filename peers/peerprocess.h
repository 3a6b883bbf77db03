#ifndef ORVEL_PEERS_PEERPROCESS_H
#define ORVEL_PEERS_PEERPROCESS_H

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// An outside program (broker, web server) run for a test or benchmark on
/// 127.0.0.1. Its output goes to a log file in its own temporary directory;
/// it is stopped (SIGTERM, then SIGKILL) when the object goes.
class PeerProcess
{
public:
    PeerProcess();
    ~PeerProcess();
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;

    /// A TCP port on 127.0.0.1 that nothing listens on right now.
    static quint16 freePort();
    /// Full path of a program in PATH or the sbin directories; empty if missing.
    static QString findProgram(const QString &name);
    /// Polls until a TCP connection to 127.0.0.1:port succeeds.
    static bool waitForPort(quint16 port, int timeoutMs);

    /// A scratch directory that lives as long as this object.
    QString dir() const { return m_dir.path(); }
    QString logFile() const;
    void setEnvironment(const QProcessEnvironment &env) { m_env = env; }

    /// Starts the program and waits until `port` accepts connections (0: do
    /// not wait). Returns false (see log()) when it exits or times out first.
    bool start(const QString &program, const QStringList &arguments, quint16 port,
               int timeoutMs = 20000);
    /// SIGTERM, then SIGKILL after `timeoutMs`.
    void stop(int timeoutMs = 10000);
    /// SIGKILL at once, no clean shut-down (a crash as a peer sees it).
    void kill();
    bool isRunning() const;
    qint64 pid() const;
    /// Everything the program printed so far.
    QString log() const;

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess *m_process = nullptr;
};

#endif // ORVEL_PEERS_PEERPROCESS_H
