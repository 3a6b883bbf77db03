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
    /// A configuration with the defaults above.
    MosquittoConfig();
    /// Copy, move, swap and destruction, member-wise; copies share the data
    /// until one of them is changed. Any thread, one object at a time.
    ///@{
    MosquittoConfig(const MosquittoConfig &other);
    MosquittoConfig(MosquittoConfig &&other) noexcept;
    MosquittoConfig &operator=(const MosquittoConfig &other);
    MosquittoConfig &operator=(MosquittoConfig &&other) noexcept;
    ~MosquittoConfig();
    void swap(MosquittoConfig &other) noexcept { d.swap(other.d); }
    ///@}

    /// Clean-session flag, applied when a client creates its binding (default true).
    ///@{
    bool cleanSession() const;
    void setCleanSession(bool cleanSession);
    ///@}
    /// Stored and compared only (default false).
    ///@{
    bool useMessagesQueue() const;
    void setUseMessagesQueue(bool useMessagesQueue);
    ///@}
    /// Stored and compared only (default false).
    ///@{
    bool useTopicsQueue() const;
    void setUseTopicsQueue(bool useTopicsQueue);
    ///@}
    /// Whether clients connect over TLS (default false): TLS 1.2 or later, the
    /// broker verified and its name checked against host(), trust and identity
    /// from the client's QSslConfiguration (see
    /// QtMosquittoClientBase::setSslConfiguration()); never a plain connection
    /// when it is set.
    ///@{
    bool useSsl() const;
    void setUseSsl(bool useSsl);
    ///@}
    /// Broker user name; credentials are applied only when both it and the
    /// password are non-empty.
    ///@{
    QString userName() const;
    void setUserName(const QString &userName);
    ///@}
    /// Broker password; see userName().
    ///@{
    QString password() const;
    void setPassword(const QString &password);
    ///@}
    /// Broker host name or address (default "localhost").
    ///@{
    QString host() const;
    void setHost(const QString &host);
    ///@}
    /// Broker TCP port (default 1883).
    ///@{
    quint16 port() const;
    void setPort(const quint16 &port);
    ///@}
    /// MQTT keep-alive interval in seconds (default 120).
    ///@{
    int keepAlive() const;
    void setKeepAlive(const int &keepAlive);
    ///@}
    /// Local address to bind the socket to; empty: none (the default).
    ///@{
    QString bindAddress() const;
    void setBindAddress(const QString &bindAddress);
    ///@}
    /// Proxy; only a SOCKS5 proxy is applied, any other type connects
    /// directly (default: QNetworkProxy::DefaultProxy).
    ///@{
    QNetworkProxy proxy() const;
    void setProxy(const QNetworkProxy &proxy);
    ///@}
    /// Most QoS 1/2 messages in flight (default 10).
    ///@{
    int maxInfliteMessages() const;
    void setMaxInfliteMessages(const int &maxInfliteMessages);
    ///@}
    /// Seconds before an unacknowledged QoS 1/2 message is retried (default 60).
    ///@{
    unsigned int msgRetrySet() const;
    void setMsgRetrySet(const unsigned int &msgRetrySet);
    ///@}
    /// Client the worker creates: 0 asynchronous (QtMosquittoClientAsync, the
    /// default), 1 threaded (QtMosquittoClient). Any value but 1 stores 0.
    ///@{
    int mode() const;
    void setMode(const int &mode);
    ///@}
    /// Milliseconds handed to each network loop call of the synchronous
    /// client (default 0).
    ///@{
    int syncLoopTimeout() const;
    void setSyncLoopTimeout(const int &syncLoopTimeout);
    ///@}
    /// Milliseconds between network loop calls of the synchronous client
    /// (default 100).
    ///@{
    int syncLoopInterval() const;
    void setSyncLoopInterval(const int &syncLoopInterval);
    ///@}
    /// Milliseconds an open connection is kept before the worker rebuilds it;
    /// 0 or less: never (default 259200000, 72 hours).
    ///@{
    int reconnectTimeout() const;
    void setReconnectTimeout(const int &reconnectTimeout);
    ///@}

    /// Equal when every field is, the four flags included.
    ///@{
    bool operator==(const MosquittoConfig &other) const;
    bool operator!=(const MosquittoConfig &other) const { return !(*this == other); }
    ///@}

private:
    QSharedDataPointer<MosquittoConfigPrivate> d;
};

Q_DECLARE_SHARED(MosquittoConfig)
Q_DECLARE_METATYPE(MosquittoConfig)

#endif // ORVELEXTLIB_MOSQUITTOCONFIG_H
