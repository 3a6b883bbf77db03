#include <values/extfixnumber.h>
#include <values/fixnumber.h>

#include <QLocale>
#include <QRegExp>
#include <QScopeGuard>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr qint64 kUntouched = 4242; // value a rejected input must leave in place

// "multiplier:value", and ":roundType" for an ExtFixNumber: exact, unlike operator==.
QString parts(const FixNumber &n)
{
    return QStringLiteral("%1:%2").arg(n.realMultiplier()).arg(n.value());
}
QString parts(const ExtFixNumber &n)
{
    return parts(static_cast<const FixNumber &>(n)) + QStringLiteral(":%1").arg(int(n.roundType()));
}
} // namespace

class TstFixNumber : public QObject
{
    Q_OBJECT

private slots:
    void decimals_data();
    void decimals();
    void setDecimalKeepsUnits_data();
    void setDecimalKeepsUnits();
    void setDouble_data();
    void setDouble();
    void setString_data();
    void setString();
    void rejectsText_data();
    void rejectsText();
    void acceptsExactlyThePatternTexts();
    void textAndExactDoubleRoundAlike();
    void toString_data();
    void toString();
    void toStringFollowsDefaultLocale();
    void map_data();
    void map();
    void comparison_data();
    void comparison();
    void arithmetic_data();
    void arithmetic();

    void extRounding_data();
    void extRounding();
    void extSetString_data();
    void extSetString();
    void extRoundsThroughBaseAndOnlyLater();
    void extArithmetic_data();
    void extArithmetic();
};

void TstFixNumber::decimals_data()
{
    QTest::addColumn<uint>("multiplier");
    QTest::addColumn<int>("decimals");
    QTest::newRow("100") << 100u << 2;
    QTest::newRow("1") << 1u << 0;
    QTest::newRow("0") << 0u << 0;
    QTest::newRow("1000") << 1000u << 3;
    QTest::newRow("50") << 50u << 2;
    QTest::newRow("1e9") << 1000000000u << 9;
    QTest::newRow("above-int-max") << 3000000000u << 0;
}

void TstFixNumber::decimals()
{
    QFETCH(uint, multiplier);
    QFETCH(int, decimals);
    QCOMPARE(FixNumber(multiplier).decimals(), decimals);
}

void TstFixNumber::setDecimalKeepsUnits_data()
{
    QTest::addColumn<int>("d");
    QTest::addColumn<uint>("multiplier");
    QTest::newRow("negative-ignored") << -1 << 100u;
    QTest::newRow("zero") << 0 << 1u;
    QTest::newRow("three") << 3 << 1000u;
    QTest::newRow("nine") << 9 << 1000000000u;
    QTest::newRow("ten-wraps") << 10 << 1410065408u;
    QTest::newRow("int-max-wraps-to-zero") << std::numeric_limits<int>::max() << 0u;
}

void TstFixNumber::setDecimalKeepsUnits()
{
    QFETCH(int, d);
    QFETCH(uint, multiplier);
    FixNumber n(100, qint64(1234));
    n.setDecimal(d);
    QCOMPARE(parts(n), QStringLiteral("%1:1234").arg(multiplier));
    if (d == 3)
        QCOMPARE(n.toString(QLatin1Char('.'), QChar(0)), QStringLiteral("1.234"));
}

