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
    explicit BaseMosquittoHandler(QObject *parent = nullptr);
    ~BaseMosquittoHandler() override;

signals:
    void recieved(MosquittoMessage msg);
    void recieved(QByteArray topic, QByteArray data);
    void publishMsg(MosquittoMessage msg);
    void subscribeTo(QByteArray sub, int qos = 0);
    void unsubscribeFrom(QByteArray sub);

public slots:
    void publish(MosquittoMessage msg);
    /// Publishes payload msg on topic with qos 0 and retain true.
    void publish(QByteArray topic, QByteArray msg);
    void subscribe(QByteArray sub, int qos = 0);
    void unsubscribe(QByteArray sub);

protected slots:
    void processRecievedMsg(MosquittoMessage msg);

protected:
    /// Emits both recieved() signals; override to act on chosen topics.
    virtual void processMessage(MosquittoMessage msg);

private:
    Q_DISABLE_COPY(BaseMosquittoHandler)
};

#endif // ORVELEXTLIB_BASEMOSQUITTOHANDLER_H
