#include "extfixnumber.h"

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

// The arithmetic is FixNumber's; only the compound forms differ, in giving
// a multiplier of 0 no special treatment.
ExtFixNumber ExtFixNumber::operator+(const ExtFixNumber &other) const
{
    ExtFixNumber result(*this);
    result += other;
    return result;
}

ExtFixNumber ExtFixNumber::operator-(const ExtFixNumber &other) const
{
    ExtFixNumber result(*this);
    result -= other;
    return result;
}

void ExtFixNumber::operator+=(const ExtFixNumber &other)
{
    FixNumber::operator=(FixNumber::operator+(other));
}

void ExtFixNumber::operator-=(const ExtFixNumber &other)
{
    FixNumber::operator=(FixNumber::operator-(other));
}
