#include "qtmosquittoclient_p.h"

#include "mosquittoplatform_p.h"
#include "mosquittotls_p.h"

#include <QDeadlineTimer>

#include <openssl/ssl.h>

#include <cerrno>
#include <cstring>

using MosquittoPlatform::NoCancellation;

namespace {

// libmosquittopp keeps its libmosquitto handle private and offers no way to
// set integer options. An explicit instantiation may name a private member
// (access is not checked there), which hands its pointer-to-member out here.
struct MosquittoHandle
{
    using Type = struct mosquitto *mosqpp::mosquittopp::*;
    friend Type member(MosquittoHandle);
};

template<typename Tag, typename Tag::Type Member>
struct MemberOf
{
    friend typename Tag::Type member(Tag) { return Member; }
};

template struct MemberOf<MosquittoHandle, &mosqpp::mosquittopp::m_mosq>;

// The binding whose asynchronous connect runs on this thread. libmosquitto
// may make the whole handshake inside that call, whose result then reports a
// failure; in its own network thread nothing else would.
thread_local const QtMosquittoClientPrivate *t_connecting = nullptr;

class ConnectingScope
{
public:
    explicit ConnectingScope(const QtMosquittoClientPrivate *binding)
        : m_previous(t_connecting)
    {
        t_connecting = binding;
    }
    ~ConnectingScope() { t_connecting = m_previous; }
    ConnectingScope(const ConnectingScope &) = delete;
    ConnectingScope &operator=(const ConnectingScope &) = delete;

private:
    const QtMosquittoClientPrivate *m_previous;
};

// libmosquitto refuses an empty client id; null lets it make one up.
const char *nullIfEmpty(const QByteArray &bytes)
{
    return bytes.isEmpty() ? nullptr : bytes.constData();
}

} // namespace

QtMosquittoClientPrivate::QtMosquittoClientPrivate(QObject *parent)
    : QObject(parent)
    , mosqpp::mosquittopp(nullptr, true)
{
}

QtMosquittoClientPrivate::QtMosquittoClientPrivate(const QByteArray &clientId, QObject *parent)
    : QObject(parent)
    , mosqpp::mosquittopp(nullIfEmpty(clientId), true)
{
}

QtMosquittoClientPrivate::QtMosquittoClientPrivate(bool cleanSession, QObject *parent)
    : QObject(parent)
    , mosqpp::mosquittopp(nullptr, cleanSession)
{
}

QtMosquittoClientPrivate::QtMosquittoClientPrivate(const QByteArray &clientId, bool cleanSession,
                                                   QObject *parent)
    : QObject(parent)
    , mosqpp::mosquittopp(nullIfEmpty(clientId), cleanSession)
{
}

// The callbacks running in libmosquitto's thread use the members, which go
// before the mosquittopp base would cancel and join that thread: it is stopped
// here first, with the signals blocked. Forcing it is safe, a callback is never
// cut short (NoCancellation); without a network thread this does nothing.
QtMosquittoClientPrivate::~QtMosquittoClientPrivate()
{
    blockSignals(true);
    loop_stop(true);
    m_loopRunning = false;
    SSL_CTX_free(m_tlsContext);
}

bool QtMosquittoClientPrivate::mosquittoReinitialize(const QByteArray &clientId, bool cleanSession)
{
    const bool ok = reinitialise(nullIfEmpty(clientId), cleanSession) == MOSQ_ERR_SUCCESS;
    // libmosquitto dropped its TLS context with everything else: the next
    // connection over TLS gets one made again.
    SSL_CTX_free(m_tlsContext);
    m_tlsContext = nullptr;
    return ok;
}

bool QtMosquittoClientPrivate::setWill(const QByteArray &topic, const QByteArray &payload, int qos,
                                       bool retain)
{
    return will_set(topic.constData(), payload.size(), payload.constData(), qos, retain)
           == MOSQ_ERR_SUCCESS;
}

bool QtMosquittoClientPrivate::clearWill()
{
    return will_clear() == MOSQ_ERR_SUCCESS;
}

bool QtMosquittoClientPrivate::setUserAndPassword(const QString &user, const QString &password)
{
    const QByteArray u = user.toUtf8();
    const QByteArray p = password.toUtf8();
    return username_pw_set(u.constData(), p.constData()) == MOSQ_ERR_SUCCESS;
}

bool QtMosquittoClientPrivate::mosquittoWantWrite()
{
    return want_write();
}

void QtMosquittoClientPrivate::setMessageRetry(unsigned int seconds)
{
    message_retry_set(seconds);
}

void QtMosquittoClientPrivate::setReconnectDelay(unsigned int delay, unsigned int delayMax,
                                                 bool exponential)
{
    reconnect_delay_set(delay, delayMax, exponential);
}

