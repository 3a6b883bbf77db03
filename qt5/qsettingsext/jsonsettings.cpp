#include "jsonsettings.h"

#include "settingsfileguard_p.h"
#include "settingsreadlimits_p.h"

#include <QCoreApplication>
#include <QDebug>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <limits>

// Registered when the library is loaded, so hosts can use the format at once.
QSettings::Format JsonSettings::_jsonFormat = QSettings::registerFormat(
    QStringLiteral("json"), JsonSettings::readJsonFile, JsonSettings::writeJsonFile, Qt::CaseSensitive);

namespace {
const QLatin1String JsonMarker("@JSON:");
const QLatin1String ByteArrayMarker("@QByteArray:");
const QLatin1String SizeKey("size");

// Elements an array may be padded with (null for indices without an entry);
// a sparser group is written as an object, which keeps the same keys.
constexpr int MaxArrayPadding = 1024;

// The marked string forms of the values that JSON cannot hold as they are.
QVariant leafValue(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QVariantMap:
        return QString(JsonMarker
                       + QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact)));
    case QMetaType::QByteArray:
        return QString(ByteArrayMarker + QLatin1String(value.toByteArray().toHex()));
    default:
        return value;
    }
}

// Stores `value` at `path` inside `tree`, modifying the nested groups in
// place: copying a group for every key would make writing quadratic.
void insertValue(QVariantMap &tree, const QStringList &path, int index, const QVariant &value)
{
    const QString &name = path.at(index);
    if (index + 1 == path.size()) {
        tree.insert(name, leafValue(value));
        return;
    }
    QVariant &child = tree[name];
    if (child.userType() != QMetaType::QVariantMap)
        child = child.toMap();
    insertValue(*static_cast<QVariantMap *>(child.data()), path, index + 1, value);
}

// The 1-based index that a key names ("1", "2", … without leading zeros),
// or 0.
int arrayIndex(const QString &key)
{
    if (key.isEmpty() || key.size() > 9 || key.at(0) == QLatin1Char('0'))
        return 0;
    int index = 0;
    for (const QChar c : key) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        index = index * 10 + (c.unicode() - '0');
    }
    return index;
}

// The number of elements when the group is a QSettings array: a "size" that
// is a count and, besides it, only entries "1" … "size". Anything else in the
// group would be lost in an array, so such a group stays an object. Returns
// -1 for an object.
int arraySize(const QVariantMap &group)
{
    const auto sizeEntry = group.constFind(SizeKey);
    if (sizeEntry == group.constEnd() || sizeEntry->userType() == QMetaType::QVariantMap)
        return -1;
    switch (sizeEntry->userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::QString:
        break;
    default:
        return -1;
    }
    bool ok = false;
    const double count = sizeEntry->toDouble(&ok);
    if (!ok || count < 0 || count > std::numeric_limits<int>::max() || count != std::floor(count))
        return -1;
    const int size = int(count);
    if (size - (group.size() - 1) > MaxArrayPadding)
        return -1;
    for (auto it = group.constBegin(); it != group.constEnd(); ++it) {
        if (it != sizeEntry) {
            const int index = arrayIndex(it.key());
            if (index < 1 || index > size)
                return -1;
        }
    }
    return size;
}

QJsonValue toJson(const QVariant &node)
{
    if (node.userType() != QMetaType::QVariantMap)
        return QJsonValue::fromVariant(node);
    const QVariantMap &group = *static_cast<const QVariantMap *>(node.constData());
    const int size = arraySize(group);
    if (size >= 0) {
        QJsonArray array;
        for (int i = 1; i <= size; ++i)
            array.append(toJson(group.value(QString::number(i))));
        return array;
    }
    QJsonObject object;
    for (auto it = group.constBegin(); it != group.constEnd(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return object;
}

// Without a map, the walk only measures what a read would store: the
// writer checks its document that way.
struct ReadState
{
    QSettings::SettingsMap *map;
    qint64 keyBudget;
    bool overBudget = false;
    int level = 0;    // containers open
    int maxLevel = 0;
};

void storeValue(ReadState &state, const QString &prefix, const QVariant &value)
{
    const int keyLength = prefix.size() - 1;
    state.keyBudget -= keyLength;
    if (state.keyBudget < 0) {
        state.overBudget = true;
        return;
    }
    // Object members come in ascending order, so the end of the map is
    // usually the right place.
    if (state.map)
        state.map->insert(state.map->constEnd(), prefix.left(keyLength), value);
}

void readValue(ReadState &state, QString &prefix, const QJsonValue &value)
{
    if (state.overBudget)
        return;
    const int prefixLength = prefix.size();
    const bool container = value.isArray() || value.isObject();
    if (container)
        state.maxLevel = qMax(state.maxLevel, ++state.level);
    switch (value.type()) {
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        prefix.append(SizeKey);
        prefix.append(QLatin1Char('/'));
        storeValue(state, prefix, array.size());
        for (int i = 0; i < array.size(); ++i) {
            prefix.truncate(prefixLength);
            prefix.append(QString::number(i + 1));
            prefix.append(QLatin1Char('/'));
            readValue(state, prefix, array.at(i));
        }
        break;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            prefix.truncate(prefixLength);
            prefix.append(it.key());
            prefix.append(QLatin1Char('/'));
            readValue(state, prefix, it.value());
        }
        break;
    }
    case QJsonValue::String: {
        const QString text = value.toString();
        if (text.startsWith(JsonMarker)) {
            QJsonParseError error;
            const QJsonDocument document =
                QJsonDocument::fromJson(text.midRef(JsonMarker.size()).toUtf8(), &error);
            if (error.error == QJsonParseError::NoError)
                storeValue(state, prefix, document.toVariant());
        } else if (text.startsWith(ByteArrayMarker)) {
            storeValue(state, prefix, QByteArray::fromHex(text.midRef(ByteArrayMarker.size()).toLatin1()));
        } else {
            storeValue(state, prefix, text);
        }
        break;
    }
    case QJsonValue::Double:
        storeValue(state, prefix, value.toDouble());
        break;
    case QJsonValue::Bool:
        storeValue(state, prefix, value.toBool());
        break;
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        storeValue(state, prefix, QVariant());
        break;
    }
    if (container)
        --state.level;
    prefix.truncate(prefixLength);
}
} // namespace

