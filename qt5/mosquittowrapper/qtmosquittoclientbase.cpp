#include "qtmosquittoclientbase.h"

#include "qtmosquittoclient_p.h"

QtMosquittoClientBase::QtMosquittoClientBase(const MosquittoConfig &config,
                                             const QByteArray &clientId, bool createBinding,
                                             QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    if (!createBinding)
        return;
    m_binding.reset(new QtMosquittoClientPrivate(clientId, m_config.cleanSession(), nullptr));
    QtMosquittoClientPrivate *b = m_binding.data();
    connect(b, &QtMosquittoClientPrivate::connected, this, &QtMosquittoClientBase::mqttConnected);
    connect(b, &QtMosquittoClientPrivate::disconnected, this,
            &QtMosquittoClientBase::mqttDisconnected);
    connect(b, &QtMosquittoClientPrivate::recieved, this, &QtMosquittoClientBase::recieved);
    connect(b, &QtMosquittoClientPrivate::mosquittoError, this, &QtMosquittoClientBase::error);
}

QtMosquittoClientBase::~QtMosquittoClientBase()
{
    if (m_binding)
        m_binding->blockSignals(true);
    m_binding.reset();
}

void QtMosquittoClientBase::init()
{
    qRegisterMetaType<qtmosquitto::MosquittoErrorCode>("MosquittoErrorCode");
    qRegisterMetaType<qtmosquitto::MosquittoErrorCode>("qtmosquitto::MosquittoErrorCode");
    qRegisterMetaType<MosquittoMessage>("MosquittoMessage");
    mosqpp::lib_init();
}

void QtMosquittoClientBase::release()
{
    mosqpp::lib_cleanup();
}

MosquittoConfig QtMosquittoClientBase::config() const
{
    return m_config;
}

void QtMosquittoClientBase::setSslConfiguration(const QSslConfiguration &configuration)
{
    m_sslConfiguration = configuration;
    m_hasSslConfiguration = true;
}

QSslConfiguration QtMosquittoClientBase::sslConfiguration() const
{
    return m_hasSslConfiguration ? m_sslConfiguration : QSslConfiguration::defaultConfiguration();
}

bool QtMosquittoClientBase::isOpen() const
{
    return m_binding && m_binding->isConnected();
}

void QtMosquittoClientBase::open()
{
    doOpen();
}

void QtMosquittoClientBase::close()
{
    doClose();
}

bool QtMosquittoClientBase::publish(MosquittoMessage msg)
{
    return doPublish(msg);
}

bool QtMosquittoClientBase::subscribe(QByteArray sub, int qos)
{
    return doSubscribe(sub, qos);
}

bool QtMosquittoClientBase::unsubscribe(QByteArray sub)
{
    return doUnsubscribe(sub);
}

void QtMosquittoClientBase::mqttConnected()
{
    prepareMqttConnect();
}

void QtMosquittoClientBase::mqttDisconnected()
{
    prepareMqttDisconnect();
}

bool QtMosquittoClientBase::applyConfigAndConnect(bool async)
{
    QtMosquittoClientPrivate *b = m_binding.data();
    if (!b)
        return false;
    if (!m_config.userName().isEmpty() && !m_config.password().isEmpty())
        b->setUserAndPassword(m_config.userName(), m_config.password());
    if (m_config.proxy().type() == QNetworkProxy::Socks5Proxy)
        b->setProxy(m_config.proxy());
    b->setMaxInfliteMessages(static_cast<unsigned int>(m_config.maxInfliteMessages()));
    int protocol = PROTOCOL;
    b->setOpts(MOSQ_OPT_PROTOCOL_VERSION, &protocol);
    b->setMessageRetry(m_config.msgRetrySet());
    if (async)
        b->setReconnectDelay(3, 30, true);
    // Over TLS or not at all: credentials never travel in clear when the
    // configuration asks for TLS.
    if (m_config.useSsl() && !b->mosquittoTlsSet(sslConfiguration(), m_config.host()))
        return false;
    const QString bindAddress = m_config.bindAddress();
    if (async) {
        return bindAddress.isEmpty()
                   ? b->mosquittoConnectAsync(m_config.host(), m_config.port(), m_config.keepAlive())
                   : b->mosquittoConnectAsync(m_config.host(), m_config.port(),
                                              m_config.keepAlive(), bindAddress);
    }
    return bindAddress.isEmpty()
               ? b->mosquittoConnect(m_config.host(), m_config.port(), m_config.keepAlive())
               : b->mosquittoConnect(m_config.host(), m_config.port(), m_config.keepAlive(),
                                     bindAddress);
}