bool QtMosquittoClientPrivate::mosquittoConnect(const QString &host, quint16 port, int keepAlive)
{
    m_connected = false;
    m_asyncConnect = false;
    return report("mosquittoConnect", mosqpp::mosquittopp::connect(host.toUtf8().constData(), port, keepAlive));
}

bool QtMosquittoClientPrivate::mosquittoConnect(const QString &host, quint16 port, int keepAlive,
                                                const QString &bindAddress)
{
    m_connected = false;
    m_asyncConnect = false;
    return report("mosquittoConnect", mosqpp::mosquittopp::connect(host.toUtf8().constData(), port, keepAlive,
                                              bindAddress.toUtf8().constData()));
}

bool QtMosquittoClientPrivate::mosquittoConnectAsync(const QString &host, quint16 port,
                                                     int keepAlive)
{
    m_connected = false;
    m_asyncConnect = true;
    const ConnectingScope scope(this);
    return report("mosquittoConnectAsync",
                  connect_async(host.toUtf8().constData(), port, keepAlive));
}

bool QtMosquittoClientPrivate::mosquittoConnectAsync(const QString &host, quint16 port,
                                                     int keepAlive, const QString &bindAddress)
{
    m_connected = false;
    m_asyncConnect = true;
    const ConnectingScope scope(this);
    return report("mosquittoConnectAsync",
                  connect_async(host.toUtf8().constData(), port, keepAlive,
                                bindAddress.toUtf8().constData()));
}

bool QtMosquittoClientPrivate::mosquittoReconnect()
{
    m_connected = false;
    return report("mosquittoReconnect", reconnect());
}

bool QtMosquittoClientPrivate::mosquittoReconnectAsync()
{
    m_connected = false;
    const ConnectingScope scope(this);
    return report("mosquittoReconnectAsync", reconnect_async());
}

bool QtMosquittoClientPrivate::mosquittoDisconnect()
{
    if (!report("mosquittoDisconnect", mosqpp::mosquittopp::disconnect()))
        return false;
    m_connected = false;
    return true;
}

bool QtMosquittoClientPrivate::canSend() const
{
    if (!m_connected.load(std::memory_order_acquire))
        return false;
    return !(m_asyncConnect.load(std::memory_order_acquire)
             && !m_loopRunning.load(std::memory_order_acquire));
}

// libmosquitto takes topics as C strings: a NUL inside would silently cut
// the topic short and address another one.
static bool hasNul(const QByteArray &topic)
{
    return topic.contains('\0');
}

bool QtMosquittoClientPrivate::mosquittoPublish(const MosquittoMessage &msg)
{
    if (!canSend())
        return false;
    const QByteArray topic = msg.topic();
    if (hasNul(topic))
        return report("mosquittoPublish", MOSQ_ERR_INVAL);
    const QByteArray payload = msg.payload();
    return report("mosquittoPublish", publish(nullptr, topic.constData(), payload.size(),
                                              payload.constData(), msg.qos(), msg.retain()));
}

bool QtMosquittoClientPrivate::mosquittoSubscribe(const QByteArray &sub, int qos)
{
    if (!canSend())
        return false;
    if (hasNul(sub))
        return report("mosquittoSubscribe", MOSQ_ERR_INVAL);
    return report("mosquittoSubscribe", subscribe(nullptr, sub.constData(), qos));
}

bool QtMosquittoClientPrivate::mosquittoUnsubscribe(const QByteArray &sub)
{
    if (!canSend())
        return false;
    if (hasNul(sub))
        return report("mosquittoUnsubscribe", MOSQ_ERR_INVAL);
    return report("mosquittoUnsubscribe", unsubscribe(nullptr, sub.constData()));
}

bool QtMosquittoClientPrivate::mosquittoLoop(int timeout, int maxPackets)
{
    return report("mosquittoLoop", loop(timeout, maxPackets));
}

bool QtMosquittoClientPrivate::mosquittoLoopMisc()
{
    return report("mosquittoLoopMisc", loop_misc());
}

bool QtMosquittoClientPrivate::mosquittoLoopRead(int maxPackets)
{
    return report("mosquittoLoopRead", loop_read(maxPackets));
}

bool QtMosquittoClientPrivate::mosquittoLoopWrite(int maxPackets)
{
    return report("mosquittoLoopWrite", loop_write(maxPackets));
}

bool QtMosquittoClientPrivate::mosquittoLoopForever(int timeout, int maxPackets)
{
    return report("mosquittoLoopForever", loop_forever(timeout, maxPackets));
}

bool QtMosquittoClientPrivate::mosquittoLoopStart()
{
    if (!report("mosquittoLoopStart", loop_start()))
        return false;
    m_loopRunning = true;
    return true;
}

