#include "xmlsettings.h"

#include "settingsfileguard_p.h"
#include "settingsreadlimits_p.h"
#include "variantstream_p.h"
#include "xmlplainreader_p.h"
#include "xmlnamecodec_p.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDebug>
#include <QMutex>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

QSettings::Format XmlSettings::_xmlFormat = QSettings::InvalidFormat;

namespace {
const QLatin1String RootName("xml-settings");

// The reader ignores elements of the root's name wherever they stand, so a
// key component of that name is written with its first letter escaped.
QString elementName(const QString &component)
{
    if (component == RootName)
        return QStringLiteral("_x0078_ml-settings");
    return XmlNameCodec::encode(component);
}

// Whether the text survives as XML character data: XML 1.0 forbids most
// control characters, U+FFFE, U+FFFF and unpaired surrogates, and a reader
// turns every carriage return into a line feed.
bool isXmlText(const QString &text)
{
    const int size = text.size();
    const QChar *s = text.constData();
    for (int i = 0; i < size; ++i) {
        const char16_t c = s[i].unicode();
        if (c < 0x20) {
            if (c != u'\t' && c != u'\n')
                return false;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (c >= 0xDC00 || i + 1 == size || !s[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (c >= 0xFFFE) {
            return false;
        }
    }
    return true;
}

QString variantForm(const QVariant &value)
{
    return QLatin1String("@Variant(") + QLatin1String(VariantStream::save(value).toHex())
           + QLatin1Char(')');
}

// The group a value of the tree stands for, or null when the value is
// written as text: maps are groups unless one of their keys is empty, which
// no element name gives.
const QVariantMap *asGroup(const QVariant &value)
{
    if (value.userType() != QMetaType::QVariantMap)
        return nullptr;
    const QVariantMap *group = static_cast<const QVariantMap *>(value.constData());
    return group->contains(QString()) ? nullptr : group;
}

// What the reader makes of a tree as processWriteKey() writes it: whether
// elements nest deeper than it accepts, and the characters of the keys it
// stores. `level` is the nesting level of the tree's elements (the root's
// children are on level 2).
struct TreeShape
{
    bool tooDeep = false;
    bool nameTooLong = false;
    qint64 keyCharacters = 0;
};

void measure(const QVariantMap &tree, int level, qint64 prefixLength, TreeShape &shape)
{
    if (level > SettingsReadLimits::MaxDepth) {
        shape.tooDeep = true;
        return;
    }
    // An escape takes 7 characters: shorter components cannot exceed the limit.
    constexpr int safeLength = SettingsReadLimits::MaxNameLength / 7;
    for (auto it = tree.constBegin(); it != tree.constEnd() && !shape.tooDeep; ++it) {
        const qint64 keyLength = prefixLength + it.key().size();
        if (it.key().size() > safeLength
            && elementName(it.key()).size() > SettingsReadLimits::MaxNameLength)
            shape.nameTooLong = true;
        const QVariantMap *group = asGroup(it.value());
        if (group && !group->isEmpty())
            measure(*group, level + 1, keyLength + 1, shape);
        else
            shape.keyCharacters += keyLength; // an empty group reads as an empty value
    }
}

// The key prefix of the open elements: a component per element, except for
// elements named like the root, which add none. `hasChildren` and the texts
// decide at the end tag whether the element is a value.
struct OpenElement
{
    int keyLength = 0;        // length of the key up to and including this element
    bool hasChildren = false;
    QString text;             // all character data directly inside
    QString lastText;         // the last chunk that was not white space only
};
} // namespace

// The constructors without a format use _xmlFormat; all of them end in one of
// the two that hand their arguments to QSettings.
XmlSettings::XmlSettings(const QString &organization, const QString &application, QObject *parent)
    : XmlSettings(_xmlFormat, organization, application, parent)
{
}

XmlSettings::XmlSettings(QSettings::Scope scope, const QString &organization,
                         const QString &application, QObject *parent)
    : XmlSettings(_xmlFormat, scope, organization, application, parent)
{
}

XmlSettings::XmlSettings(const QString &fileName, QObject *parent)
    : XmlSettings(_xmlFormat, fileName, parent)
{
}

XmlSettings::XmlSettings(QObject *parent)
    : XmlSettings(_xmlFormat, parent)
{
}

XmlSettings::XmlSettings(QSettings::Format format, const QString &organization,
                         const QString &application, QObject *parent)
    : XmlSettings(format, QSettings::UserScope, organization, application, parent)
{
}

XmlSettings::XmlSettings(QSettings::Format format, QSettings::Scope scope,
                         const QString &organization, const QString &application, QObject *parent)
    : QSettings(format, scope, organization, application, parent)
{
}

XmlSettings::XmlSettings(QSettings::Format format, const QString &fileName, QObject *parent)
    : QSettings(fileName, format, parent)
{
}

XmlSettings::XmlSettings(QSettings::Format format, QObject *parent)
    : XmlSettings(format, QCoreApplication::organizationName(),
                  QCoreApplication::applicationName(), parent)
{
}

void XmlSettings::regFormat()
{
    static QBasicMutex mutex;
    const QMutexLocker locker(&mutex);
    if (_xmlFormat != QSettings::InvalidFormat)
        return;
    _xmlFormat = QSettings::registerFormat(QStringLiteral("xml"), readXmlFile, writeXmlFile,
                                           Qt::CaseSensitive);
}

QSettings::Format XmlSettings::xmlFormat()
{
    return _xmlFormat;
}

bool XmlSettings::readXmlFile(QIODevice &device, QSettings::SettingsMap &map)
{
    return SettingsFileGuard::readFile(device, [&map](const QByteArray &xml) {
        return readXmlData(xml, map);
    });
}

bool XmlSettings::writeXmlFile(QIODevice &device, const QSettings::SettingsMap &map)
{
    if (!SettingsFileGuard::mayReplace(device))
        return false;
    const QByteArray xml = writeXmlData(map);
    if (xml.isEmpty())
        return false;
    device.write(xml);
    return true;
}

bool XmlSettings::readXmlData(const QByteArray &xml, QSettings::SettingsMap &map)
{
    // Documents in the plain form this class writes are read without
    // QXmlStreamReader, which takes most of the time of a load; the result is
    // the same as that of processReadKey().
    QSettings::SettingsMap plain;
    if (XmlPlainReader::read(xml, plain)) {
        qDebug() << QStringLiteral("1.0") << QStringLiteral("UTF-8") << false;
        for (auto it = plain.begin(); it != plain.end(); ++it)
            *it = stringToVariant(it->toString());
        if (map.isEmpty()) {
            map.swap(plain);
        } else {
            for (auto it = plain.constBegin(); it != plain.constEnd(); ++it)
                map.insert(it.key(), it.value());
        }
        return true;
    }

    // Over a device, so that the reader knows the size of the whole document.
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&buffer);
    processReadKey(map, reader);
    if (reader.hasError()) {
        qCritical() << reader.errorString();
        return false;
    }
    return true;
}

QByteArray XmlSettings::writeXmlData(const QSettings::SettingsMap &map)
{
    // A document the reader would refuse is not written: the file on disk
    // would lose every setting. Keys are checked before the tree is built,
    // which recurses once per component.
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (SettingsReadLimits::keyComponentCount(it.key()) >= SettingsReadLimits::MaxDepth) {
            qCritical() << SettingsReadLimits::nestedTooDeeplyText();
            return QByteArray();
        }
    }
    QMap<QString, QVariant> tree;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        processSettingsMap(it.key().split(QLatin1Char('/'), Qt::SkipEmptyParts), it.value(), tree);
    TreeShape shape;
    measure(tree, 2, 0, shape);
    if (shape.tooDeep) {
        qCritical() << SettingsReadLimits::nestedTooDeeplyText();
        return QByteArray();
    }
    if (shape.nameTooLong) {
        qCritical() << QStringLiteral("Settings key component too long for an element name");
        return QByteArray();
    }

    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(RootName);
    if (!tree.isEmpty())
        processWriteKey(tree, writer);
    writer.writeEndElement();
    writer.writeEndDocument();
    if (shape.keyCharacters > SettingsReadLimits::keyBudget(xml.size())) {
        qCritical() << SettingsReadLimits::keysOverLimitText();
        return QByteArray();
    }
    return xml;
}

void XmlSettings::processReadKey(QSettings::SettingsMap &map, QXmlStreamReader &reader)
{
    QString key;
    QVector<OpenElement> open;
    open.reserve(16);
    qint64 keyCharacters = 0;

    // Keys are measured against the whole document where its size is known,
    // so that the order of the entries does not matter (the writer sorts
    // them); otherwise against what has been read so far.
    const QIODevice *device = reader.device();
    const qint64 documentSize = device && !device->isSequential() ? device->size() : -1;
    auto store = [&](int keyLength, const QString &text) {
        if (keyLength == 0)
            return;
        keyCharacters += keyLength;
        const qint64 size = documentSize >= 0 ? documentSize : reader.characterOffset();
        if (keyCharacters > SettingsReadLimits::keyBudget(size)) {
            reader.raiseError(SettingsReadLimits::keysOverLimitText());
            return;
        }
        // Files written by this format list their keys in ascending order,
        // so the end of the map is nearly always the right place.
        map.insert(map.constEnd(), key.left(keyLength), stringToVariant(text));
    };

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            qDebug() << reader.documentVersion() << reader.documentEncoding()
                     << reader.isStandaloneDocument();
            break;
        case QXmlStreamReader::StartElement: {
            if (open.size() >= SettingsReadLimits::MaxDepth) {
                reader.raiseError(SettingsReadLimits::nestedTooDeeplyText());
                break;
            }
            if (!open.isEmpty())
                open.last().hasChildren = true;
            const QStringRef name = reader.name();
            OpenElement element;
            if (name != RootName) {
                if (!key.isEmpty())
                    key.append(QLatin1Char('/'));
                XmlNameCodec::appendDecoded(key, name);
            }
            element.keyLength = key.size();
            open.append(element);
            break;
        }
        case QXmlStreamReader::EndElement: {
            if (open.isEmpty())
                break;
            {
                const OpenElement &element = open.last();
                // A value element keeps all of its text, even empty or blank;
                // text beside child elements counts only where it is more
                // than the indentation.
                if (!element.hasChildren)
                    store(element.keyLength, element.text);
                else if (!element.lastText.isNull())
                    store(element.keyLength, element.lastText);
            }
            open.removeLast();
            key.truncate(open.isEmpty() ? 0 : open.last().keyLength);
            break;
        }
        case QXmlStreamReader::Characters:
            if (!open.isEmpty()) {
                OpenElement &element = open.last();
                const QStringRef text = reader.text();
                if (element.text.isNull())
                    element.text = text.toString();
                else
                    element.text.append(text);
                if (!reader.isWhitespace() && !text.isEmpty())
                    element.lastText = text.toString();
            }
            break;
        default:
            break;
        }
    }
}

