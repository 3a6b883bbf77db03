#ifndef ORVEL_PEERS_RABBITMQBROKER_H
#define ORVEL_PEERS_RABBITMQBROKER_H

#include "peerprocess.h"

#include <QString>
#include <QUrl>

/// A throwaway RabbitMQ node with the Web-STOMP plugin on 127.0.0.1: its own
/// node name, data directory, ports and epmd, all in temporary directories.
/// Start-up takes seconds, so start one per test program. Stopped (SIGTERM,
/// then its epmd) when the object goes.
class RabbitMqBroker
{
public:
    RabbitMqBroker() = default;
    ~RabbitMqBroker();
    RabbitMqBroker(const RabbitMqBroker &) = delete;
    RabbitMqBroker &operator=(const RabbitMqBroker &) = delete;

    /// The server script, or empty when RabbitMQ is not installed.
    static QString serverProgram();

    /// Starts the node and waits until Web-STOMP accepts connections.
    /// Returns false (see errorString()) on failure.
    bool start(int timeoutMs = 60000);
    void stop();
    bool isRunning() const;

    /// ws://127.0.0.1:<port>/ws
    QUrl webStompUrl() const;
    quint16 webStompPort() const { return m_webStompPort; }
    quint16 amqpPort() const { return m_amqpPort; }
    QString errorString() const { return m_errorString; }
    /// What the node printed so far.
    QString log() const { return m_server.log(); }

private:
    PeerProcess m_epmd;
    PeerProcess m_server;
    quint16 m_webStompPort = 0;
    quint16 m_amqpPort = 0;
    QString m_errorString;
};

#endif // ORVEL_PEERS_RABBITMQBROKER_H
