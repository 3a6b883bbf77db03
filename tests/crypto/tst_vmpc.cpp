// encrypt::VMPC: the published test vector, self-inversion, the key and IV
// length rules, and that every call starts from a fresh state.

#include "cryptotestutil.h"

#include <crypto/vmpc.h>

#include <QtTest>

using cryptotest::randomBytes;

namespace {
const QByteArray kKey = QByteArray::fromHex("9661410ab797d8a9eb767c21172df6c7");
const QByteArray kIv = QByteArray::fromHex("4b5c2f003e67f39557a8d26f3da2b155");
} // namespace

class tst_Vmpc : public QObject
{
    Q_OBJECT

private slots:
    void publishedTestVector()
    {
        // The VMPC-KSA test vector of the cipher's author: keystream bytes at the
        // given positions for this key and IV.
        encrypt::VMPC vmpc;
        const QByteArray stream = vmpc(kKey, kIv, QByteArray(102400, '\0'));
        QByteArray picked;
        for (const int p : {0, 1, 2, 3, 252, 253, 254, 255, 1020, 1021, 1022, 1023, 102396, 102397, 102398, 102399})
            picked.append(stream.at(p));
        QCOMPARE(picked.toHex(), QByteArray("a82479f5b8fc66a4e05640a581ca499a"));
    }

    void lengthRules_data()
    {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("ivLength");
        for (const int length : {0, 15, 16, 33, 64, 65, 1000})
            QTest::addRow("key-%d", length) << length << 16;
        for (const int length : {0, 10, 15, 20, 64, 65})
            QTest::addRow("iv-%d", length) << 16 << length;
        QTest::newRow("key-64-iv-64") << 64 << 64;
    }

    void lengthRules()
    {
        QFETCH(int, keyLength);
        QFETCH(int, ivLength);
        const bool keyUsed = keyLength >= 16 && keyLength <= 64;
        const bool ivUsed = ivLength >= 16 && ivLength <= 64;
        const QByteArray key = randomBytes(keyLength);
        const QByteArray iv = randomBytes(ivLength);
        const QByteArray data = randomBytes(1000);
        encrypt::VMPC vmpc;
        const QByteArray out = vmpc(key, iv, data);
        QCOMPARE(out.size(), data.size());
        QCOMPARE(out != data, keyUsed);
        QCOMPARE(vmpc(key, iv, out), data);
        if (keyUsed)
            QCOMPARE(out != vmpc(key, QByteArray(), data), ivUsed);
        QVERIFY(vmpc(key, iv, QByteArray()).isEmpty());
    }

    void eachCallStartsAfresh()
    {
        const QByteArray data = randomBytes(300);
        const QByteArray expected = encrypt::VMPC()(kKey, kIv, data);
        encrypt::VMPC reused;
        reused(randomBytes(40), QByteArray(), data);
        reused(QByteArray(5, 'k'), kIv, data); // refused: too short
        QCOMPARE(reused(kKey, kIv, data), expected);
        QCOMPARE(reused(kKey, kIv, data), expected);

        // A fresh object has no key; after a refused call the stored key length
        // and key disagree. Neither may make the key schedule divide by zero or
        // read past the key.
        encrypt::VMPC().init();
        reused(QByteArray(65, 'k'), kIv, QByteArray("x"));
        reused.init();
        QCOMPARE(reused(kKey, kIv, data), expected);
    }
};

QTEST_GUILESS_MAIN(tst_Vmpc)
#include "tst_vmpc.moc"