void XmlSettings::processWriteKey(const QMap<QString, QVariant> &tree, QXmlStreamWriter &writer)
{
    for (auto it = tree.constBegin(); it != tree.constEnd(); ++it) {
        const QVariant &value = it.value();
        if (const QVariantMap *group = asGroup(value)) {
            writer.writeStartElement(elementName(it.key()));
            processWriteKey(*group, writer);
            writer.writeEndElement();
        } else if (value.userType() == QMetaType::QVariantMap) {
            writer.writeTextElement(elementName(it.key()), variantForm(value));
        } else {
            writer.writeTextElement(elementName(it.key()), variantToString(value));
        }
    }
}

bool XmlSettings::processSettingsMap(const QStringList &path, const QVariant &value,
                                     QMap<QString, QVariant> &tree)
{
    if (path.isEmpty())
        return false;
    const QString &name = path.first();
    if (path.size() == 1) {
        if (tree.contains(name))
            return false;
        tree.insert(name, value);
        return true;
    }

    const QStringList rest = path.mid(1);
    auto it = tree.find(name);
    if (it == tree.end())
        it = tree.insert(name, QVariant(QVariantMap()));
    if (it->userType() == QMetaType::QVariantMap) {
        // Fill the group in place: copying it for every key would make
        // writing quadratic in the size of the group.
        processSettingsMap(rest, value, *static_cast<QVariantMap *>(it->data()));
    } else {
        QVariantMap group = it->toMap();
        if (processSettingsMap(rest, value, group))
            *it = group;
    }
    return true;
}

