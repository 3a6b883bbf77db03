#include "keynumber.h"

#include <QtEndian>

#include <openssl/bn.h>
#include <openssl/err.h>

#include <algorithm>
#include <utility>

namespace {

BIGNUM *newNumber()
{
    BIGNUM *number = BN_new();
    Q_CHECK_PTR(number);
    return number;
}

BIGNUM *copyOf(const BIGNUM *bn)
{
    if (!bn)
        return newNumber();
    BIGNUM *number = BN_dup(bn);
    Q_CHECK_PTR(number);
    return number;
}

} // namespace

KeyNumber::KeyNumber()
    : m_number(newNumber())
{
}

KeyNumber::KeyNumber(const bignum_st *bn)
    : m_number(copyOf(bn))
{
}

KeyNumber::KeyNumber(const KeyNumber &other)
    : m_number(copyOf(other.m_number))
{
}

KeyNumber::KeyNumber(KeyNumber &&other) noexcept
    : m_number(newNumber())
{
    swap(other);
}

KeyNumber::KeyNumber(const unsigned long long &value)
    : m_number(newNumber())
{
    uchar bytes[8];
    qToBigEndian<quint64>(value, bytes);
    BN_bin2bn(bytes, int(sizeof bytes), m_number);
}

KeyNumber::KeyNumber(const QByteArray &bytes)
    : m_number(newNumber())
{
    BN_lebin2bn(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(), m_number);
}

KeyNumber::~KeyNumber()
{
    BN_free(m_number);
}

KeyNumber &KeyNumber::operator=(const bignum_st *bn)
{
    if (!bn)
        BN_zero(m_number);
    else if (bn != m_number)
        BN_copy(m_number, bn);
    return *this;
}

KeyNumber &KeyNumber::operator=(const KeyNumber &other)
{
    return *this = other.m_number;
}

KeyNumber &KeyNumber::operator=(KeyNumber &&other) noexcept
{
    swap(other);
    return *this;
}

void KeyNumber::swap(KeyNumber &other) noexcept
{
    std::swap(m_number, other.m_number);
}

bool KeyNumber::operator==(const KeyNumber &other) const
{
    return BN_cmp(m_number, other.m_number) == 0;
}

bool KeyNumber::operator!=(const KeyNumber &other) const
{
    return !(*this == other);
}

KeyNumber KeyNumber::powAndMod(const KeyNumber &base, const KeyNumber &exponent, const KeyNumber &modulus)
{
    KeyNumber result;
    BN_CTX *context = BN_CTX_new();
    if (!context || BN_mod_exp(result.m_number, base.m_number, exponent.m_number, modulus.m_number, context) != 1) {
        // A zero modulus, typically; keep OpenSSL's error queue clean for the host.
        ERR_clear_error();
        BN_zero(result.m_number);
    }
    BN_CTX_free(context);
    return result;
}

KeyNumber KeyNumber::powAndMod(const KeyNumber &exponent, const KeyNumber &modulus) const
{
    return powAndMod(*this, exponent, modulus);
}

const bignum_st *KeyNumber::toBignum() const
{
    return m_number;
}

KeyNumber KeyNumber::fromInt(const unsigned long long &value)
{
    return KeyNumber(value);
}

KeyNumber KeyNumber::fromByteArray(const QByteArray &bytes)
{
    return KeyNumber(bytes);
}

QByteArray KeyNumber::toByteArray() const
{
    const int length = std::max<int>(ARRAY_LENGTH, BN_num_bytes(m_number));
    QByteArray bytes(length, '\0');
    BN_bn2lebinpad(m_number, reinterpret_cast<uchar *>(bytes.data()), length);
    return bytes;
}

unsigned long long KeyNumber::toInt() const
{
    return qFromLittleEndian<quint64>(toByteArray().constData());
}

QByteArray KeyNumber::reverseArray(const QByteArray &bytes)
{
    QByteArray reversed(std::max<int>(bytes.size(), ARRAY_LENGTH), '\0');
    std::reverse_copy(bytes.cbegin(), bytes.cend(), reversed.begin());
    return reversed;
}
