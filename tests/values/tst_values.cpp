// Fixed-point numbers, BCD conversion and application versions.
#include <values/appversion.h>
#include <values/appversion_p.h>
#include <values/bcd.h>
#include <values/extfixnumber.h>
#include <values/fixnumber.h>

#include <QLocale>
#include <QScopeGuard>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
constexpr qint64 Max = std::numeric_limits<qint64>::max();
constexpr qint64 Min = std::numeric_limits<qint64>::min();
constexpr qint64 Untouched = 4242; // value a rejected input must leave in place
constexpr int Plain = -1; // round type column: a FixNumber, not an ExtFixNumber

// "multiplier:value", and ":roundType" for an ExtFixNumber: exact, unlike operator==.
QString parts(const FixNumber &n)
{
    return QStringLiteral("%1:%2").arg(n.realMultiplier()).arg(n.value());
}
QString parts(const ExtFixNumber &n)
{
    return parts(static_cast<const FixNumber &>(n)) + QStringLiteral(":%1").arg(int(n.roundType()));
}
const QString build = QStringLiteral("2018-01-19T12:16:05");
} // namespace

class tst_Values : public QObject
{
    Q_OBJECT

private slots:
    // decimals() of a multiplier, and setDecimal(), which keeps the units.
    void fixDecimals()
    {
        QCOMPARE(FixNumber(100).decimals(), 2);
        QCOMPARE(FixNumber(0).decimals(), 0);
        QCOMPARE(FixNumber(1000000000).decimals(), 9);
        QCOMPARE(FixNumber(3000000000u).decimals(), 0); // read as a signed 32-bit number
        const auto after = [](int d) {
            FixNumber n(100, qint64(1234));
            n.setDecimal(d);
            return parts(n);
        };
        QCOMPARE(after(-1), "100:1234");
        QCOMPARE(after(0), "1:1234");
        QCOMPARE(after(3), "1000:1234");
        QCOMPARE(after(10), "1410065408:1234"); // 10^10 modulo 2^32
        QCOMPARE(after(std::numeric_limits<int>::max()), "0:1234");
    }

    // setDouble() and setString() of FixNumber and ExtFixNumber, through the base.
    void fixRounding_data()
    {
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<qint64>("value");
        const auto row = [](const char *tag, uint m, int type, const QVariant &in, qint64 v) {
            QTest::newRow(tag) << m << type << in << v;
        };
        row("12.345-even", 100, Plain, 12.345, 1234);
        row("12.355-odd", 100, Plain, 12.355, 1236);
        row("12.3451-first-digit-only", 100, Plain, 12.3451, 1234);
        row("-12.349-truncated", 100, Plain, -12.349, -1234);
        row("0.1875", 100, Plain, 0.1875, 19);
        row("1.015-binary-below-tie", 100, Plain, 1.015, 101);
        row("nan-unchanged", 100, Plain, std::nan(""), Untouched);
        row("too-large-unchanged", 100, Plain, 1e17, Untouched);
        row("-2^63", 1, Plain, -9223372036854775808.0, Min);
        // Texts round by their decimal digits.
        row("text-comma", 100, Plain, "12,5", 1250);
        row("text-1.015-decimal-tie", 100, Plain, "1.015", 102);
        row("text-minus-0.29-exact", 100, Plain, "-0.29", -29);
        row("text-leading-zeros", 100, Plain, "0000000000000000000000000001.5", 150);
        row("text-long-fraction-odd", 100, Plain, "1.0150000000000000000001", 102);
        row("text-m1000-carry", 1000, Plain, "0.0049999", 5);
        row("text-m50", 50, Plain, "1.25", 62);
        row("text-max-units", 100, Plain, "92233720368547758.07", Max);
        row("text-min-units-cut-off", 100, Plain, "-92233720368547758.089", Min);
        row("text-above-max-unchanged", 100, Plain, "92233720368547758.08", Untouched);
        row("text-rounds-past-max-unchanged", 100, Plain, "92233720368547758.075", Untouched);
        row("text-many-digits-unchanged", 100, Plain, "123456789012345678901234567890", Untouched);
        // Anything but an optional minus, digits, a point or comma and digits changes nothing.
        for (const char *text : { "", "-", ".5", "+1.5", " 1.5", "1e3", "1,234.5", "1.5-", "0x10" })
            QTest::addRow("text-refused-%s", text) << 100u << Plain << QVariant(text) << Untouched;
        row("text-refused-arabic-indic-digit", 100, Plain, QString(QChar(0x0661)), Untouched);
        row("text-refused-embedded-nul", 100, Plain, QString::fromLatin1("1\0002", 3), Untouched);
        // ExtFixNumber: types 0..3 and one value outside the enumeration (truncation).
        const auto ext = [](const char *tag, const QVariant &in, const QVector<qint64> &values) {
            for (int k = 0; k < 5; ++k)
                QTest::addRow("ext-%s-type-%d", tag, k < 4 ? k : 7)
                    << 100u << (k < 4 ? k : 7) << in << values[k];
        };
        ext("1.125", 1.125, { 113, 112, 113, 113, 112 });
        ext("1.1875", 1.1875, { 119, 119, 119, 119, 118 });
        ext("1.0625", 1.0625, { 106, 106, 106, 107, 106 });
        ext("1.155-tie-two-even", 1.155, { 116, 115, 116, 116, 115 });
        ext("1.1551-tie-two-odd", 1.1551, { 115, 116, 116, 116, 115 });
        ext("-1.0625", -1.0625, { -106, -106, -106, -106, -106 });
        ext("text-1.015", "1.015", { 102, 101, 102, 102, 101 });
        ext("text-1.0001-first-digit-only", "1.0001", { 100, 100, 100, 100, 100 });
        ext("text-1.001", "1.001", { 100, 100, 100, 101, 100 });
    }

