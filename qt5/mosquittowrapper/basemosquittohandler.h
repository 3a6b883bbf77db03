#ifndef ORVELEXTLIB_BASEMOSQUITTOHANDLER_H
#define ORVELEXTLIB_BASEMOSQUITTOHANDLER_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittomessage.h>

#include <QByteArray>
#include <QObject>

/// Application-side end of the MQTT stack: receives every message the worker
/// receives (through MosquittoHandlersFactory) and sends publish, subscribe
/// and unsubscribe requests as signals. Derive and override processMessage()
/// to pick the topics of interest; the library does no topic matching.
class ORVELEXTLIB_EXPORT BaseMosquittoHandler : public QObject
{
    Q_OBJECT
public:
    /// A handler that is not yet registered with a factory.
    explicit BaseMosquittoHandler(QObject *parent = nullptr);
    /// Registered connections end with the handler.
    ~BaseMosquittoHandler() override;

signals:
    /// A message for this handler, whole and as topic and payload (emitted by
    /// the default processMessage()).
    ///@{
    void recieved(MosquittoMessage msg);
    void recieved(QByteArray topic, QByteArray data);
    ///@}
    /// Requests that the factory passes on to the worker. Nothing comes back:
    /// a failure shows only in the worker's log.
    ///@{
    void publishMsg(MosquittoMessage msg);
    void subscribeTo(QByteArray sub, int qos = 0);
    void unsubscribeFrom(QByteArray sub);
    ///@}

public slots:
    /// Requests publishing msg (emits publishMsg()).
    void publish(MosquittoMessage msg);
    /// Publishes payload msg on topic with qos 0 and retain true.
    void publish(QByteArray topic, QByteArray msg);
    /// Requests a subscription (emits subscribeTo()). The worker does not
    /// renew it after a reconnection.
    void subscribe(QByteArray sub, int qos = 0);
    /// Requests an unsubscription (emits unsubscribeFrom()).
    void unsubscribe(QByteArray sub);

protected slots:
    /// A message from the factory: calls processMessage().
    void processRecievedMsg(MosquittoMessage msg);

protected:
    /// Emits both recieved() signals; override to act on chosen topics.
    virtual void processMessage(MosquittoMessage msg);

private:
    Q_DISABLE_COPY(BaseMosquittoHandler)
};

#endif // ORVELEXTLIB_BASEMOSQUITTOHANDLER_H
