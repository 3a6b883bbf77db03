// The encrypted settings format's read function. Random files almost never
// get past decryption, so the input is used three ways by its first byte:
//   0: the file as it stands;
//   1: the rest is the compressed document: it is enciphered under a key made
//      of its first 16 bytes, so the bounded uncompress sees it as it is;
//   2: the rest is the XML document: compressed and enciphered as the writer
//      does, so the whole reading path runs.
// Where the bounded uncompress takes a document, qUncompress gives the same.
#include "fuzzsupport.h"

#include <crypto/cryptedsettingsstorage.h>
#include <crypto/cryptedsettingsstorage_p.h>
#include <crypto/vmpc.h>

#include <QBuffer>
#include <QCryptographicHash>

namespace {
QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

QByteArray encipher(const QByteArray &key, const QByteArray &compressed)
{
    encrypt::VMPC vmpc;
    return key.left(8) + vmpc(key, md5(key), compressed) + key.right(8);
}

bool read(const QByteArray &file, QSettings::SettingsMap &map)
{
    QBuffer device;
    device.setData(file);
    device.open(QIODevice::ReadOnly);
    return CryptedSettingsStorage::readCryptoFile(device, map);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    if (size == 0)
        return 0;
    const QByteArray rest = fuzz::bytes(data + 1, size - 1);
    QSettings::SettingsMap map;
    switch (data[0] % 3) {
    case 0:
        (void)read(rest, map);
        break;
    case 1: {
        QByteArray key = md5(rest.left(16));
        (void)read(encipher(key, rest), map);
        QByteArray bounded;
        if (cryptedstore::uncompress(rest, bounded) && !bounded.isEmpty() && bounded.size() <= (1 << 20))
            fuzz::check(qUncompress(rest) == bounded, "bounded uncompress differs from qUncompress");
        break;
    }
    default: {
        const QByteArray file = encipher(md5(rest), qCompress(rest, -1));
        const bool ok = read(file, map);
        QSettings::SettingsMap plain;
        QBuffer xml;
        xml.setData(rest);
        xml.open(QIODevice::ReadOnly);
        // Keys only: values may hold NaN, which equals nothing.
        fuzz::check(ok == XmlSettings::readXmlFile(xml, plain) && map.keys() == plain.keys(),
                    "the encrypted form reads differently from the XML document");
        break;
    }
    }
    return 0;
}