    void fixRounding()
    {
        QFETCH(uint, multiplier);
        QFETCH(int, type);
        QFETCH(QVariant, input);
        QFETCH(qint64, value);
        FixNumber plain(multiplier, Untouched);
        ExtFixNumber ext(multiplier, Untouched, static_cast<ExtFixNumber::ERoundType>(type));
        FixNumber &n = type == Plain ? plain : ext;
        if (input.userType() == QMetaType::QString)
            n.setString(input.toString());
        else
            n.setDouble(input.toDouble());
        QCOMPARE(parts(n), QStringLiteral("%1:%2").arg(multiplier).arg(value));
        // A new round type takes effect with the next value only; a copy keeps it.
        ext.setRoundType(ExtFixNumber::RoundUp);
        QCOMPARE(parts(ExtFixNumber(ext)),
                 QStringLiteral("%1:%2:3").arg(multiplier).arg(ext.value()));
        QCOMPARE(ext.value(), type == Plain ? Untouched : value);
    }

    void fixToString()
    {
        const auto text = [](uint m, qint64 value, char point, char separator) {
            return FixNumber(m, value).toString(QChar(point), QChar(separator));
        };
        QCOMPARE(text(100, -1234567, '.', ','), "-12,345.67");
        QCOMPARE(text(100, 100000, '.', 0), "1000.00");
        QCOMPARE(text(100, -5, '.', ','), "-0.05");
        QCOMPARE(text(100, 100000001, '.', ','), "1,000,000.01");
        QCOMPARE(text(1000, 1234567890, ',', ' '), "1 234 567,890");
        QCOMPARE(text(0, -1234567, '.', ','), "-1234567");
        QCOMPARE(text(100, Min, '.', ','), "-92,233,720,368,547,758.08");
        // Without arguments: the default locale's decimal point, no separator.
        QCOMPARE(FixNumber().toString(), "0.00");
        const QLocale saved;
        const auto restore = qScopeGuard([saved] { QLocale::setDefault(saved); });
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(FixNumber(100, qint64(123456)).toString(), "1234,56");
    }

    void fixMap()
    {
        // Both entries as base-10 strings; nothing for multiplier 0.
        const QVariantMap stored = FixNumber(1000, qint64(-1234567)).toMap();
        QCOMPARE(stored, QVariantMap({ { "rm", "1000" }, { "value", "-1234567" } }));
        QCOMPARE(stored.value("rm").userType(), int(QMetaType::QString));
        QVERIFY(FixNumber(0, qint64(5)).toMap().isEmpty());
        const auto read = [](const QVariantMap &map) {
            FixNumber n(10, qint64(99));
            n.setMap(map);
            return parts(n);
        };
        QCOMPARE(read(stored), "1000:-1234567");
        QCOMPARE(read({}), "0:0");
        QCOMPARE(read({ { "rm", 100 }, { "value", qint64(-7) } }), "100:-7");
        QCOMPARE(read({ { "rm", "4294967396" }, { "value", "9" } }), "100:9"); // the low 32 bits
    }

