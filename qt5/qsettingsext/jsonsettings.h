#ifndef ORVELEXTLIB_JSONSETTINGS_H
#define ORVELEXTLIB_JSONSETTINGS_H

#include <orvelextlib_export.h>

#include <QSettings>
#include <QVariant>

class QIODevice;

/// A QSettings whose file is a JSON document (indented, members in
/// ascending order). Groups are objects; a QSettings array (a group holding
/// "size" and the entries "1" … "size" and nothing else) is a JSON array.
/// Byte arrays are written as strings "@QByteArray:<hex>" and map values as
/// strings "@JSON:<compact JSON>"; on reading, only a string that begins
/// with one of these markers is decoded. Numbers come back as double,
/// booleans as bool, null as an invalid QVariant, lists as key/size and
/// key/1 … key/n; JSON has no form for other types (QSize, QColor, …),
/// which are written as their toString() text or null.
///
/// The format (extension "json") is registered when the library is loaded;
/// jsonFormat() gives its identifier. An empty or blank file is an empty
/// store; a file that is not JSON gives QSettings::FormatError, and a copy
/// of it is kept as XmlSettings keeps one.
class ORVELEXTLIB_EXPORT JsonSettings : public QSettings
{
    Q_OBJECT
public:
    /// The store of `organization` and `application` (user scope, or
    /// `scope`), in the JSON format, as the QSettings constructors of the
    /// same shape.
    ///@{
    JsonSettings(const QString &organization, const QString &application, QObject *parent = nullptr);
    JsonSettings(QSettings::Scope scope, const QString &organization, const QString &application,
                 QObject *parent = nullptr);
    ///@}
    /// The store in `fileName`, in the JSON format.
    explicit JsonSettings(const QString &fileName, QObject *parent = nullptr);
    /// The user-scope store of the application's organization and name.
    explicit JsonSettings(QObject *parent = nullptr);
    /// The same four stores in `format`.
    ///@{
    JsonSettings(QSettings::Format format, const QString &organization, const QString &application,
                 QObject *parent = nullptr);
    JsonSettings(QSettings::Format format, QSettings::Scope scope, const QString &organization,
                 const QString &application, QObject *parent = nullptr);
    JsonSettings(QSettings::Format format, const QString &fileName, QObject *parent = nullptr);
    explicit JsonSettings(QSettings::Format format, QObject *parent = nullptr);
    ///@}

    /// The identifier of the JSON format, registered at library load
    /// (QSettings::InvalidFormat if Qt had no room left for it).
    static QSettings::Format jsonFormat();

    /// The read function of the format. Returns false, after logging the
    /// parse error, when the bytes on `device` are not a JSON document.
    /// Reentrant.
    static bool readJsonFile(QIODevice &device, QSettings::SettingsMap &map);
    /// The write function of the format; an empty map writes an empty file.
    /// Refuses (logs and returns false, writing nothing) a store whose
    /// document the reader would refuse: nested deeper than Qt's JSON parser
    /// takes (1024 levels), or keys over the reader's size limit. Device
    /// errors are not reported. Reentrant.
    static bool writeJsonFile(QIODevice &device, const QSettings::SettingsMap &map);

protected:
    /// Returns a copy of the tree `node` (nested QVariantMaps) with `value`
    /// stored at the "/"-separated `key`; byte arrays and maps are stored in
    /// their marked string forms. A value standing where a group is needed
    /// is replaced by the group. Arrays are formed only when the tree is
    /// written.
    static QVariant processWriteValue(const QVariant &node, const QString &key, const QVariant &value);
    /// Flattens `value` (as read from a document) into `map` below `prefix`,
    /// which is empty or ends with "/"; `prefix` is the same on return.
    static void processReadValue(QString &prefix, QSettings::SettingsMap &map, const QVariant &value);

    /// The identifier of the JSON format, as jsonFormat() returns it.
    static QSettings::Format _jsonFormat;
};

#endif // ORVELEXTLIB_JSONSETTINGS_H
