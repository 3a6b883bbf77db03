#ifndef ORVELEXTLIB_KEYNUMBER_H
#define ORVELEXTLIB_KEYNUMBER_H

#include <orvelextlib_export.h>

#include <QByteArray>
#include <QMetaType>

struct bignum_st; // OpenSSL's BIGNUM

/// A non-negative integer of any size, kept in an OpenSSL BIGNUM that the
/// object owns (never null, never shared between copies).
///
/// The byte form is little-endian and at least ARRAY_LENGTH (8) bytes long.
/// Values of up to 64 bits convert to and from unsigned long long exactly;
/// larger values (powAndMod() results, long random numbers) keep every byte
/// in toByteArray(), and toInt() gives their low 64 bits.
class ORVELEXTLIB_EXPORT KeyNumber
{
public:
    /// Minimum length of the byte form.
    static constexpr qint32 ARRAY_LENGTH = 8;

    /// The value 0.
    KeyNumber();
    /// A copy of `bn`; the caller keeps `bn`. A null `bn` gives 0.
    explicit KeyNumber(const bignum_st *bn);
    /// A copy with a number of its own.
    KeyNumber(const KeyNumber &other);
    /// Leaves `other` at 0.
    KeyNumber(KeyNumber &&other) noexcept;
    /// The value `value`.
    explicit KeyNumber(const unsigned long long &value);
    /// `bytes` read as a little-endian number: the first byte is the least
    /// significant, missing high bytes count as zero (so a single byte 01 is 1).
    explicit KeyNumber(const QByteArray &bytes);
    ~KeyNumber();

    /// Copies the value of `bn` (0 for a null `bn`).
    KeyNumber &operator=(const bignum_st *bn);
    /// Copy assignment copies the value into the own number; move
    /// assignment and swap exchange the numbers.
    ///@{
    KeyNumber &operator=(const KeyNumber &other);
    KeyNumber &operator=(KeyNumber &&other) noexcept;
    void swap(KeyNumber &other) noexcept;
    ///@}

    /// Compare the values.
    ///@{
    bool operator==(const KeyNumber &other) const;
    bool operator!=(const KeyNumber &other) const;
    ///@}

    /// base^exponent mod modulus; 0 when the modulus is 0.
    static KeyNumber powAndMod(const KeyNumber &base, const KeyNumber &exponent, const KeyNumber &modulus);
    /// this^exponent mod modulus; this number stays unchanged.
    KeyNumber powAndMod(const KeyNumber &exponent, const KeyNumber &modulus) const;

    /// The own BIGNUM, read-only; it stays owned by this object.
    const bignum_st *toBignum() const;

    /// KeyNumber(value) and KeyNumber(bytes).
    ///@{
    static KeyNumber fromInt(const unsigned long long &value);
    static KeyNumber fromByteArray(const QByteArray &bytes);
    ///@}

    /// The little-endian byte form: 258 gives 02 01 00 00 00 00 00 00. Always
    /// at least 8 bytes; a value of more than 64 bits gives all its bytes
    /// (never truncated), so fromByteArray() restores every value exactly.
    QByteArray toByteArray() const;
    /// The first 8 bytes of toByteArray() as a little-endian integer: the
    /// value itself up to 2^64 - 1, the low 64 bits of a larger value.
    unsigned long long toInt() const;

    /// `bytes` in reverse order, then zero bytes appended until the length is
    /// at least ARRAY_LENGTH.
    static QByteArray reverseArray(const QByteArray &bytes);

private:
    bignum_st *m_number;
};

Q_DECLARE_METATYPE(KeyNumber)

#endif // ORVELEXTLIB_KEYNUMBER_H
