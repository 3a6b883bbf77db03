// The AES core against the FIPS-197 appendix vectors and NIST known answers
// for all three key sizes, AesWrapper's padding and refusal rules, and
// AesWrapper against OpenSSL's AES-128-ECB on many lengths.

#include <crypto/aes_p.h>
#include <crypto/aeswrapper.h>

#include <QRandomGenerator>
#include <QtTest>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

namespace {

QByteArray opensslEcb(const QByteArray &key, const QByteArray &data, bool encrypt)
{
    const EVP_CIPHER *cipher = key.size() == 16 ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                                                  : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(data.size() + 16, '\0');
    int length = 0;
    int last = 0;
    EVP_CipherInit_ex(ctx, cipher, nullptr, reinterpret_cast<const uchar *>(key.constData()), nullptr,
                      encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, reinterpret_cast<uchar *>(out.data()), &length,
                     reinterpret_cast<const uchar *>(data.constData()), data.size());
    EVP_CipherFinal_ex(ctx, reinterpret_cast<uchar *>(out.data()) + length, &last);
    EVP_CIPHER_CTX_free(ctx);
    return out.left(length + last);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
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
    void blockVectors_data();
    void blockVectors();
    void unsupportedKeySizeGivesNoRounds();
    void blockCipherMatchesOpenSsl_data();
    void blockCipherMatchesOpenSsl();

    void paddingAndLengths_data();
    void paddingAndLengths();
    void matchesOpenSslEcb();
    void usesOnlyFirstSixteenKeyBytes();
    void shortKeyGivesEmptyResult();
    void partialBlockIsNotDecrypted();
    void callerArrayStaysUnchanged();
    void handedOverArrayGivesSameResult();

    void generatePrime();
    void generateRnd();
    void failedGenerationLeavesNoOpenSslError();
};

void tst_AesWrapper::blockVectors_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    QTest::addColumn<int>("rounds");
    const auto row = [](const char *tag, const char *key, const char *plain, const char *cipher, int rounds) {
        QTest::newRow(tag) << QByteArray::fromHex(key) << QByteArray::fromHex(plain) << QByteArray::fromHex(cipher)
                           << rounds;
    };
    // FIPS-197 appendix B and C.
    row("fips197-B-aes128", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
        "3925841d02dc09fbdc118597196a0b32", 10);
    row("fips197-C1-aes128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
        "69c4e0d86a7b0430d8cdb78070b4c55a", 10);
    row("fips197-C2-aes192", "000102030405060708090a0b0c0d0e0f1011121314151617",
        "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191", 12);
    row("fips197-C3-aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
        "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14);
    // NIST AESAVS known answers and the SP 800-38A ECB example.
    row("aesavs-gfsbox128", "00000000000000000000000000000000", "f34481ec3cc627bacd5dc3fb08f273e6",
        "0336763e966d92595a567cc9ce537f5e", 10);
    row("aesavs-keysbox128", "10a58869d74be5a374cf867cfb473859", "00000000000000000000000000000000",
        "6d251e6944b051e04eaa6fb4dbf78465", 10);
    row("aesavs-vartxt128", "00000000000000000000000000000000", "80000000000000000000000000000000",
        "3ad78e726c1ec02b7ebfe92b23d9ec34", 10);
    row("aesavs-varkey128", "80000000000000000000000000000000", "00000000000000000000000000000000",
        "0edd33d3c621e546455bd8ba1418bec8", 10);
    row("aesavs-gfsbox192", "000000000000000000000000000000000000000000000000",
        "1b077a6af4b7f98229de786d7516b639", "275cfc0413d8ccb70513c3859b1d0f72", 12);
    row("aesavs-gfsbox256", "0000000000000000000000000000000000000000000000000000000000000000",
        "014730f80ac625fe84f026c60bfd547d", "5c9d844ed46f9885085e5d6a4f94c7d7", 14);
    row("aesavs-keysbox256", "c47b0294dbbbee0fec4757f22ffeee3587ca4730c3d33b691df38bab076bc558",
        "00000000000000000000000000000000", "46f2fb342d6f0ab477476fc501242c5f", 14);
    row("sp800-38a-ecb-aes128", "2b7e151628aed2a6abf7158809cf4f3c", "6bc1bee22e409f96e93d7e117393172a",
        "3ad77bb40d7a3660a89ecaf32466ef97", 10);
}

void tst_AesWrapper::blockVectors()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    QFETCH(int, rounds);
    const auto *k = reinterpret_cast<const quint8 *>(key.constData());
    quint32 schedule[AES_MAX_SCHEDULE_WORDS];
    QCOMPARE(aesKeySetupEncrypt(schedule, k, key.size() * 8), rounds);
    QByteArray out(16, '\0');
    aesEncryptBlock(schedule, rounds, reinterpret_cast<const quint8 *>(plain.constData()),
                    reinterpret_cast<quint8 *>(out.data()));
    QCOMPARE(out.toHex(), cipher.toHex());

