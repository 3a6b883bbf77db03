#ifndef ORVELEXTLIB_XMLSETTINGS_H
#define ORVELEXTLIB_XMLSETTINGS_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QSettings>
#include <QStringList>
#include <QVariant>

class QIODevice;
class QXmlStreamReader;
class QXmlStreamWriter;

/// A QSettings whose file is an XML document: the root element
/// "xml-settings", one element per group (holding its children) and one per
/// value (holding the value's text), UTF-8, indented by 4 spaces.
///
/// Values keep the text forms of Qt's INI format ("@Rect(1 2 3 4)",
/// "@Size(", "@Point(", "@Invalid()", a leading "@" doubled), except that
/// "@ByteArray(" and "@Variant(" payloads are lower-case hexadecimal. Strings
/// holding characters that XML text cannot carry (control characters, a
/// carriage return, U+FFFE/U+FFFF, lone surrogates) are written in the
/// "@Variant(" form. Key components that are not XML names (array indices
/// such as 1, names with blanks) are written with "_xHHHH_" escapes and
/// decoded when read. Everything is read back as strings unless a marker
/// applies; QVariant's conversions (toInt(), toBool()) restore the rest.
///
/// Call regFormat() once before constructing an XmlSettings without an
/// explicit format; the constructors with a format argument are for derived
/// formats (the encrypted settings) that register a format of their own.
/// A file that is not well-formed XML gives QSettings::FormatError; a copy of
/// it is kept beside it as "<file>.unreadable" (logged), since the next save
/// replaces it with what was set since. Where no copy can be written, saves
/// to the file are refused until it reads again or is removed.
class ORVELEXTLIB_EXPORT XmlSettings : public QSettings
{
    Q_OBJECT
public:
    /// The store of `organization` and `application` (user scope, or
    /// `scope`), in the XML format, as the QSettings constructors of the same
    /// shape.
    ///@{
    XmlSettings(const QString &organization, const QString &application, QObject *parent = nullptr);
    XmlSettings(QSettings::Scope scope, const QString &organization, const QString &application,
                QObject *parent = nullptr);
    ///@}
    /// The store in `fileName`, in the XML format.
    explicit XmlSettings(const QString &fileName, QObject *parent = nullptr);
    /// The user-scope store of the application's organization and name.
    explicit XmlSettings(QObject *parent = nullptr);
    /// The same four stores in `format`, for derived formats that register
    /// a format of their own.
    ///@{
    XmlSettings(QSettings::Format format, const QString &organization, const QString &application,
                QObject *parent = nullptr);
    XmlSettings(QSettings::Format format, QSettings::Scope scope, const QString &organization,
                const QString &application, QObject *parent = nullptr);
    XmlSettings(QSettings::Format format, const QString &fileName, QObject *parent = nullptr);
    explicit XmlSettings(QSettings::Format format, QObject *parent = nullptr);
    ///@}

    /// Registers the format (extension "xml") with QSettings. Only the first
    /// successful call registers; later ones keep the identifier (Qt has room
    /// for 16 custom formats per process). Any thread.
    static void regFormat();
    /// The identifier of the XML format; QSettings::InvalidFormat until
    /// regFormat() has run.
    static QSettings::Format xmlFormat();

    /// The read function of the format: fills `map` from the XML document on
    /// `device`. Returns false, after logging the reader's error, when the
    /// document is not well-formed; entries read before the error stay in
    /// `map`. Reentrant.
    static bool readXmlFile(QIODevice &device, QSettings::SettingsMap &map);
    /// The write function of the format: writes `map` as an XML document to
    /// `device`. Refuses (logs and returns false, writing nothing) a store
    /// whose document the reader would refuse: elements nested deeper than
    /// it takes, element names over 4096 characters (Qt's limit; a key
    /// component escaped into such a name), or keys over its size limit.
    /// Device errors are not reported.
    static bool writeXmlFile(QIODevice &device, const QSettings::SettingsMap &map);

protected:
    /// For derived formats that carry the XML document inside another layer
    /// (the encrypted settings): readXmlData() parses a whole document held in
    /// memory, exactly as readXmlFile() reads it from a device (same result,
    /// same failure and log); writeXmlData() returns the bytes that
    /// writeXmlFile() would write, empty where it refuses. Both are reentrant.
    ///@{
    static bool readXmlData(const QByteArray &xml, QSettings::SettingsMap &map);
    static QByteArray writeXmlData(const QSettings::SettingsMap &map);
    ///@}

    /// The reading loop behind readXmlFile(): reads tokens until the end or
    /// an error and stores every value element in `map`.
    static void processReadKey(QSettings::SettingsMap &map, QXmlStreamReader &reader);
    /// Writes one level of the tree (groups as nested elements, values as
    /// text elements), in ascending key order.
    static void processWriteKey(const QMap<QString, QVariant> &tree, QXmlStreamWriter &writer);
    /// Inserts `value` at `path` into the tree; the first value for a name
    /// wins, and a value standing where a group is needed is replaced by it.
    /// Returns whether the tree changed.
    static bool processSettingsMap(const QStringList &path, const QVariant &value,
                                   QMap<QString, QVariant> &tree);
    /// The value encoding (the text of a value element) and its inverse; a
    /// text that no marker fits is read back as a string.
    ///@{
    static QString variantToString(const QVariant &value);
    static QVariant stringToVariant(const QString &text);
    ///@}
    /// Splits the arguments of "@Rect(", "@Size(", "@Point(" texts; `index`
    /// is the position of the "(".
    static QStringList splitArgs(const QString &text, int index);

    /// The identifier of the XML format, as xmlFormat() returns it.
    static QSettings::Format _xmlFormat;
};

#endif // ORVELEXTLIB_XMLSETTINGS_H
