#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittoconfig.h>
#include <mosquittowrapper/mosquittoerrorcode.h>
#include <mosquittowrapper/mosquittomessage.h>

#include <QByteArray>
#include <QObject>
#include <QScopedPointer>

class QtMosquittoClientPrivate;

/// The MQTT client the rest of the library and hosts talk to. It owns one
/// libmosquitto binding, applies a MosquittoConfig to it and leaves driving
/// the network loop to its subclasses. Failed operations are reported once
/// through error(code, "<operation>: <libmosquitto's text>"); publish(),
/// subscribe() and unsubscribe() also return false, silently so while the
/// client is not connected. Call init() once before the first client is used
/// and release() once at the end.
class ORVELEXTLIB_EXPORT QtMosquittoClientBase : public QObject
{
    Q_OBJECT
public:
    /// libmosquitto's code for MQTT 3.1, the protocol every client speaks.
    static constexpr int PROTOCOL = 3;

    /// Copies the configuration. With createBinding, creates the binding with
    /// clientId and the configuration's clean-session flag.
    QtMosquittoClientBase(const MosquittoConfig &config, const QByteArray &clientId,
                          bool createBinding, QObject *parent = nullptr);
    ~QtMosquittoClientBase() override;

    /// Registers the MQTT meta-types ("MosquittoErrorCode",
    /// "qtmosquitto::MosquittoErrorCode", "MosquittoMessage") and initialises
    /// libmosquitto. Process-wide; once, at start-up.
    static void init();
    /// Releases libmosquitto. Process-wide; once, at shut-down.
    static void release();

    MosquittoConfig config() const;
    /// The binding exists and reports a connection.
    virtual bool isOpen() const;

signals:
    void opened();
    void closed();
    void recieved(MosquittoMessage msg);
    void error(qtmosquitto::MosquittoErrorCode error, QString errorMessage);

public slots:
    void open();
    void close();
    bool publish(MosquittoMessage msg);
    bool subscribe(QByteArray sub, int qos = 0);
    bool unsubscribe(QByteArray sub);

protected slots:
    void mqttConnected();
    void mqttDisconnected();

protected:
    virtual void doOpen() = 0;
    virtual void doClose() = 0;
    virtual bool doPublish(MosquittoMessage msg) = 0;
    virtual bool doSubscribe(const QByteArray &sub, int qos) = 0;
    virtual bool doUnsubscribe(const QByteArray &sub) = 0;
    /// The binding reported connected().
    virtual void prepareMqttConnect() = 0;
    /// The binding reported disconnected().
    virtual void prepareMqttDisconnect() = 0;

    /// Null when the subclass asked for none.
    QtMosquittoClientPrivate *binding() const { return m_binding.data(); }
    /// Hands credentials, proxy, in-flight limit, protocol, retry and (async)
    /// reconnect delay to the binding, then connects, blocking or not.
    /// Returns the connect call's result.
    bool applyConfigAndConnect(bool async);

private:
    MosquittoConfig m_config;
    QScopedPointer<QtMosquittoClientPrivate> m_binding;

    Q_DISABLE_COPY(QtMosquittoClientBase)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENTBASE_H
