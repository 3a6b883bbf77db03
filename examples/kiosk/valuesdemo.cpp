// Values: fixed-point arithmetic and rounding, BCD packing, the library's version.

#include "demos.h"

#include <orvelextlib.h>

namespace {
QString money(const FixNumber &n)
{
    return n.toString(QLatin1Char('.'), QLatin1Char(','));
}
} // namespace

bool demoValues(DemoContext &ctx)
{
    QTextStream &out = ctx.out;

    const FixNumber price(100, QStringLiteral("1234,5"));
    const FixNumber rate(1000, QStringLiteral("0.125"));
    const FixNumber sum = price + rate;
    out << "   " << money(price) << " + " << money(rate) << " = " << money(sum)
        << " (scale " << sum.realMultiplier() << ")" << Qt::endl;

    // Text is rounded on its own decimal digits; a double carries its binary error.
    const FixNumber fromText(100, QStringLiteral("1.015"));
    const FixNumber fromDouble(100, 1.015);
    out << "   \"1.015\" -> " << fromText.toString() << ", 1.015 as double -> "
        << fromDouble.toString() << " (the double is 1.01499...)" << Qt::endl;

    out << "   1.125 rounded by type: ";
    const char *names[] = {"even-tie", "odd-tie", "half-up", "up"};
    for (int type = 0; type < 4; ++type) {
        const ExtFixNumber n(100, 1.125, static_cast<ExtFixNumber::ERoundType>(type));
        out << names[type] << ' ' << n.toString() << (type < 3 ? ", " : "");
    }
    out << Qt::endl;
    out << "   -1.0625 with round-up -> "
        << ExtFixNumber(100, -1.0625, ExtFixNumber::RoundUp).toString()
        << " (negatives truncate toward zero)" << Qt::endl;

    const QByteArray packed = BCD::int2bcd(20240611, 10);
    out << "   BCD of 20240611 in 10 digits: " << packed.toHex(' ') << " -> "
        << BCD::bcd2int(packed) << Qt::endl;

    const AppVersion own;
    const AppVersion candidate(QStringLiteral("4.2.6rc1"), own.build());
    out << "   library " << own.version() << " built " << own.build() << "; "
        << candidate.version() << " < " << own.version() << ": "
        << (candidate < own ? "true" : "false") << Qt::endl;

    return fromText.value() == 102 && sum.value() == 1234625 && BCD::bcd2int(packed) == 20240611
           && own.isValid() && candidate < own;
}
