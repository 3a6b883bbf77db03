#ifndef ORVELEXTLIB_MOSQUITTOCONFIG_H
#define ORVELEXTLIB_MOSQUITTOCONFIG_H

#include <orvelextlib_export.h>

#include <QNetworkProxy>
#include <QSharedDataPointer>
#include <QString>

class MosquittoConfigPrivate;

/// Every setting of one MQTT connection and of the clients and worker that
/// use it. Defaults: clean session, host "localhost", port 1883, keep-alive
/// 120 s, 10 messages in flight, retry 60 s, mode 0 (asynchronous client),
/// synchronous loop every 100 ms with timeout 0, rebuild after 72 hours.
class ORVELEXTLIB_EXPORT MosquittoConfig
{
public:
    MosquittoConfig();
    MosquittoConfig(const MosquittoConfig &other);
    MosquittoConfig(MosquittoConfig &&other) noexcept;
    MosquittoConfig &operator=(const MosquittoConfig &other);
    MosquittoConfig &operator=(MosquittoConfig &&other) noexcept;
    ~MosquittoConfig();

    void swap(MosquittoConfig &other) noexcept { d.swap(other.d); }

    bool cleanSession() const;
    void setCleanSession(bool cleanSession);
    /// Stored and compared only.
    bool useMessagesQueue() const;
    void setUseMessagesQueue(bool useMessagesQueue);
    /// Stored and compared only.
    bool useTopicsQueue() const;
    void setUseTopicsQueue(bool useTopicsQueue);
    /// Stored and compared only: no client sets up TLS.
    bool useSsl() const;
    void setUseSsl(bool useSsl);
    /// Credentials are applied only when both are non-empty.
    QString userName() const;
    void setUserName(const QString &userName);
    QString password() const;
    void setPassword(const QString &password);
    QString host() const;
    void setHost(const QString &host);
    quint16 port() const;
    void setPort(const quint16 &port);
    /// Seconds.
    int keepAlive() const;
    void setKeepAlive(const int &keepAlive);
    /// Local address to bind to; empty: none.
    QString bindAddress() const;
    void setBindAddress(const QString &bindAddress);
    /// Only a SOCKS5 proxy is applied.
    QNetworkProxy proxy() const;
    void setProxy(const QNetworkProxy &proxy);
    int maxInfliteMessages() const;
    void setMaxInfliteMessages(const int &maxInfliteMessages);
    /// Seconds before an unacknowledged QoS 1/2 message is retried.
    unsigned int msgRetrySet() const;
    void setMsgRetrySet(const unsigned int &msgRetrySet);
    /// 0: asynchronous client, 1: threaded client. Any value but 1 stores 0.
    int mode() const;
    void setMode(const int &mode);
    /// Milliseconds handed to each network loop call of the synchronous client.
    int syncLoopTimeout() const;
    void setSyncLoopTimeout(const int &syncLoopTimeout);
    /// Milliseconds between network loop calls of the synchronous client.
    int syncLoopInterval() const;
    void setSyncLoopInterval(const int &syncLoopInterval);
    /// Milliseconds an open connection is kept before the worker rebuilds it;
    /// 0 or less: never.
    int reconnectTimeout() const;
    void setReconnectTimeout(const int &reconnectTimeout);

    bool operator==(const MosquittoConfig &other) const;
    bool operator!=(const MosquittoConfig &other) const { return !(*this == other); }

private:
    QSharedDataPointer<MosquittoConfigPrivate> d;
};

Q_DECLARE_SHARED(MosquittoConfig)
Q_DECLARE_METATYPE(MosquittoConfig)

#endif // ORVELEXTLIB_MOSQUITTOCONFIG_H
