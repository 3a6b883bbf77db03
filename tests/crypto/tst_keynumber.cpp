// KeyNumber: the little-endian byte form, 64-bit conversions, values above
// 64 bits, modular exponentiation and ownership of the BIGNUM.

#include <crypto/keynumber.h>

#include <QtTest>

#include <openssl/bn.h>
#include <openssl/err.h>

class tst_KeyNumber : public QObject
{
    Q_OBJECT

private slots:
    void byteForm_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("258") << quint64(258) << QByteArray::fromHex("0201000000000000");
        QTest::newRow("one") << quint64(1) << QByteArray::fromHex("0100000000000000");
        for (const quint64 v :
             {0ULL, 255ULL, 256ULL, 65535ULL, 1ULL << 31, 1ULL << 32, 1ULL << 63, 0x0123456789abcdefULL, ~0ULL}) {
            QByteArray bytes(8, '\0');
            qToLittleEndian(v, bytes.data());
            QTest::addRow("0x%llx", static_cast<unsigned long long>(v)) << v << bytes;
        }
    }

    void byteForm()
    {
        QFETCH(quint64, value);
        QFETCH(QByteArray, bytes);
        const KeyNumber number = KeyNumber::fromInt(value);
        QCOMPARE(number.toByteArray().toHex(), bytes.toHex());
        QCOMPARE(number.toInt(), value);
        QCOMPARE(KeyNumber::fromByteArray(bytes), number);
        QCOMPARE(KeyNumber::fromByteArray(bytes).toInt(), value);
        QCOMPARE(KeyNumber(number.toBignum()).toInt(), value);
    }

    void shortArraysAndReversal()
    {
        // Fewer than 8 bytes are read as they stand, little-endian.
        const QList<QPair<const char *, quint64>> shortForms{
            {"", 0}, {"01", 1}, {"0201", 258}, {"01000000000080", 0x80000000000001ULL}};
        for (const auto &[hex, value] : shortForms)
            QCOMPARE(KeyNumber(QByteArray::fromHex(hex)).toInt(), value);
        // reverseArray pads to 8 bytes, longer arrays are reversed whole.
        const QList<QPair<const char *, const char *>> reversals{{"", "0000000000000000"},
                                                                 {"0102", "0201000000000000"},
                                                                 {"0102030405060708", "0807060504030201"},
                                                                 {"0102030405060708090a", "0a090807060504030201"}};
        for (const auto &[in, out] : reversals)
            QCOMPARE(KeyNumber::reverseArray(QByteArray::fromHex(in)).toHex(), QByteArray(out));
    }

    void valuesAboveSixtyFourBits()
    {
        // 2^64 + 2^8 + 5: nine bytes, more than the 8-byte form holds; nothing
        // is cut (and nothing written past a buffer), toInt() gives the low 64 bits.
        const QByteArray bytes = QByteArray::fromHex("050100000000000001");
        const KeyNumber big(bytes);
        QCOMPARE(BN_num_bits(big.toBignum()), 65);
        QCOMPARE(big.toByteArray().toHex(), bytes.toHex());
        QCOMPARE(big.toInt(), 0x105ULL);
        QCOMPARE(KeyNumber::fromByteArray(big.toByteArray()), big);
    }

    void powAndMod()
    {
        const KeyNumber four(4ULL);
        QCOMPARE(KeyNumber::powAndMod(four, KeyNumber(13ULL), KeyNumber(497ULL)).toInt(), 445ULL);
        QCOMPARE(four.powAndMod(KeyNumber(13ULL), KeyNumber(497ULL)).toInt(), 445ULL);
        QCOMPARE(four.toInt(), 4ULL);
        // Fermat: a^(p-1) = 1 mod p for the prime 2^61 - 1.
        const KeyNumber p((1ULL << 61) - 1);
        QCOMPARE(KeyNumber(123456789ULL).powAndMod(KeyNumber((1ULL << 61) - 2), p).toInt(), 1ULL);

        ERR_clear_error();
        QCOMPARE(KeyNumber::powAndMod(four, KeyNumber(13ULL), KeyNumber()).toInt(), 0ULL);
        QCOMPARE(ERR_peek_error(), 0UL); // a zero modulus leaves OpenSSL's error queue clean
    }

    void copiesAndAssignmentsOwnTheirNumber()
    {
        BIGNUM *bn = BN_new();
        BN_set_word(bn, 77);
        const KeyNumber fromBn(bn);
        QVERIFY(fromBn.toBignum() != bn);
        BN_set_word(bn, 78);
        BN_free(bn);
        QCOMPARE(fromBn.toInt(), 77ULL);
        const KeyNumber copy(fromBn);
        QVERIFY(copy.toBignum() != fromBn.toBignum());
        QCOMPARE(copy, fromBn);
        QCOMPARE(KeyNumber(static_cast<const bignum_st *>(nullptr)), KeyNumber());

        KeyNumber a(5ULL);
        const KeyNumber b(9ULL);
        const bignum_st *own = a.toBignum();
        a = b;
        QCOMPARE(a.toInt(), 9ULL);
        QCOMPARE(a.toBignum(), own); // the value is copied, the number kept
        QVERIFY(a != KeyNumber(5ULL));
        a = a;
        QCOMPARE(a.toInt(), 9ULL);
        a = a.toBignum();
        QCOMPARE(a.toInt(), 9ULL);
        a = static_cast<const bignum_st *>(nullptr);
        QCOMPARE(a.toInt(), 0ULL);

        // A moved-from number is still a number (0), never a null BIGNUM.
        KeyNumber moved(std::move(a = b));
        QCOMPARE(moved.toInt(), 9ULL);
        QCOMPARE(a.toInt(), 0ULL);
        KeyNumber target(1ULL);
        target = std::move(moved);
        QCOMPARE(target.toInt(), 9ULL);
        QVERIFY(moved.toBignum() != nullptr);
    }
};

QTEST_GUILESS_MAIN(tst_KeyNumber)
#include "tst_keynumber.moc"
