#include "fixnumber.h"

#include <QLocale>

#include <limits>

namespace {

constexpr qint64 MaxUnits = std::numeric_limits<qint64>::max();

// Units scaled from a number: truncated toward zero, plus the first one and
// two cut-off decimal digits (negative for a negative number).
struct Scaled
{
    qint64 truncated = 0;
    int firstDigit = 0;
    int firstTwoDigits = 0;
};

// Both numbers scaled to the larger multiplier m (each value times m ÷ its
// own multiplier, 0 for a multiplier of 0, unless the multipliers are equal),
// then added or subtracted, wrapping modulo 2^64 instead of overflowing.
FixNumber combine(const FixNumber &a, const FixNumber &b, bool subtract)
{
    const unsigned int ma = a.realMultiplier();
    const unsigned int mb = b.realMultiplier();
    const unsigned int m = qMax(ma, mb);
    const auto scaled = [&](const FixNumber &n, unsigned int own) {
        return quint64(n.value()) * (ma == mb ? 1 : own == 0 ? 0 : m / own);
    };
    const quint64 x = scaled(a, ma);
    const quint64 y = scaled(b, mb);
    return FixNumber(m, static_cast<qint64>(subtract ? x - y : x + y));
}

bool scaleDouble(unsigned int multiplier, double number, Scaled *out)
{
    // Extended precision: the product of a double and a 32-bit multiplier
    // is exact in the x87 format, so the cut-off digits are those of the
    // binary number itself.
    const long double s = static_cast<long double>(multiplier) * static_cast<long double>(number);
    constexpr long double limit = 9223372036854775808.0L; // 2^63
    if (!(s < limit && s > -limit - 1.0L)) // also rejects NaN
        return false;
    const qint64 i = static_cast<qint64>(s);
    const long double f = s - static_cast<long double>(i);
    out->truncated = i;
    out->firstDigit = static_cast<int>(f * 10);
    out->firstTwoDigits = static_cast<int>(f * 100);
    return true;
}

// 10^0 to 10^19, every power of ten that fits 64 bits.
struct PowerTable
{
    quint64 value[20];
    constexpr PowerTable()
        : value()
    {
        quint64 p = 1;
        for (int e = 0; e < 20; ++e, p *= 10)
            value[e] = p;
    }
};
constexpr PowerTable PowersOfTen;

inline bool isAsciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Matches exactly the texts of the pattern (-?[0-9]+)([.,]?)([0-9]*), then
// multiplies the decimal number by the multiplier digit by digit, from the
// right, so that units and cut-off digits are exact for texts of any length.
bool scaleText(unsigned int multiplier, const QString &text, Scaled *out)
{
    const QChar *p = text.constData();
    const int n = text.size();
    int pos = 0;
    const bool negative = n > 0 && p[0] == QLatin1Char('-');
    if (negative)
        ++pos;
    const int intBegin = pos;
    while (pos < n && isAsciiDigit(p[pos]))
        ++pos;
    const int intEnd = pos;
    if (intEnd == intBegin)
        return false;
    if (pos < n && (p[pos] == QLatin1Char('.') || p[pos] == QLatin1Char(',')))
        ++pos;
    const int fracBegin = pos;
    while (pos < n && isAsciiDigit(p[pos]))
        ++pos;
    const int fracEnd = pos;
    if (pos != n)
        return false;

    const int fracDigits = fracEnd - fracBegin;
    quint64 magnitude = 0;
    bool overflow = false;
    int cut1 = 0;
    int cut2 = 0;
    // Product digit j (from the right) has weight 10^(j - fracDigits): the
    // digits below the point are cut off, the rest are the units.
    auto place = [&](unsigned digit, int j) {
        if (j < fracDigits) {
            const int k = fracDigits - 1 - j; // 0: first digit after the point
            if (k == 0)
                cut1 = int(digit);
            else if (k == 1)
                cut2 = int(digit);
            return;
        }
        const int e = j - fracDigits;
        if (digit == 0 || overflow)
            return;
        if (e >= 20
            || quint64(digit) > std::numeric_limits<quint64>::max() / PowersOfTen.value[e]) {
            overflow = true;
            return;
        }
        const quint64 add = quint64(digit) * PowersOfTen.value[e];
        if (magnitude > std::numeric_limits<quint64>::max() - add)
            overflow = true;
        else
            magnitude += add;
    };

    quint64 carry = 0; // stays below the multiplier
    int j = 0;
    auto feed = [&](int from, int to) {
        for (int k = to - 1; k >= from; --k, ++j) {
            const quint64 product = quint64(p[k].unicode() - '0') * multiplier + carry;
            place(unsigned(product % 10), j);
            carry = product / 10;
        }
    };
    feed(fracBegin, fracEnd);
    feed(intBegin, intEnd);
    for (; carry != 0; carry /= 10, ++j)
        place(unsigned(carry % 10), j);

    if (overflow || magnitude > quint64(MaxUnits) + (negative ? 1 : 0))
        return false;
    const int two = cut1 * 10 + cut2;
    if (negative) {
        out->truncated = static_cast<qint64>(0 - magnitude);
        out->firstDigit = -cut1;
        out->firstTwoDigits = -two;
    } else {
        out->truncated = static_cast<qint64>(magnitude);
        out->firstDigit = cut1;
        out->firstTwoDigits = two;
    }
    return true;
}

} // namespace

FixNumber::FixNumber() = default;

FixNumber::FixNumber(unsigned int multiplier)
    : m_multiplier(multiplier)
{
}

FixNumber::FixNumber(unsigned int multiplier, qint64 value)
    : m_multiplier(multiplier)
    , m_value(value)
{
}