bool QtMosquittoClientPrivate::mosquittoLoopStop(bool force)
{
    if (!m_loopRunning)
        return false;
    const int rc = loop_stop(force);
    m_loopRunning = false;
    return report("mosquittoLoopStop", rc);
}

bool QtMosquittoClientPrivate::setMaxInfliteMessages(unsigned int count)
{
    return report("setMaxInfliteMessages", max_inflight_messages_set(count));
}

bool QtMosquittoClientPrivate::setOpts(mosq_opt_t option, void *value)
{
    return report("setOpts", opts_set(option, value));
}

bool QtMosquittoClientPrivate::setProxy(const QNetworkProxy &proxy)
{
    if (proxy.type() != QNetworkProxy::Socks5Proxy)
        return false;
    const QByteArray host = proxy.hostName().toUtf8();
    const QByteArray user = proxy.user().toUtf8();
    const QByteArray password = proxy.password().toUtf8();
    return report("setProxy", socks5_set(host.constData(), proxy.port(), nullIfEmpty(user),
                                         nullIfEmpty(password)));
}

bool QtMosquittoClientPrivate::isConnected() const
{
    return canSend();
}

qtmosquitto::MosquittoErrorCode QtMosquittoClientPrivate::errCode(int rc) const
{
    if (rc >= 0 && rc <= 16)
        return static_cast<qtmosquitto::MosquittoErrorCode>(rc);
    return qtmosquitto::UnknownError;
}

qtmosquitto::MosquittoErrorCode QtMosquittoClientPrivate::conResCode(int rc) const
{
    switch (rc) {
    case 0:
        return qtmosquitto::Success;
    case 1:
        return qtmosquitto::ConnackUnacceptableProtocol;
    case 2:
        return qtmosquitto::ConnackIdentifierRejected;
    case 3:
        return qtmosquitto::ConnackServerUnavailable;
    default:
        return qtmosquitto::UnknownError;
    }
}

void QtMosquittoClientPrivate::sendError(const QString &where, int rc, bool emitSignal)
{
    if (rc == MOSQ_ERR_SUCCESS)
        return;
    // A TLS failure noted during the call is its cause, whatever libmosquitto
    // made of it (a broker that refuses the handshake after it ended shows as
    // a failed write): OpenSSL's reason is the text.
    const int error = errno;
    QString text;
    if (m_tlsFailed.exchange(false)) {
        QMutexLocker lock(&m_tlsMutex);
        text.swap(m_tlsReason);
    }
    const bool tls = !text.isEmpty() || (!m_acknowledged && endsHandshake(rc, error));
    if (text.isEmpty())
        text = errorText(rc, error);
    if (emitSignal)
        emit mosquittoError(tls ? qtmosquitto::TlsError : errCode(rc), where + QLatin1String(": ") + text);
}

void QtMosquittoClientPrivate::sendResCde(int rc, bool emitSignal)
{
    if (rc == 0)
        return;
    const QString text = QString::fromUtf8(mosqpp::connack_string(rc));
    if (emitSignal)
        emit mosquittoError(conResCode(rc), text);
}

bool QtMosquittoClientPrivate::report(const char *where, int rc)
{
    if (rc == MOSQ_ERR_SUCCESS) {
        // A broker may end the handshake after it finished on our side, in a
        // call that libmosquitto still counts a success.
        if (m_tlsFailed.load(std::memory_order_relaxed))
            sendError(QString::fromLatin1(where), MOSQ_ERR_TLS, true);
        return true;
    }
    const int savedErrno = errno;
    const QString label = QString::fromLatin1(where);
    errno = savedErrno;
    sendError(label, rc, true);
    return false;
}

bool QtMosquittoClientPrivate::endsHandshake(int rc, int error) const
{
    // Over TLS, a connection that ends before the broker accepted it ended in
    // the handshake or right after it: a TLS 1.3 broker refuses a missing
    // client certificate only once the client has finished its part.
    return m_tlsContext
        && (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_CONN_LOST
            || (rc == MOSQ_ERR_ERRNO && (error == EPROTO || error == ECONNRESET || error == EPIPE)));
}

QString QtMosquittoClientPrivate::errorText(int rc, int error) const
{
    if (rc != MOSQ_ERR_ERRNO)
        return QString::fromUtf8(mosqpp::strerror(rc));
    // libmosquitto reports a failed TLS read or write as EPROTO.
    if (m_tlsContext && error == EPROTO)
        return QString::fromUtf8(mosqpp::strerror(MOSQ_ERR_TLS));
    return MosquittoPlatform::systemErrorText(error);
}

void QtMosquittoClientPrivate::on_connect(int rc)
{
    const NoCancellation guard;
    if (rc != 0) {
        sendResCde(rc, true);
        return;
    }
    m_acknowledged = true;
    m_connected = true;
    emit connected();
}