void TstFixNumber::setDouble_data()
{
    QTest::addColumn<uint>("multiplier");
    QTest::addColumn<double>("number");
    QTest::addColumn<qint64>("value");
    QTest::newRow("12.345-even") << 100u << 12.345 << qint64(1234);
    QTest::newRow("12.355-odd") << 100u << 12.355 << qint64(1236);
    QTest::newRow("12.3451-first-digit-only") << 100u << 12.3451 << qint64(1234);
    QTest::newRow("-12.349-truncated") << 100u << -12.349 << qint64(-1234);
    QTest::newRow("0.1875") << 100u << 0.1875 << qint64(19);
    QTest::newRow("1.125-even-tie") << 100u << 1.125 << qint64(112);
    QTest::newRow("1.375-odd-tie") << 100u << 1.375 << qint64(138);
    QTest::newRow("0.0625-m1000") << 1000u << 0.0625 << qint64(62);
    QTest::newRow("-0.5-m1") << 1u << -0.5 << qint64(0);
    QTest::newRow("multiplier-0") << 0u << 12.5 << qint64(0);
    QTest::newRow("1.015-binary-below-tie") << 100u << 1.015 << qint64(101);
    QTest::newRow("nan-unchanged") << 100u << std::nan("") << kUntouched;
    QTest::newRow("inf-unchanged") << 100u << std::numeric_limits<double>::infinity() << kUntouched;
    QTest::newRow("too-large-unchanged") << 100u << 1e17 << kUntouched;
    QTest::newRow("too-small-unchanged") << 100u << -1e17 << kUntouched;
    QTest::newRow("2^62") << 1u << 4611686018427387904.0 << qint64(4611686018427387904);
    QTest::newRow("-2^63") << 1u << -9223372036854775808.0 << kMin;
}

void TstFixNumber::setDouble()
{
    QFETCH(uint, multiplier);
    QFETCH(double, number);
    QFETCH(qint64, value);
    FixNumber n(multiplier, kUntouched);
    n.setDouble(number);
    QCOMPARE(n.value(), value);
    if (value != kUntouched)
        QCOMPARE(FixNumber(multiplier, number).value(), value);
}

void TstFixNumber::setString_data()
{
    // Texts with an exact binary value round as their double does (see
    // textAndExactDoubleRoundAlike); these are the others.
    QTest::addColumn<uint>("multiplier");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    QTest::newRow("comma") << 100u << "12,5" << qint64(1250);
    QTest::newRow("point") << 100u << "12.5" << qint64(1250);
    QTest::newRow("1,125-even-tie") << 100u << "1,125" << qint64(112);
    QTest::newRow("-0.29-exact") << 100u << "-0.29" << qint64(-29);
    QTest::newRow("1.015-decimal-tie") << 100u << "1.015" << qint64(102);
    QTest::newRow("12.345") << 100u << "12.345" << qint64(1234);
    QTest::newRow("12.355") << 100u << "12.355" << qint64(1236);
    QTest::newRow("12.3451-first-digit-only") << 100u << "12.3451" << qint64(1234);
    QTest::newRow("-12.349-truncated") << 100u << "-12.349" << qint64(-1234);
    QTest::newRow("trailing-point") << 100u << "12." << qint64(1200);
    QTest::newRow("integer") << 100u << "7" << qint64(700);
    QTest::newRow("minus-zero") << 100u << "-0" << qint64(0);
    QTest::newRow("leading-zeros") << 100u << "0000000000000000000000000001.5" << qint64(150);
    QTest::newRow("long-fraction-below") << 100u << "1.00499999999999999999999" << qint64(100);
    QTest::newRow("long-fraction-odd") << 100u << "1.0150000000000000000001" << qint64(102);
    QTest::newRow("m1000-carry") << 1000u << "0.0049999" << qint64(5);
    QTest::newRow("m50-even") << 50u << "1.25" << qint64(62);
    QTest::newRow("m50-odd") << 50u << "1.27" << qint64(64);
    QTest::newRow("m30") << 30u << "0.1" << qint64(3);
    QTest::newRow("multiplier-0") << 0u << "12.5" << qint64(0);
    QTest::newRow("max-units") << 100u << "92233720368547758.07" << kMax;
    QTest::newRow("min-units") << 100u << "-92233720368547758.08" << kMin;
    QTest::newRow("min-units-cut-off") << 100u << "-92233720368547758.089" << kMin;
    QTest::newRow("above-max-unchanged") << 100u << "92233720368547758.08" << kUntouched;
    QTest::newRow("below-min-unchanged") << 100u << "-92233720368547758.09" << kUntouched;
    QTest::newRow("rounds-past-max-unchanged") << 100u << "92233720368547758.075" << kUntouched;
    QTest::newRow("many-digits-unchanged") << 100u << "123456789012345678901234567890" << kUntouched;
    QTest::newRow("m-max-unchanged") << 4294967295u << "4294967296" << kUntouched;
}

