#ifndef ORVELEXTLIB_QTMOSQUITTOCLIENT_H
#define ORVELEXTLIB_QTMOSQUITTOCLIENT_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/qtmosquittoclientbase.h>

#include <QPointer>

class QThread;
class QtMosquittoClientSync;

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
    /// Creates the thread with the inner client (same configuration and
    /// client id) inside, wires them with queued connections and starts it.
    QtMosquittoClient(const MosquittoConfig &config, const QByteArray &clientId,
                      QObject *parent = nullptr);
    /// Quits the thread and delivers this thread's events until it has
    /// finished (no time limit); the inner client goes with the thread.
    ~QtMosquittoClient() override;

    /// True between the arrival here of the inner client's opened() and closed().
    bool isOpen() const override;

signals:
    /// Requests for the inner client, delivered queued in its thread. The
    /// bool results of the last three are not read.
    ///@{
    void needOpen();
    void needClose();
    bool needPublish(MosquittoMessage msg);
    bool needSubscribe(QByteArray sub, int qos);
    bool needUnsubscribe(QByteArray sub);
    ///@}
    /// The inner client's signals, arrived in this thread. They repeat the
    /// base class's and are forwarded to them, so receivers connected through
    /// either class hear them.
    ///@{
    void opened();
    void closed();
    void recieved(MosquittoMessage msg);
    void error(qtmosquitto::MosquittoErrorCode error, QString errorMessage);
    ///@}

protected:
    /// Each emits its request (doOpen() emits needOpen(), and so on); the
    /// three with a result return true whatever becomes of the request.
    ///@{
    void doOpen() override;
    void doClose() override;
    bool doPublish(MosquittoMessage msg) override;
    bool doSubscribe(const QByteArray &sub, int qos) override;
    bool doUnsubscribe(const QByteArray &sub) override;
    ///@}
    void prepareMqttConnect() override;
    void prepareMqttDisconnect() override;

private:
    QThread *m_workerThread = nullptr;
    bool m_openFlag = false;
    QPointer<QtMosquittoClientSync> m_inner;

    Q_DISABLE_COPY(QtMosquittoClient)
};

#endif // ORVELEXTLIB_QTMOSQUITTOCLIENT_H
