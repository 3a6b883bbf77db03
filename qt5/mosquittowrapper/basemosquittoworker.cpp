#include "basemosquittoworker.h"
#include "basemosquittoworker_p.h"

#include <logger/loglist.h>

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

BaseMosquittoWorker::BaseMosquittoWorker(const MosquittoConfig &config,
                                         const QStringList &subscriptions)
    : d_ptr(new BaseMosquittoWorkerPrivate(config, subscriptions))
{
}

BaseMosquittoWorker::~BaseMosquittoWorker() = default;

QStringList BaseMosquittoWorker::subscriptions() const
{
    Q_D(const BaseMosquittoWorker);
    return d->subscriptions;
}

void BaseMosquittoWorker::setSubscriptions(const QStringList &subscriptions)
{
    Q_D(BaseMosquittoWorker);
    d->subscriptions = subscriptions;
}

int BaseMosquittoWorker::watchInterval() const
{
    Q_D(const BaseMosquittoWorker);
    return d->watchInterval.load();
}

void BaseMosquittoWorker::setWatchInterval(int msec)
{
    Q_D(BaseMosquittoWorker);
    d->watchInterval = qMax(1, msec);
    if (d->reconnectTimer && d->reconnectTimer->thread() == QThread::currentThread())
        d->reconnectTimer->setInterval(d->watchInterval.load());
}

MosquittoConfig BaseMosquittoWorker::config() const
{
    Q_D(const BaseMosquittoWorker);
    return d->config;
}

QtMosquittoClientBase *BaseMosquittoWorker::client() const
{
    Q_D(const BaseMosquittoWorker);
    return d->client.data();
}

void BaseMosquittoWorker::setClient(QtMosquittoClientBase *client)
{
    Q_D(BaseMosquittoWorker);
    d->client = client;
    if (client && d->hasSslConfiguration)
        client->setSslConfiguration(d->sslConfiguration);
}

void BaseMosquittoWorker::setSslConfiguration(const QSslConfiguration &configuration)
{
    Q_D(BaseMosquittoWorker);
    d->sslConfiguration = configuration;
    d->hasSslConfiguration = true;
}

bool BaseMosquittoWorker::isStarted() const
{
    Q_D(const BaseMosquittoWorker);
    return d->started;
}

void BaseMosquittoWorker::sendMessage(MosquittoMessage msg)
{
    Q_D(BaseMosquittoWorker);
    if (d->client && d->client->isOpen())
        d->client->publish(msg);
}

void BaseMosquittoWorker::subscribeTo(QByteArray sub, int qos)
{
    Q_D(BaseMosquittoWorker);
    if (d->client && d->client->isOpen())
        d->client->subscribe(sub, qos);
}

void BaseMosquittoWorker::unsubscribeFrom(QByteArray sub)
{
    Q_D(BaseMosquittoWorker);
    if (d->client && d->client->isOpen())
        d->client->unsubscribe(sub);
}

void BaseMosquittoWorker::reconnect()
{
    doReconnect();
}

void BaseMosquittoWorker::onConnect()
{
    Q_D(BaseMosquittoWorker);
    qWarning() << d->client.data() << loglist(d->subscriptions)
               << (d->connectTime.isValid() ? d->connectTime.elapsed() : -1);
    if (d->client && !d->subscriptions.isEmpty()) {
        qWarning() << (d->client->isOpen() ? "true" : "false");
        for (const QString &topic : qAsConst(d->subscriptions)) {
            const QByteArray sub = topic.toUtf8();
            const bool unsubscribed = d->client->unsubscribe(sub);
            const bool subscribed = d->client && d->client->subscribe(sub, 0);
            if (unsubscribed && subscribed)
                continue;
            qWarning() << "SUBSCRIPTION ERROR";
            if (d->client) {
                for (const QString &other : qAsConst(d->subscriptions))
                    d->client->unsubscribe(other.toUtf8());
                d->client->close();
            }
            break;
        }
    }
    d->connectTime.start();
}

void BaseMosquittoWorker::onDisconnect()
{
    Q_D(BaseMosquittoWorker);
    d->connectTime.invalidate();
}

void BaseMosquittoWorker::onMosquittoError(qtmosquitto::MosquittoErrorCode error,
                                           QString errorMessage)
{
    qCritical() << QStringLiteral("MOSQTUITTO ERROR: %1 (%2)")
                       .arg(static_cast<int>(error))
                       .arg(errorMessage);
}

bool BaseMosquittoWorker::doStart()
{
    Q_D(BaseMosquittoWorker);
    qWarning() << "START";
    doStop();
    createClient();
    if (!d->client) {
        qCritical() << "START FALSE";
        return false;
    }
    qWarning() << "START";
    d->started = true;
    d->client->open();
    qWarning() << "START";
    auto *timer = new QTimer(this);
    timer->setInterval(d->watchInterval.load());
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, this, &BaseMosquittoWorker::reconnect);
    timer->start();
    d->reconnectTimer = timer;
    qWarning() << "START";
    return true;
}

bool BaseMosquittoWorker::doStop()
{
    Q_D(BaseMosquittoWorker);
    qWarning() << "STOP";
    d->started = false;
    if (d->reconnectTimer) {
        QTimer *timer = d->reconnectTimer;
        d->reconnectTimer.clear();
        timer->blockSignals(true);
        timer->stop();
        // A rebuild runs inside this timer's timeout(): delete it only once
        // that delivery is over.
        timer->deleteLater();
    }
    qWarning() << "STOP";
    if (!d->client)
        return true;
    QtMosquittoClientBase *client = d->client;
    client->blockSignals(true);
    disconnect(this, &BaseMosquittoWorker::publish, client, &QtMosquittoClientBase::publish);
    disconnect(this, &BaseMosquittoWorker::subscribe, client, &QtMosquittoClientBase::subscribe);
    disconnect(this, &BaseMosquittoWorker::unsubscribe, client,
               &QtMosquittoClientBase::unsubscribe);
    qWarning() << "STOP";
    client->close();
    qWarning() << "STOP";
    // Cleared first: a threaded client delivers this thread's events while it
    // goes, and nothing delivered then may reach the half-destroyed client.
    d->client.clear();
    delete client;
    qWarning() << "STOP";
    return true;
}

void BaseMosquittoWorker::doReconnect()
{
    Q_D(BaseMosquittoWorker);
    if (!d->started)
        return;
    // Read once: libmosquitto's own thread may connect meanwhile.
    const bool open = d->client && d->client->isOpen();
    // Open without a connection time: libmosquitto reconnected by itself and
    // onConnect() has not run yet. That connection was only just made.
    if (open && !d->connectTime.isValid())
        d->connectTime.start();
    if ((!d->client || open) && d->connectTime.isValid()) {
        const int timeout = d->config.reconnectTimeout();
        if (timeout <= 0)
            return;
        if (d->connectTime.elapsed() < timeout)
            return;
    }
    if (open) {
        for (const QString &topic : qAsConst(d->subscriptions))
            d->client->unsubscribe(topic.toUtf8());
        qWarning() << d->connectTime.elapsed() << (d->client->isOpen() ? "true" : "false");
    }
    doStart();
    d->connectTime.invalidate();
}

QByteArray BaseMosquittoWorker::clientId() const
{
    const QString address = QString::number(reinterpret_cast<quintptr>(this), 16);
    if (!objectName().isEmpty())
        return (objectName() + QLatin1Char('_') + address).toUtf8();
    return QStringLiteral("%1_%2_%3")
        .arg(QCoreApplication::applicationName(),
             QString::fromUtf8(metaObject()->className()), address)
        .toUtf8();
}
