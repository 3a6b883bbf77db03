#ifndef ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_P_H
#define ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_P_H

// The encrypted file layout, shared by CryptedSettingsStorage and
// CryptoDataManager::encryptStorage().

#include <orvelextlib_export.h>

#include <QByteArray>

namespace cryptedstore {

/// Files shorter than this were not written by the format.
constexpr int MinFileSize = 32;
/// No store comes near this; larger files are refused unread, as are
/// documents that would uncompress to more.
constexpr qint64 MaxSize = qint64(1) << 30;

/// The file for the XML document `xml`: the first 8 bytes of K = MD5(xml),
/// then VMPC(key K, IV MD5(K), qCompress(xml)), then the last 8 bytes of K.
QByteArray encode(const QByteArray &xml);

/// The document inside `file` (at least MinFileSize bytes); empty when the
/// compressed data is damaged.
QByteArray decode(const QByteArray &file);

/// Whether the XML document `xml` reads as a store (the reader's message is
/// logged when not).
bool isReadableStore(const QByteArray &xml);

/// qUncompress() with a bound: the 4-byte big-endian length in front of the
/// zlib stream is refused when it is larger than deflate can produce from the
/// bytes present (1032 times their number) or than MaxSize, and the output
/// never grows past that either; memory grows with the output actually
/// produced. Returns false for a refused length or a damaged or truncated
/// stream. Logs nothing.
ORVELEXTLIB_AUTOTEST_EXPORT bool uncompress(const QByteArray &data, QByteArray &out);

} // namespace cryptedstore

#endif // ORVELEXTLIB_CRYPTEDSETTINGSSTORAGE_P_H
