#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENT_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENT_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/qtmosquittoclientbase.h>

class QThread;

/// An MQTT client whose work runs in a thread of its own: it owns a QThread
/// with a QtMosquittoClientSync inside. Every call becomes a queued request
/// (needOpen() and the others), every signal of the inner client comes back
/// queued. publish(), subscribe() and unsubscribe() always return true;
/// failures show only as a later error(). isOpen() follows the opened() and
/// closed() signals as they arrive in the caller's thread. The destructor
/// stops the thread (delivering the caller's events while it waits) and so
/// ends the inner client and its connection.
class ORVELEXTLIB_EXPORT QtMosquittoClient : public QtMosquittoClientBase
{
    Q_OBJECT
public:
    QtMosquittoClient(const MosquittoConfig &config, const QByteArray &clientId,
                      QObject *parent = nullptr);
    ~QtMosquittoClient() override;

    bool isOpen() const override;

signals:
    void needOpen();
    void needClose();
    bool needPublish(MosquittoMessage msg);
    bool needSubscribe(QByteArray sub, int qos);
    bool needUnsubscribe(QByteArray sub);
    void opened();
    void closed();
    void recieved(MosquittoMessage msg);
    void error(qtmosquitto::MosquittoErrorCode error, QString errorMessage);

protected:
    void doOpen() override;
    void doClose() override;
    bool doPublish(MosquittoMessage msg) override;
    bool doSubscribe(const QByteArray &sub, int qos) override;
    bool doUnsubscribe(const QByteArray &sub) override;
    void prepareMqttConnect() override;
    void prepareMqttDisconnect() override;

private:
    QThread *m_workerThread = nullptr;
    bool m_openFlag = false;

    Q_DISABLE_COPY(QtMosquittoClient)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENT_H