    // Comparison, sum and difference, plain and compound (types: ExtFixNumber's).
    void fixArithmetic_data()
    {
        QTest::addColumn<FixNumber>("a");
        QTest::addColumn<FixNumber>("b");
        QTest::addColumn<int>("typeA");
        QTest::addColumn<int>("typeB");
        QTest::addColumn<int>("order"); // of a against b: -1 less, 0 equal, 1 greater
        QTest::addColumn<QString>("sum");
        QTest::addColumn<QString>("difference");
        const auto row = [](const char *tag, uint ma, qint64 a, uint mb, qint64 b, int ta, int tb,
                            int order, const char *sum, const char *difference) {
            QTest::newRow(tag) << FixNumber(ma, a) << FixNumber(mb, b) << ta << tb << order << sum
                               << difference;
        };
        row("zeros-of-two-scales", 100, 0, 1000, 0, Plain, Plain, 0, "1000:0", "1000:0");
        row("12.30-vs-12.300", 100, 1230, 1000, 12300, Plain, Plain, 0, "1000:24600", "1000:0");
        row("zero-vs-tiny", 100, 0, 1000000000, 1, Plain, Plain, -1, "1000000000:1",
            "1000000000:-1");
        row("mixed-scales", 100, 150, 1000, 25, Plain, Plain, 1, "1000:1525", "1000:1475");
        row("left-multiplier-0", 0, 5, 1, 5, Plain, Plain, 0, "1:5", "1:-5");
        row("right-multiplier-0", 100, 7, 0, 5, Plain, Plain, -1, "100:7", "100:7");
        row("both-multiplier-0", 0, 7, 0, 5, Plain, Plain, 1, "0:12", "0:2");
        row("wraps", 1, Max, 1, 1, Plain, Plain, 1, "1:-9223372036854775808",
            "1:9223372036854775806");
        row("ext-mixed-scales", 100, 150, 1000, 250, 1, 3, 1, "1000:1750:1", "1000:1250:1");
        row("ext-left-multiplier-0", 0, 7, 100, 5, 3, 1, 1, "100:5:3", "100:-5:3");
        row("ext-both-multiplier-0", 0, 7, 0, 5, 1, 3, 1, "0:12:1", "0:2:1");
    }

    void fixArithmetic()
    {
        QFETCH(FixNumber, a);
        QFETCH(FixNumber, b);
        QFETCH(int, typeA);
        QFETCH(int, typeB);
        // A right operand with multiplier 0 leaves a FixNumber unchanged in the compound forms.
        if (typeA == Plain)
            return check(a, b, b.realMultiplier() == 0);
        const auto ext = [](const FixNumber &n, int type) {
            return ExtFixNumber(n.realMultiplier(), n.value(),
                                static_cast<ExtFixNumber::ERoundType>(type));
        };
        check(ext(a, typeA), ext(b, typeB), false);
    }

