// AesWrapper against the FIPS-197 vector and OpenSSL's AES-128-ECB, its
// generators; KeyNumber's byte form and arithmetic; VMPC against its
// published test vector, with its key and IV length rules.

#include "cryptotestutil.h"

#include <crypto/aeswrapper.h>
#include <crypto/keynumber.h>
#include <crypto/vmpc.h>

#include <QtTest>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

using cryptotest::randomBytes;

namespace {
QByteArray opensslEcb(const QByteArray &key, const QByteArray &data, bool encrypt)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(data.size() + 16, '\0');
    int length = 0, last = 0;
    auto *o = reinterpret_cast<uchar *>(out.data());
    const auto *k = reinterpret_cast<const uchar *>(key.constData());
    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, k, nullptr, encrypt);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, o, &length, reinterpret_cast<const uchar *>(data.constData()),
                     data.size());
    EVP_CipherFinal_ex(ctx, o + length, &last);
    EVP_CIPHER_CTX_free(ctx);
    return out.left(length + last);
}

AesWrapper aesWith(const QByteArray &key)
{
    AesWrapper aes;
    aes.key = key;
    return aes;
}

const QByteArray aesKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
const QByteArray vmpcKey = QByteArray::fromHex("9661410ab797d8a9eb767c21172df6c7");
const QByteArray vmpcIv = QByteArray::fromHex("4b5c2f003e67f39557a8d26f3da2b155");
} // namespace

class tst_CryptoPrimitives : public QObject
{
    Q_OBJECT

private slots:
    void aesMatchesOpenSslEcb_data()
    {
        QTest::addColumn<int>("length");
        // Around the block edges, and enough blocks for paired blocks and a single tail.
        for (const int length : { 0, 1, 15, 16, 17, 32, 47, 48, 144 })
            QTest::addRow("%d-bytes", length) << length;
    }

    // Zero padding to whole blocks; only the first 16 key bytes count.
    void aesMatchesOpenSslEcb()
    {
        QFETCH(int, length);
        const AesWrapper aes = aesWith(aesKey + QByteArray(16, 'x'));
        const QByteArray plain = randomBytes(length);
        const QByteArray padded = plain + QByteArray((16 - length % 16) % 16, '\0');
        const QByteArray cipher = aes.rEncrypt(plain);
        QCOMPARE(cipher.toHex(), opensslEcb(aesKey, padded, true).toHex());
        QCOMPARE(aes.rDecrypt(cipher).toHex(), padded.toHex());
        QCOMPARE(aes.rDecrypt(padded).toHex(), opensslEcb(aesKey, padded, false).toHex());
        // The FIPS-197 example (appendix C.1).
        const QByteArray fipsPlain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        QCOMPARE(aes.rEncrypt(fipsPlain).toHex(), QByteArray("69c4e0d86a7b0430d8cdb78070b4c55a"));
    }

    void aesRefusesShortKeyAndPartialBlock()
    {
        AesWrapper aes;
        for (const QByteArray &key : { QByteArray(), aesKey.left(15) }) {
            aes.key = key;
            QVERIFY(aes.rEncrypt(QByteArray(32, 'a')).isEmpty());
            QVERIFY(aes.rDecrypt(QByteArray(32, 'a')).isEmpty());
        }
        aes.key = aesKey;
        const QByteArray cipher = aes.rEncrypt(QByteArray(32, 'z'));
        for (const int length : { 1, 15, 17, 31, 33 })
            QVERIFY2(aes.rDecrypt((cipher + "x").left(length)).isEmpty(),
                     QByteArray::number(length));
    }

    // Data shared with the caller, or raw data the caller owns, stays as it was.
    void aesLeavesCallersDataAlone()
    {
        const AesWrapper aes = aesWith(aesKey);
        char raw[32];
        std::memset(raw, 'r', sizeof raw);
        const QByteArray shared = QByteArray::fromRawData(raw, 32), copy(raw, 32);
        QCOMPARE(aes.rDecrypt(aes.rEncrypt(shared)), copy);
        QCOMPARE(shared, copy);
        const QByteArray cipher = aes.rEncrypt(copy), cipherCopy(cipher.constData(), 32);
        QCOMPARE(aes.rDecrypt(cipher), copy);
        QCOMPARE(cipher, cipherCopy);
    }

    // Primes of up to 64 bits, safe ones; random numbers of the given size, odd.
    void generators()
    {
        ERR_clear_error();
        const AesWrapper aes;
        for (const unsigned bits : { 65u, 0u, 2u })
            QCOMPARE(aes.generatePrime(bits), KeyNumber());
        QCOMPARE(aes.generateRnd(0), KeyNumber());
        QCOMPARE(ERR_peek_error(), 0UL); // failures leave OpenSSL's error queue clean
        const quint64 prime = aes.generatePrime(16).toInt();
        QVERIFY2(prime >= 1 << 15 && prime < 1 << 16, QByteArray::number(prime));
        for (const quint64 p : { prime, (prime - 1) / 2 }) {
            for (quint64 d = 2; d * d <= p; ++d)
                QVERIFY2(p % d, QByteArray::number(p));
        }
        for (int i = 0; i < 100; ++i) {
            const quint64 value = aes.generateRnd(8).toInt();
            QVERIFY2(value >= 129 && value <= 255 && (value & 1), QByteArray::number(value));
        }
        QCOMPARE(BN_num_bits(aes.generateRnd(100).toBignum()), 100);
    }

