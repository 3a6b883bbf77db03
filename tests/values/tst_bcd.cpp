#include <values/bcd.h>

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

class TstBcd : public QObject
{
    Q_OBJECT

private slots:
    void int2bcd_data();
    void int2bcd();
    void bcd2intArray_data();
    void bcd2intArray();
    void bcd2intInPlace_data();
    void bcd2intInPlace();
    void onlyTheLast32BytesCount();
    void roundTrip();
};

void TstBcd::int2bcd_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("1234-6") << quint64(1234) << 6 << QByteArray("001234");
    QTest::newRow("12345-6") << quint64(12345) << 6 << QByteArray("012345");
    QTest::newRow("12345-4-not-cut") << quint64(12345) << 4 << QByteArray("012345");
    QTest::newRow("7-1-odd-count") << quint64(7) << 1 << QByteArray("07");
    QTest::newRow("5-0") << quint64(5) << 0 << QByteArray("05");
    QTest::newRow("0-4") << quint64(0) << 4 << QByteArray("0000");
    QTest::newRow("0-0-empty") << quint64(0) << 0 << QByteArray("");
    QTest::newRow("1-20") << quint64(1) << 20 << QByteArray("00000000000000000001");
    QTest::newRow("max-20") << std::numeric_limits<quint64>::max() << 20
                            << QByteArray("18446744073709551615");
    QTest::newRow("max-0") << std::numeric_limits<quint64>::max() << 0
                           << QByteArray("18446744073709551615");
    QTest::newRow("1-255") << quint64(1) << 255 << QByteArray(252, '0') + "01";
}

void TstBcd::int2bcd()
{
    QFETCH(quint64, value);
    QFETCH(int, digits);
    QFETCH(QByteArray, hex);
    QCOMPARE(BCD::int2bcd(value, static_cast<unsigned char>(digits)).toHex(), hex);
}

void TstBcd::bcd2intArray_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<quint64>("value");
    QTest::newRow("1234") << QByteArray("1234") << quint64(1234);
    QTest::newRow("001234") << QByteArray("001234") << quint64(1234);
    QTest::newRow("000001") << QByteArray("000001") << quint64(1);
    QTest::newRow("nine-99") << QByteArray(18, '9') << quint64(999999999999999999ULL);
    QTest::newRow("nibble-1a") << QByteArray("1a") << quint64(20);
    QTest::newRow("nibble-ff") << QByteArray("ff") << quint64(165);
    QTest::newRow("empty") << QByteArray() << quint64(0);
    QTest::newRow("max-20-digits") << QByteArray("18446744073709551615")
                                   << std::numeric_limits<quint64>::max();
    // Numbers beyond 64 bits come back modulo 2^64.
    QTest::newRow("max-plus-one-wraps") << QByteArray("18446744073709551616") << quint64(0);
    QTest::newRow("20-nines-wraps") << QByteArray(20, '9') << quint64(7766279631452241919ULL);
    QTest::newRow("21-digits-1e20") << QByteArray("0100000000000000000000")
                                    << quint64(7766279631452241920ULL);
    QTest::newRow("22-nines") << QByteArray(22, '9') << quint64(1864712049423024127ULL);
    QTest::newRow("leading-zeros-21-bytes") << QByteArray(22, '0') + "1234" << quint64(1234);
}

void TstBcd::bcd2intArray()
{
    QFETCH(QByteArray, hex);
    QFETCH(quint64, value);
    const QByteArray bytes = QByteArray::fromHex(hex);
    const QByteArray before = bytes;
    QCOMPARE(BCD::bcd2int(bytes), value);
    QCOMPARE(bytes, before);
}

void TstBcd::bcd2intInPlace_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("length-0-untouched") << QByteArray("1234") << 0 << QByteArray("1234");
    QTest::newRow("first-byte-only") << QByteArray("1299") << 1 << QByteArray("0c99");
    QTest::newRow("all") << QByteArray("123499") << 3 << QByteArray("0c2263");
    QTest::newRow("ff-165") << QByteArray("ff") << 1 << QByteArray("a5");
}

void TstBcd::bcd2intInPlace()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, length);
    QFETCH(QByteArray, result);
    QByteArray bytes = QByteArray::fromHex(hex);
    BCD::bcd2int(reinterpret_cast<unsigned char *>(bytes.data()), static_cast<unsigned char>(length));
    QCOMPARE(bytes.toHex(), result);
    BCD::bcd2int(nullptr, 4); // a null buffer is left alone
}

// 100^32 is a multiple of 2^64: any longer array (also 256 bytes and more,
// whose size does not fit the in-place length) reads as its last 32 bytes.
void TstBcd::onlyTheLast32BytesCount()
{
    for (const int size : {33, 255, 256, 300, 513}) {
        const QByteArray bytes = QByteArray::fromHex(QByteArray(2 * size, '0').replace(0, 2, "97"))
                                 + QByteArray::fromHex(QByteArray(64, '1').replace(10, 2, "42"));
        QCOMPARE(BCD::bcd2int(bytes), BCD::bcd2int(bytes.right(32)));
    }
    const QByteArray twelves = QByteArray::fromHex(QByteArray(600, '1').replace("11", "12"));
    QCOMPARE(twelves.size(), 300);
    QCOMPARE(BCD::bcd2int(twelves), quint64(13974806116446630012ULL));
}

void TstBcd::roundTrip()
{
    QList<quint64> values{0, 1, 9, 10, 99, 100, 1234567890123456789ULL, 9999999999999999999ULL,
                          10000000000000000000ULL, std::numeric_limits<quint64>::max()};
    for (quint64 p = 1; p <= 1000000000000000000ULL; p *= 10)
        values << p - 1 << p << p + 1;
    QRandomGenerator rng(20240611);
    for (int i = 0; i < 2000; ++i)
        values << (rng.generate64() >> (i % 64));
    for (const quint64 v : qAsConst(values)) {
        const QByteArray packed = BCD::int2bcd(v, 20);
        QCOMPARE(packed.size(), 10);
        QCOMPARE(BCD::bcd2int(packed), v);
        QCOMPARE(BCD::bcd2int(BCD::int2bcd(v, 0)), v);
    }
}

QTEST_GUILESS_MAIN(TstBcd)
#include "tst_bcd.moc"
