#include "variantstream_p.h"
#include "settingsreadlimits_p.h"

#include <QDataStream>
#include <QIODevice>

#include <new>
#include <type_traits>

namespace {
// Type identifiers of the containers that hold QVariants; Qt 4 and Qt 5 use
// the same numbers for them (and for the string and byte array lists).
constexpr quint32 mapType = QMetaType::QVariantMap;
constexpr quint32 listType = QMetaType::QVariantList;
constexpr quint32 hashType = QMetaType::QVariantHash;

QVariant loadValue(QDataStream &stream, int depth);

// Reads elements one by one instead of reserving the announced count; like
// Qt's own container streaming, a failure leaves the container empty.
template<typename Container>
QVariant loadContainer(QDataStream &stream, int depth)
{
    Container container;
    quint32 count = 0;
    stream >> count;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QString key;
        if constexpr (!std::is_same_v<Container, QVariantList>)
            stream >> key;
        const QVariant element = loadValue(stream, depth + 1);
        if (stream.status() != QDataStream::Ok)
            break;
        if constexpr (std::is_same_v<Container, QVariantList>)
            container.append(element);
        else
            container.insert(key, element);
    }
    if (stream.status() != QDataStream::Ok)
        container.clear();
    return QVariant(container);
}

// Lists of strings or byte arrays: Qt's own streaming reserves the announced
// count at once, so a crafted count asks for gigabytes. Read element by element.
template<typename List>
QVariant loadList(QDataStream &stream)
{
    List list;
    quint32 count = 0;
    stream >> count;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        typename List::value_type element;
        stream >> element;
        if (stream.status() == QDataStream::Ok)
            list.append(element);
    }
    if (stream.status() != QDataStream::Ok)
        list.clear();
    return QVariant::fromValue(list);
}

QVariant loadValue(QDataStream &stream, int depth)
{
    if (depth > SettingsReadLimits::maxDepth) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return QVariant();
    }
    QIODevice *device = stream.device();
    const qint64 start = device->pos();
    quint32 type = 0;
    stream >> type;
    if (stream.status() != QDataStream::Ok)
        return QVariant();

    // Containers of variants are read here, so that their nesting is
    // bounded; everything else goes to QVariant's own loader.
    switch (type) {
    case mapType:
        return loadContainer<QVariantMap>(stream, depth);
    case hashType:
        return loadContainer<QVariantHash>(stream, depth);
    case listType:
        return loadContainer<QVariantList>(stream, depth);
    case QMetaType::QStringList:
        return loadList<QStringList>(stream);
    case QMetaType::QByteArrayList:
        return loadList<QByteArrayList>(stream);
    default:
        break;
    }
    device->seek(start);
    QVariant value;
    stream >> value;
    return value;
}
} // namespace

namespace VariantStream {

QByteArray save(const QVariant &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << value;
    return bytes;
}

QVariant load(const QByteArray &bytes)
{
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_4_0);
    try {
        return loadValue(stream, 0);
    } catch (const std::bad_alloc &) {
        // A length field that asks for more memory than there is.
        return QVariant();
    }
}

} // namespace VariantStream