    void keyNumberByteForm_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("258") << quint64(258) << QByteArray::fromHex("0201000000000000");
        for (const quint64 v :
             { 0ULL, 255ULL, 1ULL << 32, 1ULL << 63, 0x0123456789abcdefULL, ~0ULL }) {
            QByteArray bytes(8, '\0');
            qToLittleEndian(v, bytes.data());
            QTest::addRow("0x%llx", static_cast<unsigned long long>(v)) << v << bytes;
        }
    }

    void keyNumberByteForm()
    {
        QFETCH(quint64, value);
        QFETCH(QByteArray, bytes);
        const KeyNumber number = KeyNumber::fromInt(value);
        QCOMPARE(number.toByteArray().toHex(), bytes.toHex());
        QCOMPARE(number.toInt(), value);
        QCOMPARE(KeyNumber::fromByteArray(bytes), number);
        QCOMPARE(KeyNumber(number.toBignum()).toInt(), value);
        // A moved-from number is still a number (0 after a move construction).
        KeyNumber source = number, assigned(1ULL);
        assigned = std::move(source);
        KeyNumber moved(std::move(assigned));
        QCOMPARE(moved, number);
        QVERIFY(source.toBignum() && assigned.toInt() == 0);
    }

    void keyNumberShortAndLongArrays()
    {
        // Fewer than 8 bytes are read as they stand, little-endian.
        QCOMPARE(KeyNumber(QByteArray::fromHex("0201")).toInt(), 258ULL);
        QCOMPARE(KeyNumber::reverseArray("\x01\x02").toHex(), QByteArray("0201000000000000"));
        // 2^64 + 2^8 + 5: more than the 8-byte form holds; nothing is cut (and
        // nothing written past a buffer), toInt() gives the low 64 bits.
        const QByteArray bytes = QByteArray::fromHex("050100000000000001");
        QCOMPARE(KeyNumber(bytes).toByteArray().toHex(), bytes.toHex());
        QCOMPARE(KeyNumber(bytes).toInt(), 0x105ULL);
    }

    void keyNumberPowAndMod()
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

    // The VMPC-KSA test vector of the cipher's author: keystream bytes at the
    // given positions for this key and IV.
    void vmpcPublishedTestVector()
    {
        const QByteArray stream = encrypt::VMPC()(vmpcKey, vmpcIv, QByteArray(102400, '\0'));
        QByteArray picked;
        for (const int p : { 0, 1, 2, 3, 252, 253, 254, 255, 1020, 1021, 1022, 1023 })
            picked.append(stream.at(p));
        QCOMPARE(picked.toHex() + stream.right(4).toHex(),
                 QByteArray("a82479f5b8fc66a4e05640a581ca499a"));
    }

    void vmpcLengthRules_data()
    {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("ivLength");
        for (const int length : { 0, 15, 16, 64, 65 }) {
            QTest::addRow("key-%d", length) << length << 16;
            QTest::addRow("iv-%d", length) << 16 << length;
        }
    }

    // Keys and IVs of 16 to 64 bytes are used, others ignored (a key of
    // another length leaves the data as it is); the cipher is its own inverse.
    void vmpcLengthRules()
    {
        QFETCH(int, keyLength);
        QFETCH(int, ivLength);
        const bool keyUsed = keyLength >= 16 && keyLength <= 64,
                   ivUsed = ivLength >= 16 && ivLength <= 64;
        const QByteArray key = randomBytes(keyLength), iv = randomBytes(ivLength),
                         data = randomBytes(1000);
        encrypt::VMPC vmpc;
        const QByteArray out = vmpc(key, iv, data);
        QCOMPARE(out.size(), data.size());
        QCOMPARE(out != data, keyUsed);
        QCOMPARE(vmpc(key, iv, out), data);
        QCOMPARE(out != vmpc(key, QByteArray(), data), keyUsed && ivUsed);
        QVERIFY(vmpc(key, iv, QByteArray()).isEmpty());
    }

    // Every call starts afresh. A fresh object has no key; after a refused
    // call the stored key length and key disagree: neither may make the key
    // schedule divide by zero or read past the key.
    void vmpcCallsStartAfresh()
    {
        const QByteArray data = randomBytes(300);
        const QByteArray expected = encrypt::VMPC()(vmpcKey, vmpcIv, data);
        encrypt::VMPC reused;
        reused(randomBytes(40), QByteArray(), data);
        reused(QByteArray(5, 'k'), vmpcIv, data);
        QCOMPARE(reused(vmpcKey, vmpcIv, data), expected);
        encrypt::VMPC().init();
        reused(QByteArray(65, 'k'), vmpcIv, QByteArray("x"));
        reused.init();
        QCOMPARE(reused(vmpcKey, vmpcIv, data), expected);
    }
};

QTEST_GUILESS_MAIN(tst_CryptoPrimitives)
#include "tst_cryptoprimitives.moc"
