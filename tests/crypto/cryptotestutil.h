#ifndef ORVEL_TESTS_CRYPTOTESTUTIL_H
#define ORVEL_TESTS_CRYPTOTESTUTIL_H

// An encoder and decoder of the encrypted settings file written for the tests
// alone, from OpenSSL's MD5, zlib and a VMPC of their own, so that the
// library's file layout is checked against a second implementation.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtEndian>
#include <QtGlobal>

#include <openssl/evp.h>
#include <zlib.h>

namespace cryptotest {

inline QByteArray md5(const QByteArray &data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.constData(), size_t(data.size()), digest, &length, EVP_md5(), nullptr);
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

// VMPC with its key schedule and IV pass, as published.
inline QByteArray vmpc(const QByteArray &key, const QByteArray &iv, const QByteArray &data)
{
    unsigned char P[256];
    for (int i = 0; i < 256; ++i)
        P[i] = static_cast<unsigned char>(i);
    unsigned s = 0;
    const auto pass = [&](const QByteArray &k) {
        for (int m = 0; m < 768; ++m) {
            const unsigned n = unsigned(m) % 256;
            const unsigned char a = P[n];
            s = P[(s + a + static_cast<unsigned char>(k.at(m % k.size()))) % 256];
            const unsigned char t = P[s];
            P[s] = a;
            P[n] = t;
        }
    };
    pass(key);
    if (iv.size() >= 16 && iv.size() <= 64)
        pass(iv);
    QByteArray out(data.size(), '\0');
    for (int j = 0; j < data.size(); ++j) {
        const unsigned n = unsigned(j) % 256;
        s = P[(s + P[n]) % 256];
        out[j] = char(P[(P[P[s]] + 1) % 256] ^ static_cast<unsigned char>(data.at(j)));
        const unsigned char t = P[n];
        P[n] = P[s];
        P[s] = t;
    }
    return out;
}

// qCompress's form: 4-byte big-endian length, then a zlib stream.
inline QByteArray zlibCompress(const QByteArray &data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(int(size) + 4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    compress2(reinterpret_cast<Bytef *>(out.data() + 4), &size, reinterpret_cast<const Bytef *>(data.constData()),
              uLong(data.size()), Z_DEFAULT_COMPRESSION);
    out.resize(int(size) + 4);
    return out;
}

inline QByteArray zlibUncompress(const QByteArray &data)
{
    if (data.size() < 4)
        return QByteArray();
    uLongf size = qFromBigEndian<quint32>(data.constData());
    QByteArray out(int(size), '\0');
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.constData() + 4),
                   uLong(data.size() - 4))
        != Z_OK) {
        return QByteArray();
    }
    out.resize(int(size));
    return out;
}

// The file for an XML document.
inline QByteArray encodeFile(const QByteArray &xml)
{
    const QByteArray key = md5(xml);
    return key.left(8) + vmpc(key, md5(key), zlibCompress(xml)) + key.right(8);
}

// The compressed part inside a file (still with its length field).
inline QByteArray compressedPart(const QByteArray &file)
{
    const QByteArray key = file.left(8) + file.right(8);
    return vmpc(key, md5(key), file.mid(8, file.size() - 16));
}

inline QByteArray decodeFile(const QByteArray &file)
{
    return zlibUncompress(compressedPart(file));
}

// Re-enciphers a changed compressed part under the key of `file`.
inline QByteArray withCompressedPart(const QByteArray &file, const QByteArray &compressed)
{
    const QByteArray key = file.left(8) + file.right(8);
    return file.left(8) + vmpc(key, md5(key), compressed) + file.right(8);
}

} // namespace cryptotest

#endif // ORVEL_TESTS_CRYPTOTESTUTIL_H
