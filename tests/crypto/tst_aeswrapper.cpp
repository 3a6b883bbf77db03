// The AES core against the FIPS-197 vectors and OpenSSL for all three key
// sizes; AesWrapper's padding and refusal rules against OpenSSL's
// AES-128-ECB; the OpenSSL-backed generators.

#include "cryptotestutil.h"

#include <crypto/aes_p.h>
#include <crypto/aeswrapper.h>

#include <QtTest>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

using cryptotest::randomBytes;

namespace {

QByteArray opensslEcb(const QByteArray &key, const QByteArray &data, bool encrypt)
{
    const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                                                  : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(data.size() + 16, '\0');
    int length = 0, last = 0;
    EVP_CipherInit_ex(ctx, cipher, nullptr, reinterpret_cast<const uchar *>(key.constData()), nullptr, encrypt);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, reinterpret_cast<uchar *>(out.data()), &length,
                     reinterpret_cast<const uchar *>(data.constData()), data.size());
    EVP_CipherFinal_ex(ctx, reinterpret_cast<uchar *>(out.data()) + length, &last);
    EVP_CIPHER_CTX_free(ctx);
    return out.left(length + last);
}

// One block through the core, in place; `rounds` receives the key setup's answer.
QByteArray coreBlock(const QByteArray &key, const QByteArray &in, bool encrypt, int &rounds)
{
    quint32 schedule[AesMaxScheduleWords];
    const auto *k = reinterpret_cast<const quint8 *>(key.constData());
    const int bits = key.size() * 8;
    rounds = encrypt ? aesKeySetupEncrypt(schedule, k, bits) : aesKeySetupDecrypt(schedule, k, bits);
    QByteArray out = in;
    auto *buffer = reinterpret_cast<quint8 *>(out.data());
    (encrypt ? aesEncryptBlock : aesDecryptBlock)(schedule, rounds, buffer, buffer);
    return out;
}

AesWrapper wrapperWithKey(const QByteArray &key)
{
    AesWrapper aes;
    aes.key = key;
    return aes;
}

const QByteArray kKey = QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c");

} // namespace

class tst_AesWrapper : public QObject
{
    Q_OBJECT

private slots:
    // The core: FIPS-197 vectors, then random blocks against OpenSSL.
    void fips197Vectors_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        QTest::addColumn<int>("rounds");
        const auto row = [](const char *tag, const char *key, const char *plain, const char *cipher, int rounds) {
            QTest::newRow(tag) << QByteArray::fromHex(key) << QByteArray::fromHex(plain) << QByteArray::fromHex(cipher)
                               << rounds;
        };
        row("B-aes128", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
            "3925841d02dc09fbdc118597196a0b32", 10);
        row("C1-aes128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
            "69c4e0d86a7b0430d8cdb78070b4c55a", 10);
        row("C2-aes192", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
            "dda97ca4864cdfe06eaf70a0ec0d7191", 12);
        row("C3-aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
            "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14);
    }

