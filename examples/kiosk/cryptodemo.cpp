// Crypto: the kiosk keeps its default user and a certificate with its private
// key in an encrypted store, and shows the TLS configuration built from it.

#include "demos.h"

#include <orvelextlib.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QScopeGuard>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QString shown(const DemoContext &ctx, QString path)
{
    return path.replace(ctx.workDir, QStringLiteral("<work>"));
}

// A self-signed certificate and its key from the openssl command; false (and
// a reason) when the command is missing or fails.
bool makeCertificate(const QString &dir, QSslCertificate &certificate, QSslKey &key, QString &reason)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        reason = QStringLiteral("the openssl command is not installed");
        return false;
    }
    QFile config(dir + QStringLiteral("/req.cnf"));
    if (!config.open(QIODevice::WriteOnly)
        || config.write("[req]\ndistinguished_name=dn\nprompt=no\n[dn]\nCN=kiosk.local\n") < 0) {
        reason = QStringLiteral("cannot write ") + config.fileName();
        return false;
    }
    config.close();
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl, {QStringLiteral("req"), QStringLiteral("-config"), QStringLiteral("req.cnf"),
                            QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                            QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("key.pem"),
                            QStringLiteral("-out"), QStringLiteral("cert.pem"), QStringLiteral("-days"),
                            QStringLiteral("30")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        reason = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAll()).trimmed();
        return false;
    }
    QFile certFile(dir + QStringLiteral("/cert.pem"));
    QFile keyFile(dir + QStringLiteral("/key.pem"));
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("openssl wrote no certificate");
        return false;
    }
    certificate = QSslCertificate(certFile.readAll(), QSsl::Pem);
    key = QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
    reason = QStringLiteral("openssl made no usable certificate");
    return !certificate.isNull() && !key.isNull();
}

} // namespace

bool demoCrypto(DemoContext &ctx)
{
    QTextStream &out = ctx.out;
    if (!QSslSocket::supportsSsl()) {
        out << "   skipped: Qt has no TLS support here" << Qt::endl;
        return true;
    }
    // The XML reader notes each document's version at debug level.
    QLoggingCategory *category = QLoggingCategory::defaultCategory();
    const bool debugWasOn = category->isDebugEnabled();
    category->setEnabled(QtDebugMsg, false);
    const auto restore = qScopeGuard([&] { category->setEnabled(QtDebugMsg, debugWasOn); });

    const QString storePath = ctx.workDir + QStringLiteral("/kiosk-tls.enc");
    {
        CryptoDataManager store(storePath);
        if (store.defaultUser().isEmpty()) {
            // A password from 64 random bits (odd, top bit set).
            const AesWrapper random;
            store.setDefaultUser(QStringLiteral("kiosk-operator"));
            store.setDefaultUserPassword(QString::fromLatin1(random.generateRnd(64).toByteArray().toHex()));
            out << "   default user kiosk-operator created" << Qt::endl;
        } else {
            out << "   default user " << store.defaultUser() << " kept from an earlier run" << Qt::endl;
        }

        if (store.localCertificates().isEmpty()) {
            QTemporaryDir scratch(ctx.workDir + QStringLiteral("/openssl-XXXXXX"));
            QSslCertificate certificate;
            QSslKey key;
            QString reason;
            if (scratch.isValid() && makeCertificate(scratch.path(), certificate, key, reason)) {
                store.addLocalCertificate(certificate);
                store.addCaCertificate(certificate); // self-signed: trust it too
                store.setPrivateKey(key);
                out << "   certificate for " << certificate.subjectInfo(QSslCertificate::CommonName).join(',')
                    << " generated with openssl" << Qt::endl;
            } else {
                out << "   certificate: skipped: " << reason << Qt::endl;
            }
        }
        store.forceSave();
    }
    QFile file(storePath);
    if (!file.open(QIODevice::ReadOnly)) {
        out << "   the store " << shown(ctx, storePath) << " was not written" << Qt::endl;
        return false;
    }
    const QByteArray bytes = file.readAll();
    out << "   store " << shown(ctx, storePath) << ": " << bytes.size() << " bytes, starts "
        << bytes.left(8).toHex(' ') << " (no readable text)" << Qt::endl;

    // A later start: read the store back and build the configuration.
    const CryptoDataManager store(storePath);
    const QSslConfiguration tls = store.prepareSslConfiguration();
    const QSslCertificate local = tls.localCertificate();
    if (local.isNull()) {
        out << "   TLS: no valid local certificate, the default configuration ("
            << tls.caCertificates().size() << " CA certificates) would be used" << Qt::endl;
        return store.defaultUser() == QLatin1String("kiosk-operator");
    }
    out << "   TLS: local certificate CN=" << local.subjectInfo(QSslCertificate::CommonName).join(',')
        << ", valid until " << local.expiryDate().toString(Qt::ISODate) << Qt::endl;
    out << "        private key RSA " << tls.privateKey().length() << " bits, "
        << tls.caCertificates().size() << " trusted CA certificate(s), peer verification "
        << (tls.peerVerifyMode() == QSslSocket::VerifyNone ? "off" : "on") << Qt::endl;
    return !tls.privateKey().isNull() && store.defaultUser() == QLatin1String("kiosk-operator")
           && !store.defaultUserPassword().isEmpty();
}
