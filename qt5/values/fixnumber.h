#ifndef ORVELEXTLIB_FIXNUMBER_H
#define ORVELEXTLIB_FIXNUMBER_H

#include <orvelextlib_export.h>

#include <QChar>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

/// A decimal fixed-point number: a signed 64-bit count of units and an
/// unsigned multiplier saying how many units make one (100 units per one by
/// default, so 1234 units are 12.34). The multiplier is meant to be a power
/// of ten; 0 is tolerated (it reads as "no scale").
///
/// Rounding (setDouble() and setString()): with s the number times the
/// multiplier, i the units s truncated toward zero and d the first cut-off
/// decimal digit, d > 5 rounds up, d = 5 rounds up only when i is odd, d < 5
/// rounds down. Only that first digit counts (12.3451 gives 1234), and
/// negative numbers are always truncated toward zero (-12.349 gives -1234).
/// Subclasses change the rule by overriding roundsUp().
///
/// A plain value type: it reports no errors, and one object must not be
/// changed from two threads at once.
class ORVELEXTLIB_EXPORT FixNumber
{
public:
    /// Multiplier 100, value 0.
    FixNumber();
    /// Value 0.
    explicit FixNumber(unsigned int multiplier);
    /// `value` is taken as units, unscaled.
    FixNumber(unsigned int multiplier, qint64 value);
    /// The units from setDouble(number) of this class.
    FixNumber(unsigned int multiplier, double number);
    /// Value 0, then setString(text).
    FixNumber(unsigned int multiplier, const QString &text);
    /// Copies and moves copy the multiplier and the value.
    ///@{
    FixNumber(const FixNumber &other) = default;
    FixNumber(FixNumber &&other) noexcept = default;
    FixNumber &operator=(const FixNumber &other) = default;
    FixNumber &operator=(FixNumber &&other) noexcept = default;
    ///@}

    virtual ~FixNumber();

    /// value ÷ multiplier; with multiplier 0 the value itself.
    virtual double toDouble() const;
    /// toString() with the default QLocale's decimal point and no group separator.
    virtual QString toString() const;
    /// "-" for a negative value, the integer part cut into groups of three
    /// digits joined by `groupSeparator` (nothing when it is QChar(0)),
    /// `decimalPoint`, then the fraction zero-filled to decimals() digits:
    /// -1234567 with multiplier 100, "." and "," gives "-12,345.67".
    /// Multiplier 0 or 1: just the value in base 10.
    virtual QString toString(const QChar &decimalPoint, const QChar &groupSeparator) const;
    /// Sets the units from a binary double: s = multiplier × number in
    /// extended precision, rounded by the class's rule (see above). NaN and
    /// numbers whose units do not fit 64 bits leave the number unchanged.
    virtual void setDouble(double number);
    /// Parses decimal text: an optional "-", at least one digit 0-9, an
    /// optional "." or ",", optional digits; nothing else (no blanks, "+",
    /// exponent or leading separator). The units and the cut-off digits come
    /// straight from the text's digits (no binary double in between, so
    /// "1.015" gives 102 units), rounded by the same rule as setDouble():
    /// "1,125" and "1.125" give 112, "-0.29" gives -29. Text that does not
    /// match, or whose units do not fit 64 bits, leaves the number unchanged.
    virtual void setString(const QString &text);
    /// How often the multiplier (as a signed 32-bit integer) can be divided
    /// by 10 while it is greater than 1: 100 gives 2, 50 gives 2, 0 and 1 give 0.
    virtual int decimals() const;
    /// d < 0: nothing; d = 0: multiplier 1; else 10^d modulo 2^32. The value
    /// is not rescaled (1234 with two decimals becomes 1.234 with three).
    virtual void setDecimal(int d);

    /// Units per whole number.
    unsigned int realMultiplier() const { return m_multiplier; }
    /// The value is not rescaled.
    void setRealMultiplier(const unsigned int &multiplier) { m_multiplier = multiplier; }
    /// The number of units, read or set as they stand.
    ///@{
    qint64 value() const { return m_value; }
    void setValue(const qint64 &value) { m_value = value; }
    ///@}

    /// {"rm": multiplier, "value": units}, both as base-10 strings; empty
    /// when the multiplier is 0.
    QVariantMap toMap() const;
    /// Reads "rm" (low 32 bits) and "value"; a missing or unreadable entry
    /// reads as 0. Both members are always overwritten.
    void setMap(const QMap<QString, QVariant> &map);

    /// Equal multipliers and values, or toDouble() results equal within
    /// qFuzzyCompare: 12.30 (multiplier 100) equals 12.300 (multiplier 1000).
    bool operator==(const FixNumber &other) const;
    /// The negation of operator==().
    bool operator!=(const FixNumber &other) const { return !(*this == other); }
    /// Order by toDouble(); the forms with "=" are also true when operator==() is.
    ///@{
    bool operator>(const FixNumber &other) const;
    bool operator<(const FixNumber &other) const;
    bool operator>=(const FixNumber &other) const;
    bool operator<=(const FixNumber &other) const;
    ///@}

    /// The result takes the larger multiplier m; each value is scaled by
    /// m ÷ its own multiplier (integer quotient, factor 0 for multiplier 0).
    /// 64-bit overflow wraps.
    ///@{
    FixNumber operator+(const FixNumber &other) const;
    FixNumber operator-(const FixNumber &other) const;
    ///@}
    /// As operator+ / operator-, except that an operand with multiplier 0 does
    /// not scale: a right operand with multiplier 0 changes nothing, and a
    /// left one with multiplier 0 takes the right operand (negated for -=).
    ///@{
    FixNumber &operator+=(const FixNumber &other);
    FixNumber &operator-=(const FixNumber &other);
    ///@}

protected:
    /// The rounding rule: whether `truncated` units (s truncated toward
    /// zero) become truncated + 1, given the first cut-off decimal digit
    /// `firstDigit` (-9 to 9, never positive for negative s) and the first
    /// two `firstTwoDigits` (-99 to 99). Used by setDouble() and setString().
    virtual bool roundsUp(qint64 truncated, int firstDigit, int firstTwoDigits) const;

    /// Applies roundsUp() to already-scaled units; leaves the value
    /// unchanged when rounding up would leave the 64-bit range.
    void setRounded(qint64 truncated, int firstDigit, int firstTwoDigits);

    unsigned int m_multiplier = 100; ///< units per whole number
    qint64 m_value = 0;              ///< the number of units
};

Q_DECLARE_METATYPE(FixNumber)

#endif // ORVELEXTLIB_FIXNUMBER_H