void TstFixNumber::setString()
{
    QFETCH(uint, multiplier);
    QFETCH(QString, text);
    QFETCH(qint64, value);
    FixNumber n(multiplier, kUntouched);
    n.setString(text);
    QCOMPARE(parts(n), QStringLiteral("%1:%2").arg(multiplier).arg(value));
    if (value != kUntouched)
        QCOMPARE(FixNumber(multiplier, text).value(), value);
}

void TstFixNumber::rejectsText_data()
{
    // Beyond the texts over ASCII that acceptsExactlyThePatternTexts covers.
    QTest::addColumn<QString>("text");
    QTest::newRow("arabic-indic-digit") << QString(QChar(0x0661));
    QTest::newRow("fullwidth-digit") << QString(QChar(0xFF11));
    QTest::newRow("embedded-nul") << QString::fromLatin1("1\0002", 3);
    QTest::newRow("newline") << "1.5\n";
    QTest::newRow("group-separator") << "1,234.5";
    QTest::newRow("leading-blank") << " 1.5";
    QTest::newRow("plus") << "+1.5";
    QTest::newRow("exponent") << "1e3";
    QTest::newRow("leading-point") << ".5";
}

void TstFixNumber::rejectsText()
{
    QFETCH(QString, text);
    FixNumber n(100, kUntouched);
    n.setString(text);
    QCOMPARE(n.value(), kUntouched);
    ExtFixNumber e(100, kUntouched, ExtFixNumber::RoundUp);
    e.setString(text);
    QCOMPARE(e.value(), kUntouched);
}

// Every text over a small alphabet is accepted exactly when the reference
// pattern matches it in full.
void TstFixNumber::acceptsExactlyThePatternTexts()
{
    const QRegExp pattern(QStringLiteral("(\\-?[0-9]+)([\\.,\\,]?)([0-9]*)"));
    const QString alphabet = QStringLiteral("-07.,+ e");
    QStringList texts{QString()};
    for (int i = 0; i < texts.size(); ++i)
        if (texts.at(i).size() < 5)
            for (const QChar c : alphabet)
                texts << texts.at(i) + c;
    for (const QString &text : qAsConst(texts)) {
        FixNumber n(1000, kUntouched);
        n.setString(text);
        QVERIFY2((n.value() != kUntouched) == pattern.exactMatch(text), qPrintable(text));
    }
}

// A decimal text and a double with the same exact (binary) value round alike
// for every rule.
void TstFixNumber::textAndExactDoubleRoundAlike()
{
    for (const uint multiplier : {1u, 10u, 100u, 1000u, 50u}) {
        for (int k = -300; k <= 300; ++k) {
            const double x = k / 64.0;
            const QString text = QString::number(x, 'f', 6);
            QVERIFY2(FixNumber(multiplier, x).value() == FixNumber(multiplier, text).value(), qPrintable(text));
            for (int type = 0; type <= 4; ++type) {
                const auto rt = static_cast<ExtFixNumber::ERoundType>(type);
                QVERIFY2(ExtFixNumber(multiplier, x, rt).value() == ExtFixNumber(multiplier, text, rt).value(),
                         qPrintable(QStringLiteral("%1 type %2").arg(text).arg(type)));
            }
        }
    }
}

