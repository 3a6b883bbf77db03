#ifndef ORVELEXTLIB_MOSQUITTOHANDLERSFACTORY_H
#define ORVELEXTLIB_MOSQUITTOHANDLERSFACTORY_H

#include <orvelextlib_export.h>

#include <mosquittowrapper/mosquittomessage.h>

#include <QByteArray>
#include <QObject>

class BaseMosquittoHandler;

/// The hub between one worker and any number of handlers: every message it
/// hears goes to every registered handler, every handler request goes out
/// through its signals. All handler connections are queued.
class ORVELEXTLIB_EXPORT MosquittoHandlersFactory : public QObject
{
    Q_OBJECT
public:
    /// A factory with no handlers; BaseMosquittoController::createFactory()
    /// wires one to a worker.
    explicit MosquittoHandlersFactory(QObject *parent = nullptr);
    /// Handlers created with the factory as their parent go with it.
    ~MosquittoHandlersFactory() override;

    /// A new BaseMosquittoHandler with the given parent, registered here.
    BaseMosquittoHandler *createBaseHandler(QObject *parent);
    /// Registers a handler; registering it again leaves one set of
    /// connections. A null handler is ignored.
    void registreExistingHandler(BaseMosquittoHandler *handler);

signals:
    /// A message from the worker, passed to every registered handler.
    void recieved(MosquittoMessage msg);
    /// A handler's request, passed on to the worker.
    ///@{
    void publish(MosquittoMessage msg);
    void subscribe(QByteArray sub, int qos = 0);
    void unsubscribe(QByteArray sub);
    ///@}

private:
    void connectHandler(BaseMosquittoHandler *handler);

    Q_DISABLE_COPY(MosquittoHandlersFactory)
};

#endif // ORVELEXTLIB_MOSQUITTOHANDLERSFACTORY_H
