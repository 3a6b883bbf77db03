// CryptoDataManager with certificates and keys made by the openssl command:
// the store layout in XML and encrypted files, the TLS configurations it
// builds and installs (and a real handshake with the installed one), and
// the conversion of a plain store into an encrypted one.

#include "cryptotestutil.h"

#include <crypto/cryptodatamanager.h>
#include <crypto/cryptedsettingsstorage.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kOpenSslConfig[] = R"([ req ]
distinguished_name = dn
prompt = no
x509_extensions = v3_ca
[ dn ]
CN = unused
[ v3_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ server ]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
[ ca ]
default_ca = testca
[ testca ]
dir = .
database = ./index.txt
new_certs_dir = .
serial = ./serial
default_md = sha256
policy = anything
unique_subject = no
[ anything ]
commonName = supplied
)";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Serves TLS on 127.0.0.1 with the process-wide default configuration.
class TlsServer : public QTcpServer
{
public:
    QList<QSslSocket *> sockets;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor)) {
            sockets.append(socket);
            socket->startServerEncryption();
        } else {
            delete socket;
        }
    }
};

// Puts back the default TLS configuration of the process when it goes.
auto restoreDefaultTlsConfiguration()
{
    return qScopeGuard([saved = QSslConfiguration::defaultConfiguration()] {
        QSslConfiguration::setDefaultConfiguration(saved);
    });
}

} // namespace

class tst_CryptoDataManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void storageFormatFollowsName_data();
    void storageFormatFollowsName();
    void caCertificatesByPosition();
    void caCertificateAddedTwiceIsKeptOnce();
    void setCaCertificatesAccumulates();
    void localCertificatesSkipDamagedEntry();
    void privateKey();
    void groupsAreClosedAfterEveryOperation();
    void wholeStoreThroughEncryptedFile();
    void defaultConfigurationIsCapturedOnce();
    void sslConfigurationWithValidCertificate();
    void sslConfigurationWithoutUsableCertificate_data();
    void sslConfigurationWithoutUsableCertificate();
    void installedDefaultConfiguration();
    void installedDefaultServesTls();
    void encryptStorageRoundTrip();
    void encryptStorageLeavesExistingFiles();
    void encryptStorageFailureKeepsPlainFile();

private:
    bool openssl(const QStringList &arguments);
    QString path(const QString &name) const { return m_work.filePath(name); }
    QString storePath(const QString &name) const { return m_stores.filePath(name); }

    QTemporaryDir m_work;
    QTemporaryDir m_stores;
    QSslCertificate m_ca;
    QSslCertificate m_server;
    QSslKey m_serverKey;
    QSslCertificate m_expired;
    QSslKey m_expiredKey;
};

bool tst_CryptoDataManager::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << "openssl" << arguments.join(QLatin1Char(' ')) << "failed:" << process.readAll();
        return false;
    }
    return true;
}

