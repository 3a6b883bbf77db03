#include "extfixnumber.h"

#include <QtGlobal>

namespace {

// m ÷ multiplier, with 0 for a multiplier of 0 (that operand then drops out
// instead of dividing by zero).
quint64 scaleFactor(unsigned int m, unsigned int multiplier)
{
    return multiplier == 0 ? 0 : m / multiplier;
}

// Scales both values to the larger multiplier and adds (sign 1) or
// subtracts (sign -1) them, wrapping modulo 2^64.
void combine(unsigned int m1, qint64 v1, unsigned int m2, qint64 v2, int sign,
             unsigned int *m, qint64 *v)
{
    quint64 a = quint64(v1);
    quint64 b = quint64(v2);
    *m = m1;
    if (m1 != m2) {
        *m = qMax(m1, m2);
        a *= scaleFactor(*m, m1);
        b *= scaleFactor(*m, m2);
    }
    *v = static_cast<qint64>(sign > 0 ? a + b : a - b);
}

} // namespace

ExtFixNumber::ExtFixNumber() = default;

ExtFixNumber::ExtFixNumber(unsigned int multiplier, ERoundType roundType)
    : FixNumber(multiplier)
    , m_roundType(roundType)
{
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, qint64 value, ERoundType roundType)
    : FixNumber(multiplier, value)
    , m_roundType(roundType)
{
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, double number, ERoundType roundType)
    : FixNumber(multiplier)
    , m_roundType(roundType)
{
    ExtFixNumber::setDouble(number);
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, const QString &text, ERoundType roundType)
    : FixNumber(multiplier)
    , m_roundType(roundType)
{
    setString(text);
}

ExtFixNumber::~ExtFixNumber() = default;

void ExtFixNumber::setDouble(double number)
{
    // The scaling is the base class's; the rule comes from roundsUp().
    FixNumber::setDouble(number);
}

bool ExtFixNumber::roundsUp(qint64 truncated, int firstDigit, int firstTwoDigits) const
{
    Q_UNUSED(truncated)
    const bool twoOdd = firstTwoDigits % 2 != 0;
    switch (m_roundType) {
    case RoundEvenTie:
        return firstDigit > 5 || (firstDigit == 5 && !twoOdd);
    case RoundOddTie:
        return firstDigit > 5 || (firstDigit == 5 && twoOdd);
    case RoundHalfUp:
        return firstDigit >= 5;
    case RoundUp:
        return firstDigit >= 1;
    }
    return false;
}

ExtFixNumber ExtFixNumber::operator+(const ExtFixNumber &other) const
{
    ExtFixNumber result(*this);
    combine(m_multiplier, m_value, other.m_multiplier, other.m_value, 1, &result.m_multiplier,
            &result.m_value);
    return result;
}

ExtFixNumber ExtFixNumber::operator-(const ExtFixNumber &other) const
{
    ExtFixNumber result(*this);
    combine(m_multiplier, m_value, other.m_multiplier, other.m_value, -1, &result.m_multiplier,
            &result.m_value);
    return result;
}

void ExtFixNumber::operator+=(const ExtFixNumber &other)
{
    combine(m_multiplier, m_value, other.m_multiplier, other.m_value, 1, &m_multiplier, &m_value);
}

void ExtFixNumber::operator-=(const ExtFixNumber &other)
{
    combine(m_multiplier, m_value, other.m_multiplier, other.m_value, -1, &m_multiplier, &m_value);
}
