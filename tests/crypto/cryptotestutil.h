#ifndef ORVEL_TESTS_CRYPTOTESTUTIL_H
#define ORVEL_TESTS_CRYPTOTESTUTIL_H

// Helpers of the crypto tests: the encrypted settings file put together and
// taken apart from its layout (the first and last 8 bytes of K = MD5(xml)
// around VMPC(K, MD5(K), qCompress(xml))), with the VMPC that its published
// test vector pins.

#include "testfiles.h"

#include <crypto/vmpc.h>

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace cryptotest {

// Fresh content on every run.
inline QByteArray randomBytes(int size)
{
    return ::randomBytes(size, QRandomGenerator::global()->generate());
}

inline QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

inline QByteArray cipher(const QByteArray &key, const QByteArray &data)
{
    return encrypt::VMPC()(key, md5(key), data);
}

inline QByteArray encodeFile(const QByteArray &xml)
{
    const QByteArray key = md5(xml);
    return key.left(8) + cipher(key, qCompress(xml, -1)) + key.right(8);
}

// The compressed part inside a file (with its length field).
inline QByteArray compressedPart(const QByteArray &file)
{
    return cipher(file.left(8) + file.right(8), file.mid(8, file.size() - 16));
}

inline QByteArray decodeFile(const QByteArray &file)
{
    return qUncompress(compressedPart(file));
}

// Re-enciphers a changed compressed part under the key of `file`.
inline QByteArray withCompressedPart(const QByteArray &file, const QByteArray &compressed)
{
    return file.left(8) + cipher(file.left(8) + file.right(8), compressed) + file.right(8);
}

} // namespace cryptotest

#endif // ORVEL_TESTS_CRYPTOTESTUTIL_H
