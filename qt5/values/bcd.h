#ifndef ORVELEXTLIB_BCD_H
#define ORVELEXTLIB_BCD_H

#include <orvelextlib_export.h>

#include <QByteArray>

/// Packed binary-coded decimal: two decimal digits per byte, the more
/// significant digit in the high nibble, the most significant byte first.
/// Static functions without state; nothing is validated (a nibble above 9
/// simply counts with its value). Any thread.
class ORVELEXTLIB_EXPORT BCD
{
public:
    /// Packs `value`, then puts zero bytes in front up to `digits` ÷ 2 bytes
    /// (an odd count rounds down; a longer number is never cut):
    /// (1234, 6) gives 00 12 34, (12345, 4) gives 01 23 45, (0, 0) nothing.
    static QByteArray int2bcd(unsigned long long value, unsigned char digits);

    /// Rewrites each of the first `length` bytes of `data` in place with its
    /// two-digit value, (b mod 16) + (b ÷ 16) × 10: 0x12 becomes 12, 0xFF
    /// becomes 165. A length of 0 (or a null `data`) changes nothing.
    static void bcd2int(unsigned char *data, unsigned char length);

    /// The packed number as an integer: the byte values (as above) taken as
    /// base-100 digits, most significant first; an empty array gives 0.
    /// 12 34 gives 1234. A number that does not fit 64 bits (more than 20
    /// digits, or 20 digits above 18446744073709551615) comes back modulo
    /// 2^64, the low 64 bits of the exact number: 01 followed by ten 00
    /// bytes (10^20) gives 7766279631452241920. So only the last 32 bytes of
    /// an array can affect the result. Every byte counts, whatever the size.
    static quint64 bcd2int(const QByteArray &bytes);

    BCD() = delete;
};

#endif // ORVELEXTLIB_BCD_H
