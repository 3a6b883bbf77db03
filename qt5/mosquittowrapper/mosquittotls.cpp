#include "mosquittotls_p.h"

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <mutex>

namespace {

// The last verification failure of one context; freed with the context.
struct VerifyRecord
{
    std::mutex mutex;
    QString error;
};

void freeRecord(void *, void *record, CRYPTO_EX_DATA *, int, long, void *)
{
    delete static_cast<VerifyRecord *>(record);
}

int recordIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freeRecord);
    return index;
}

VerifyRecord *recordOf(SSL_CTX *context)
{
    return context ? static_cast<VerifyRecord *>(SSL_CTX_get_ex_data(context, recordIndex()))
                   : nullptr;
}

// Runs in whatever thread makes the handshake. Notes why the chain failed;
// the handshake itself fails on `ok` alone.
int verifyPeer(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    const auto *ssl = static_cast<const SSL *>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (VerifyRecord *record = ssl ? recordOf(SSL_get_SSL_CTX(ssl)) : nullptr) {
        const std::lock_guard<std::mutex> lock(record->mutex);
        record->error = QString::fromLatin1(
            X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)));
    }
    return ok;
}

QString lastOpenSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromLatin1(reason) : QStringLiteral("unknown reason");
}

X509 *toX509(const QSslCertificate &certificate)
{
    const QByteArray pem = certificate.toPem();
    BIO *bio = BIO_new_mem_buf(pem.constData(), pem.size());
    X509 *x509 = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return x509;
}

EVP_PKEY *toKey(const QSslKey &key)
{
    // The key passes through memory only, and its text is wiped after use.
    QByteArray pem = key.toPem();
    BIO *bio = BIO_new_mem_buf(pem.constData(), pem.size());
    EVP_PKEY *pkey = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    OPENSSL_cleanse(pem.data(), size_t(pem.size()));
    return pkey;
}

bool useIdentity(SSL_CTX *context, const QSslConfiguration &configuration)
{
    const QSslCertificate local = configuration.localCertificate();
    const QSslKey key = configuration.privateKey();
    if (local.isNull() || key.isNull())
        return true;
    X509 *certificate = toX509(local);
    EVP_PKEY *pkey = toKey(key);
    bool ok = certificate && pkey && SSL_CTX_use_certificate(context, certificate) == 1
        && SSL_CTX_use_PrivateKey(context, pkey) == 1 && SSL_CTX_check_private_key(context) == 1;
    X509_free(certificate);
    EVP_PKEY_free(pkey);
    const QList<QSslCertificate> chain = configuration.localCertificateChain();
    for (const QSslCertificate &link : chain) {
        if (!ok || link == local)
            continue;
        X509 *x509 = toX509(link);
        ok = x509 && SSL_CTX_add1_chain_cert(context, x509) == 1;
        X509_free(x509);
    }
    return ok;
}

} // namespace

namespace MosquittoTls {

SSL_CTX *newContext(const QSslConfiguration &configuration, const QString &host, QString *error)
{
    ERR_clear_error();
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        *error = QStringLiteral("cannot create a TLS context: ") + lastOpenSslError();
        return nullptr;
    }
    const auto fail = [&](const QString &what) {
        *error = what + QStringLiteral(": ") + lastOpenSslError();
        SSL_CTX_free(context);
        return nullptr;
    };
    SSL_CTX_set_ex_data(context, recordIndex(), new VerifyRecord);
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1)
        return fail(QStringLiteral("cannot require TLS 1.2"));

    const QList<QSslCertificate> authorities = configuration.caCertificates();
    if (authorities.isEmpty()) {
        SSL_CTX_set_default_verify_paths(context);
    } else {
        X509_STORE *store = SSL_CTX_get_cert_store(context);
        for (const QSslCertificate &authority : authorities) {
            if (X509 *x509 = toX509(authority)) {
                X509_STORE_add_cert(store, x509);
                X509_free(x509);
            }
        }
        ERR_clear_error(); // a certificate listed twice is no failure
    }
    if (!useIdentity(context, configuration))
        return fail(QStringLiteral("the local certificate or private key cannot be used"));

    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(context);
    const QByteArray name = host.toUtf8();
    const bool named = QHostAddress(host).isNull()
        ? X509_VERIFY_PARAM_set1_host(param, name.constData(), size_t(name.size())) == 1
        : X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) == 1;
    if (!named)
        return fail(QStringLiteral("cannot check the broker's name ") + host);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verifyPeer);
    return context;
}

QString takeVerifyError(SSL_CTX *context)
{
    VerifyRecord *record = recordOf(context);
    if (!record)
        return QString();
    const std::lock_guard<std::mutex> lock(record->mutex);
    QString error;
    error.swap(record->error);
    return error;
}

QString reasonOfLogLine(const char *line)
{
    static const char prefix[] = "OpenSSL Error";
    if (!line || std::strncmp(line, prefix, sizeof prefix - 1) != 0)
        return QString();
    const char *colon = std::strrchr(line, ':');
    return QString::fromUtf8(colon ? colon + 1 : line).trimmed();
}

} // namespace MosquittoTls
