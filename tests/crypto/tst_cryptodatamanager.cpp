// CryptoDataManager with certificates and keys made by the openssl command:
// the store layout in XML and encrypted files, the TLS configurations it
// builds and installs (and a real handshake with the installed one), and
// the conversion of a plain store into an encrypted one.

#include "cryptotestutil.h"

#include <crypto/cryptodatamanager.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace cryptotest;

namespace {

const char kOpenSslConfig[] = R"([ req ]
distinguished_name = dn
x509_extensions = v3_ca
[ dn ]
[ v3_ca ]
basicConstraints = critical, CA:TRUE
[ server ]
basicConstraints = CA:FALSE
subjectAltName = IP:127.0.0.1, DNS:localhost
[ ca ]
default_ca = testca
[ testca ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
[ anything ]
commonName = supplied
)";

// Serves TLS on 127.0.0.1 with the process-wide default configuration.
class TlsServer : public QTcpServer
{
public:
    QList<QSslSocket *> sockets;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        QVERIFY(socket->setSocketDescriptor(descriptor));
        sockets.append(socket);
        socket->startServerEncryption();
    }
};

// Puts back the default TLS configuration of the process when it goes.
auto restoreDefaultTlsConfiguration()
{
    return qScopeGuard([saved = QSslConfiguration::defaultConfiguration()] {
        QSslConfiguration::setDefaultConfiguration(saved);
    });
}

QString digest(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Md5).toHex());
}

using Certificates = QList<QSslCertificate>;

} // namespace

