#include "mosquittoconfig.h"

class MosquittoConfigPrivate : public QSharedData
{
public:
    bool cleanSession = true;
    bool useMessagesQueue = false;
    bool useTopicsQueue = false;
    bool useSsl = false;
    QString userName;
    QString password;
    QString host = QStringLiteral("localhost");
    quint16 port = 1883;
    int keepAlive = 120;
    QString bindAddress;
    QNetworkProxy proxy;
    int maxInfliteMessages = 10;
    unsigned int msgRetrySet = 60;
    int mode = 0;
    int syncLoopTimeout = 0;
    int syncLoopInterval = 100;
    int reconnectTimeout = 259200000;
};

MosquittoConfig::MosquittoConfig()
    : d(new MosquittoConfigPrivate)
{
}

MosquittoConfig::MosquittoConfig(const MosquittoConfig &other) = default;
MosquittoConfig::MosquittoConfig(MosquittoConfig &&other) noexcept = default;
MosquittoConfig &MosquittoConfig::operator=(const MosquittoConfig &other) = default;
MosquittoConfig &MosquittoConfig::operator=(MosquittoConfig &&other) noexcept = default;
MosquittoConfig::~MosquittoConfig() = default;

#define ORVEL_CONFIG_FIELD(Type, getter, Setter, Arg)                  \
    Type MosquittoConfig::getter() const { return d->getter; }          \
    void MosquittoConfig::Setter(Arg value) { d->getter = value; }

ORVEL_CONFIG_FIELD(bool, cleanSession, setCleanSession, bool)
ORVEL_CONFIG_FIELD(bool, useMessagesQueue, setUseMessagesQueue, bool)
ORVEL_CONFIG_FIELD(bool, useTopicsQueue, setUseTopicsQueue, bool)
ORVEL_CONFIG_FIELD(bool, useSsl, setUseSsl, bool)
ORVEL_CONFIG_FIELD(QString, userName, setUserName, const QString &)
ORVEL_CONFIG_FIELD(QString, password, setPassword, const QString &)
ORVEL_CONFIG_FIELD(QString, host, setHost, const QString &)
ORVEL_CONFIG_FIELD(quint16, port, setPort, const quint16 &)
ORVEL_CONFIG_FIELD(int, keepAlive, setKeepAlive, const int &)
ORVEL_CONFIG_FIELD(QString, bindAddress, setBindAddress, const QString &)
ORVEL_CONFIG_FIELD(QNetworkProxy, proxy, setProxy, const QNetworkProxy &)
ORVEL_CONFIG_FIELD(int, maxInfliteMessages, setMaxInfliteMessages, const int &)
ORVEL_CONFIG_FIELD(unsigned int, msgRetrySet, setMsgRetrySet, const unsigned int &)
ORVEL_CONFIG_FIELD(int, syncLoopTimeout, setSyncLoopTimeout, const int &)
ORVEL_CONFIG_FIELD(int, syncLoopInterval, setSyncLoopInterval, const int &)
ORVEL_CONFIG_FIELD(int, reconnectTimeout, setReconnectTimeout, const int &)

#undef ORVEL_CONFIG_FIELD

int MosquittoConfig::mode() const
{
    return d->mode;
}

void MosquittoConfig::setMode(const int &mode)
{
    d->mode = mode == 1 ? 1 : 0;
}

bool MosquittoConfig::operator==(const MosquittoConfig &other) const
{
    if (d == other.d)
        return true;
    const MosquittoConfigPrivate &a = *d;
    const MosquittoConfigPrivate &b = *other.d;
    return a.cleanSession == b.cleanSession && a.useMessagesQueue == b.useMessagesQueue
           && a.useTopicsQueue == b.useTopicsQueue && a.useSsl == b.useSsl
           && a.userName == b.userName && a.password == b.password && a.host == b.host
           && a.port == b.port && a.keepAlive == b.keepAlive && a.bindAddress == b.bindAddress
           && a.proxy == b.proxy && a.maxInfliteMessages == b.maxInfliteMessages
           && a.msgRetrySet == b.msgRetrySet && a.mode == b.mode
           && a.syncLoopTimeout == b.syncLoopTimeout && a.syncLoopInterval == b.syncLoopInterval
           && a.reconnectTimeout == b.reconnectTimeout;
}
