#ifndef ORVELEXTLIB_ZIPCOMMON_P_H
#define ORVELEXTLIB_ZIPCOMMON_P_H

// Internals shared by the zip writer and reader: record layouts, little-endian
// access, CRC-32, MS-DOS date and time, the traditional PKWARE cipher and the
// encoding of entry names. Not installed.

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtEndian>

namespace zipcommon {

// Record signatures and fixed sizes.
constexpr quint32 LocalHeaderSignature = 0x04034b50;
constexpr quint32 DataDescriptorSignature = 0x08074b50;
constexpr quint32 CentralHeaderSignature = 0x02014b50;
constexpr quint32 EndOfDirectorySignature = 0x06054b50;
constexpr quint32 Zip64LocatorSignature = 0x07064b50;
constexpr int LocalHeaderSize = 30;
constexpr int CentralHeaderSize = 46;
constexpr int EndOfDirectorySize = 22;
constexpr int DataDescriptorSize = 16;
constexpr int EncryptionHeaderSize = 12;
constexpr int MaxCommentSize = 0xffff;

// General-purpose flag bits.
constexpr quint16 FlagEncrypted = 0x0001;
constexpr quint16 FlagDataDescriptor = 0x0008;
constexpr quint16 FlagUtf8 = 0x0800;

constexpr quint16 MethodStored = 0;
constexpr quint16 MethodDeflated = 8;
constexpr quint16 VersionNeeded = 20;

// The largest value the 32-bit size and offset fields can hold.
constexpr quint64 MaxSize32 = 0xffffffffu;

// Working buffer size of the writer and the reader.
constexpr int BufferSize = 256 * 1024;

/// The debug-level message of the writer and the reader.
inline void logDebug(const QString &text)
{
    qDebug("%s", qUtf8Printable(text));
}

inline quint16 getUShort(const char *p) { return qFromLittleEndian<quint16>(p); }
inline quint32 getUInt(const char *p) { return qFromLittleEndian<quint32>(p); }
inline void putUShort(char *p, quint16 v) { qToLittleEndian<quint16>(v, p); }
inline void putUInt(char *p, quint32 v) { qToLittleEndian<quint32>(v, p); }

/// CRC-32 of the ZIP format (zlib's crc32), continued from `crc`. Long blocks
/// take a carry-less multiplication path where the processor has one.
ORVELEXTLIB_AUTOTEST_EXPORT quint32 crc32(quint32 crc, const char *data, qint64 size);
/// zlib's own crc32 for any size, the reference for the fast path.
ORVELEXTLIB_AUTOTEST_EXPORT quint32 crc32Reference(quint32 crc, const char *data, qint64 size);

/// MS-DOS date and time of the given wall-clock fields; years outside
/// 1980..2107 are clamped to the nearest representable moment.
ORVELEXTLIB_AUTOTEST_EXPORT void toDosDateTime(const QDateTime &dt, quint16 *time, quint16 *date);
/// The same for the wall-clock fields of `secs` seconds after 1970-01-01
/// (read as UTC), in plain arithmetic: the writer needs it once per entry and
/// QDateTime goes through the C library's time-zone code for each conversion.
ORVELEXTLIB_AUTOTEST_EXPORT void toDosDateTime(qint64 secs, quint16 *time, quint16 *date);
/// The wall-clock date-time (local time) of MS-DOS fields; invalid fields give
/// an invalid QDateTime.
ORVELEXTLIB_AUTOTEST_EXPORT QDateTime fromDosDateTime(quint16 time, quint16 date);

/// The traditional PKWARE stream cipher (the "ZipCrypto" of other tools).
class ORVELEXTLIB_AUTOTEST_EXPORT CipherKeys
{
public:
    explicit CipherKeys(const QByteArray &password);
    void encrypt(char *data, qint64 size);
    void decrypt(char *data, qint64 size);

private:
    void update(quint8 c);
    quint8 streamByte() const;
    quint32 m_keys[3];
};

/// The bytes a password is keyed with: UTF-8 first; Latin-1 (what older
/// Windows tools used) as a second candidate when it differs.
ORVELEXTLIB_AUTOTEST_EXPORT QByteArray passwordBytes(const QString &password);
ORVELEXTLIB_AUTOTEST_EXPORT QByteArray passwordBytesLatin1(const QString &password);

/// Encodes an entry name or comment: ASCII as it stands, anything else as
/// UTF-8, in which case `utf8` is set (general-purpose flag bit 11).
ORVELEXTLIB_AUTOTEST_EXPORT QByteArray encodeName(const QString &name, bool *utf8);
/// Decodes a stored name: flag bit 11 means UTF-8; otherwise a valid Info-ZIP
/// Unicode Path extra field (0x7075) wins; otherwise names written on Unix
/// (`hostSystem` 3, the high byte of "version made by") that are valid UTF-8
/// are UTF-8, as Unix tools write the locale's bytes; otherwise Latin-1.
ORVELEXTLIB_AUTOTEST_EXPORT QString decodeName(const QByteArray &raw, quint16 flags,
                                               const QByteArray &extra, quint8 hostSystem = 0);

/// "Version made by" of the central directory: MS-DOS (0) for plain names.
/// A UTF-8 name is marked as written on NTFS (11, format 2.0): Info-ZIP's
/// unzip converts names from MS-DOS hosts from the OEM code page even when
/// flag bit 11 is set; NTFS hosts keep MS-DOS attributes without that.
constexpr quint16 MadeByDos = 0;
constexpr quint16 MadeByNtfs = (11 << 8) | 20;
constexpr quint8 HostUnix = 3;
/// Decodes an archive comment: valid UTF-8 with non-ASCII bytes as UTF-8,
/// anything else as Latin-1.
ORVELEXTLIB_AUTOTEST_EXPORT QString decodeComment(const QByteArray &raw);
/// Encodes an archive comment: Latin-1 when every character fits, else UTF-8.
ORVELEXTLIB_AUTOTEST_EXPORT QByteArray encodeComment(const QString &comment);

/// Works out the relative path an entry may be written to below a target
/// directory, with "." components and repeated separators removed (it may
/// come out empty). Returns false, and leaves `relative` alone, when the name
/// is absolute (leading slash or backslash, drive letter), has a ".."
/// component or contains a NUL.
ORVELEXTLIB_AUTOTEST_EXPORT bool safeRelativePath(const QString &entryName, QString *relative);

} // namespace zipcommon

#endif // ORVELEXTLIB_ZIPCOMMON_P_H