int QtMosquittoClientPrivate::disconnections() const
{
    QMutexLocker lock(&m_disconnectMutex);
    return m_disconnections;
}

bool QtMosquittoClientPrivate::waitForDisconnection(int seen, int msecs)
{
    QDeadlineTimer deadline(msecs);
    QMutexLocker lock(&m_disconnectMutex);
    while (m_disconnections <= seen) {
        if (!m_disconnectCondition.wait(&m_disconnectMutex, deadline))
            return m_disconnections > seen;
    }
    return true;
}

void QtMosquittoClientPrivate::on_disconnect(int rc)
{
    const NoCancellation guard;
    const int error = errno;
    const bool wasConnected = m_connected.exchange(false);
    // An asynchronous attempt that ended in the handshake without a word from
    // OpenSSL (the broker reset the connection) is still a TLS failure.
    const bool reported = m_tlsReported.exchange(false);
    if (!wasConnected && !reported && m_asyncConnect && t_connecting != this
        && endsHandshake(rc, error)) {
        emit mosquittoError(qtmosquitto::TlsError,
                            QStringLiteral("mosquittoConnectAsync: ") + errorText(rc, error));
    }
    {
        QMutexLocker lock(&m_disconnectMutex);
        ++m_disconnections;
        m_disconnectCondition.wakeAll();
    }
    emit disconnected();
}

void QtMosquittoClientPrivate::on_message(const struct mosquitto_message *message)
{
    const NoCancellation guard;
    const MosquittoMessage msg(message, m_lastTopic);
    m_lastTopic = msg.topic();
    if (msg.isValid())
        emit recieved(msg);
}

bool QtMosquittoClientPrivate::mosquittoTlsSet(const QSslConfiguration &configuration,
                                               const QString &host)
{
    // A client opened again with the same configuration and host keeps its
    // context, which libmosquitto still holds.
    if (!m_tlsContext || configuration != m_tlsConfiguration || host != m_tlsHost) {
        QString error;
        SSL_CTX *context = MosquittoTls::newContext(configuration, host, &error);
        if (!context) {
            emit mosquittoError(qtmosquitto::TlsError, QStringLiteral("mosquittoTlsSet: ") + error);
            return false;
        }
        // The context is used as it is: libmosquitto adds none of its own
        // settings, which would ask for a CA file on disk.
        struct mosquitto *handle = this->*member(MosquittoHandle());
        int rc = mosquitto_int_option(handle, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_void_option(handle, MOSQ_OPT_SSL_CTX, context);
        if (rc != MOSQ_ERR_SUCCESS) {
            SSL_CTX_free(context);
            // A libmosquitto built without TLS, say: a TLS failure all the same.
            const QString reason = QString::fromUtf8(mosqpp::strerror(rc));
            emit mosquittoError(qtmosquitto::TlsError, QStringLiteral("mosquittoTlsSet: ") + reason);
            return false;
        }
        if (m_tlsContext) {
            // libmosquitto let go of the context it held without releasing
            // the reference it took; ours goes too (no network thread runs).
            SSL_CTX_free(m_tlsContext);
            SSL_CTX_free(m_tlsContext);
        }
        m_tlsContext = context;
        m_tlsConfiguration = configuration;
        m_tlsHost = host;
    }
    // A reason left by an earlier attempt belongs to no later one.
    m_acknowledged = false;
    m_tlsReported = false;
    QMutexLocker lock(&m_tlsMutex);
    m_tlsReason.clear();
    m_tlsFailed = false;
    return true;
}

void QtMosquittoClientPrivate::on_log(int level, const char *str)
{
    if (level != MOSQ_LOG_ERR)
        return;
    const QString reason = MosquittoTls::reasonOfLogLine(str);
    if (reason.isEmpty())
        return;
    const NoCancellation guard;
    const QString verify = MosquittoTls::takeVerifyError(m_tlsContext);
    const QString text = verify.isEmpty() ? reason : reason + QStringLiteral(" (") + verify + QLatin1Char(')');
    // libmosquitto logs every error of OpenSSL's queue; the first one of a
    // failure names it.
    const bool first = std::strncmp(str, "OpenSSL Error[0]", 16) == 0;
    // An asynchronous connection fails in libmosquitto's thread, with no call
    // to return the failure to: it is reported here. Otherwise the call that
    // made the handshake reports it.
    if (m_asyncConnect && t_connecting != this) {
        if (first && !m_tlsReported.exchange(true))
            emit mosquittoError(qtmosquitto::TlsError, QStringLiteral("mosquittoConnectAsync: ") + text);
        return;
    }
    QMutexLocker lock(&m_tlsMutex);
    if (first || m_tlsReason.isEmpty())
        m_tlsReason = text;
    m_tlsFailed = true;
}
