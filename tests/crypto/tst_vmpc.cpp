// encrypt::VMPC: the published test vector, self-inversion, the key and IV
// length rules, and that every call starts from a fresh state.

#include <crypto/vmpc.h>

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

const QByteArray kKey = QByteArray::fromHex("9661410ab797d8a9eb767c21172df6c7");
const QByteArray kIv = QByteArray::fromHex("4b5c2f003e67f39557a8d26f3da2b155");

} // namespace

class tst_Vmpc : public QObject
{
    Q_OBJECT

private slots:
    void publishedTestVector();
    void isItsOwnInverse_data();
    void isItsOwnInverse();
    void keyLengthRules_data();
    void keyLengthRules();
    void ivLengthRules_data();
    void ivLengthRules();
    void emptyDataIsReturned();
    void eachCallStartsAfresh();
    void initWithoutUsableKeyIsHarmless();
};

void tst_Vmpc::publishedTestVector()
{
    // The VMPC-KSA test vector of the cipher's author: keystream bytes at the
    // given positions for this key and IV.
    encrypt::VMPC vmpc;
    const QByteArray stream = vmpc(kKey, kIv, QByteArray(102400, '\0'));
    const int positions[] = {0, 1, 2, 3, 252, 253, 254, 255, 1020, 1021, 1022, 1023, 102396, 102397, 102398, 102399};
    QByteArray picked;
    for (const int p : positions)
        picked.append(stream.at(p));
    QCOMPARE(picked.toHex(), QByteArray("a82479f5b8fc66a4e05640a581ca499a"));
}

void tst_Vmpc::isItsOwnInverse_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("ivLength");
    QTest::addColumn<int>("dataLength");
    QTest::newRow("key16-noiv-1") << 16 << 0 << 1;
    QTest::newRow("key16-iv16-1000") << 16 << 16 << 1000;
    QTest::newRow("key64-iv64-257") << 64 << 64 << 257;
    QTest::newRow("key33-iv20-4096") << 33 << 20 << 4096;
}

void tst_Vmpc::isItsOwnInverse()
{
    QFETCH(int, keyLength);
    QFETCH(int, ivLength);
    QFETCH(int, dataLength);
    const QByteArray key = randomBytes(keyLength);
    const QByteArray iv = randomBytes(ivLength);
    const QByteArray data = randomBytes(dataLength);
    encrypt::VMPC vmpc;
    const QByteArray cipher = vmpc(key, iv, data);
    QCOMPARE(cipher.size(), data.size());
    if (dataLength > 8)
        QVERIFY(cipher != data);
    QCOMPARE(vmpc(key, iv, cipher), data);
    QCOMPARE(encrypt::VMPC()(key, iv, cipher), data);
}

void tst_Vmpc::keyLengthRules_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<bool>("used");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("15") << 15 << false;
    QTest::newRow("16") << 16 << true;
    QTest::newRow("64") << 64 << true;
    QTest::newRow("65") << 65 << false;
    QTest::newRow("1000") << 1000 << false;
}

void tst_Vmpc::keyLengthRules()
{
    QFETCH(int, keyLength);
    QFETCH(bool, used);
    const QByteArray data = randomBytes(100);
    encrypt::VMPC vmpc;
    const QByteArray out = vmpc(randomBytes(keyLength), kIv, data);
    QCOMPARE(out.size(), data.size());
    QCOMPARE(out != data, used);
}

void tst_Vmpc::ivLengthRules_data()
{
    QTest::addColumn<int>("ivLength");
    QTest::addColumn<bool>("used");
    QTest::newRow("10") << 10 << false;
    QTest::newRow("15") << 15 << false;
    QTest::newRow("16") << 16 << true;
    QTest::newRow("64") << 64 << true;
    QTest::newRow("65") << 65 << false;
}

void tst_Vmpc::ivLengthRules()
{
    QFETCH(int, ivLength);
    QFETCH(bool, used);
    const QByteArray data = randomBytes(100);
    encrypt::VMPC vmpc;
    const QByteArray withoutIv = vmpc(kKey, QByteArray(), data);
    const QByteArray withIv = vmpc(kKey, randomBytes(ivLength), data);
    QCOMPARE(withIv != withoutIv, used);
}

void tst_Vmpc::emptyDataIsReturned()
{
    encrypt::VMPC vmpc;
    QVERIFY(vmpc(kKey, kIv, QByteArray()).isEmpty());
}

void tst_Vmpc::eachCallStartsAfresh()
{
    const QByteArray data = randomBytes(300);
    const QByteArray otherKey = randomBytes(40);
    const QByteArray expected = encrypt::VMPC()(kKey, kIv, data);
    encrypt::VMPC reused;
    reused(otherKey, QByteArray(), data);
    reused(QByteArray(5, 'k'), kIv, data); // refused: too short
    QCOMPARE(reused(kKey, kIv, data), expected);
    QCOMPARE(reused(kKey, kIv, data), expected);
}

void tst_Vmpc::initWithoutUsableKeyIsHarmless()
{
    // A fresh object has no key; after a refused call the stored key length
    // and key disagree. Neither may make the key schedule divide by zero or
    // read past the key.
    encrypt::VMPC fresh;
    fresh.init();
    encrypt::VMPC refused;
    refused(kKey, kIv, QByteArray("x"));
    refused(QByteArray(65, 'k'), kIv, QByteArray("x"));
    refused.init();
    QCOMPARE(refused(kKey, kIv, QByteArray(100, 'a')), encrypt::VMPC()(kKey, kIv, QByteArray(100, 'a')));
}

QTEST_GUILESS_MAIN(tst_Vmpc)
#include "tst_vmpc.moc"
