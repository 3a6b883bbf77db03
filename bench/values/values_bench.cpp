// Prints how many FixNumber texts are parsed and formatted, and how many
// BCD conversions are done, per second. The parse figure is shown next to a
// text-through-double reference (QRegExp match plus QString::toDouble) on the
// same texts, measured in the same run.

#include <values/bcd.h>
#include <values/fixnumber.h>

#include <QElapsedTimer>
#include <QRegExp>
#include <QStringList>

#include <cstdio>

namespace {

// Runs `step` in rounds until about half a second has passed; returns
// operations per second (`perRound` operations per call).
template<typename Step>
double measure(int perRound, Step step)
{
    QElapsedTimer timer;
    timer.start();
    qint64 rounds = 0;
    do {
        step();
        ++rounds;
    } while (timer.nsecsElapsed() < 500000000);
    return double(rounds) * perRound * 1e9 / double(timer.nsecsElapsed());
}

void print(const char *what, double perSecond)
{
    std::printf("%-46s %12.0f ops/s\n", what, perSecond);
}

} // namespace

int main()
{
    const QStringList texts{QStringLiteral("0"),         QStringLiteral("12.5"),
                            QStringLiteral("-0.29"),     QStringLiteral("1,125"),
                            QStringLiteral("12345.678"), QStringLiteral("-98765432.1"),
                            QStringLiteral("1.015"),     QStringLiteral("3141592653.58979")};
    const int n = texts.size();
    qint64 sink = 0;

    FixNumber number(100);
    print("FixNumber::setString (parse)", measure(n, [&] {
              for (const QString &t : texts) {
                  number.setString(t);
                  sink += number.value();
              }
          }));

    const QRegExp pattern(QStringLiteral("(\\-?[0-9]+)([\\.,\\,]?)([0-9]*)"));
    print("  reference: QRegExp + QString::toDouble", measure(n, [&] {
              for (const QString &t : texts) {
                  if (pattern.exactMatch(t)) {
                      number.setDouble(QString(t).replace(QLatin1Char(','), QLatin1Char('.')).toDouble());
                      sink += number.value();
                  }
              }
          }));

    QVector<FixNumber> numbers;
    for (const QString &t : texts)
        numbers << FixNumber(100, t);
    print("FixNumber::toString() (format)", measure(n, [&] {
              for (const FixNumber &x : qAsConst(numbers))
                  sink += x.toString().size();
          }));
    print("FixNumber::toString('.', ',') (format, grouped)", measure(n, [&] {
              for (const FixNumber &x : qAsConst(numbers))
                  sink += x.toString(QLatin1Char('.'), QLatin1Char(',')).size();
          }));

    const quint64 values[] = {0ULL, 7ULL, 1234ULL, 987654321ULL, 1234567890123456789ULL,
                              18446744073709551615ULL};
    const int v = int(sizeof values / sizeof values[0]);
    print("BCD::int2bcd (20 digits)", measure(v, [&] {
              for (const quint64 x : values)
                  sink += BCD::int2bcd(x, 20).size();
          }));
    QVector<QByteArray> packed;
    for (const quint64 x : values)
        packed << BCD::int2bcd(x, 20);
    print("BCD::bcd2int (10 bytes)", measure(v, [&] {
              for (const QByteArray &b : qAsConst(packed))
                  sink += qint64(BCD::bcd2int(b));
          }));

    std::printf("(checksum %lld)\n", static_cast<long long>(sink));
    return 0;
}
