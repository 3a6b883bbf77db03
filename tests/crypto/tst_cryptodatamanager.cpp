// CryptoDataManager with certificates and keys made by the openssl command:
// the store layout in XML and encrypted files, the TLS configurations it
// builds and installs, and the conversion of a plain store into an encrypted one.

#include "cryptotestutil.h"

#include <crypto/cryptodatamanager.h>
#include <qsettingsext/xmlsettings.h>

#include <QLoggingCategory>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace cryptotest;

namespace {
// Just enough for self-signed certificates, one of them back-dated by `ca`.
const char openSslConfig[] = "[req]\ndistinguished_name = dn\n[dn]\n[ca]\ndefault_ca = c\n"
                             "[c]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                             "default_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n";

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
        QVERIFY2(m_work.isValid() && m_stores.isValid(), qPrintable(m_work.errorString()));
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("the openssl command is not installed (scripts/install-deps.sh installs it)");
        QVERIFY(QSslSocket::supportsSsl());
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const QString work = m_work.path() + QLatin1Char('/');
        QVERIFY(writeFile(work + "test.cnf", openSslConfig) && writeFile(work + "index.txt", "")
                && writeFile(work + "serial", "01\n"));
        // A server certificate, a second one, and one that expired in 2020 (RSA keys).
        const QString req = "req -config test.cnf -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 ";
        QVERIFY(openssl(req + "-x509 -keyout server.key -out server.pem -days 30"));
        QVERIFY(openssl(req + "-x509 -keyout other.key -out other.pem"));
        QVERIFY(openssl(req + "-keyout expired.key -out expired.csr"));
        QVERIFY(openssl("ca -batch -config test.cnf -selfsign -keyfile expired.key -in expired.csr "
                        "-out expired.pem -startdate 20200101000000Z -enddate 20200102000000Z"));
        m_server = QSslCertificate(readFile(work + "server.pem"));
        m_other = QSslCertificate(readFile(work + "other.pem"));
        m_expired = QSslCertificate(readFile(work + "expired.pem"));
        m_serverKey = QSslKey(readFile(work + "server.key"), QSsl::Rsa);
        m_expiredKey = QSslKey(readFile(work + "expired.key"), QSsl::Rsa);
        QVERIFY(!m_server.isNull() && !m_other.isNull() && !m_expired.isNull());
        QVERIFY(!m_serverKey.isNull() && !m_expiredKey.isNull());
        QVERIFY(m_expired.expiryDate() < QDateTime::currentDateTime());
    }

    void cleanupTestCase() { QLoggingCategory::setFilterRules(QString()); }

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
        QTest::newRow("store.ENC") << false;
    }

    void storageFormatFollowsName()
    {
        QFETCH(bool, encrypted);
        const QString name = path(QString::fromLatin1(QTest::currentDataTag()));
        {
            CryptoDataManager manager(name);
            manager.setDefaultUser(QStringLiteral("operator"));
            manager.addCaCertificate(m_other);
        }
        const QByteArray file = readFile(name);
        QCOMPARE(file.startsWith("<?xml"), !encrypted);
        const QByteArray xml = encrypted ? decodeFile(file) : file;
        QVERIFY(xml.contains("<defaultUser>operator</defaultUser>"));
        QVERIFY(xml.contains("<certificate_" + digest(m_other).toLatin1() + ">@ByteArray("
                             + m_other.toDer().toHex() + ")<"));
        QCOMPARE(CryptoDataManager(name).defaultUser(), QStringLiteral("operator"));
    }

    void caCertificateKeys()
    {
        // Positional keys from setCACertificates: removeCaCertificate does not know them.
        const QString name = path("ca.xml");
        CryptoDataManager manager(name);
        manager.setCACertificates({ m_other, m_server });
        manager.forceSave();
        XmlSettings raw(name);
        raw.beginGroup(QStringLiteral("CA"));
        QCOMPARE(raw.childKeys(),
                 QStringList(
                     { "certificate_0_" + digest(m_other), "certificate_1_" + digest(m_server) }));
        QCOMPARE(manager.caCertificates(), Certificates({ m_other, m_server }));
        manager.removeCaCertificate(m_other);
        QCOMPARE(manager.caCertificates().size(), 2);
        manager.removeAllCaCrtificates();
        QVERIFY(manager.caCertificates().isEmpty());
        // Added twice, kept once, removed by its digest key.
        manager.addCaCertificate(m_other);
        manager.addCaCertificate(m_other);
        QCOMPARE(manager.caCertificates(), Certificates({ m_other }));
        manager.removeCaCertificate(m_other);
        QVERIFY(manager.caCertificates().isEmpty());
        // A second setCACertificates adds to the first.
        manager.setCACertificates({ m_other, m_server });
        manager.setCACertificates({ m_server });
        QCOMPARE(manager.caCertificates().size(), 3);
        QCOMPARE(manager.caCertificates().count(m_server), 2);
    }

    void localCertificatesSkipDamagedEntry()
    {
        const QString name = path("local.xml");
        {
            CryptoDataManager manager(name);
            manager.setLocalCertificates({ m_server, m_expired });
            manager.addLocalCertificate(m_server);
        }
        // An entry that sorts first and is no certificate.
        XmlSettings(name).setValue(QStringLiteral("LS/certificate_0"),
                                   QByteArray("not a certificate"));
        CryptoDataManager manager(name);
        const Certificates certificates = manager.localCertificates();
        QCOMPARE(certificates.size(), 2);
        QVERIFY(certificates.contains(m_server) && certificates.contains(m_expired));
        manager.removeLocalCertificate(m_server);
        QCOMPARE(manager.localCertificates(), Certificates({ m_expired }));
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
                raw.setValue("PRIVATE_KEYS/key", der);
            if (algorithm.isValid())
                raw.setValue("PRIVATE_KEYS/algorithm", algorithm);
        }
        const QSslKey key = CryptoDataManager(name).privateKey();
        QCOMPARE(key.isNull(), !readable);
        QCOMPARE(key.toDer(), readable ? der : QByteArray());
        QVERIFY(!readable || (key.algorithm() == QSsl::Rsa && key.type() == QSsl::PrivateKey));
    }

    void encryptStorageConvertsWholeStore()
    {
        const QString plain = path("convert.xml"), encrypted = path("convert.enc");
        {
            CryptoDataManager manager(plain);
            fillStore(manager);
        }
        const QByteArray document = readFile(plain);
        for (const QByteArray &part :
             { QByteArray("<USER>"), QByteArray("<PRIVATE_KEYS>"),
               QByteArray("<algorithm>1</algorithm>"),
               QByteArray("<defaultUserPassword>s3cr&amp;t &lt;pw&gt;</defaultUserPassword>") })
            QVERIFY2(document.contains(part), part.constData());
        const QFileDevice::Permissions plainMode = QFileInfo(plain).permissions();
        QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
        QVERIFY(!QFileInfo::exists(plain));
        QCOMPARE(readFile(encrypted), encodeFile(document));
        // Owner and group read and write, others read, less the umask as for a file created
        // plainly.
        QCOMPARE(QFileInfo(encrypted).permissions() & QFileDevice::Permissions(0x7077),
                 plainMode & QFileDevice::Permissions(0x6064));

        const CryptoDataManager manager(encrypted);
        QCOMPARE(manager.caCertificates(), Certificates({ m_other }));
        QCOMPARE(manager.localCertificates(), Certificates({ m_server }));
        QCOMPARE(manager.privateKey().toDer(), m_serverKey.toDer());
        QCOMPARE(manager.defaultUser(), QStringLiteral("kiosk"));
        QCOMPARE(manager.defaultUserPassword(), QStringLiteral("s3cr&t <pw>"));
    }

    // An existing target or a missing source: nothing to do; a blank source is
    // deleted. A target that cannot be written or a plain store that does not
    // read: false, and the plain file stays.
    void encryptStorageEdgeCases()
    {
        const QByteArray xml = "<?xml version=\"1.0\"?><xml-settings><a>1</a></xml-settings>";
        const QString plain = path("keep.xml"), encrypted = path("keep.enc");
        QVERIFY(writeFile(plain, xml) && writeFile(encrypted, "already there"));
        QVERIFY(CryptoDataManager::encryptStorage(plain, encrypted));
        QVERIFY(CryptoDataManager::encryptStorage(path("missing.xml"), path("new.enc")));
        QVERIFY(!CryptoDataManager::encryptStorage(plain, path("no-such-dir/keep.enc")));
        QVERIFY(writeFile(path("damaged.xml"), "<xml-settings><user>R&D</user></xml-settings>"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(".")));
        QVERIFY(!CryptoDataManager::encryptStorage(path("damaged.xml"), path("damaged.enc")));
        QVERIFY(writeFile(path("blank.xml"), " \n"));
        QVERIFY(CryptoDataManager::encryptStorage(path("blank.xml"), path("blank.enc")));
        QCOMPARE(readFile(encrypted), QByteArray("already there"));
        QCOMPARE(readFile(plain), xml);
        QCOMPARE(QDir(m_stores.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({ QStringLiteral("damaged.xml"), QStringLiteral("keep.enc"),
                               QStringLiteral("keep.xml") }));
    }

    void configurationWithoutUsableCertificate_data()
    {
        QTest::addColumn<bool>("expired");
        QTest::newRow("no-local-certificate") << false;
        QTest::newRow("expired-local-certificate") << true;
    }

    // The default configuration captured at the first construction, not one
    // with the stored CA certificates.
    void configurationWithoutUsableCertificate()
    {
        QFETCH(bool, expired);
        const auto restore = restoreDefaultTlsConfiguration();
        const CryptoDataManager first(path("first.xml"));
        const QSharedPointer<QSslConfiguration> captured = CryptoDataManager::_defaultSslConfig;
        QVERIFY(captured);
        // Captured once: a later change (or installation) is not taken for it.
        QSslConfiguration other = QSslConfiguration::defaultConfiguration();
        other.setPeerVerifyDepth(5);
        QSslConfiguration::setDefaultConfiguration(other);
        CryptoDataManager manager(path("unusable.enc"));
        QCOMPARE(CryptoDataManager::_defaultSslConfig, captured);
        QVERIFY(captured->peerVerifyDepth() != 5);

        manager.setCACertificates({ m_other });
        if (expired) {
            manager.setLocalCertificates({ m_expired });
            manager.setPrivateKey(m_expiredKey);
        }
        const QSslConfiguration configuration = manager.prepareSslConfiguration();
        QVERIFY(configuration == *captured);
        QVERIFY(!configuration.caCertificates().contains(m_other));
        QVERIFY(configuration.localCertificate().isNull());
        QVERIFY(manager.prepareDefaultSSlConfig()); // undoes the change above
        QVERIFY(QSslConfiguration::defaultConfiguration() == *captured);
    }

    void installedConfiguration()
    {
        const auto restore = restoreDefaultTlsConfiguration();
        {
            CryptoDataManager manager(path("serve.enc"));
            fillStore(manager);
        }
        // A later start of the application: the store is read back.
        CryptoDataManager manager(path("serve.enc"));
        const QSslConfiguration built = manager.prepareSslConfiguration();
        QVERIFY(QSslConfiguration::defaultConfiguration()
                    .localCertificate()
                    .isNull()); // nothing installed yet
        QVERIFY(manager.prepareDefaultSSlConfig());
        const QSslConfiguration installed = QSslConfiguration::defaultConfiguration();
        for (const QSslConfiguration &configuration : { built, installed }) {
            QCOMPARE(configuration.localCertificate(), m_server);
            QCOMPARE(configuration.privateKey().toDer(), m_serverKey.toDer());
            QCOMPARE(configuration.caCertificates(), Certificates({ m_other }));
            QCOMPARE(configuration.peerVerifyMode(), QSslSocket::VerifyNone);
        }
        QVERIFY(installed.testSslOption(QSsl::SslOptionDisableEmptyFragments));
        QVERIFY(installed.testSslOption(QSsl::SslOptionDisableLegacyRenegotiation));
        for (const QSsl::SslOption option :
             { QSsl::SslOptionDisableSessionTickets, QSsl::SslOptionDisableCompression,
               QSsl::SslOptionDisableServerNameIndication, QSsl::SslOptionDisableSessionSharing,
               QSsl::SslOptionDisableSessionPersistence })
            QVERIFY2(!installed.testSslOption(option), QByteArray::number(int(option)));
    }

private:
    bool openssl(const QString &command)
    {
        const QStringList arguments = command.split(' ');
        QProcess process;
        process.setWorkingDirectory(m_work.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        const bool ok = process.waitForFinished(60000)
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ok)
            qWarning().noquote() << "openssl" << arguments.join(QLatin1Char(' '))
                                 << "failed:" << process.readAll();
        return ok;
    }
    QString path(const QString &name) const { return m_stores.filePath(name); }

    void fillStore(CryptoDataManager &manager)
    {
        manager.setCACertificates({ m_other });
        manager.setLocalCertificates({ m_server });
        manager.setPrivateKey(m_serverKey);
        manager.setDefaultUser(QStringLiteral("kiosk"));
        manager.setDefaultUserPassword(QStringLiteral("s3cr&t <pw>"));
    }

    QTemporaryDir m_work, m_stores;
    QSslCertificate m_server, m_other, m_expired;
    QSslKey m_serverKey, m_expiredKey;
};

QTEST_GUILESS_MAIN(tst_CryptoDataManager)
#include "tst_cryptodatamanager.moc"
