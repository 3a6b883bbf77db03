#ifndef ORVELEXTLIB_AESWRAPPER_H
#define ORVELEXTLIB_AESWRAPPER_H

#include <orvelextlib_export.h>
#include <crypto/keynumber.h>

#include <QByteArray>

/// AES-128 encryption of whole byte arrays in ECB mode with zero padding, and
/// random numbers and safe primes from OpenSSL.
///
/// Every construction seeds Qt's pseudo-random generator and adds the current
/// date and time to OpenSSL's random pool. Not a QObject; no state is shared
/// between objects except OpenSSL's random pool.
class ORVELEXTLIB_EXPORT AesWrapper
{
public:
    /// The AES block size in bytes.
    static constexpr qint16 BLOCK_SIZE = 16;
    /// Published; none of the operations here reads it.
    static constexpr qint16 KEY_LENGTH = 32;

    /// An empty key; seeds Qt's pseudo-random generator with the current
    /// time and adds the current date and time to OpenSSL's random pool.
    AesWrapper();
    /// Releases the key.
    ~AesWrapper();
    /// Copies take the key.
    ///@{
    AesWrapper(const AesWrapper &) = default;
    AesWrapper &operator=(const AesWrapper &) = default;
    ///@}

    /// Encrypts `data` with the first 16 bytes of `key` (bytes after the 16th
    /// are ignored): zero bytes are appended up to the next multiple of 16
    /// (none when the length already is one), then each block is encrypted on
    /// its own. Empty data gives an empty result.
    /// A `key` shorter than 16 bytes gives an empty result.
    QByteArray rEncrypt(QByteArray data) const;

    /// The inverse of rEncrypt(); the zero padding stays at the end.
    /// Gives an empty result when `key` is shorter than 16 bytes or the length
    /// of `data` is not a multiple of 16: such data was not made by
    /// rEncrypt(), and a partial block cannot be decrypted.
    QByteArray rDecrypt(QByteArray data) const;

    /// A safe prime (p and (p - 1) / 2 both prime) of `bits` bits; 0 for more
    /// than 64 bits, and 0 when OpenSSL cannot make one that small (below 6
    /// bits, 3 excepted).
    KeyNumber generatePrime(unsigned int bits) const;

    /// An odd random number of exactly `bits` bits (top bit set); 0 when
    /// OpenSSL refuses the size.
    KeyNumber generateRnd(unsigned int bits) const;

    /// The AES key; the operations use its first 16 bytes. Empty after construction.
    QByteArray key;
};

#endif // ORVELEXTLIB_AESWRAPPER_H
