#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittoconfig.h>
#include <mosquittowrapper/mosquittoerrorcode.h>
#include <mosquittowrapper/mosquittomessage.h>

#include <QByteArray>
#include <QObject>
#include <QScopedPointer>
#include <QSslConfiguration>

class QtMosquittoClientPrivate;

/// The MQTT client the rest of the library and hosts talk to. It owns one
/// libmosquitto binding, applies a MosquittoConfig to it and leaves driving
/// the network loop to its subclasses. Failed operations are reported once
/// through error(code, "<operation>: <libmosquitto's text>"); publish(),
/// subscribe() and unsubscribe() also return false, silently so while the
/// client is not connected. Call init() once before the first client is used
/// and release() once at the end. A client is called in the thread it lives in.
class ORVELEXTLIB_EXPORT QtMosquittoClientBase : public QObject
{
    Q_OBJECT
public:
    /// libmosquitto's code for MQTT 3.1, the protocol every client speaks.
    static constexpr int PROTOCOL = 3;

    /// Copies the configuration. With createBinding, creates the binding with
    /// clientId (empty: libmosquitto makes one up) and the configuration's
    /// clean-session flag; without, the subclass has no binding (QtMosquittoClient).
    QtMosquittoClientBase(const MosquittoConfig &config, const QByteArray &clientId,
                          bool createBinding, QObject *parent = nullptr);
    /// Destroys the binding, which emits nothing meanwhile.
    ~QtMosquittoClientBase() override;

    /// Registers the MQTT meta-types ("MosquittoErrorCode",
    /// "qtmosquitto::MosquittoErrorCode", "MosquittoMessage") and initialises
    /// libmosquitto. Process-wide; once, at start-up.
    static void init();
    /// Releases libmosquitto. Process-wide; once, at shut-down.
    static void release();

    /// The configuration given to the constructor.
    MosquittoConfig config() const;

    /// The TLS material of connections whose configuration has useSsl(): the
    /// CA certificates that may vouch for the broker (the system's when the
    /// list is empty) and the local certificate and private key offered to a
    /// broker that asks for one. The broker is always verified and its name
    /// checked against MosquittoConfig::host(), whatever the configuration
    /// says about peer verification. Until set, the process's
    /// QSslConfiguration::defaultConfiguration() at the time of each open()
    /// is used (which CryptoDataManager::prepareDefaultSSlConfig() installs).
    /// Call in the client's thread; takes effect at the next open().
    void setSslConfiguration(const QSslConfiguration &configuration);
    /// The configuration set, or else the process's default.
    QSslConfiguration sslConfiguration() const;
    /// The binding exists and reports a connection: acknowledged by the
    /// broker and, when started asynchronously, with libmosquitto's thread running.
    virtual bool isOpen() const;

signals:
    /// The broker accepted the connection.
    void opened();
    /// The connection ended (lost, or closed; see the subclasses).
    void closed();
    /// A message with a topic and a payload arrived; others are dropped.
    void recieved(MosquittoMessage msg);
    /// An operation failed, or the broker refused the connection. The message
    /// is "<operation>: <libmosquitto's text>", or the CONNACK text alone.
    void error(qtmosquitto::MosquittoErrorCode error, QString errorMessage);

public slots:
    /// Connects to the configured broker (doOpen()); opened() follows on success.
    void open();
    /// Disconnects (doClose()).
    void close();
    /// Publishes msg (doPublish()). False when not connected (silently) or
    /// when libmosquitto refuses (with error()).
    bool publish(MosquittoMessage msg);
    /// Subscribes to a topic filter (doSubscribe()); fails as publish().
    bool subscribe(QByteArray sub, int qos = 0);
    /// Unsubscribes from a topic filter (doUnsubscribe()); fails as publish().
    bool unsubscribe(QByteArray sub);

protected slots:
    /// The binding reported connected(): calls prepareMqttConnect().
    void mqttConnected();
    /// The binding reported disconnected(): calls prepareMqttDisconnect().
    void mqttDisconnected();

protected:
    /// Starts the connection, as open() describes.
    virtual void doOpen() = 0;
    /// Ends the connection, as close() describes.
    virtual void doClose() = 0;
    /// Hands msg to libmosquitto; the result is publish()'s.
    virtual bool doPublish(MosquittoMessage msg) = 0;
    /// Subscribes; the result is subscribe()'s.
    virtual bool doSubscribe(const QByteArray &sub, int qos) = 0;
    /// Unsubscribes; the result is unsubscribe()'s.
    virtual bool doUnsubscribe(const QByteArray &sub) = 0;
    /// A connection came up (the binding's connected()); emits opened().
    virtual void prepareMqttConnect() = 0;
    /// The connection ended (the binding's disconnected()); emits closed().
    virtual void prepareMqttDisconnect() = 0;

    /// Null when the subclass asked for none.
    QtMosquittoClientPrivate *binding() const { return m_binding.data(); }
    /// Hands credentials, proxy, in-flight limit, protocol, retry, (async)
    /// reconnect delay and, with useSsl(), the TLS context to the binding,
    /// then connects, blocking or not. Returns the connect call's result;
    /// when TLS cannot be set up it returns false without connecting.
    bool applyConfigAndConnect(bool async);
    /// True once setSslConfiguration() was called.
    bool hasSslConfiguration() const { return m_hasSslConfiguration; }

private:
    MosquittoConfig m_config;
    QSslConfiguration m_sslConfiguration;
    bool m_hasSslConfiguration = false;
    QScopedPointer<QtMosquittoClientPrivate> m_binding;

    Q_DISABLE_COPY(QtMosquittoClientBase)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H
