#ifndef ORVELEXTLIB_CRYPTODATAMANAGER_H
#define ORVELEXTLIB_CRYPTODATAMANAGER_H

#include <orvelextlib_export.h>

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

class QSettings;

/// The TLS material of an application in one settings file: trusted CA
/// certificates (group "CA"), the application's own certificates ("LS"), its
/// private key ("PRIVATE_KEYS") and a default user ("USER"). Certificates and
/// the key are kept as DER bytes under keys made of "certificate_" and the
/// certificate's MD5 digest in lower-case hexadecimal.
///
/// A file name containing ".enc" anywhere is kept in the encrypted format
/// (CryptedSettingsStorage), any other in the XML format (XmlSettings).
/// Changes are written by forceSave(), by Qt's settings machinery, and when
/// the manager is destroyed. Nothing is reported: an unreadable file gives an
/// empty store, missing entries give empty results or a null key.
///
/// A manager and its storage belong to the thread that created them.
class ORVELEXTLIB_EXPORT CryptoDataManager : public QObject
{
    Q_OBJECT
public:
    static const QString CA_CERTIFICATES_SECTION; ///< "CA"
    static const QString LOCAL_CERTIFICATES_SECTION; ///< "LS"
    static const QString PRIVATE_KEY_SECTION; ///< "PRIVATE_KEYS"
    static const QString PRIVATE_KEY; ///< "key"
    static const QString PRIVATE_KEY_ALG; ///< "algorithm"
    static const QString USER_SECTION; ///< "USER"
    static const QString USER_NAME; ///< "defaultUser"
    static const QString PASSWORD; ///< "defaultUserPassword"
    static const QString SU_NAME; ///< "su"; for hosts, not read here
    static const QString SU_PASSWORD; ///< "su_password"; for hosts, not read here
    static const QString _storageFileName; ///< empty; for hosts, not read here
    /// The process-wide default TLS configuration as it was when the first
    /// manager was constructed; null before that.
    static QSharedPointer<QSslConfiguration> _defaultSslConfig;

    /// Opens the store in `fileName`; the first manager of the process also
    /// captures the default TLS configuration. Registers the XML format if
    /// the host has not done so yet.
    explicit CryptoDataManager(const QString &fileName, QObject *parent = nullptr);
    ~CryptoDataManager() override;

    /// Adds the certificates to "CA" under "certificate_<position>_<digest>";
    /// entries already there stay.
    void setCACertificates(const QList<QSslCertificate> &certificates);
    /// Adds the certificates to "LS" under "certificate_<digest>"; entries
    /// already there stay.
    void setLocalCertificates(const QList<QSslCertificate> &certificates);
    /// Stores the certificate in "CA" under "certificate_<digest>"; adding
    /// it again changes nothing.
    void addCaCertificate(const QSslCertificate &certificate);
    /// Removes "certificate_<digest>" (not the positional keys of setCACertificates()).
    void removeCaCertificate(const QSslCertificate &certificate);
    /// Stores the certificate in "LS" under "certificate_<digest>", or removes
    /// that key.
    ///@{
    void addLocalCertificate(const QSslCertificate &certificate);
    void removeLocalCertificate(const QSslCertificate &certificate);
    ///@}
    /// Remove every key of "CA", or of "LS".
    ///@{
    void removeAllCaCrtificates();
    void removeAllLoaclCrtificates();
    ///@}

    /// The CA certificates in the text order of their keys.
    QList<QSslCertificate> caCertificates() const;
    /// The local certificates in the text order of their keys. An entry that
    /// is not a DER certificate is skipped; the entries after it still count.
    QList<QSslCertificate> localCertificates() const;

    /// The stored private key (DER, no pass phrase); a null key when there is
    /// none or it does not parse. A key stored without its algorithm is read as RSA.
    QSslKey privateKey() const;
    /// Stores the key as DER without pass phrase ("key") and its algorithm
    /// ("algorithm").
    void setPrivateKey(const QSslKey &key) const;
    /// Removes "key" and "algorithm".
    void removePrivateKey() const;

    /// The default user's name ("USER"/"defaultUser"); empty when none is stored.
    ///@{
    QString defaultUser() const;
    void setDefaultUser(const QString &name);
    ///@}
    /// The default user's password ("USER"/"defaultUserPassword"), kept as
    /// plain text inside the store; empty when none is stored.
    ///@{
    QString defaultUserPassword() const;
    void setDefaultUserPassword(const QString &password);
    ///@}

    /// Writes pending changes to the file now.
    void forceSave();

    /// A copy of the current default TLS configuration with peer
    /// verification off, the stored CA certificates, and the first local
    /// certificate with the private key, when that certificate is valid now.
    /// Without such a certificate: the configuration captured by the first
    /// manager, unchanged.
    QSslConfiguration prepareSslConfiguration() const;
    /// Installs the configuration of prepareSslConfiguration() as the
    /// process-wide default, with empty fragments and legacy renegotiation
    /// disabled; without a valid local certificate it installs the captured
    /// configuration instead. Affects every TLS socket created afterwards, in
    /// any thread. Returns true.
    bool prepareDefaultSSlConfig();

    /// Converts the plain (XML) store `plainFileName` into the encrypted file
    /// `encryptedFileName` and deletes the plain file. Does nothing and
    /// returns true when the encrypted file exists already or the plain file
    /// does not. Returns false, leaving the plain file in place and no
    /// encrypted file behind, when a file cannot be read or written or the
    /// plain store is not a readable document. A blank plain file is only
    /// deleted: the encrypted store is made by its first save.
    static bool encryptStorage(const QString &plainFileName, const QString &encryptedFileName);

private:
    bool buildConfiguration(QSslConfiguration &configuration) const;

    QSettings *m_storage;
};

#endif // ORVELEXTLIB_CRYPTODATAMANAGER_H
