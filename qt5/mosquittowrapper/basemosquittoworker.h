#ifndef ORVELEXTLIB_BASEMOSQUITTOWORKER_H
#define ORVELEXTLIB_BASEMOSQUITTOWORKER_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittoconfig.h>
#include <mosquittowrapper/mosquittoerrorcode.h>
#include <mosquittowrapper/mosquittomessage.h>
#include <workers/abstractworker.h>

#include <QByteArray>
#include <QScopedPointer>
#include <QSslConfiguration>
#include <QStringList>

class QtMosquittoClientBase;
class BaseMosquittoWorkerPrivate;

/// A worker that keeps one MQTT connection alive in its thread: it creates a
/// client (createClient()), opens it, subscribes its topics after every
/// connection, and watches the connection with a timer (every 120 s unless
/// setWatchInterval() says otherwise). At a tick after the connection was lost
/// or never came up, or once it has been open for reconnectTimeout ms, the
/// whole client is rebuilt. Messages are relayed through signals and slots.
/// Everything runs in the worker's thread.
class ORVELEXTLIB_EXPORT BaseMosquittoWorker : public AbstractWorker
{
    Q_OBJECT
public:
    /// The watch timer's interval unless set otherwise: two minutes.
    static constexpr int DefaultWatchInterval = 120000;

    /// A stopped worker without a parent, to be moved into its thread
    /// (AbstractWorkerThread). Subscribes `subscriptions` after each connection.
    BaseMosquittoWorker(const MosquittoConfig &config, const QStringList &subscriptions);
    /// The client and the timer, children of the worker, go with it.
    ~BaseMosquittoWorker() override;

    /// The topics (or filters) subscribed after each connection, at QoS 0.
    QStringList subscriptions() const;
    /// Takes effect at the next connection.
    void setSubscriptions(const QStringList &subscriptions);

    /// Milliseconds between two looks at the connection.
    int watchInterval() const;
    /// Milliseconds between two looks at the connection (at least 1). Call
    /// before the worker starts or from its thread; a running timer follows.
    void setWatchInterval(int msec);
    /// The TLS material handed to every client the worker creates (see
    /// QtMosquittoClientBase::setSslConfiguration()); until set, the clients
    /// use the process's default configuration. Call before the worker
    /// starts or from its thread; a client already made keeps what it had.
    void setSslConfiguration(const QSslConfiguration &configuration);

signals:
    /// Requests wired to the current client's publish(), subscribe() and
    /// unsubscribe() slots (queued for the asynchronous client). A request
    /// made while there is no client, or none connected, is lost.
    ///@{
    void publish(MosquittoMessage msg);
    void subscribe(QByteArray sub, int qos = 0);
    void unsubscribe(QByteArray sub);
    ///@}
    /// Every message the client receives.
    void recieved(MosquittoMessage msg);

public slots:
    /// Publishes when the client is open; otherwise drops the message.
    void sendMessage(MosquittoMessage msg);
    /// Subscribes when the client is open (not renewed after a reconnection).
    void subscribeTo(QByteArray sub, int qos = 0);
    /// Unsubscribes when the client is open.
    void unsubscribeFrom(QByteArray sub);

protected slots:
    /// The watch timer's tick: calls doReconnect().
    void reconnect();
    /// The client opened: unsubscribes and subscribes each topic again (on a
    /// failure unsubscribes all, logs "SUBSCRIPTION ERROR" and closes the
    /// client) and records the connection time.
    void onConnect();
    /// The client closed: forgets the connection time, so the next tick rebuilds it.
    void onDisconnect();
    /// Writes "MOSQTUITTO ERROR: <code> (<message>)" as a critical log record.
    void onMosquittoError(qtmosquitto::MosquittoErrorCode error, QString errorMessage);

protected:
    /// A fresh start: stops first, creates and opens the client, starts the
    /// watch timer. False (logged "START FALSE") when no client was created.
    bool doStart() override;
    /// Stops the timer and deletes the client.
    bool doStop() override;
    /// Creates the client unless one exists (see setClient()).
    virtual void createClient() = 0;
    /// One tick of the watch timer.
    virtual void doReconnect();
    /// "<objectName>_<address in hex>", or
    /// "<applicationName>_<class name>_<address in hex>" without a name.
    virtual QByteArray clientId() const;

    /// The configuration given to the constructor.
    MosquittoConfig config() const;
    /// The current client; null while stopped or before createClient().
    QtMosquittoClientBase *client() const;
    /// Hands the worker its client (a child of the worker), for createClient(),
    /// with the TLS material of setSslConfiguration() when it was set.
    void setClient(QtMosquittoClientBase *client);
    /// True between a successful doStart() and the next doStop().
    bool isStarted() const;

private:
    QScopedPointer<BaseMosquittoWorkerPrivate> d_ptr;
    Q_DECLARE_PRIVATE(BaseMosquittoWorker)
    Q_DISABLE_COPY(BaseMosquittoWorker)
};

#endif // ORVELEXTLIB_BASEMOSQUITTOWORKER_H
