#ifndef ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_H
#define ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_H

#include <orvelextlib_export.h>
#include <qsettingsext/xmlsettings.h>

/// An XmlSettings whose file is not readable as text: the XML document of the
/// XML format is compressed (qCompress) and enciphered with VMPC. The file is
/// 8 bytes of K, the enciphered data, then the other 8 bytes of K, where K is
/// the MD5 of the document and the IV the MD5 of K. The file carries all it
/// takes to read it back (no password): it keeps the content from casual
/// reading and accidental editing, and equal content gives equal files.
///
/// The format is registered under the extension "crypto" when the library
/// is loaded; nothing needs to be called first. A file that is too short,
/// damaged, or whose length field promises more than its compressed data can
/// hold gives QSettings::FormatError, and a copy of it is kept as
/// XmlSettings keeps one.
class ORVELEXTLIB_EXPORT CryptedSettingsStorage : public XmlSettings
{
    Q_OBJECT
public:
    /// The store of `organization` and `application` (user scope, or
    /// `scope`), in the encrypted format, as the QSettings constructors of
    /// the same shape.
    ///@{
    CryptedSettingsStorage(const QString &organization, const QString &application, QObject *parent = nullptr);
    CryptedSettingsStorage(QSettings::Scope scope, const QString &organization, const QString &application,
                           QObject *parent = nullptr);
    ///@}
    /// The store in `fileName`, in the encrypted format.
    explicit CryptedSettingsStorage(const QString &fileName, QObject *parent = nullptr);
    /// The user-scope store of the application's organization and name.
    explicit CryptedSettingsStorage(QObject *parent = nullptr);

    /// The read function of the format: deciphers and uncompresses the file
    /// on `device` and reads the XML document into `map`. Returns false for a
    /// file shorter than 32 bytes or larger than 1 GiB (quietly) and for a
    /// damaged one (with the XML reader's critical message). Reentrant.
    static bool readCryptoFile(QIODevice &device, QSettings::SettingsMap &map);
    /// The write function of the format: writes `map` as an enciphered XML
    /// document to `device`. Device errors are left to QSettings; returns true.
    static bool writeCryptoFile(QIODevice &device, const QSettings::SettingsMap &map);

    /// The identifier of the format, set when the library is loaded.
    static QSettings::Format CRYPTED_FORMAT;
};

#endif // ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_H