QString XmlSettings::variantToString(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QKeySequence: {
        QString text = value.toString();
        if (!isXmlText(text))
            return variantForm(value);
        if (text.startsWith(QLatin1Char('@')))
            text.prepend(QLatin1Char('@'));
        return text;
    }
    case QMetaType::QByteArray:
        return QLatin1String("@ByteArray(") + QLatin1String(value.toByteArray().toHex())
               + QLatin1Char(')');
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return QStringLiteral("@Rect(%1 %2 %3 %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return QStringLiteral("@Size(%1 %2)").arg(s.width()).arg(s.height());
    }
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return QStringLiteral("@Point(%1 %2)").arg(p.x()).arg(p.y());
    }
    default:
        return variantForm(value);
    }
}

QVariant XmlSettings::stringToVariant(const QString &text)
{
    if (text.startsWith(QLatin1Char('@')) && text.endsWith(QLatin1Char(')'))) {
        if (text.startsWith(QLatin1String("@ByteArray("))) {
            return QByteArray::fromHex(text.midRef(11, text.size() - 12).toLatin1());
        } else if (text.startsWith(QLatin1String("@Variant("))) {
            return VariantStream::load(QByteArray::fromHex(text.midRef(9).toLatin1()));
        } else if (text.startsWith(QLatin1String("@Rect("))) {
            const QStringList args = splitArgs(text, 5);
            if (args.size() == 4)
                return QRect(args[0].toInt(), args[1].toInt(), args[2].toInt(), args[3].toInt());
        } else if (text.startsWith(QLatin1String("@Size("))) {
            const QStringList args = splitArgs(text, 5);
            if (args.size() == 2)
                return QSize(args[0].toInt(), args[1].toInt());
        } else if (text.startsWith(QLatin1String("@Point("))) {
            const QStringList args = splitArgs(text, 6);
            if (args.size() == 2)
                return QPoint(args[0].toInt(), args[1].toInt());
        } else if (text == QLatin1String("@Invalid()")) {
            return QVariant();
        }
    }
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    return text;
}

QStringList XmlSettings::splitArgs(const QString &text, int index)
{
    QStringList result;
    QString item;
    for (int i = index + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(')')) {
            result.append(item);
        } else if (c == QLatin1Char(' ')) {
            result.append(item);
            item.clear();
        } else {
            item.append(c);
        }
    }
    return result;
}
