#ifndef ORVELEXTLIB_AES_P_H
#define ORVELEXTLIB_AES_P_H

// The AES block cipher (FIPS-197) in its table-driven form. Internal to the
// library: AesWrapper builds on it; the tests reach it for the vectors of all
// three key sizes.

#include <orvelextlib_export.h>

#include <QtGlobal>

/// Words in the largest key schedule: 4 per round key, 15 round keys for 14 rounds.
constexpr int AesMaxScheduleWords = 60;

/// Expands `keyBytes` (keyBits / 8 bytes) into `schedule` for encryption.
/// Returns the number of rounds: 10, 12 or 14 for 128-, 192- or 256-bit keys,
/// 0 for any other size (the schedule is then left untouched).
ORVELEXTLIB_AUTOTEST_EXPORT int aesKeySetupEncrypt(quint32 *schedule, const quint8 *keyBytes, int keyBits);

/// The same for the equivalent inverse cipher: round keys in reverse order,
/// InvMixColumns applied to all but the first and the last.
ORVELEXTLIB_AUTOTEST_EXPORT int aesKeySetupDecrypt(quint32 *schedule, const quint8 *keyBytes, int keyBits);

/// One 16-byte block; `in` and `out` may be the same buffer.
ORVELEXTLIB_AUTOTEST_EXPORT void aesEncryptBlock(const quint32 *schedule, int rounds, const quint8 *in,
                                                 quint8 *out);
ORVELEXTLIB_AUTOTEST_EXPORT void aesDecryptBlock(const quint32 *schedule, int rounds, const quint8 *in,
                                                 quint8 *out);

/// Many whole blocks in ECB order (`blocks` * 16 bytes); `in` and `out` may be
/// the same buffer. Faster than a loop over the single-block functions.
void aesEncryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks);
void aesDecryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks);

#endif // ORVELEXTLIB_AES_P_H
