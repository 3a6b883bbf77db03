#include "cryptodatamanager.h"
#include "cryptedsettingsstorage_p.h"

#include <crypto/cryptedsettingsstorage.h>
#include <qsettingsext/systemdirs_p.h>
#include <qsettingsext/xmlsettings.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QSaveFile>
#include <QSslSocket>

const QString CryptoDataManager::CA_CERTIFICATES_SECTION = QStringLiteral("CA");
const QString CryptoDataManager::LOCAL_CERTIFICATES_SECTION = QStringLiteral("LS");
const QString CryptoDataManager::PRIVATE_KEY_SECTION = QStringLiteral("PRIVATE_KEYS");
const QString CryptoDataManager::PRIVATE_KEY = QStringLiteral("key");
const QString CryptoDataManager::PRIVATE_KEY_ALG = QStringLiteral("algorithm");
const QString CryptoDataManager::USER_SECTION = QStringLiteral("USER");
const QString CryptoDataManager::USER_NAME = QStringLiteral("defaultUser");
const QString CryptoDataManager::PASSWORD = QStringLiteral("defaultUserPassword");
const QString CryptoDataManager::SU_NAME = QStringLiteral("su");
const QString CryptoDataManager::SU_PASSWORD = QStringLiteral("su_password");
const QString CryptoDataManager::_storageFileName;
QSharedPointer<QSslConfiguration> CryptoDataManager::_defaultSslConfig;

namespace {

QString digestOf(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Md5).toHex());
}

QString keyFor(const QSslCertificate &certificate)
{
    return QStringLiteral("certificate_") + digestOf(certificate);
}

// Opens a group for the length of a scope, closing it on every path.
class GroupScope
{
public:
    GroupScope(QSettings *settings, const QString &group)
        : m_settings(settings)
    {
        m_settings->beginGroup(group);
    }
    ~GroupScope() { m_settings->endGroup(); }
    GroupScope(const GroupScope &) = delete;
    GroupScope &operator=(const GroupScope &) = delete;

private:
    QSettings *m_settings;
};

void removeAllIn(QSettings *storage, const QString &group)
{
    const GroupScope scope(storage, group);
    const QStringList keys = storage->allKeys();
    for (const QString &key : keys)
        storage->remove(key);
}

QBasicMutex defaultConfigMutex;

} // namespace

CryptoDataManager::CryptoDataManager(const QString &fileName, QObject *parent)
    : QObject(parent)
{
    if (fileName.contains(QLatin1String(".enc"))) {
        m_storage = new CryptedSettingsStorage(fileName, this);
    } else {
        // Without the XML format the store would be read and written by no one.
        XmlSettings::regFormat();
        m_storage = new XmlSettings(fileName, this);
    }
    const QMutexLocker locker(&defaultConfigMutex);
    if (!_defaultSslConfig)
        _defaultSslConfig.reset(new QSslConfiguration(QSslConfiguration::defaultConfiguration()));
}

CryptoDataManager::~CryptoDataManager() = default;

void CryptoDataManager::setCACertificates(const QList<QSslCertificate> &certificates)
{
    const GroupScope group(m_storage, CA_CERTIFICATES_SECTION);
    for (int i = 0; i < certificates.size(); ++i) {
        const QSslCertificate &certificate = certificates.at(i);
        m_storage->setValue(QStringLiteral("certificate_%1_").arg(i) + digestOf(certificate), certificate.toDer());
    }
}

void CryptoDataManager::setLocalCertificates(const QList<QSslCertificate> &certificates)
{
    const GroupScope group(m_storage, LOCAL_CERTIFICATES_SECTION);
    for (const QSslCertificate &certificate : certificates)
        m_storage->setValue(keyFor(certificate), certificate.toDer());
}

void CryptoDataManager::addCaCertificate(const QSslCertificate &certificate)
{
    const GroupScope group(m_storage, CA_CERTIFICATES_SECTION);
    m_storage->setValue(keyFor(certificate), certificate.toDer());
}

void CryptoDataManager::removeCaCertificate(const QSslCertificate &certificate)
{
    const GroupScope group(m_storage, CA_CERTIFICATES_SECTION);
    m_storage->remove(keyFor(certificate));
}

void CryptoDataManager::addLocalCertificate(const QSslCertificate &certificate)
{
    const GroupScope group(m_storage, LOCAL_CERTIFICATES_SECTION);
    m_storage->setValue(keyFor(certificate), certificate.toDer());
}

void CryptoDataManager::removeLocalCertificate(const QSslCertificate &certificate)
{
    const GroupScope group(m_storage, LOCAL_CERTIFICATES_SECTION);
    m_storage->remove(keyFor(certificate));
}

void CryptoDataManager::removeAllCaCrtificates()
{
    removeAllIn(m_storage, CA_CERTIFICATES_SECTION);
}

void CryptoDataManager::removeAllLoaclCrtificates()
{
    removeAllIn(m_storage, LOCAL_CERTIFICATES_SECTION);
}

QList<QSslCertificate> CryptoDataManager::caCertificates() const
{
    const GroupScope group(m_storage, CA_CERTIFICATES_SECTION);
    QStringList keys = m_storage->childKeys();
    keys.sort();
    QList<QSslCertificate> certificates;
    for (const QString &key : qAsConst(keys))
        certificates += QSslCertificate::fromData(m_storage->value(key).toByteArray(), QSsl::Der);
    return certificates;
}