    QCOMPARE(aesKeySetupDecrypt(schedule, k, key.size() * 8), rounds);
    aesDecryptBlock(schedule, rounds, reinterpret_cast<const quint8 *>(out.constData()),
                    reinterpret_cast<quint8 *>(out.data())); // in place
    QCOMPARE(out.toHex(), plain.toHex());
}

void tst_AesWrapper::unsupportedKeySizeGivesNoRounds()
{
    const quint8 key[32] = {};
    quint32 schedule[AES_MAX_SCHEDULE_WORDS];
    for (const int bits : {0, 64, 127, 129, 160, 224, 255, 512}) {
        QCOMPARE(aesKeySetupEncrypt(schedule, key, bits), 0);
        QCOMPARE(aesKeySetupDecrypt(schedule, key, bits), 0);
    }
}

void tst_AesWrapper::blockCipherMatchesOpenSsl_data()
{
    QTest::addColumn<int>("keyBytes");
    QTest::newRow("aes128") << 16;
    QTest::newRow("aes192") << 24;
    QTest::newRow("aes256") << 32;
}

void tst_AesWrapper::blockCipherMatchesOpenSsl()
{
    QFETCH(int, keyBytes);
    for (int i = 0; i < 50; ++i) {
        const QByteArray key = randomBytes(keyBytes);
        const QByteArray plain = randomBytes(16);
        quint32 schedule[AES_MAX_SCHEDULE_WORDS];
        const int rounds = aesKeySetupEncrypt(schedule, reinterpret_cast<const quint8 *>(key.constData()), keyBytes * 8);
        QByteArray out(16, '\0');
        aesEncryptBlock(schedule, rounds, reinterpret_cast<const quint8 *>(plain.constData()),
                        reinterpret_cast<quint8 *>(out.data()));
        QCOMPARE(out.toHex(), opensslEcb(key, plain, true).toHex());
    }
}

void tst_AesWrapper::paddingAndLengths_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("padded");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("one-byte") << 1 << 16;
    QTest::newRow("fifteen") << 15 << 16;
    QTest::newRow("one-block") << 16 << 16;
    QTest::newRow("seventeen") << 17 << 32;
    QTest::newRow("two-blocks") << 32 << 32;
    QTest::newRow("three-blocks-less-one") << 47 << 48;
}

void tst_AesWrapper::paddingAndLengths()
{
    QFETCH(int, length);
    QFETCH(int, padded);
    const AesWrapper aes = wrapperWithKey(kKey);
    const QByteArray plain = randomBytes(length);
    const QByteArray cipher = aes.rEncrypt(plain);
    QCOMPARE(cipher.size(), padded);
    const QByteArray back = aes.rDecrypt(cipher);
    QCOMPARE(back.size(), padded);
    QCOMPARE(back.left(length), plain);
    QCOMPARE(back.mid(length), QByteArray(padded - length, '\0'));
}

void tst_AesWrapper::matchesOpenSslEcb()
{
    // Lengths that exercise both the paired-block path and the single tail block.
    const AesWrapper aes = wrapperWithKey(kKey);
    for (int blocks = 1; blocks <= 9; ++blocks) {
        const QByteArray plain = randomBytes(blocks * 16);
        const QByteArray cipher = aes.rEncrypt(plain);
        QCOMPARE(cipher.toHex(), opensslEcb(kKey, plain, true).toHex());
        QCOMPARE(aes.rDecrypt(cipher).toHex(), plain.toHex());
        QCOMPARE(aes.rDecrypt(plain).toHex(), opensslEcb(kKey, plain, false).toHex());
    }
}

