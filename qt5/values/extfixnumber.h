#ifndef ORVELEXTLIB_EXTFIXNUMBER_H
#define ORVELEXTLIB_EXTFIXNUMBER_H

#include <orvelextlib_export.h>

#include <values/fixnumber.h>

/// A FixNumber with a choice of rounding for setDouble() and setString().
/// With s the number times the multiplier, i = s truncated, d1 the first
/// cut-off decimal digit and d2 the first two (0 to 99), "up" means i + 1:
///
/// - RoundEvenTie: d1 > 5 up; d1 = 5 up when d2 is even; else down.
/// - RoundOddTie (the default): d1 > 5 up; d1 = 5 up when d2 is odd; else down.
/// - RoundHalfUp: d1 >= 5 up.
/// - RoundUp: d1 >= 1 up (only the first cut-off digit counts).
/// - any other value: truncation.
///
/// Negative numbers are truncated toward zero by every type. Parsed text is
/// rounded on its own decimal digits: "1,125" with multiplier 100 gives 113
/// for RoundEvenTie. Formatting, maps and comparisons are those of FixNumber.
class ORVELEXTLIB_EXPORT ExtFixNumber : public FixNumber
{
public:
    /// How the cut-off digits round (see the class description).
    enum ERoundType : qint32 {
        RoundEvenTie = 0, ///< up on 5 when the first two cut-off digits are even
        RoundOddTie = 1,  ///< up on 5 when the first two cut-off digits are odd
        RoundHalfUp = 2,  ///< up from 5
        RoundUp = 3       ///< up from 1
    };

    /// Multiplier 100, value 0, RoundOddTie.
    ExtFixNumber();
    /// Value 0.
    ExtFixNumber(unsigned int multiplier, ERoundType roundType);
    /// `value` is taken as units, unscaled.
    ExtFixNumber(unsigned int multiplier, qint64 value, ERoundType roundType);
    /// The units from setDouble(number), rounded with `roundType`.
    ExtFixNumber(unsigned int multiplier, double number, ERoundType roundType);
    /// Value 0, then setString(text) rounded with `roundType`.
    ExtFixNumber(unsigned int multiplier, const QString &text, ERoundType roundType);
    /// Copies and moves copy the multiplier, the value and the round type.
    ///@{
    ExtFixNumber(const ExtFixNumber &other) = default;
    ExtFixNumber(ExtFixNumber &&other) noexcept = default;
    ExtFixNumber &operator=(const ExtFixNumber &other) = default;
    ExtFixNumber &operator=(ExtFixNumber &&other) noexcept = default;
    ///@}

    ~ExtFixNumber() override;

    /// As FixNumber::setDouble(), rounded by the round type.
    void setDouble(double number) override;

    /// The rounding of later setDouble() and setString() calls.
    ERoundType roundType() const { return m_roundType; }
    /// The stored value is not recomputed; later setDouble()/setString() use it.
    void setRoundType(const ERoundType &roundType) { m_roundType = roundType; }

    /// The result takes the larger multiplier m and this number's round
    /// type; each value is scaled by m ÷ its own multiplier (factor 0 for a
    /// multiplier of 0). 64-bit overflow wraps.
    ///@{
    ExtFixNumber operator+(const ExtFixNumber &other) const;
    ExtFixNumber operator-(const ExtFixNumber &other) const;
    ///@}
    /// As operator+ / operator-, in place; the round type stays, and unlike
    /// FixNumber's forms a multiplier of 0 gets no special treatment.
    ///@{
    void operator+=(const ExtFixNumber &other);
    void operator-=(const ExtFixNumber &other);
    ///@}

protected:
    bool roundsUp(qint64 truncated, int firstDigit, int firstTwoDigits) const override;

private:
    ERoundType m_roundType = RoundOddTie;
};

Q_DECLARE_METATYPE(ExtFixNumber)

#endif // ORVELEXTLIB_EXTFIXNUMBER_H