void TstFixNumber::toString_data()
{
    QTest::addColumn<uint>("multiplier");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QChar>("point");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("text");
    const QChar dot = QLatin1Char('.'), comma = QLatin1Char(','), none = QChar(0);
    QTest::newRow("grouped-negative") << 100u << qint64(-1234567) << dot << comma << "-12,345.67";
    QTest::newRow("cents") << 100u << qint64(5) << dot << comma << "0.05";
    QTest::newRow("no-separator") << 100u << qint64(100000) << dot << none << "1000.00";
    QTest::newRow("negative-below-one") << 100u << qint64(-5) << dot << comma << "-0.05";
    QTest::newRow("inner-group-zero-filled") << 100u << qint64(100000001) << dot << comma << "1,000,000.01";
    QTest::newRow("exact-group") << 100u << qint64(12345600) << dot << comma << "123,456.00";
    QTest::newRow("blank-separator-m1000") << 1000u << qint64(1234567890) << comma << QChar(' ') << "1 234 567,890";
    QTest::newRow("m0") << 0u << qint64(-1234567) << dot << comma << "-1234567";
    QTest::newRow("m1") << 1u << qint64(-1234567) << dot << comma << "-1234567";
    QTest::newRow("m50") << 50u << qint64(149) << dot << comma << "2.49";
    QTest::newRow("min") << 100u << kMin << dot << comma << "-92,233,720,368,547,758.08";
    QTest::newRow("max-m10") << 10u << kMax << dot << none << "922337203685477580.7";
}

void TstFixNumber::toString()
{
    QFETCH(uint, multiplier);
    QFETCH(qint64, value);
    QFETCH(QChar, point);
    QFETCH(QChar, separator);
    QFETCH(QString, text);
    const FixNumber n(multiplier, value);
    QCOMPARE(n.toString(point, separator), text);
    // Printed without separator, the text parses back to the same units.
    if (multiplier == 100 || multiplier == 1000)
        QCOMPARE(FixNumber(multiplier, n.toString(point, QChar(0))).value(), value);
}

void TstFixNumber::toStringFollowsDefaultLocale()
{
    QCOMPARE(FixNumber().toString(), QStringLiteral("0.00"));
    const QLocale saved;
    const auto restore = qScopeGuard([saved] { QLocale::setDefault(saved); });
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(FixNumber(100, qint64(123456)).toString(), QStringLiteral("1234,56"));
}

void TstFixNumber::map_data()
{
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<QString>("expected");
    // The stored layout: both entries as base-10 strings; nothing for multiplier 0.
    const QVariantMap stored = FixNumber(1000, qint64(-1234567)).toMap();
    QCOMPARE(stored, QVariantMap({{"rm", "1000"}, {"value", "-1234567"}}));
    QVERIFY(FixNumber(0, qint64(5)).toMap().isEmpty());
    QTest::newRow("from-toMap") << stored << "1000:-1234567";
    QTest::newRow("empty") << QVariantMap() << "0:0";
    QTest::newRow("numbers-not-strings") << QVariantMap{{"rm", 100}, {"value", qint64(-7)}} << "100:-7";
    QTest::newRow("unreadable") << QVariantMap{{"rm", "x"}, {"value", "1.5"}} << "0:0";
    QTest::newRow("rm-low-32-bits") << QVariantMap{{"rm", "4294967396"}, {"value", "9"}} << "100:9";
}

void TstFixNumber::map()
{
    QFETCH(QVariantMap, map);
    QFETCH(QString, expected);
    FixNumber n(10, qint64(99));
    n.setMap(map);
    QCOMPARE(parts(n), expected);
}

void TstFixNumber::comparison_data()
{
    QTest::addColumn<FixNumber>("a");
    QTest::addColumn<FixNumber>("b");
    QTest::addColumn<bool>("equal");
    QTest::addColumn<bool>("less");
    QTest::newRow("zeros-of-two-scales") << FixNumber(100, qint64(0)) << FixNumber(1000, qint64(0)) << true << false;
    QTest::newRow("one-unit-apart") << FixNumber(100, qint64(1)) << FixNumber(100, qint64(2)) << false << true;
    QTest::newRow("12.30-vs-12.300") << FixNumber(100, qint64(1230)) << FixNumber(1000, qint64(12300)) << true << false;
    QTest::newRow("zero-vs-tiny") << FixNumber(100, qint64(0)) << FixNumber(1000000000, qint64(1)) << false << true;
    QTest::newRow("multiplier-0-reads-value") << FixNumber(0, qint64(5)) << FixNumber(1, qint64(5)) << true << false;
    QTest::newRow("greater") << FixNumber(100, qint64(-1)) << FixNumber(1000, qint64(-11)) << false << false;
}

