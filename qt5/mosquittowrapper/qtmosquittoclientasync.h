#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENTASYNC_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENTASYNC_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/qtmosquittoclientbase.h>

/// An MQTT client whose network loop runs in libmosquitto's own thread; the
/// client only connects and starts that thread. Signals reach the owner's
/// thread queued. libmosquitto reconnects a lost connection by itself, after
/// 3 s, doubling up to 30 s. open() on an open client closes it.
class ORVELEXTLIB_EXPORT QtMosquittoClientAsync : public QtMosquittoClientBase
{
    Q_OBJECT
public:
    /// A client with its own binding; connects nothing until open().
    QtMosquittoClientAsync(const MosquittoConfig &config, const QByteArray &clientId,
                           QObject *parent = nullptr);
    /// Emits nothing while it goes; stops libmosquitto's thread.
    ~QtMosquittoClientAsync() override;

protected:
    /// Applies the configuration, connects without blocking and starts
    /// libmosquitto's thread, retrying that start (each failure an error())
    /// for up to 10 s. On an open client, closes it instead.
    void doOpen() override;
    /// Disconnects and stops libmosquitto's thread; closed() follows only if
    /// the binding reports the disconnection.
    void doClose() override;
    bool doPublish(MosquittoMessage msg) override;
    bool doSubscribe(const QByteArray &sub, int qos) override;
    bool doUnsubscribe(const QByteArray &sub) override;
    void prepareMqttConnect() override;
    void prepareMqttDisconnect() override;

private:
    Q_DISABLE_COPY(QtMosquittoClientAsync)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENTASYNC_H