void tst_AesWrapper::usesOnlyFirstSixteenKeyBytes()
{
    const QByteArray plain = randomBytes(40);
    const AesWrapper exact = wrapperWithKey(kKey);
    const AesWrapper longer = wrapperWithKey(kKey + QByteArray(16, 'x'));
    QCOMPARE(longer.rEncrypt(plain), exact.rEncrypt(plain));
    QCOMPARE(longer.rDecrypt(exact.rEncrypt(plain)).left(40), plain);
}

void tst_AesWrapper::shortKeyGivesEmptyResult()
{
    AesWrapper aes;
    QVERIFY(aes.key.isEmpty());
    QVERIFY(aes.rEncrypt(QByteArray(32, 'a')).isEmpty());
    QVERIFY(aes.rDecrypt(QByteArray(32, 'a')).isEmpty());
    aes.key = kKey.left(15);
    QVERIFY(aes.rEncrypt(QByteArray(32, 'a')).isEmpty());
    QVERIFY(aes.rDecrypt(QByteArray(32, 'a')).isEmpty());
}

void tst_AesWrapper::partialBlockIsNotDecrypted()
{
    const AesWrapper aes = wrapperWithKey(kKey);
    const QByteArray cipher = aes.rEncrypt(QByteArray(32, 'z'));
    for (const int length : {1, 15, 17, 31})
        QVERIFY2(aes.rDecrypt(cipher.left(length)).isEmpty(), QByteArray::number(length));
    // Bytes after the last whole block are not read past either.
    QVERIFY(aes.rDecrypt(cipher + "x").isEmpty());
}

void tst_AesWrapper::callerArrayStaysUnchanged()
{
    const AesWrapper aes = wrapperWithKey(kKey);
    const QByteArray original = randomBytes(64);
    QByteArray shared = original;
    const QByteArray cipher = aes.rEncrypt(shared);
    QCOMPARE(shared, original);
    const QByteArray sharedCipher = cipher;
    QCOMPARE(aes.rDecrypt(sharedCipher), original);
    QCOMPARE(sharedCipher, cipher);

    // Raw data the caller still owns is never written.
    char raw[32];
    std::memset(raw, 'r', sizeof raw);
    const QByteArray cipherRaw = aes.rEncrypt(QByteArray::fromRawData(raw, sizeof raw));
    QCOMPARE(QByteArray(raw, sizeof raw), QByteArray(32, 'r'));
    QCOMPARE(aes.rDecrypt(cipherRaw), QByteArray(32, 'r'));
}

void tst_AesWrapper::handedOverArrayGivesSameResult()
{
    const AesWrapper aes = wrapperWithKey(kKey);
    const QByteArray plain = randomBytes(100);
    const QByteArray expected = aes.rEncrypt(plain);
    QByteArray own = plain;
    own.detach();
    QCOMPARE(aes.rEncrypt(std::move(own)), expected);
    QByteArray ownCipher = expected;
    ownCipher.detach();
    QCOMPARE(aes.rDecrypt(std::move(ownCipher)).left(100), plain);
}

void tst_AesWrapper::generatePrime()
{
    const AesWrapper aes;
    QCOMPARE(aes.generatePrime(65), KeyNumber());
    QCOMPARE(aes.generatePrime(1000), KeyNumber());

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
    QVERIFY(prime.toInt() > 32768 && prime.toInt() < 65536);
}

void tst_AesWrapper::generateRnd()
{
    const AesWrapper aes;
    for (int i = 0; i < 200; ++i) {
        const quint64 value = aes.generateRnd(8).toInt();
        QVERIFY2(value >= 129 && value <= 255 && (value & 1), QByteArray::number(value));
    }
    const KeyNumber wide = aes.generateRnd(100);
    QCOMPARE(BN_num_bits(wide.toBignum()), 100);
    QVERIFY(BN_is_odd(wide.toBignum()));
    QCOMPARE(aes.generateRnd(1).toInt(), 1ULL);
}

void tst_AesWrapper::failedGenerationLeavesNoOpenSslError()
{
    ERR_clear_error();
    const AesWrapper aes;
    QCOMPARE(aes.generateRnd(0), KeyNumber());
    QCOMPARE(aes.generatePrime(0), KeyNumber());
    QCOMPARE(aes.generatePrime(2), KeyNumber());
    QCOMPARE(ERR_peek_error(), 0UL);
}

QTEST_GUILESS_MAIN(tst_AesWrapper)
#include "tst_aeswrapper.moc"
