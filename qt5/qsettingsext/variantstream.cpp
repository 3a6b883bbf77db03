#include "variantstream_p.h"
#include "settingsreadlimits_p.h"

#include <QDataStream>
#include <QIODevice>

#include <new>
#include <type_traits>

namespace {
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

// The type a stream of Qt 4 numbering names, as QVariant resolves it: from
// 128 on, Qt 5's core types shifted by 97 (so a byte array list can also
// arrive as 146); 127 announces a type by its name. QVariant keeps only the
// low 30 bits of the result, so 0x4000006a is a variant list too. Unknown
// names give QMetaType::UnknownType.
int resolveType(QDataStream &stream, quint32 type)
{
    constexpr quint32 qt4UserType = 127;
    constexpr quint32 qt4FirstExtCoreType = 128;
    constexpr quint32 qt4ExtCoreShift = 97;
    constexpr quint32 variantTypeBits = 0x3fffffff;
    if (stream.version() >= QDataStream::Qt_5_0)
        return int(type & variantTypeBits);
    if (type == qt4UserType) {
        QByteArray name;
        stream >> name;
        return stream.status() == QDataStream::Ok ? QMetaType::type(name.constData())
                                                  : int(QMetaType::UnknownType);
    }
    if (type >= qt4FirstExtCoreType)
        return int((type - qt4ExtCoreShift) & variantTypeBits);
    return int(type);
}

QVariant refuse(QDataStream &stream)
{
    stream.setStatus(QDataStream::ReadCorruptData);
    return QVariant();
}

QVariant loadValue(QDataStream &stream, int depth)
{
    if (depth > SettingsReadLimits::MaxDepth)
        return refuse(stream);
    QIODevice *device = stream.device();
    const qint64 start = device->pos();
    quint32 type = 0;
    stream >> type;
    if (stream.status() != QDataStream::Ok)
        return QVariant();

    // Containers of variants are read here, so that their nesting is
    // bounded; everything else goes to QVariant's own loader.
    switch (resolveType(stream, type)) {
    case QMetaType::UnknownType:
        if (stream.status() != QDataStream::Ok)
            return QVariant();
        break;
    case QMetaType::QVariantMap:
        return loadContainer<QVariantMap>(stream, depth);
    case QMetaType::QVariantHash:
        return loadContainer<QVariantHash>(stream, depth);
    case QMetaType::QVariantList:
        return loadContainer<QVariantList>(stream, depth);
    case QMetaType::QStringList:
        return loadList<QStringList>(stream);
    case QMetaType::QByteArrayList:
        return loadList<QByteArrayList>(stream);
    case QMetaType::QVariant:
        // A variant inside a variant: Qt reads these recursively without a
        // limit. Nothing is lost by unwrapping them.
        return loadValue(stream, depth + 1);
    case QMetaType::QEasingCurve: {
        // The stream carries the address of a curve function, which the
        // curve calls (whatever its type) once set: never take one from
        // outside. A curve is streamed as its type (one byte), then the address.
        quint8 curveType = 0;
        quint64 function = 0;
        stream >> curveType >> function;
        if (stream.status() == QDataStream::Ok && function != 0)
            return refuse(stream);
        break;
    }
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