FixNumber::FixNumber(unsigned int multiplier, double number)
    : m_multiplier(multiplier)
{
    FixNumber::setDouble(number);
}

FixNumber::FixNumber(unsigned int multiplier, const QString &text)
    : m_multiplier(multiplier)
{
    FixNumber::setString(text);
}

FixNumber::~FixNumber() = default;

double FixNumber::toDouble() const
{
    if (m_multiplier == 0)
        return static_cast<double>(m_value);
    return static_cast<double>(m_value) / m_multiplier;
}

QString FixNumber::toString() const
{
    return toString(QLocale().decimalPoint(), QChar(0));
}

QString FixNumber::toString(const QChar &decimalPoint, const QChar &groupSeparator) const
{
    if (m_multiplier <= 1)
        return QString::number(m_value);

    const quint64 a = m_value < 0 ? 0 - static_cast<quint64>(m_value) : quint64(m_value);
    quint64 whole = a / m_multiplier;
    quint64 fraction = a % m_multiplier;

    // Written backwards into a buffer: 10 fraction digits, a point, 20
    // integer digits with up to 6 separators, a sign.
    QChar buffer[40];
    QChar *const end = buffer + 40;
    QChar *q = end;
    const int decimals = this->decimals();
    int written = 0;
    do {
        *--q = QLatin1Char(char('0' + fraction % 10));
        fraction /= 10;
        ++written;
    } while (fraction != 0);
    for (; written < decimals; ++written)
        *--q = QLatin1Char('0');
    *--q = decimalPoint;
    const bool grouped = !groupSeparator.isNull();
    int digits = 0;
    do {
        if (grouped && digits > 0 && digits % 3 == 0)
            *--q = groupSeparator;
        *--q = QLatin1Char(char('0' + whole % 10));
        whole /= 10;
        ++digits;
    } while (whole != 0);
    if (m_value < 0)
        *--q = QLatin1Char('-');
    return QString(q, int(end - q));
}

void FixNumber::setDouble(double number)
{
    Scaled s;
    if (scaleDouble(m_multiplier, number, &s))
        setRounded(s.truncated, s.firstDigit, s.firstTwoDigits);
}

void FixNumber::setString(const QString &text)
{
    Scaled s;
    if (scaleText(m_multiplier, text, &s))
        setRounded(s.truncated, s.firstDigit, s.firstTwoDigits);
}

int FixNumber::decimals() const
{
    int m = static_cast<int>(m_multiplier);
    int d = 0;
    while (m > 1) {
        m /= 10;
        ++d;
    }
    return d;
}

void FixNumber::setDecimal(int d)
{
    if (d < 0)
        return;
    // 10^d holds the factor 2^d, so from d = 32 on the 32-bit product is 0:
    // more steps cannot change it.
    const int steps = qMin(d, 32);
    unsigned int m = 1;
    for (int k = 0; k < steps; ++k)
        m *= 10u;
    m_multiplier = m;
}

bool FixNumber::roundsUp(qint64 truncated, int firstDigit, int firstTwoDigits) const
{
    Q_UNUSED(firstTwoDigits)
    return firstDigit > 5 || (firstDigit == 5 && (truncated & 1) != 0);
}

void FixNumber::setRounded(qint64 truncated, int firstDigit, int firstTwoDigits)
{
    if (!roundsUp(truncated, firstDigit, firstTwoDigits))
        m_value = truncated;
    else if (truncated != MaxUnits)
        m_value = truncated + 1;
}

QVariantMap FixNumber::toMap() const
{
    QVariantMap map;
    if (m_multiplier == 0)
        return map;
    map.insert(QStringLiteral("rm"), QString::number(m_multiplier));
    map.insert(QStringLiteral("value"), QString::number(m_value));
    return map;
}

void FixNumber::setMap(const QMap<QString, QVariant> &map)
{
    const qint64 rm = map.value(QStringLiteral("rm")).toString().toLongLong(nullptr, 10);
    m_multiplier = static_cast<unsigned int>(static_cast<quint64>(rm));
    m_value = map.value(QStringLiteral("value")).toString().toLongLong(nullptr, 10);
}

bool FixNumber::operator==(const FixNumber &other) const
{
    if (m_multiplier == other.m_multiplier && m_value == other.m_value)
        return true;
    const double p = toDouble();
    const double q = other.toDouble();
    return qAbs(p - q) * 1000000000000. <= qMin(qAbs(p), qAbs(q));
}

bool FixNumber::operator>(const FixNumber &other) const
{
    return toDouble() > other.toDouble();
}

bool FixNumber::operator<(const FixNumber &other) const
{
    return toDouble() < other.toDouble();
}

bool FixNumber::operator>=(const FixNumber &other) const
{
    return *this == other || *this > other;
}

bool FixNumber::operator<=(const FixNumber &other) const
{
    return *this == other || *this < other;
}

FixNumber FixNumber::operator+(const FixNumber &other) const
{
    return combine(*this, other, false);
}

FixNumber FixNumber::operator-(const FixNumber &other) const
{
    return combine(*this, other, true);
}

// A right operand with multiplier 0 changes nothing. A left one with
// multiplier 0 scales by 0 in combine(), so it takes the right operand.
FixNumber &FixNumber::operator+=(const FixNumber &other)
{
    if (other.m_multiplier != 0)
        *this = combine(*this, other, false);
    return *this;
}

FixNumber &FixNumber::operator-=(const FixNumber &other)
{
    if (other.m_multiplier != 0)
        *this = combine(*this, other, true);
    return *this;
}