QList<QSslCertificate> CryptoDataManager::localCertificates() const
{
    // Each entry on its own: a damaged entry must not hide the ones after it.
    const GroupScope group(m_storage, LOCAL_CERTIFICATES_SECTION);
    const QStringList keys = m_storage->allKeys();
    QList<QSslCertificate> certificates;
    for (const QString &key : keys)
        certificates += QSslCertificate::fromData(m_storage->value(key).toByteArray(), QSsl::Der);
    return certificates;
}

QSslKey CryptoDataManager::privateKey() const
{
    const GroupScope group(m_storage, PRIVATE_KEY_SECTION);
    const QByteArray bytes = m_storage->value(PRIVATE_KEY).toByteArray();
    const int algorithm = m_storage->value(PRIVATE_KEY_ALG, int(QSsl::Rsa)).toInt();
    if (bytes.isEmpty() || algorithm < QSsl::Opaque || algorithm > QSsl::Dh)
        return QSslKey();
    return QSslKey(bytes, QSsl::KeyAlgorithm(algorithm), QSsl::Der, QSsl::PrivateKey, QByteArray());
}

void CryptoDataManager::setPrivateKey(const QSslKey &key) const
{
    const GroupScope group(m_storage, PRIVATE_KEY_SECTION);
    m_storage->setValue(PRIVATE_KEY, key.toDer(QByteArray()));
    m_storage->setValue(PRIVATE_KEY_ALG, int(key.algorithm()));
}

void CryptoDataManager::removePrivateKey() const
{
    const GroupScope group(m_storage, PRIVATE_KEY_SECTION);
    m_storage->remove(PRIVATE_KEY);
    m_storage->remove(PRIVATE_KEY_ALG);
}

QString CryptoDataManager::defaultUser() const
{
    const GroupScope group(m_storage, USER_SECTION);
    return m_storage->value(USER_NAME, QString()).toString();
}

void CryptoDataManager::setDefaultUser(const QString &name)
{
    const GroupScope group(m_storage, USER_SECTION);
    m_storage->setValue(USER_NAME, name);
}

QString CryptoDataManager::defaultUserPassword() const
{
    const GroupScope group(m_storage, USER_SECTION);
    return m_storage->value(PASSWORD, QString()).toString();
}

void CryptoDataManager::setDefaultUserPassword(const QString &password)
{
    const GroupScope group(m_storage, USER_SECTION);
    m_storage->setValue(PASSWORD, password);
}

void CryptoDataManager::forceSave()
{
    m_storage->sync();
}

bool CryptoDataManager::buildConfiguration(QSslConfiguration &configuration) const
{
    configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setCaCertificates(caCertificates());
    const QList<QSslCertificate> locals = localCertificates();
    if (locals.isEmpty() || locals.first().isNull()
        || QDateTime::currentDateTime() >= locals.first().expiryDate()) {
        return false;
    }
    configuration.setLocalCertificate(locals.first());
    configuration.setPrivateKey(privateKey());
    return true;
}

QSslConfiguration CryptoDataManager::prepareSslConfiguration() const
{
    QSslConfiguration configuration;
    if (buildConfiguration(configuration))
        return configuration;
    return *_defaultSslConfig;
}

bool CryptoDataManager::prepareDefaultSSlConfig()
{
    QSslConfiguration configuration;
    if (buildConfiguration(configuration)) {
        configuration.setSslOption(QSsl::SslOptionDisableEmptyFragments, true);
        configuration.setSslOption(QSsl::SslOptionDisableLegacyRenegotiation, true);
        configuration.setSslOption(QSsl::SslOptionDisableSessionTickets, false);
        configuration.setSslOption(QSsl::SslOptionDisableCompression, false);
        configuration.setSslOption(QSsl::SslOptionDisableServerNameIndication, false);
        configuration.setSslOption(QSsl::SslOptionDisableSessionSharing, false);
        configuration.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
        QSslConfiguration::setDefaultConfiguration(configuration);
    } else {
        QSslConfiguration::setDefaultConfiguration(*_defaultSslConfig);
    }
    return true;
}

bool CryptoDataManager::encryptStorage(const QString &plainFileName, const QString &encryptedFileName)
{
    if (QFile::exists(encryptedFileName) || !QFile::exists(plainFileName))
        return true;
    QFile plain(plainFileName);
    if (!plain.open(QIODevice::ReadOnly))
        return false;
    const QByteArray document = plain.readAll();
    const bool readOk = plain.error() == QFileDevice::NoError;
    plain.close();
    if (!readOk)
        return false;
    // A blank store holds nothing to carry over: the encrypted one is made
    // by its first save. One that does not read stays where it can be repaired.
    if (document.trimmed().isEmpty())
        return QFile::remove(plainFileName);
    if (!cryptedstore::isReadableStore(document))
        return false;

    // Written aside and renamed into place: the plain file is deleted only
    // once the encrypted one is complete on disk.
    QSaveFile encrypted(encryptedFileName);
    if (!encrypted.open(QIODevice::WriteOnly))
        return false;
    encrypted.write(cryptedstore::encode(document));
    if (!encrypted.commit())
        return false;
    QFile::setPermissions(encryptedFileName,
                          SystemDirs::creationPermissions(QFileDevice::Permissions(0x6064)));
    QFile::remove(plainFileName);
    return true;
}
