#ifndef ORVELEXTLIB_MOSQUITTOTLS_P_H
#define ORVELEXTLIB_MOSQUITTOTLS_P_H

// The OpenSSL context an MQTT connection over TLS is made with, built from a
// QSslConfiguration in memory: no key material is written to disk. Not
// installed.

#include <QSslConfiguration>
#include <QString>

typedef struct ssl_ctx_st SSL_CTX;

namespace MosquittoTls {

// A client context for a broker reached as `host`: TLS 1.2 or later, the
// broker's certificate verified against the configuration's CA certificates
// (the system's when it lists none) and its name or address checked against
// `host`; the configuration's local certificate, chain and private key are
// offered when both certificate and key are present. Whatever the
// configuration says about peer verification, the peer is verified. Null,
// with `error` set, when the material cannot be used. The caller owns one
// reference (SSL_CTX_free()).
SSL_CTX *newContext(const QSslConfiguration &configuration, const QString &host, QString *error);

// What the last failed certificate check through `context` found ("certificate
// has expired", "hostname mismatch"); empty when none. Reading clears it. Any
// thread.
QString takeVerifyError(SSL_CTX *context);

// The reason of an OpenSSL error line as libmosquitto logs it ("OpenSSL
// Error[0]: error:0A000086:SSL routines::certificate verify failed" gives
// "certificate verify failed"); empty for any other line.
QString reasonOfLogLine(const char *line);

} // namespace MosquittoTls

#endif // ORVELEXTLIB_MOSQUITTOTLS_P_H