class tst_CryptoDataManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_work.isValid(), qPrintable(m_work.errorString()));
        QVERIFY2(m_stores.isValid(), qPrintable(m_stores.errorString()));
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("the openssl command is not installed (scripts/install-deps.sh installs it)");
        QVERIFY(QSslSocket::supportsSsl());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

        const QString work = m_work.path() + QLatin1Char('/');
        QVERIFY(writeFile(work + "test.cnf", kOpenSslConfig));
        QVERIFY(writeFile(work + "index.txt", QByteArray()));
        QVERIFY(writeFile(work + "serial", "01\n"));
        const QString cnf = QStringLiteral("test.cnf");
        // A CA, a server certificate it signed (RSA), and a self-signed one that
        // expired in 2020.
        QVERIFY(openssl({"req", "-config", cnf, "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                         "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650", "-subj", "/CN=Test CA"}));
        for (const QString &name : {QStringLiteral("server"), QStringLiteral("expired")}) {
            QVERIFY(openssl({"req", "-config", cnf, "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
                             "-out", name + ".csr", "-subj", "/CN=127.0.0.1"}));
        }
        QVERIFY(openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                         "-out", "server.pem", "-days", "30", "-extfile", cnf, "-extensions", "server"}));
        QVERIFY(openssl({"ca", "-batch", "-config", cnf, "-selfsign", "-keyfile", "expired.key", "-in", "expired.csr",
                         "-out", "expired.pem", "-startdate", "20200101000000Z", "-enddate", "20200102000000Z"}));

        m_ca = QSslCertificate(readFile(work + "ca.pem"));
        m_server = QSslCertificate(readFile(work + "server.pem"));
        m_serverKey = QSslKey(readFile(work + "server.key"), QSsl::Rsa);
        m_expired = QSslCertificate(readFile(work + "expired.pem"));
        m_expiredKey = QSslKey(readFile(work + "expired.key"), QSsl::Rsa);
        QVERIFY(!m_ca.isNull() && !m_server.isNull() && !m_expired.isNull());
        QVERIFY(!m_serverKey.isNull() && !m_expiredKey.isNull());
        QVERIFY(m_expired.expiryDate() < QDateTime::currentDateTime());
    }

    void cleanupTestCase()
    {
        QLoggingCategory::setFilterRules(QString());
    }

    void cleanup()
    {
        QDir stores(m_stores.path());
        for (const QString &name : stores.entryList(QDir::Files | QDir::Hidden))
            stores.remove(name);
    }

    void storageFormatFollowsName_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("store.enc") << true;
        QTest::newRow("store.xml") << false;
        QTest::newRow("store.enc.bak") << true;
        QTest::newRow("my.encrypted") << true;
        QTest::newRow("store.ENC") << false;
    }

    void storageFormatFollowsName()
    {
        QFETCH(bool, encrypted);
        const QString name = path(QString::fromLatin1(QTest::currentDataTag()));
        {
            CryptoDataManager manager(name);
            manager.setDefaultUser(QStringLiteral("operator"));
            manager.addCaCertificate(m_ca);
        }
        const QByteArray file = readFile(name);
        QCOMPARE(file.startsWith("<?xml"), !encrypted);
        const QByteArray xml = encrypted ? decodeFile(file) : file;
        QVERIFY(xml.contains("<defaultUser>operator</defaultUser>"));
        QVERIFY(xml.contains("<certificate_" + digest(m_ca).toLatin1() + ">@ByteArray(" + m_ca.toDer().toHex() + ")<"));
        QCOMPARE(CryptoDataManager(name).defaultUser(), QStringLiteral("operator"));
    }

    void caCertificateKeys()
    {
        // Positional keys from setCACertificates: removeCaCertificate does not know them.
        const QString name = path(QStringLiteral("ca.xml"));
        CryptoDataManager manager(name);
        manager.setCACertificates({m_ca, m_server});
        manager.forceSave();
        {
            XmlSettings raw(name);
            raw.beginGroup(QStringLiteral("CA"));
            QCOMPARE(raw.childKeys(),
                     QStringList({"certificate_0_" + digest(m_ca), "certificate_1_" + digest(m_server)}));
        }
        QCOMPARE(manager.caCertificates(), Certificates({m_ca, m_server}));
        manager.removeCaCertificate(m_ca);
        QCOMPARE(manager.caCertificates().size(), 2);
        manager.removeAllCaCrtificates();
        QVERIFY(manager.caCertificates().isEmpty());

        // Added twice, kept once, removed by its digest key.
        manager.addCaCertificate(m_ca);
        manager.addCaCertificate(m_ca);
        QCOMPARE(manager.caCertificates(), Certificates({m_ca}));
        manager.removeCaCertificate(m_ca);
        QVERIFY(manager.caCertificates().isEmpty());

        // A second setCACertificates adds to the first.
        manager.setCACertificates({m_ca, m_server});
        manager.setCACertificates({m_server});
        QCOMPARE(manager.caCertificates().size(), 3);
        QCOMPARE(manager.caCertificates().count(m_server), 2);
    }

    void localCertificatesSkipDamagedEntry()
    {
        const QString name = path(QStringLiteral("local.xml"));
        {
            CryptoDataManager manager(name);
            manager.setLocalCertificates({m_server, m_expired});
            manager.addLocalCertificate(m_server);
        }
        // An entry that sorts first and is no certificate.
        XmlSettings(name).setValue(QStringLiteral("LS/certificate_0"), QByteArray("not a certificate"));
        CryptoDataManager manager(name);
        const Certificates certificates = manager.localCertificates();
        QCOMPARE(certificates.size(), 2);
        QVERIFY(certificates.contains(m_server) && certificates.contains(m_expired));
        manager.removeLocalCertificate(m_server);
        QCOMPARE(manager.localCertificates(), Certificates({m_expired}));
        manager.removeAllLoaclCrtificates();
        QVERIFY(manager.localCertificates().isEmpty());
    }

    void privateKeyAsStored_data()
    {
        QTest::addColumn<QByteArray>("der");
        QTest::addColumn<QVariant>("algorithm");
        QTest::addColumn<bool>("readable");
        const QByteArray der = m_serverKey.toDer();
        QTest::newRow("nothing-stored") << QByteArray() << QVariant() << false;
        QTest::newRow("rsa") << der << QVariant(1) << true;
        QTest::newRow("no-algorithm-is-rsa") << der << QVariant() << true;
        QTest::newRow("garbage") << QByteArray("garbage") << QVariant(1) << false;
        QTest::newRow("unknown-algorithm") << der << QVariant(77) << false;
    }

    void privateKeyAsStored()
    {
        QFETCH(QByteArray, der);
        QFETCH(QVariant, algorithm);
        QFETCH(bool, readable);
        const QString name = path(QString::fromLatin1(QTest::currentDataTag()) + ".xml");
        {
            XmlSettings raw(name);
            if (!der.isEmpty())
                raw.setValue(QStringLiteral("PRIVATE_KEYS/key"), der);
            if (algorithm.isValid())
                raw.setValue(QStringLiteral("PRIVATE_KEYS/algorithm"), algorithm);
        }
        const QSslKey key = CryptoDataManager(name).privateKey();
        QCOMPARE(key.isNull(), !readable);
        if (readable) {
            QCOMPARE(key.algorithm(), QSsl::Rsa);
            QCOMPARE(key.type(), QSsl::PrivateKey);
            QCOMPARE(key.toDer(), der);
        }
    }

    void groupsAreClosedAfterEveryOperation()
    {
        CryptoDataManager manager(path(QStringLiteral("groups.enc")));
        const QSettings *storage = manager.findChild<QSettings *>();
        QVERIFY(storage);
        // Each of them once, getters between setters and removals.
        const QList<QPair<const char *, std::function<void()>>> operations{
            {"setCACertificates", [&] { manager.setCACertificates({m_ca}); }},
            {"setLocalCertificates", [&] { manager.setLocalCertificates({m_server}); }},
            {"addCaCertificate", [&] { manager.addCaCertificate(m_ca); }},
            {"addLocalCertificate", [&] { manager.addLocalCertificate(m_server); }},
            {"setPrivateKey", [&] { manager.setPrivateKey(m_serverKey); }},
            {"setDefaultUser", [&] { manager.setDefaultUser(QStringLiteral("u")); }},
            {"setDefaultUserPassword", [&] { manager.setDefaultUserPassword(QStringLiteral("p")); }},
            {"certificate getters",
             [&] { QCOMPARE(manager.caCertificates().size() + manager.localCertificates().size(), 3); }},
            {"user getters", [&] { QCOMPARE(manager.defaultUser() + manager.defaultUserPassword(), QString("up")); }},
            {"prepareSslConfiguration",
             [&] { QVERIFY(!manager.prepareSslConfiguration().localCertificate().isNull()); }},
            {"removeCaCertificate", [&] { manager.removeCaCertificate(m_ca); }},
            {"removeLocalCertificate", [&] { manager.removeLocalCertificate(m_server); }},
            {"removePrivateKey", [&] { manager.removePrivateKey(); }},
            {"removeAllCaCrtificates", [&] { manager.removeAllCaCrtificates(); }},
            {"removeAllLoaclCrtificates", [&] { manager.removeAllLoaclCrtificates(); }},
        };
        for (const auto &operation : operations) {
            operation.second();
            QVERIFY2(storage->group().isEmpty(), operation.first);
        }
        QVERIFY(manager.privateKey().isNull());
        QVERIFY(manager.caCertificates().isEmpty() && manager.localCertificates().isEmpty());
    }

    void encryptStorageConvertsWholeStore()
    {
        const QString plain = path(QStringLiteral("convert.xml"));
        const QString encrypted = path(QStringLiteral("convert.enc"));
        {
            CryptoDataManager manager(plain);
            fillStore(manager);
        }
        const QByteArray document = readFile(plain);
        for (const QByteArray &part : {QByteArray("<?xml"), QByteArray("<USER>"), QByteArray("<PRIVATE_KEYS>"),
                                       QByteArray("<algorithm>1</algorithm>"),
                                       QByteArray("<defaultUserPassword>s3cr&amp;t &lt;pw&gt;</defaultUserPassword>")})
            QVERIFY2(document.contains(part), part.constData());

        const QFileDevice::Permissions plainMode = QFileInfo(plain).permissions();
        QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
        QVERIFY(!QFileInfo::exists(plain));
        QCOMPARE(readFile(encrypted), encodeFile(document));
        // Owner and group read and write, others read, less the umask as for a file created plainly.
        QCOMPARE(QFileInfo(encrypted).permissions() & QFileDevice::Permissions(0x7077),
                 plainMode & QFileDevice::Permissions(0x6064));

        const CryptoDataManager manager(encrypted);
        QCOMPARE(manager.caCertificates(), Certificates({m_ca}));
        QCOMPARE(manager.localCertificates(), Certificates({m_server}));
        QCOMPARE(manager.privateKey().toDer(), m_serverKey.toDer());
        QCOMPARE(manager.defaultUser(), QStringLiteral("kiosk"));
        QCOMPARE(manager.defaultUserPassword(), QStringLiteral("s3cr&t <pw>"));
    }

    void encryptStorageEdgeCases()
    {
        const QByteArray xml = "<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>";
        const QString plain = path(QStringLiteral("keep.xml"));
        const QString encrypted = path(QStringLiteral("keep.enc"));
        QVERIFY(writeFile(plain, xml));
        QVERIFY(writeFile(encrypted, "already there"));
        QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
        QCOMPARE(readFile(encrypted), QByteArray("already there"));
        QCOMPARE(readFile(plain), xml);

        QVERIFY(CryptoDataManager::encryptStorage(path(QStringLiteral("missing.xml")), path("new.enc")));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("new.enc"))));

        // A target that cannot be written: false, and the plain file stays.
        QVERIFY(!CryptoDataManager::encryptStorage(plain, path(QStringLiteral("no-such-dir/keep.enc"))));
        QCOMPARE(readFile(plain), xml);
        QCOMPARE(QDir(m_stores.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("keep.enc"), QStringLiteral("keep.xml")}));
    }

    void configurationWithoutUsableCertificate_data()
    {
        QTest::addColumn<bool>("expired");
        QTest::newRow("no-local-certificate") << false;
        QTest::newRow("expired-local-certificate") << true;
    }

    void configurationWithoutUsableCertificate()
    {
        QFETCH(bool, expired);
        const auto restore = restoreDefaultTlsConfiguration();
        const CryptoDataManager first(path(QStringLiteral("first.xml")));
        const QSharedPointer<QSslConfiguration> captured = CryptoDataManager::_defaultSslConfig;
        QVERIFY(captured);
        // The process default is captured once: a later change (or installation) is not taken for it.
        QSslConfiguration other = QSslConfiguration::defaultConfiguration();
        other.setPeerVerifyDepth(5);
        QSslConfiguration::setDefaultConfiguration(other);
        CryptoDataManager manager(path(QStringLiteral("unusable.enc")));
        QCOMPARE(CryptoDataManager::_defaultSslConfig, captured);
        QVERIFY(captured->peerVerifyDepth() != 5);

        manager.setCACertificates({m_ca});
        if (expired) {
            manager.setLocalCertificates({m_expired});
            manager.setPrivateKey(m_expiredKey);
        }
        const QSslConfiguration configuration = manager.prepareSslConfiguration();
        QVERIFY(configuration == *captured);
        QVERIFY(!configuration.caCertificates().contains(m_ca));
        QVERIFY(configuration.localCertificate().isNull());
        QVERIFY(manager.prepareDefaultSSlConfig()); // undoes the change above
        QVERIFY(QSslConfiguration::defaultConfiguration() == *captured);
    }

    void installedConfigurationServesTls()
    {
        const auto restore = restoreDefaultTlsConfiguration();
        {
            CryptoDataManager manager(path(QStringLiteral("serve.enc")));
            fillStore(manager);
            manager.forceSave();
        }
        // A later start of the application: the store is read back.
        CryptoDataManager manager(path(QStringLiteral("serve.enc")));
        const QSslConfiguration built = manager.prepareSslConfiguration();
        QVERIFY(QSslConfiguration::defaultConfiguration().localCertificate().isNull()); // nothing installed yet
        QVERIFY(manager.prepareDefaultSSlConfig());
        const QSslConfiguration installed = QSslConfiguration::defaultConfiguration();
        for (const QSslConfiguration &configuration : {built, installed}) {
            QCOMPARE(configuration.localCertificate(), m_server);
            QCOMPARE(configuration.privateKey().toDer(), m_serverKey.toDer());
            QCOMPARE(configuration.caCertificates(), Certificates({m_ca}));
            QCOMPARE(configuration.peerVerifyMode(), QSslSocket::VerifyNone);
        }
        QVERIFY(installed.testSslOption(QSsl::SslOptionDisableEmptyFragments));
        QVERIFY(installed.testSslOption(QSsl::SslOptionDisableLegacyRenegotiation));
        for (const QSsl::SslOption option :
             {QSsl::SslOptionDisableSessionTickets, QSsl::SslOptionDisableCompression,
              QSsl::SslOptionDisableServerNameIndication, QSsl::SslOptionDisableSessionSharing,
              QSsl::SslOptionDisableSessionPersistence})
            QVERIFY2(!installed.testSslOption(option), QByteArray::number(int(option)));

        TlsServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QSslSocket client;
        QSslConfiguration clientConfiguration = client.sslConfiguration();
        clientConfiguration.setCaCertificates({m_ca});
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

private:
    bool openssl(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_work.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
        if (!ok)
            qWarning().noquote() << "openssl" << arguments.join(QLatin1Char(' ')) << "failed:" << process.readAll();
        return ok;
    }
    QString path(const QString &name) const { return m_stores.filePath(name); }

    void fillStore(CryptoDataManager &manager)
    {
        manager.setCACertificates({m_ca});
        manager.setLocalCertificates({m_server});
        manager.setPrivateKey(m_serverKey);
        manager.setDefaultUser(QStringLiteral("kiosk"));
        manager.setDefaultUserPassword(QStringLiteral("s3cr&t <pw>"));
    }

    QTemporaryDir m_work, m_stores;
    QSslCertificate m_ca, m_server, m_expired;
    QSslKey m_serverKey, m_expiredKey;
};

QTEST_GUILESS_MAIN(tst_CryptoDataManager)
#include "tst_cryptodatamanager.moc"
