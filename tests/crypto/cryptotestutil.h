#ifndef ORVEL_TESTS_CRYPTOTESTUTIL_H
#define ORVEL_TESTS_CRYPTOTESTUTIL_H

// Helpers of the crypto tests, and an encoder and decoder of the encrypted
// settings file built from its layout alone (the first and last 8 bytes of
// K = MD5(xml) around VMPC(K, MD5(K), qCompress(xml))) with a VMPC of their
// own, so that the library's files are checked against a second
// implementation rather than against the library's code.

#include "testfiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

namespace cryptotest {

using ::readFile;
using ::writeFile;

// Fresh content on every run.
inline QByteArray randomBytes(int size)
{
    return ::randomBytes(size, QRandomGenerator::global()->generate());
}

inline QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
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
            P[n] = P[s];
            P[s] = a;
        }
    };
    pass(key);
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

inline QByteArray cipher(const QByteArray &key, const QByteArray &data)
{
    return vmpc(key, md5(key), data);
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