void TstFixNumber::comparison()
{
    QFETCH(FixNumber, a);
    QFETCH(FixNumber, b);
    QFETCH(bool, equal);
    QFETCH(bool, less);
    const bool greater = !equal && !less;
    QCOMPARE(a == b, equal);
    QCOMPARE(a != b, !equal);
    QCOMPARE(a < b, less);
    QCOMPARE(a > b, greater);
    QCOMPARE(a <= b, equal || less);
    QCOMPARE(a >= b, equal || greater);
}

void TstFixNumber::arithmetic_data()
{
    QTest::addColumn<FixNumber>("a");
    QTest::addColumn<FixNumber>("b");
    QTest::addColumn<QString>("sum");
    QTest::addColumn<QString>("difference");
    QTest::newRow("mixed-scales") << FixNumber(100, qint64(150)) << FixNumber(1000, qint64(25)) << "1000:1525" << "1000:1475";
    QTest::newRow("same-scale") << FixNumber(100, qint64(150)) << FixNumber(100, qint64(-25)) << "100:125" << "100:175";
    QTest::newRow("left-multiplier-0") << FixNumber(0, qint64(7)) << FixNumber(100, qint64(5)) << "100:5" << "100:-5";
    QTest::newRow("right-multiplier-0") << FixNumber(100, qint64(7)) << FixNumber(0, qint64(5)) << "100:7" << "100:7";
    QTest::newRow("both-multiplier-0") << FixNumber(0, qint64(7)) << FixNumber(0, qint64(5)) << "0:12" << "0:2";
    QTest::newRow("wraps") << FixNumber(1, kMax) << FixNumber(1, qint64(1)) << "1:" + QString::number(kMin)
                           << "1:" + QString::number(kMax - 1);
}

void TstFixNumber::arithmetic()
{
    QFETCH(FixNumber, a);
    QFETCH(FixNumber, b);
    QFETCH(QString, sum);
    QFETCH(QString, difference);
    QCOMPARE(parts(a + b), sum);
    QCOMPARE(parts(a - b), difference);
    // The compound forms agree, except that a right operand with multiplier 0
    // leaves the left one unchanged.
    FixNumber s = a, d = a;
    QCOMPARE(&(s += b), &s);
    QCOMPARE(&(d -= b), &d);
    QCOMPARE(parts(s), b.realMultiplier() == 0 ? parts(a) : sum);
    QCOMPARE(parts(d), b.realMultiplier() == 0 ? parts(a) : difference);
}

void TstFixNumber::extRounding_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("value");
    // Types 0..3 and one value outside the enumeration (truncation).
    const struct
    {
        const char *name;
        double number;
        qint64 values[5];
    } rows[] = {
        {"1.125", 1.125, {113, 112, 113, 113, 112}},
        {"1.1875", 1.1875, {119, 119, 119, 119, 118}},
        {"1.0625", 1.0625, {106, 106, 106, 107, 106}},
        {"1.155-tie-two-even", 1.155, {116, 115, 116, 116, 115}},
        {"1.1551-tie-two-odd", 1.1551, {115, 116, 116, 116, 115}},
        {"-1.0625", -1.0625, {-106, -106, -106, -106, -106}},
        {"-1.5", -1.5, {-150, -150, -150, -150, -150}},
        {"-1.999", -1.999, {-199, -199, -199, -199, -199}},
    };
    const int types[5] = {0, 1, 2, 3, 7};
    for (const auto &row : rows)
        for (int k = 0; k < 5; ++k)
            QTest::addRow("%s-type-%d", row.name, types[k]) << row.number << types[k] << row.values[k];
}

void TstFixNumber::extRounding()
{
    QFETCH(double, number);
    QFETCH(int, type);
    QFETCH(qint64, value);
    const auto rt = static_cast<ExtFixNumber::ERoundType>(type);
    QCOMPARE(parts(ExtFixNumber(100, number, rt)), QStringLiteral("100:%1:%2").arg(value).arg(type));
    ExtFixNumber m(100, rt);
    m.setDouble(number);
    QCOMPARE(m.value(), value);
}