    void bcdPacking_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<int>("digits"); // -1: unpacking only
        QTest::addColumn<QByteArray>("hex");
        const auto row = [](const char *tag, quint64 value, int digits, const QByteArray &hex) {
            QTest::newRow(tag) << value << digits << hex;
        };
        const quint64 max = std::numeric_limits<quint64>::max();
        row("1234-6", 1234, 6, "001234");
        row("12345-4-not-cut", 12345, 4, "012345");
        row("7-1-odd-count", 7, 1, "07");
        row("5-0", 5, 0, "05");
        row("0-4", 0, 4, "0000");
        row("0-0-empty", 0, 0, "");
        row("max-20", max, 20, "18446744073709551615");
        row("nibble-1a", 20, -1, "1a");
        row("nibble-ff", 165, -1, "ff");
        // Beyond 64 bits: modulo 2^64, also past the in-place length of 255 bytes.
        row("max-plus-one-wraps", 0, -1, "18446744073709551616");
        row("300-bytes", 13974806116446630012ULL, -1, QByteArray(600, '1').replace("11", "12"));
    }

    void bcdPacking()
    {
        QFETCH(quint64, value);
        QFETCH(int, digits);
        QFETCH(QByteArray, hex);
        if (digits >= 0)
            QCOMPARE(BCD::int2bcd(value, static_cast<unsigned char>(digits)).toHex(), hex);
        const QByteArray bytes = QByteArray::fromHex(hex);
        QCOMPARE(BCD::bcd2int(bytes), value);
        QCOMPARE(bytes.toHex(), hex); // left as it was
    }

    void bcdInPlace()
    {
        QByteArray bytes = QByteArray::fromHex("1299");
        BCD::bcd2int(reinterpret_cast<unsigned char *>(bytes.data()), 0);
        QCOMPARE(bytes.toHex(), QByteArray("1299"));
        BCD::bcd2int(reinterpret_cast<unsigned char *>(bytes.data()), 1);
        QCOMPARE(bytes.toHex(), QByteArray("0c99"));
        BCD::bcd2int(nullptr, 4); // a null buffer is left alone
    }

    void versionParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("version"); // major.minor.patch and the marker, as read
        const auto row = [](const char *tag, const char *text, const char *version) {
            QTest::newRow(tag) << QString(text) << QString(version);
        };
        row("release", "4.2.6", "4.2.6");
        row("zeros", "0.0.0", "0.0.0");
        row("rc-upper-case", "4.2.6RC1", "4.2.6rc1");
        row("beta-2", "4.2.6b2", "4.2.6b2");
        row("alpha-bare", "4.2.6a", "4.2.6a");
        row("blanks-around", "  4.2.6  ", "4.2.6");
        row("beta-word-fails", "4.2.6beta", "-1.-1.-1");
        row("two-parts", "4.2", "-1.-1.-1");
        row("four-parts", "4.2.6.1", "-1.-1.-1");
        row("unknown-marker", "4.2.6c", "-1.-1.-1");
    }

    void versionParse()
    {
        QFETCH(QString, text);
        QFETCH(QString, version);
        AppVersion v(text, build);
        QCOMPARE(v.version(), version);
        QCOMPARE(v.isValid(),
                 v.majorVersion() >= 0 && v.minorVersion() >= 0 && v.patchVersion() >= 0);
        QVERIFY(
            !AppVersion(text, QStringLiteral("Jan 19 2018 12:16:05")).isValid()); // not ISO 8601
        // A failed parse replaces the version, not the build.
        v.setVersion(QStringLiteral("4.2"));
        QCOMPARE(v.version(), QStringLiteral("-1.-1.-1"));
        QCOMPARE(v.build(), build);
    }

    void versionOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order"); // of a's version against b's: -1 older, 0 same, 1 newer
        QTest::addColumn<int>("days"); // b's build against a's
        const auto row
            = [](const char *tag, const char *a, const char *b, int order, int days = 0) {
                  QTest::newRow(tag) << QString(a) << QString(b) << order << days;
              };
        row("rc-before-release", "4.2.6rc1", "4.2.6", -1);
        row("release-after-rc", "4.2.6", "4.2.6rc1", 1);
        row("numbers-not-text", "4.2.6", "4.10.0", -1);
        row("marker-case", "4.2.6RC1", " 4.2.6rc1", 0);
        row("failed-parse-is-lowest", "4.2.6beta", "4.2.7", -1);
        row("rc10-before-rc2", "4.2.6rc10", "4.2.6rc2", -1);
        row("patch-decides-over-marker", "4.2.7a", "4.2.6", 1);
        row("later-build-breaks-tie", "4.2.6", "4.2.6", 0, 1);
        row("version-wins-over-build", "4.2.7", "4.2.6", 1, 1);
    }

    void versionOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QFETCH(int, days);
        QCOMPARE(AppVersion::lessThen(a, b), order < 0);
        QCOMPARE(AppVersion::moreThen(a, b), order > 0);
        QCOMPARE(AppVersion::equilTo(a, b), order == 0);
        const AppVersion va(a, build);
        const AppVersion vb(
            b, QDateTime::fromString(build, Qt::ISODate).addDays(days).toString(Qt::ISODate));
        QCOMPARE(va.versionLessThen(vb), order < 0);
        QCOMPARE(va.versionMoreThen(vb), order > 0);
        QCOMPARE(va.versionEquilTo(vb), order == 0);
        // The build decides between equal versions.
        const int full = order ? order : -days;
        QCOMPARE(va < vb, full < 0);
        QCOMPARE(va > vb, full > 0);
        QCOMPARE(va == vb, full == 0);
        QCOMPARE(va != vb, full != 0);
        QCOMPARE(va <= vb, full <= 0);
        QCOMPARE(va >= vb, full >= 0);
    }

    void libraryVersion()
    {
        const AppVersion own;
        QVERIFY(own.isValid()); // the build moment read from its ISO 8601 text
        QCOMPARE(own.version(), AppVersion::VERSION);
        QCOMPARE(own.build(), AppVersion::BUILD);
        // The compiler's date and time texts, a day padded with a blank too.
        QCOMPARE(appVersionBuildMoment("Jan 19 2018", "12:16:05"), build);
        QCOMPARE(appVersionBuildMoment("Sep  9 2024", "01:02:03"),
                 QStringLiteral("2024-09-09T01:02:03"));
    }

private:
    template<typename Number> void check(const Number &a, const Number &b, bool compoundKeepsLeft)
    {
        QFETCH(int, order);
        QFETCH(QString, sum);
        QFETCH(QString, difference);
        QCOMPARE(a == b, order == 0);
        QCOMPARE(a != b, order != 0);
        QCOMPARE(a < b, order < 0);
        QCOMPARE(a > b, order > 0);
        QCOMPARE(a <= b, order <= 0);
        QCOMPARE(a >= b, order >= 0);
        QCOMPARE(parts(Number(a) + b), sum);
        QCOMPARE(parts(Number(a) - b), difference);
        Number s = a, d = a;
        s += b;
        d -= b;
        QCOMPARE(parts(s), compoundKeepsLeft ? parts(a) : sum);
        QCOMPARE(parts(d), compoundKeepsLeft ? parts(a) : difference);
    }
};

QTEST_GUILESS_MAIN(tst_Values)
#include "tst_values.moc"
