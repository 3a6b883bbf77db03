#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENTSYNC_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENTSYNC_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/qtmosquittoclientbase.h>

class QTimer;

/// An MQTT client that does everything in its own thread: a single-shot timer
/// calls libmosquitto's network loop (syncLoopTimeout ms, one packet) every
/// syncLoopInterval ms after the previous call ended. The connect blocks. A
/// lost connection stops the loop until the next open().
class ORVELEXTLIB_EXPORT QtMosquittoClientSync : public QtMosquittoClientBase
{
    Q_OBJECT
public:
    /// A client with its own binding and a stopped loop timer; connects
    /// nothing until open().
    QtMosquittoClientSync(const MosquittoConfig &config, const QByteArray &clientId,
                          QObject *parent = nullptr);
    /// Stops the loop timer; the binding goes with the base.
    ~QtMosquittoClientSync() override;

protected:
    /// Closes first, always, then connects and starts the loop timer whatever
    /// the connect returned.
    void doOpen() override;
    /// Disconnects without a disconnected() coming back and stops the loop;
    /// emits closed() itself when the client was connected.
    void doClose() override;
    bool doPublish(MosquittoMessage msg) override;
    bool doSubscribe(const QByteArray &sub, int qos) override;
    bool doUnsubscribe(const QByteArray &sub) override;
    void prepareMqttConnect() override;
    void prepareMqttDisconnect() override;

private slots:
    void loop();

private:
    QTimer *m_loopTimer = nullptr;

    Q_DISABLE_COPY(QtMosquittoClientSync)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENTSYNC_H