void TstFixNumber::extSetString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("value");
    QTest::newRow("1,125-even-tie") << "1,125" << 0 << qint64(113);
    QTest::newRow("1,125-odd-tie") << "1,125" << 1 << qint64(112);
    QTest::newRow("1.015-even-tie") << "1.015" << 0 << qint64(102);
    QTest::newRow("1.015-odd-tie") << "1.015" << 1 << qint64(101);
    QTest::newRow("1.015-half-up") << "1.015" << 2 << qint64(102);
    QTest::newRow("2.675-half-up") << "2.675" << 2 << qint64(268);
    QTest::newRow("1.0151-odd-tie") << "1.0151" << 1 << qint64(102);
    QTest::newRow("1.0001-up-first-digit-only") << "1.0001" << 3 << qint64(100);
    QTest::newRow("1.001-up") << "1.001" << 3 << qint64(101);
    QTest::newRow("1.009-other-truncates") << "1.009" << 9 << qint64(100);
    QTest::newRow("-0.29-up") << "-0.29" << 3 << qint64(-29);
    QTest::newRow("-1.999-up-truncates") << "-1.999" << 3 << qint64(-199);
    QTest::newRow("-1.005-half-up-truncates") << "-1.005" << 2 << qint64(-100);
}

void TstFixNumber::extSetString()
{
    QFETCH(QString, text);
    QFETCH(int, type);
    QFETCH(qint64, value);
    QCOMPARE(ExtFixNumber(100, text, static_cast<ExtFixNumber::ERoundType>(type)).value(), value);
}

void TstFixNumber::extRoundsThroughBaseAndOnlyLater()
{
    // setString and setDouble called through the base reach the ext rounding.
    ExtFixNumber n(100, ExtFixNumber::RoundEvenTie);
    FixNumber &base = n;
    base.setString(QStringLiteral("1,125"));
    QCOMPARE(n.value(), qint64(113));
    base.setDouble(1.125);
    QCOMPARE(n.value(), qint64(113));
    // A new round type changes nothing until the next setDouble/setString.
    ExtFixNumber m(100, 1.125, ExtFixNumber::RoundOddTie);
    m.setRoundType(ExtFixNumber::RoundHalfUp);
    QCOMPARE(m.value(), qint64(112));
    m.setString(QStringLiteral("1.125"));
    QCOMPARE(parts(ExtFixNumber(m)), QStringLiteral("100:113:2")); // a copy keeps the round type
}

void TstFixNumber::extArithmetic_data()
{
    QTest::addColumn<ExtFixNumber>("a");
    QTest::addColumn<ExtFixNumber>("b");
    QTest::addColumn<QString>("sum");
    QTest::addColumn<QString>("difference");
    const auto odd = ExtFixNumber::RoundOddTie, up = ExtFixNumber::RoundUp;
    QTest::newRow("mixed-scales") << ExtFixNumber(100, 1.5, odd) << ExtFixNumber(1000, 0.25, up) << "1000:1750:1" << "1000:1250:1";
    QTest::newRow("left-multiplier-0") << ExtFixNumber(0, qint64(7), up) << ExtFixNumber(100, qint64(5), odd) << "100:5:3" << "100:-5:3";
    QTest::newRow("right-multiplier-0") << ExtFixNumber(100, qint64(7), odd) << ExtFixNumber(0, qint64(5), up) << "100:7:1" << "100:7:1";
    QTest::newRow("both-multiplier-0") << ExtFixNumber(0, qint64(7), odd) << ExtFixNumber(0, qint64(5), up) << "0:12:1" << "0:2:1";
}

void TstFixNumber::extArithmetic()
{
    QFETCH(ExtFixNumber, a);
    QFETCH(ExtFixNumber, b);
    QFETCH(QString, sum);
    QFETCH(QString, difference);
    QCOMPARE(parts(a + b), sum);
    QCOMPARE(parts(a - b), difference);
    ExtFixNumber s = a, d = a;
    s += b;
    d -= b;
    QCOMPARE(parts(s), sum);
    QCOMPARE(parts(d), difference);
}

QTEST_GUILESS_MAIN(TstFixNumber)
#include "tst_fixnumber.moc"