void tst_CryptoDataManager::initTestCase()
{
    QVERIFY2(m_work.isValid(), qPrintable(m_work.errorString()));
    QVERIFY2(m_stores.isValid(), qPrintable(m_stores.errorString()));
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("the openssl command is not installed (scripts/install-deps.sh installs it)");
    QVERIFY(QSslSocket::supportsSsl());
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    QVERIFY(writeFile(path(QStringLiteral("test.cnf")), kOpenSslConfig));
    QVERIFY(writeFile(path(QStringLiteral("index.txt")), QByteArray()));
    QVERIFY(writeFile(path(QStringLiteral("serial")), "01\n"));
    const QString cnf = QStringLiteral("test.cnf");
    // A CA, a server certificate it signed (RSA), and a self-signed one that
    // expired in 2020.
    QVERIFY(openssl({"req", "-config", cnf, "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                     "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650", "-subj", "/CN=Orvel Test CA"}));
    QVERIFY(openssl({"req", "-config", cnf, "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                     "server.csr", "-subj", "/CN=127.0.0.1"}));
    QVERIFY(openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                     "-out", "server.pem", "-days", "30", "-extfile", cnf, "-extensions", "server"}));
    QVERIFY(openssl({"req", "-config", cnf, "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "expired.key", "-out",
                     "expired.csr", "-subj", "/CN=expired"}));
    QVERIFY(openssl({"ca", "-batch", "-config", cnf, "-selfsign", "-keyfile", "expired.key", "-in", "expired.csr",
                     "-out", "expired.pem", "-startdate", "20200101000000Z", "-enddate", "20200102000000Z"}));

    m_ca = QSslCertificate(readFile(path(QStringLiteral("ca.pem"))), QSsl::Pem);
    m_server = QSslCertificate(readFile(path(QStringLiteral("server.pem"))), QSsl::Pem);
    m_serverKey = QSslKey(readFile(path(QStringLiteral("server.key"))), QSsl::Rsa, QSsl::Pem);
    m_expired = QSslCertificate(readFile(path(QStringLiteral("expired.pem"))), QSsl::Pem);
    m_expiredKey = QSslKey(readFile(path(QStringLiteral("expired.key"))), QSsl::Rsa, QSsl::Pem);
    QVERIFY(!m_ca.isNull() && !m_server.isNull() && !m_expired.isNull());
    QVERIFY(!m_serverKey.isNull() && !m_expiredKey.isNull());
    QVERIFY(m_expired.expiryDate() < QDateTime::currentDateTime());
}

void tst_CryptoDataManager::cleanupTestCase()
{
    QLoggingCategory::setFilterRules(QString());
}

void tst_CryptoDataManager::cleanup()
{
    QDir stores(m_stores.path());
    for (const QString &name : stores.entryList(QDir::Files | QDir::Hidden))
        stores.remove(name);
}

void tst_CryptoDataManager::storageFormatFollowsName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("encrypted");
    QTest::newRow("store.enc") << "store.enc" << true;
    QTest::newRow("store.xml") << "store.xml" << false;
    QTest::newRow("store.enc.bak") << "store.enc.bak" << true;
    QTest::newRow("my.encrypted") << "my.encrypted" << true;
    QTest::newRow("store.ENC") << "store.ENC" << false;
}

void tst_CryptoDataManager::storageFormatFollowsName()
{
    QFETCH(QString, name);
    QFETCH(bool, encrypted);
    {
        CryptoDataManager manager(storePath(name));
        manager.setDefaultUser(QStringLiteral("operator"));
        manager.addCaCertificate(m_ca);
    }
    const QByteArray file = readFile(storePath(name));
    QCOMPARE(file.startsWith("<?xml"), !encrypted);
    const QByteArray xml = encrypted ? cryptotest::decodeFile(file) : file;
    QVERIFY(xml.contains("<defaultUser>operator</defaultUser>"));
    QVERIFY(xml.contains("<certificate_" + m_ca.digest(QCryptographicHash::Md5).toHex() + ">@ByteArray("
                         + m_ca.toDer().toHex() + ")<"));
    CryptoDataManager reopened(storePath(name));
    QCOMPARE(reopened.defaultUser(), QStringLiteral("operator"));
}

void tst_CryptoDataManager::caCertificatesByPosition()
{
    const QString name = storePath(QStringLiteral("ca.xml"));
    CryptoDataManager manager(name);
    manager.setCACertificates({m_ca, m_server});
    manager.forceSave();
    const QString digestA = QString::fromLatin1(m_ca.digest(QCryptographicHash::Md5).toHex());
    const QString digestB = QString::fromLatin1(m_server.digest(QCryptographicHash::Md5).toHex());
    {
        XmlSettings raw(name);
        raw.beginGroup(QStringLiteral("CA"));
        QCOMPARE(raw.childKeys(),
                 QStringList({QStringLiteral("certificate_0_") + digestA, QStringLiteral("certificate_1_") + digestB}));
    }
    QCOMPARE(manager.caCertificates(), QList<QSslCertificate>({m_ca, m_server}));
    manager.removeCaCertificate(m_ca); // positional keys are not its keys
    QCOMPARE(manager.caCertificates().size(), 2);
    manager.removeAllCaCrtificates();
    QVERIFY(manager.caCertificates().isEmpty());
}

void tst_CryptoDataManager::caCertificateAddedTwiceIsKeptOnce()
{
    CryptoDataManager manager(storePath(QStringLiteral("twice.enc")));
    manager.addCaCertificate(m_ca);
    manager.addCaCertificate(m_ca);
    QCOMPARE(manager.caCertificates(), QList<QSslCertificate>({m_ca}));
    manager.removeCaCertificate(m_ca);
    QVERIFY(manager.caCertificates().isEmpty());
}

void tst_CryptoDataManager::setCaCertificatesAccumulates()
{
    CryptoDataManager manager(storePath(QStringLiteral("accumulate.enc")));
    manager.setCACertificates({m_ca, m_server});
    manager.setCACertificates({m_server});
    const QList<QSslCertificate> certificates = manager.caCertificates();
    QCOMPARE(certificates.size(), 3);
    QCOMPARE(certificates.count(m_server), 2);
}

void tst_CryptoDataManager::localCertificatesSkipDamagedEntry()
{
    const QString name = storePath(QStringLiteral("local.xml"));
    {
        CryptoDataManager manager(name);
        manager.setLocalCertificates({m_server, m_expired});
        manager.addLocalCertificate(m_server);
    }
    {
        // An entry that sorts first and is no certificate.
        XmlSettings raw(name);
        raw.setValue(QStringLiteral("LS/certificate_0"), QByteArray("not a certificate"));
    }
    CryptoDataManager manager(name);
    const QList<QSslCertificate> certificates = manager.localCertificates();
    QCOMPARE(certificates.size(), 2);
    QVERIFY(certificates.contains(m_server));
    QVERIFY(certificates.contains(m_expired));
    manager.removeLocalCertificate(m_server);
    QCOMPARE(manager.localCertificates(), QList<QSslCertificate>({m_expired}));
    manager.removeAllLoaclCrtificates();
    QVERIFY(manager.localCertificates().isEmpty());
}

void tst_CryptoDataManager::privateKey()
{
    const QString name = storePath(QStringLiteral("key.xml"));
    {
        CryptoDataManager manager(name);
        QVERIFY(manager.privateKey().isNull());
        manager.setPrivateKey(m_serverKey);
        QCOMPARE(manager.privateKey().toDer(), m_serverKey.toDer());
    }
    {
        XmlSettings raw(name);
        QCOMPARE(raw.value(QStringLiteral("PRIVATE_KEYS/algorithm")).toInt(), 1);
        raw.remove(QStringLiteral("PRIVATE_KEYS/algorithm"));
    }
    {
        const CryptoDataManager manager(name);
        const QSslKey key = manager.privateKey();
        QCOMPARE(key.algorithm(), QSsl::Rsa); // no algorithm stored: RSA
        QCOMPARE(key.type(), QSsl::PrivateKey);
        QCOMPARE(key.toDer(), m_serverKey.toDer());
    }
    {
        XmlSettings raw(name);
        raw.setValue(QStringLiteral("PRIVATE_KEYS/key"), QByteArray("garbage"));
    }
    {
        const CryptoDataManager manager(name);
        QVERIFY(manager.privateKey().isNull());
        XmlSettings raw(name);
        raw.setValue(QStringLiteral("PRIVATE_KEYS/key"), m_serverKey.toDer());
        raw.setValue(QStringLiteral("PRIVATE_KEYS/algorithm"), 77);
    }
    {
        CryptoDataManager manager(name);
        QVERIFY(manager.privateKey().isNull()); // an algorithm that does not exist
        manager.setPrivateKey(m_serverKey);
        QVERIFY(!manager.privateKey().isNull());
        manager.removePrivateKey();
        QVERIFY(manager.privateKey().isNull());
    }
}

void tst_CryptoDataManager::groupsAreClosedAfterEveryOperation()
{
    CryptoDataManager manager(storePath(QStringLiteral("groups.enc")));
    const QSettings *storage = manager.findChild<QSettings *>();
    QVERIFY(storage);
    const auto check = [&](const char *what) {
        if (!storage->group().isEmpty())
            qWarning("%s left group %s open", what, qPrintable(storage->group()));
        return storage->group().isEmpty();
    };
    manager.setCACertificates({m_ca});
    QVERIFY(check("setCACertificates"));
    manager.setLocalCertificates({m_server});
    QVERIFY(check("setLocalCertificates"));
    manager.addCaCertificate(m_ca);
    manager.addLocalCertificate(m_server);
    QVERIFY(check("add"));
    manager.setPrivateKey(m_serverKey);
    manager.setDefaultUser(QStringLiteral("u"));
    manager.setDefaultUserPassword(QStringLiteral("p"));
    QVERIFY(check("set"));
    QVERIFY(!manager.caCertificates().isEmpty());
    QVERIFY(!manager.localCertificates().isEmpty());
    QVERIFY(!manager.privateKey().isNull());
    QVERIFY(!manager.defaultUser().isEmpty() && !manager.defaultUserPassword().isEmpty());
    QVERIFY(check("getters"));
    manager.prepareSslConfiguration();
    QVERIFY(check("prepareSslConfiguration"));
    manager.removeCaCertificate(m_ca);
    manager.removeLocalCertificate(m_server);
    manager.removePrivateKey();
    manager.removeAllCaCrtificates();
    manager.removeAllLoaclCrtificates();
    QVERIFY(check("removals"));
}

void tst_CryptoDataManager::wholeStoreThroughEncryptedFile()
{
    const QString name = storePath(QStringLiteral("whole.enc"));
    {
        CryptoDataManager manager(name);
        manager.setCACertificates({m_ca});
        manager.setLocalCertificates({m_server});
        manager.setPrivateKey(m_serverKey);
        manager.setDefaultUser(QStringLiteral("kiosk"));
        manager.setDefaultUserPassword(QStringLiteral("s3cr&t <pw>"));
        manager.forceSave();
        QVERIFY(QFileInfo::exists(name));
    }
    const QByteArray file = readFile(name);
    QVERIFY(!file.contains("kiosk"));
    const QByteArray xml = cryptotest::decodeFile(file);
    QVERIFY(xml.contains("<USER>"));
    QVERIFY(xml.contains("<PRIVATE_KEYS>"));
    QVERIFY(xml.contains("<algorithm>1</algorithm>"));
    QVERIFY(xml.contains("<defaultUserPassword>s3cr&amp;t &lt;pw&gt;</defaultUserPassword>"));

    const CryptoDataManager manager(name);
    QCOMPARE(manager.caCertificates(), QList<QSslCertificate>({m_ca}));
    QCOMPARE(manager.localCertificates(), QList<QSslCertificate>({m_server}));
    QCOMPARE(manager.privateKey().toDer(), m_serverKey.toDer());
    QCOMPARE(manager.defaultUser(), QStringLiteral("kiosk"));
    QCOMPARE(manager.defaultUserPassword(), QStringLiteral("s3cr&t <pw>"));
}

void tst_CryptoDataManager::defaultConfigurationIsCapturedOnce()
{
    const auto restore = restoreDefaultTlsConfiguration();
    const CryptoDataManager first(storePath(QStringLiteral("first.xml")));
    const QSharedPointer<QSslConfiguration> captured = CryptoDataManager::_defaultSslConfig;
    QVERIFY(captured);
    QSslConfiguration changed = QSslConfiguration::defaultConfiguration();
    changed.setPeerVerifyDepth(7);
    QSslConfiguration::setDefaultConfiguration(changed);
    const CryptoDataManager second(storePath(QStringLiteral("second.xml")));
    QCOMPARE(CryptoDataManager::_defaultSslConfig, captured);
    QVERIFY(CryptoDataManager::_defaultSslConfig->peerVerifyDepth() != 7);
}

void tst_CryptoDataManager::sslConfigurationWithValidCertificate()
{
    CryptoDataManager manager(storePath(QStringLiteral("valid.enc")));
    manager.setCACertificates({m_ca});
    manager.setLocalCertificates({m_server});
    manager.setPrivateKey(m_serverKey);
    const QSslConfiguration configuration = manager.prepareSslConfiguration();
    QCOMPARE(configuration.localCertificate(), m_server);
    QCOMPARE(configuration.privateKey().toDer(), m_serverKey.toDer());
    QCOMPARE(configuration.caCertificates(), QList<QSslCertificate>({m_ca}));
    QCOMPARE(configuration.peerVerifyMode(), QSslSocket::VerifyNone);
    // Building it installs nothing.
    QVERIFY(QSslConfiguration::defaultConfiguration().localCertificate().isNull());
}

void tst_CryptoDataManager::sslConfigurationWithoutUsableCertificate_data()
{
    QTest::addColumn<bool>("expired");
    QTest::newRow("no-local-certificate") << false;
    QTest::newRow("expired-local-certificate") << true;
}

void tst_CryptoDataManager::sslConfigurationWithoutUsableCertificate()
{
    QFETCH(bool, expired);
    const auto restore = restoreDefaultTlsConfiguration();
    CryptoDataManager manager(storePath(QStringLiteral("unusable.enc")));
    manager.setCACertificates({m_ca});
    if (expired) {
        manager.setLocalCertificates({m_expired});
        manager.setPrivateKey(m_expiredKey);
    }
    const QSslConfiguration captured = *CryptoDataManager::_defaultSslConfig;
    const QSslConfiguration configuration = manager.prepareSslConfiguration();
    QVERIFY(configuration == captured);
    QVERIFY(!configuration.caCertificates().contains(m_ca));
    QVERIFY(configuration.localCertificate().isNull());

    // An earlier installation is undone.
    QSslConfiguration other = QSslConfiguration::defaultConfiguration();
    other.setPeerVerifyDepth(5);
    QSslConfiguration::setDefaultConfiguration(other);
    QVERIFY(manager.prepareDefaultSSlConfig());
    QVERIFY(QSslConfiguration::defaultConfiguration() == captured);
}

void tst_CryptoDataManager::installedDefaultConfiguration()
{
    const auto restore = restoreDefaultTlsConfiguration();
    CryptoDataManager manager(storePath(QStringLiteral("install.enc")));
    manager.setCACertificates({m_ca});
    manager.setLocalCertificates({m_server});
    manager.setPrivateKey(m_serverKey);
    QVERIFY(manager.prepareDefaultSSlConfig());
    const QSslConfiguration installed = QSslConfiguration::defaultConfiguration();
    QCOMPARE(installed.localCertificate(), m_server);
    QCOMPARE(installed.privateKey().toDer(), m_serverKey.toDer());
    QCOMPARE(installed.caCertificates(), QList<QSslCertificate>({m_ca}));
    QCOMPARE(installed.peerVerifyMode(), QSslSocket::VerifyNone);
    QVERIFY(installed.testSslOption(QSsl::SslOptionDisableEmptyFragments));
    QVERIFY(installed.testSslOption(QSsl::SslOptionDisableLegacyRenegotiation));
    QVERIFY(!installed.testSslOption(QSsl::SslOptionDisableSessionTickets));
    QVERIFY(!installed.testSslOption(QSsl::SslOptionDisableCompression));
    QVERIFY(!installed.testSslOption(QSsl::SslOptionDisableServerNameIndication));
    QVERIFY(!installed.testSslOption(QSsl::SslOptionDisableSessionSharing));
    QVERIFY(!installed.testSslOption(QSsl::SslOptionDisableSessionPersistence));
    // The manager's own configuration has none of these options set.
    QVERIFY(manager.prepareSslConfiguration().localCertificate() == m_server);
}

void tst_CryptoDataManager::installedDefaultServesTls()
{
    const auto restore = restoreDefaultTlsConfiguration();
    {
        CryptoDataManager manager(storePath(QStringLiteral("serve.enc")));
        manager.setCACertificates({m_ca});
        manager.setLocalCertificates({m_server});
        manager.setPrivateKey(m_serverKey);
        manager.forceSave();
    }
    // A later start of the application: the store is read back and installed.
    CryptoDataManager manager(storePath(QStringLiteral("serve.enc")));
    QVERIFY(manager.prepareDefaultSSlConfig());

    TlsServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QSslSocket client;
    QSslConfiguration clientConfiguration = client.sslConfiguration();
    clientConfiguration.setCaCertificates(manager.caCertificates());
    clientConfiguration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    client.setSslConfiguration(clientConfiguration);
    QSignalSpy encrypted(&client, &QSslSocket::encrypted);
    QSignalSpy errors(&client, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors));
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(encrypted.count() == 1 || errors.count() > 0, 20000);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(client.peerCertificate(), m_server);
    QTRY_VERIFY(!server.sockets.isEmpty() && server.sockets.first()->isEncrypted());
    client.write("ping");
    QByteArray received;
    QTRY_COMPARE((received += server.sockets.first()->readAll()), QByteArray("ping"));
}

void tst_CryptoDataManager::encryptStorageRoundTrip()
{
    const QString plain = storePath(QStringLiteral("convert.xml"));
    const QString encrypted = storePath(QStringLiteral("convert.enc"));
    {
        CryptoDataManager manager(plain);
        manager.setCACertificates({m_ca});
        manager.setLocalCertificates({m_server});
        manager.setPrivateKey(m_serverKey);
        manager.setDefaultUser(QStringLiteral("converted"));
    }
    const QByteArray document = readFile(plain);
    QVERIFY(document.startsWith("<?xml"));
    QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
    QVERIFY(!QFileInfo::exists(plain));
    const QByteArray file = readFile(encrypted);
    QCOMPARE(file, cryptotest::encodeFile(document));
    // Owner and group read and write, others read (the "User" flags repeat the owner's).
    QCOMPARE(QFileInfo(encrypted).permissions() & QFileDevice::Permissions(0x7077), QFileDevice::Permissions(0x6064));

    const CryptoDataManager manager(encrypted);
    QCOMPARE(manager.defaultUser(), QStringLiteral("converted"));
    QCOMPARE(manager.caCertificates(), QList<QSslCertificate>({m_ca}));
    QCOMPARE(manager.localCertificates(), QList<QSslCertificate>({m_server}));
    QCOMPARE(manager.privateKey().toDer(), m_serverKey.toDer());
}

void tst_CryptoDataManager::encryptStorageLeavesExistingFiles()
{
    const QString plain = storePath(QStringLiteral("keep.xml"));
    const QString encrypted = storePath(QStringLiteral("keep.enc"));
    QVERIFY(writeFile(plain, "<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>"));
    QVERIFY(writeFile(encrypted, "already there"));
    QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
    QCOMPARE(readFile(encrypted), QByteArray("already there"));
    QVERIFY(QFileInfo::exists(plain));

    const QString missing = storePath(QStringLiteral("missing.xml"));
    const QString target = storePath(QStringLiteral("missing.enc"));
    QVERIFY(CryptoDataManager::encryptStorage(missing, target));
    QVERIFY(!QFileInfo::exists(target));
}

void tst_CryptoDataManager::encryptStorageFailureKeepsPlainFile()
{
    const QString plain = storePath(QStringLiteral("stays.xml"));
    QVERIFY(writeFile(plain, "<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>"));
    const QString unwritable = storePath(QStringLiteral("no-such-dir/stays.enc"));
    QVERIFY(!CryptoDataManager::encryptStorage(plain, unwritable));
    QVERIFY(QFileInfo::exists(plain));
    QVERIFY(!QFileInfo::exists(unwritable));
    QCOMPARE(QDir(m_stores.path()).entryList(QDir::Files), QStringList({QStringLiteral("stays.xml")}));
}

QTEST_GUILESS_MAIN(tst_CryptoDataManager)
#include "tst_cryptodatamanager.moc"