    void fips197Vectors()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        QFETCH(int, rounds);
        int used = 0;
        QCOMPARE(coreBlock(key, plain, true, used).toHex(), cipher.toHex());
        QCOMPARE(used, rounds);
        QCOMPARE(coreBlock(key, cipher, false, used).toHex(), plain.toHex());
        QCOMPARE(used, rounds);
        // Random keys of the same size and blocks against OpenSSL.
        for (int i = 0; i < 50; ++i) {
            const QByteArray randomKey = randomBytes(key.size()), block = randomBytes(16);
            const QByteArray enciphered = coreBlock(randomKey, block, true, used);
            QCOMPARE(enciphered.toHex(), opensslEcb(randomKey, block, true).toHex());
            QCOMPARE(coreBlock(randomKey, enciphered, false, used).toHex(), block.toHex());
        }
    }

    void unsupportedKeySizeGivesNoRounds()
    {
        const quint8 key[64] = {};
        quint32 schedule[AesMaxScheduleWords];
        for (const int bits : {0, 64, 127, 129, 160, 224, 255, 512}) {
            QCOMPARE(aesKeySetupEncrypt(schedule, key, bits), 0);
            QCOMPARE(aesKeySetupDecrypt(schedule, key, bits), 0);
        }
    }

    void paddingMatchesOpenSslEcb_data()
    {
        QTest::addColumn<int>("length");
        // Around the block edges, and enough blocks for the paired-block path and its single tail.
        for (const int length : {0, 1, 15, 16, 17, 32, 47, 48, 64, 144})
            QTest::addRow("%d-bytes", length) << length;
    }

    void paddingMatchesOpenSslEcb()
    {
        QFETCH(int, length);
        const AesWrapper aes = wrapperWithKey(kKey + QByteArray(16, 'x')); // only the first 16 key bytes count
        const QByteArray plain = randomBytes(length);
        const QByteArray padded = plain + QByteArray((16 - length % 16) % 16, '\0');
        const QByteArray cipher = aes.rEncrypt(plain);
        QCOMPARE(cipher.toHex(), opensslEcb(kKey, padded, true).toHex());
        QCOMPARE(aes.rDecrypt(cipher).toHex(), padded.toHex());
        QCOMPARE(aes.rDecrypt(padded).toHex(), opensslEcb(kKey, padded, false).toHex());
    }

    void refusesShortKeyAndPartialBlock()
    {
        AesWrapper aes;
        QVERIFY(aes.key.isEmpty());
        for (const QByteArray &key : {QByteArray(), kKey.left(15)}) {
            aes.key = key;
            QVERIFY(aes.rEncrypt(QByteArray(32, 'a')).isEmpty());
            QVERIFY(aes.rDecrypt(QByteArray(32, 'a')).isEmpty());
        }
        aes.key = kKey;
        const QByteArray cipher = aes.rEncrypt(QByteArray(32, 'z'));
        for (const int length : {1, 15, 17, 31, 33})
            QVERIFY2(aes.rDecrypt((cipher + "x").left(length)).isEmpty(), QByteArray::number(length));
    }

    void inPlaceWorkNeverTouchesSharedData()
    {
        // A detached array handed over becomes the result; one shared with the
        // caller, or raw data the caller owns, must stay as it was.
        const AesWrapper aes = wrapperWithKey(kKey);
        const QByteArray original = randomBytes(64);
        QByteArray shared = original;
        const QByteArray cipher = aes.rEncrypt(shared);
        QCOMPARE(shared, original);
        const QByteArray sharedCipher = cipher;
        QCOMPARE(aes.rDecrypt(sharedCipher), original);
        QCOMPARE(sharedCipher, cipher);

        char raw[32];
        std::memset(raw, 'r', sizeof raw);
        const QByteArray cipherRaw = aes.rEncrypt(QByteArray::fromRawData(raw, sizeof raw));
        QCOMPARE(QByteArray(raw, sizeof raw), QByteArray(32, 'r'));
        QCOMPARE(aes.rDecrypt(cipherRaw), QByteArray(32, 'r'));

        QByteArray own = original;
        own.detach();
        QCOMPARE(aes.rEncrypt(std::move(own)), cipher);
        QByteArray ownCipher = cipher;
        ownCipher.detach();
        QCOMPARE(aes.rDecrypt(std::move(ownCipher)), original);
    }

    void generators()
    {
        ERR_clear_error();
        const AesWrapper aes;
        for (const unsigned bits : {65u, 1000u, 0u, 2u})
            QCOMPARE(aes.generatePrime(bits), KeyNumber());
        QCOMPARE(ERR_peek_error(), 0UL); // failures leave OpenSSL's error queue clean

        const KeyNumber prime = aes.generatePrime(16);
        const BIGNUM *p = prime.toBignum();
        QCOMPARE(BN_num_bits(p), 16);
        BN_CTX *ctx = BN_CTX_new();
        BIGNUM *half = BN_dup(p);
        BN_rshift1(half, half); // (p - 1) / 2 for odd p
        QCOMPARE(BN_check_prime(p, ctx, nullptr), 1);
        QCOMPARE(BN_check_prime(half, ctx, nullptr), 1);
        BN_free(half);
        BN_CTX_free(ctx);

        QCOMPARE(aes.generateRnd(0), KeyNumber());
        QCOMPARE(ERR_peek_error(), 0UL);
        for (int i = 0; i < 200; ++i) {
            const quint64 value = aes.generateRnd(8).toInt();
            QVERIFY2(value >= 129 && value <= 255 && (value & 1), QByteArray::number(value));
        }
        const KeyNumber wide = aes.generateRnd(100);
        QCOMPARE(BN_num_bits(wide.toBignum()), 100);
        QVERIFY(BN_is_odd(wide.toBignum()));
        QCOMPARE(aes.generateRnd(1).toInt(), 1ULL);
    }
};

QTEST_GUILESS_MAIN(tst_AesWrapper)
#include "tst_aeswrapper.moc"
