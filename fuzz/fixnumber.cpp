// FixNumber and ExtFixNumber: setString on arbitrary text, then every
// operation on the parsed number and on raw units, multipliers and doubles
// from the input. Printing and parsing again gives the same units.
//
// Input: multiplier choice (1 byte), round type (1), second multiplier
// choice (1) and raw value (4),
// units (8), double (8), then the text in UTF-8.
#include "fuzzinput.h"
#include "fuzzsupport.h"

#include <values/extfixnumber.h>
#include <values/fixnumber.h>

#include <QVariantMap>

namespace {
unsigned int multiplierFrom(quint8 choice, quint32 raw)
{
    if (choice < 10) {
        unsigned int m = 1;
        for (int i = 0; i < choice; ++i)
            m *= 10;
        return m;
    }
    return choice < 128 ? raw : 100;
}

bool isPowerOfTen(unsigned int m)
{
    while (m >= 10 && m % 10 == 0)
        m /= 10;
    return m == 1;
}

void exercise(FixNumber &number, const FixNumber &other, double x, int decimals)
{
    (void)number.toDouble();
    (void)number.toString();
    (void)number.toString(QLatin1Char(','), QLatin1Char('.'));
    (void)number.decimals();
    FixNumber fromMap;
    fromMap.setMap(number.toMap());
    (void)(number == other);
    (void)(number != other);
    (void)(number < other);
    (void)(number > other);
    (void)(number <= other);
    (void)(number >= other);
    (void)(number + other);
    (void)(number - other);
    FixNumber sum = number;
    sum += other;
    sum -= other;
    FixNumber copy = number;
    copy.setDouble(x);
    copy.setDecimal(decimals);
    (void)copy.toString(QLatin1Char('.'), QChar(0));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    fuzz::Input input(data, size);
    const unsigned int multiplier = multiplierFrom(input.take<quint8>(), 0);
    const auto roundType = ExtFixNumber::ERoundType(input.take<qint8>());
    const quint8 otherChoice = input.take<quint8>() % 12;
    const unsigned int otherMultiplier = multiplierFrom(otherChoice, input.take<quint32>());
    const qint64 units = input.take<qint64>();
    const double x = input.take<double>();
    const QString text = QString::fromUtf8(input.rest());

    FixNumber plain(multiplier);
    plain.setString(text);
    ExtFixNumber rounded(multiplier, roundType);
    rounded.setString(text);

    // The printed form parses back to the same units.
    if (multiplier != 0 && isPowerOfTen(multiplier)) {
        const FixNumber *const parsedNumbers[] = {&plain, &rounded};
        for (const FixNumber *parsed : parsedNumbers) {
            FixNumber again(multiplier);
            again.setValue(parsed->value() == 0 ? 1 : 0);
            again.setString(parsed->toString(QLatin1Char('.'), QChar(0)));
            if (again.value() != parsed->value())
                fuzz::fail(QStringLiteral("%1 printed as %2 parses as %3")
                               .arg(parsed->value())
                               .arg(parsed->toString(QLatin1Char('.'), QChar(0)))
                               .arg(again.value()));
        }
    }

    const FixNumber raw(otherMultiplier, units);
    exercise(plain, raw, x, int(units % 24) - 2);
    FixNumber rawCopy = raw;
    exercise(rawCopy, plain, x, int(units % 24) - 2);

    ExtFixNumber extRaw(otherMultiplier, units, roundType);
    (void)(rounded + extRaw);
    (void)(rounded - extRaw);
    rounded += extRaw;
    rounded -= extRaw;
    rounded.setDouble(x);
    (void)rounded.toString();
    ExtFixNumber fromDouble(otherMultiplier, x, roundType);
    (void)fromDouble.toString(QLatin1Char('.'), QLatin1Char(' '));
    return 0;
}
