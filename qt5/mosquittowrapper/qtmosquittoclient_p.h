#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENT_P_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENT_P_H

// The one place where the MQTT stack touches libmosquitto. Not installed.

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittoerrorcode.h>
#include <mosquittowrapper/mosquittomessage.h>

#include <QByteArray>
#include <QSslConfiguration>
#include <QMutex>
#include <QNetworkProxy>
#include <QWaitCondition>
#include <QObject>
#include <QString>

#include <mosquittopp.h>

#include <atomic>

typedef struct ssl_ctx_st SSL_CTX;

/// A libmosquitto client whose callbacks come out as Qt signals. Every
/// labelled operation returns true when libmosquitto returned 0; otherwise it
/// emits mosquittoError() once with "<label>: <libmosquitto's text>" and
/// returns false. Callbacks, and so the signals connected(), disconnected(),
/// recieved() and CONNACK errors, come from whichever thread drives the
/// network loop (libmosquitto's own after mosquittoLoopStart()).
class ORVELEXTLIB_AUTOTEST_EXPORT QtMosquittoClientPrivate : public QObject, public mosqpp::mosquittopp
{
    Q_OBJECT
public:
    explicit QtMosquittoClientPrivate(QObject *parent = nullptr);
    QtMosquittoClientPrivate(const QByteArray &clientId, QObject *parent);
    QtMosquittoClientPrivate(bool cleanSession, QObject *parent);
    QtMosquittoClientPrivate(const QByteArray &clientId, bool cleanSession, QObject *parent);
    /// Stops libmosquitto's network thread before anything else goes, and
    /// emits nothing meanwhile.
    ~QtMosquittoClientPrivate() override;

    bool mosquittoReinitialize(const QByteArray &clientId, bool cleanSession);
    bool setWill(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    bool clearWill();
    bool setUserAndPassword(const QString &user, const QString &password);
    bool mosquittoWantWrite();
    void setMessageRetry(unsigned int seconds);
    void setReconnectDelay(unsigned int delay, unsigned int delayMax, bool exponential);

    bool mosquittoConnect(const QString &host, quint16 port, int keepAlive);
    bool mosquittoConnect(const QString &host, quint16 port, int keepAlive, const QString &bindAddress);
    bool mosquittoConnectAsync(const QString &host, quint16 port, int keepAlive);
    bool mosquittoConnectAsync(const QString &host, quint16 port, int keepAlive,
                               const QString &bindAddress);
    bool mosquittoReconnect();
    bool mosquittoReconnectAsync();
    bool mosquittoDisconnect();

    /// Publish, subscribe and unsubscribe return false at once, reporting
    /// nothing, while there is no accepted connection or while an
    /// asynchronous connection has no network thread.
    bool mosquittoPublish(const MosquittoMessage &msg);
    bool mosquittoSubscribe(const QByteArray &sub, int qos);
    bool mosquittoUnsubscribe(const QByteArray &sub);

    bool mosquittoLoop(int timeout, int maxPackets);
    bool mosquittoLoopMisc();
    bool mosquittoLoopRead(int maxPackets);
    bool mosquittoLoopWrite(int maxPackets);
    bool mosquittoLoopForever(int timeout, int maxPackets);
    bool mosquittoLoopStart();
    /// False at once, calling nothing, when the network thread does not run.
    bool mosquittoLoopStop(bool force);

    bool setMaxInfliteMessages(unsigned int count);
    bool setOpts(mosq_opt_t option, void *value);
    /// Only a SOCKS5 proxy is handed on; any other type is a silent false.
    bool setProxy(const QNetworkProxy &proxy);
    /// Makes the next connections TLS (1.2 or later) with the material of
    /// `configuration`, the broker verified and its certificate checked
    /// against `host`. On failure reports TlsError labelled "mosquittoTlsSet"
    /// and returns false; the caller must not connect then. Called while no
    /// network thread runs (the asynchronous client stops it first).
    bool mosquittoTlsSet(const QSslConfiguration &configuration, const QString &host);

    /// Connected, and driven: a connection started asynchronously counts only
    /// while libmosquitto's network thread runs.
    bool isConnected() const;
    bool isLoopRunning() const { return m_loopRunning.load(std::memory_order_acquire); }
    /// Number of disconnection callbacks so far; any thread.
    int disconnections() const;
    /// Blocks until the disconnection callback has run more than `seen`
    /// times in all, or `msecs` have passed. For libmosquitto's own thread
    /// finishing a requested disconnect; any thread but that one.
    bool waitForDisconnection(int seen, int msecs);

    qtmosquitto::MosquittoErrorCode errCode(int rc) const;
    qtmosquitto::MosquittoErrorCode conResCode(int rc) const;
    void sendError(const QString &where, int rc, bool emitSignal);
    void sendResCde(int rc, bool emitSignal);

    void on_connect(int rc) override;
    void on_disconnect(int rc) override;
    void on_publish(int) override { }
    void on_message(const struct mosquitto_message *message) override;
    void on_subscribe(int, int, const int *) override { }
    void on_unsubscribe(int) override { }
    // Notes OpenSSL's reason for a failed TLS handshake; one in libmosquitto's
    // own thread is reported at once, there being no call to return it.
    void on_log(int level, const char *str) override;
    void on_error() override { }

signals:
    void connected();
    void disconnected();
    void recieved(MosquittoMessage msg);
    void mosquittoError(qtmosquitto::MosquittoErrorCode error, QString errorMessage);

private:
    bool report(const char *where, int rc);
    bool endsHandshake(int rc, int error) const;
    QString errorText(int rc, int error) const;
    bool canSend() const;

    // Written by libmosquitto's thread, read by the owner's thread.
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_asyncConnect{false};
    std::atomic<bool> m_loopRunning{false};
    mutable QMutex m_disconnectMutex;
    QWaitCondition m_disconnectCondition;
    int m_disconnections = 0;
    // Touched only by the thread that runs the callbacks.
    QByteArray m_lastTopic;
    // The context of TLS connections (one reference of ours), and OpenSSL's
    // reason for the last failed handshake, written by whichever thread made it.
    SSL_CTX *m_tlsContext = nullptr;
    // What m_tlsContext was made from: a reopened client with the same ones
    // keeps it.
    QSslConfiguration m_tlsConfiguration;
    QString m_tlsHost;
    QMutex m_tlsMutex;
    QString m_tlsReason;
    std::atomic<bool> m_tlsFailed{false}; // a reason waits in m_tlsReason
    std::atomic<bool> m_tlsReported{false}; // this attempt's failure was reported
    std::atomic<bool> m_acknowledged{false}; // by the broker since TLS was set up

    Q_DISABLE_COPY(QtMosquittoClientPrivate)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENT_P_H