// The constructors without a format use _jsonFormat; all of them end in one of
// the two that hand their arguments to QSettings.
JsonSettings::JsonSettings(const QString &organization, const QString &application, QObject *parent)
    : JsonSettings(_jsonFormat, organization, application, parent)
{
}

JsonSettings::JsonSettings(QSettings::Scope scope, const QString &organization,
                           const QString &application, QObject *parent)
    : JsonSettings(_jsonFormat, scope, organization, application, parent)
{
}

JsonSettings::JsonSettings(const QString &fileName, QObject *parent)
    : JsonSettings(_jsonFormat, fileName, parent)
{
}

JsonSettings::JsonSettings(QObject *parent)
    : JsonSettings(_jsonFormat, parent)
{
}

JsonSettings::JsonSettings(QSettings::Format format, const QString &organization,
                           const QString &application, QObject *parent)
    : JsonSettings(format, QSettings::UserScope, organization, application, parent)
{
}

JsonSettings::JsonSettings(QSettings::Format format, QSettings::Scope scope,
                           const QString &organization, const QString &application, QObject *parent)
    : QSettings(format, scope, organization, application, parent)
{
}

JsonSettings::JsonSettings(QSettings::Format format, const QString &fileName, QObject *parent)
    : QSettings(fileName, format, parent)
{
}

JsonSettings::JsonSettings(QSettings::Format format, QObject *parent)
    : JsonSettings(format, QCoreApplication::organizationName(),
                   QCoreApplication::applicationName(), parent)
{
}

QSettings::Format JsonSettings::jsonFormat()
{
    return _jsonFormat;
}

namespace {
bool readJsonData(const QByteArray &data, QSettings::SettingsMap &map)
{
    // An empty store is written as an empty file.
    if (data.trimmed().isEmpty())
        return true;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        qCritical() << error.errorString();
        return false;
    }
    ReadState state{&map, SettingsReadLimits::keyBudget(data.size())};
    QString prefix;
    readValue(state, prefix, document.isArray() ? QJsonValue(document.array())
                                                : QJsonValue(document.object()));
    if (state.overBudget) {
        qCritical() << SettingsReadLimits::keysOverLimitText();
        return false;
    }
    return true;
}
} // namespace

bool JsonSettings::readJsonFile(QIODevice &device, QSettings::SettingsMap &map)
{
    return SettingsFileGuard::readFile(device, [&map](const QByteArray &json) {
        return readJsonData(json, map);
    });
}

bool JsonSettings::writeJsonFile(QIODevice &device, const QSettings::SettingsMap &map)
{
    if (!SettingsFileGuard::mayReplace(device))
        return false;
    // A document the reader would refuse is not written: the file on disk
    // would lose every setting. Keys are checked before the tree is built,
    // which recurses once per component.
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (SettingsReadLimits::keyComponentCount(it.key()) > SettingsReadLimits::MaxDepth) {
            qCritical() << SettingsReadLimits::nestedTooDeeplyText();
            return false;
        }
    }
    QVariantMap tree;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const QStringList path = it.key().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (!path.isEmpty())
            insertValue(tree, path, 0, it.value());
    }
    if (tree.isEmpty())
        return true;

    const QJsonValue root = toJson(tree);
    const QJsonDocument document = root.isArray() ? QJsonDocument(root.toArray())
                                                  : QJsonDocument(root.toObject());
    const QByteArray json = document.toJson(QJsonDocument::Indented);
    // List values add arrays below their key.
    ReadState state{nullptr, SettingsReadLimits::keyBudget(json.size())};
    QString prefix;
    readValue(state, prefix, root);
    if (state.maxLevel > SettingsReadLimits::MaxDepth) {
        qCritical() << SettingsReadLimits::nestedTooDeeplyText();
        return false;
    }
    if (state.overBudget) {
        qCritical() << SettingsReadLimits::keysOverLimitText();
        return false;
    }
    device.write(json);
    return true;
}

QVariant JsonSettings::processWriteValue(const QVariant &node, const QString &key, const QVariant &value)
{
    QVariantMap tree = node.toMap();
    const QStringList path = key.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!path.isEmpty())
        insertValue(tree, path, 0, value);
    return tree;
}

void JsonSettings::processReadValue(QString &prefix, QSettings::SettingsMap &map, const QVariant &value)
{
    ReadState state{&map, std::numeric_limits<qint64>::max()};
    readValue(state, prefix, QJsonValue::fromVariant(value));
}
