#include "cryptedsettingsstorage.h"
#include "cryptedsettingsstorage_p.h"

#include <crypto/vmpc.h>

#include <QCryptographicHash>
#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>

// Registered when the library is loaded, so hosts can use the format at once.
QSettings::Format CryptedSettingsStorage::CRYPTED_FORMAT = QSettings::registerFormat(
    QStringLiteral("crypto"), CryptedSettingsStorage::readCryptoFile, CryptedSettingsStorage::writeCryptoFile,
    Qt::CaseSensitive);

namespace cryptedstore {

namespace {

constexpr int kHalfKey = 8;
constexpr int kLengthPrefix = 4;
// Deflate codes at least 2 bits (a length and a distance code) for its
// longest match of 258 bytes: no stream expands further than 1032:1.
constexpr qint64 kMaxDeflateRatio = 1032;
constexpr qint64 kFirstChunk = qint64(1) << 20;

QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

} // namespace

QByteArray encode(const QByteArray &xml)
{
    const QByteArray key = md5(xml);
    encrypt::VMPC vmpc;
    const QByteArray body = vmpc(key, md5(key), qCompress(xml, -1));
    return key.left(kHalfKey) + body + key.right(kHalfKey);
}

QByteArray decode(const QByteArray &file)
{
    const QByteArray key = file.left(kHalfKey) + file.right(kHalfKey);
    encrypt::VMPC vmpc;
    const QByteArray compressed = vmpc(key, md5(key), file.mid(kHalfKey, file.size() - 2 * kHalfKey));
    QByteArray xml;
    if (!compressed.isEmpty() && !uncompress(compressed, xml))
        xml.clear();
    return xml;
}

bool uncompress(const QByteArray &data, QByteArray &out)
{
    out.clear();
    if (data.size() < kLengthPrefix)
        return false;
    const qint64 stream = data.size() - kLengthPrefix;
    const qint64 limit = std::min(stream * kMaxDeflateRatio, MAX_SIZE);
    const qint64 expected = qFromBigEndian<quint32>(data.constData());
    if (expected > limit)
        return false;
    if (stream == 0)
        return expected == 0; // qCompress's form of nothing at all

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()) + kLengthPrefix);
    zs.avail_in = uInt(stream);
    // The buffer grows with what the stream really yields, so even a length
    // within the bound costs no more memory than the data delivers.
    QByteArray result(int(std::max<qint64>(std::min(expected, kFirstChunk), 256)), Qt::Uninitialized);
    qint64 produced = 0;
    bool ok = false;
    for (;;) {
        if (produced == result.size()) {
            // Full: the document may be longer than its length field says
            // (qUncompress accepts that too), but never longer than the bound.
            const qint64 grown = std::min(limit, 2 * produced);
            if (grown <= produced)
                break;
            result.resize(int(grown));
        }
        zs.next_out = reinterpret_cast<Bytef *>(result.data()) + produced;
        zs.avail_out = uInt(result.size() - produced);
        const int status = inflate(&zs, Z_NO_FLUSH);
        produced = result.size() - qint64(zs.avail_out);
        if (status == Z_STREAM_END) {
            ok = true;
            break;
        }
        // Z_BUF_ERROR with room left means the input ran out: a cut stream.
        const bool needsRoom = (status == Z_OK || status == Z_BUF_ERROR) && zs.avail_out == 0;
        if (!needsRoom && status != Z_OK)
            break;
    }
    inflateEnd(&zs);
    if (!ok)
        return false;
    result.truncate(int(produced));
    out = result;
    return true;
}

} // namespace cryptedstore

CryptedSettingsStorage::CryptedSettingsStorage(const QString &organization, const QString &application,
                                               QObject *parent)
    : XmlSettings(CRYPTED_FORMAT, organization, application, parent)
{
}

CryptedSettingsStorage::CryptedSettingsStorage(QSettings::Scope scope, const QString &organization,
                                               const QString &application, QObject *parent)
    : XmlSettings(CRYPTED_FORMAT, scope, organization, application, parent)
{
}

CryptedSettingsStorage::CryptedSettingsStorage(const QString &fileName, QObject *parent)
    : XmlSettings(CRYPTED_FORMAT, fileName, parent)
{
}

CryptedSettingsStorage::CryptedSettingsStorage(QObject *parent)
    : XmlSettings(CRYPTED_FORMAT, parent)
{
}

bool CryptedSettingsStorage::readCryptoFile(QIODevice &device, QSettings::SettingsMap &map)
{
    if (device.size() > cryptedstore::MAX_SIZE)
        return false;
    const QByteArray file = device.readAll();
    if (file.size() < cryptedstore::MinFileSize)
        return false;
    // A damaged file decodes to nothing, which the XML reader refuses with
    // its message, as it refuses any broken document.
    return readXmlData(cryptedstore::decode(file), map);
}

bool CryptedSettingsStorage::writeCryptoFile(QIODevice &device, const QSettings::SettingsMap &map)
{
    const QByteArray xml = writeXmlData(map);
    if (xml.isEmpty())
        return false; // a store the reader would refuse; logged
    device.write(cryptedstore::encode(xml));
    return true;
}
