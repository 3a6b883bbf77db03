#include "cryptedsettingsstorage.h"
#include "cryptedsettingsstorage_p.h"

#include <crypto/vmpc.h>
#include <gz/boundedinflate_p.h>
#include <qsettingsext/settingsfileguard_p.h>

#include <QCryptographicHash>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>

// Registered when the library is loaded, so hosts can use the format at once.
QSettings::Format CryptedSettingsStorage::CRYPTED_FORMAT = QSettings::registerFormat(
    QStringLiteral("crypto"), CryptedSettingsStorage::readCryptoFile, CryptedSettingsStorage::writeCryptoFile,
    Qt::CaseSensitive);

namespace cryptedstore {

namespace {

constexpr int HalfKey = 8;
constexpr int LengthPrefix = 4;
constexpr qint64 FirstChunk = qint64(1) << 20;

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
    return key.left(HalfKey) + body + key.right(HalfKey);
}

QByteArray decode(const QByteArray &file)
{
    const QByteArray key = file.left(HalfKey) + file.right(HalfKey);
    encrypt::VMPC vmpc;
    const QByteArray compressed = vmpc(key, md5(key), file.mid(HalfKey, file.size() - 2 * HalfKey));
    QByteArray xml;
    if (!compressed.isEmpty() && !uncompress(compressed, xml))
        xml.clear();
    return xml;
}

bool isReadableStore(const QByteArray &xml)
{
    // The XML reader is a protected member of the format class.
    struct Reader : XmlSettings
    {
        using XmlSettings::readXmlData;
    };
    QSettings::SettingsMap map;
    return Reader::readXmlData(xml, map);
}

bool uncompress(const QByteArray &data, QByteArray &out)
{
    out.clear();
    if (data.size() < LengthPrefix)
        return false;
    const qint64 stream = data.size() - LengthPrefix;
    const qint64 limit = std::min(stream * gz::MaxDeflateRatio, MaxSize);
    const qint64 expected = qFromBigEndian<quint32>(data.constData());
    if (expected > limit)
        return false;
    if (stream == 0)
        return expected == 0; // qCompress's form of nothing at all

    // The output grows with what the stream really yields, so even a length
    // within the bound costs no more memory than the data delivers. The
    // document may be longer than its length field says (qUncompress accepts
    // that too), but never longer than the bound. 15 window bits: a zlib header.
    if (gz::boundedInflate(data.constData() + LengthPrefix, int(stream), 15,
                           std::min(expected, FirstChunk), limit, &out)
        == gz::InflateResult::Ended)
        return true;
    out.clear();
    return false;
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
    if (device.size() > cryptedstore::MaxSize)
        return false;
    // A damaged file decodes to nothing, which the XML reader refuses with
    // its message, as it refuses any broken document.
    return SettingsFileGuard::readFile(device, [&map](const QByteArray &file) {
        return file.size() >= cryptedstore::MinFileSize
               && readXmlData(cryptedstore::decode(file), map);
    });
}

bool CryptedSettingsStorage::writeCryptoFile(QIODevice &device, const QSettings::SettingsMap &map)
{
    if (!SettingsFileGuard::mayReplace(device))
        return false;
    const QByteArray xml = writeXmlData(map);
    if (xml.isEmpty())
        return false; // a store the reader would refuse; logged
    device.write(cryptedstore::encode(xml));
    return true;
}
