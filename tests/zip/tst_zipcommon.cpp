// The internals shared by the writer and the reader.
#include <zip/zipcommon_p.h>

#include <QRandomGenerator>
#include <QTest>

#include <zlib.h>

#include <limits>

using namespace zipcommon;

// An Info-ZIP Unicode Path extra field for a stored name.
static QByteArray unicodePathField(const QByteArray &raw, const QByteArray &utf8, quint32 crcDelta = 0)
{
    QByteArray field(4 + 5, '\0');
    qToLittleEndian<quint16>(0x7075, field.data());
    qToLittleEndian<quint16>(quint16(5 + utf8.size()), field.data() + 2);
    field[4] = 1;
    qToLittleEndian<quint32>(crc32Reference(0, raw.constData(), raw.size()) + crcDelta, field.data() + 5);
    return field + utf8;
}

class tst_ZipCommon : public QObject
{
    Q_OBJECT

private slots:
    void crcMatchesZlib_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("offset");
        for (int size : {0, 1, 15, 16, 63, 64, 65, 255, 256, 257, 300, 1000, 4096, 65536 + 7, 1 << 20})
            for (int offset : {0, 1, 3, 8, 15})
                QTest::addRow("size-%d-offset-%d", size, offset) << size << offset;
    }

    void crcMatchesZlib()
    {
        QFETCH(int, size);
        QFETCH(int, offset);
        QByteArray data(size + offset, Qt::Uninitialized);
        QRandomGenerator rng(quint32(size * 31 + offset));
        for (char &c : data)
            c = char(rng.bounded(256));
        const char *p = data.constData() + offset;
        const quint32 expected = quint32(::crc32(0, reinterpret_cast<const Bytef *>(p), uInt(size)));
        QCOMPARE(crc32(0, p, size), expected);
        QCOMPARE(crc32Reference(0, p, size), expected);
    }

    void crcContinues()
    {
        QByteArray data(100000, Qt::Uninitialized);
        QRandomGenerator rng(7);
        for (char &c : data)
            c = char(rng.bounded(256));
        const quint32 whole = crc32(0, data.constData(), data.size());
        quint32 pieces = 0;
        for (int at = 0; at < data.size(); at += 4099)
            pieces = crc32(pieces, data.constData() + at, qMin(4099, data.size() - at));
        QCOMPARE(pieces, whole);
        QCOMPARE(crc32(0, "123456789", 9), 0xcbf43926u);
    }

    void dosTime_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QDateTime>("stored"); // read back
        const auto at = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
        };
        QTest::newRow("epoch-of-dos") << at(1980, 1, 1, 0, 0, 0) << at(1980, 1, 1, 0, 0, 0);
        QTest::newRow("leap-day") << at(2024, 2, 29, 23, 59, 58) << at(2024, 2, 29, 23, 59, 58);
        // two-second steps: odd seconds round down
        QTest::newRow("odd-second") << at(2019, 7, 14, 8, 30, 41) << at(2019, 7, 14, 8, 30, 40);
        QTest::newRow("last-dos-year") << at(2107, 12, 31, 23, 59, 58) << at(2107, 12, 31, 23, 59, 58);
        QTest::newRow("before-1980-clamped") << at(1970, 1, 1, 12, 0, 0) << at(1980, 1, 1, 0, 0, 0);
        QTest::newRow("after-2107-clamped") << at(2200, 1, 1, 12, 0, 0) << at(2107, 12, 31, 23, 59, 58);
    }

    void dosTime()
    {
        QFETCH(QDateTime, time);
        QFETCH(QDateTime, stored);
        quint16 t = 0, d = 0;
        toDosDateTime(time, &t, &d);
        QCOMPARE(fromDosDateTime(t, d), stored);
    }

    void dosTimeFromSeconds_data()
    {
        QTest::addColumn<qint64>("secs");
        const QDateTime dosEpoch(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC);
        const QDateTime beyond(QDate(2108, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("long-before") << qint64(-4000000000000LL);
        QTest::newRow("before-1970") << qint64(-1);
        QTest::newRow("unix-epoch") << qint64(0);
        QTest::newRow("last-before-dos") << dosEpoch.toSecsSinceEpoch() - 1;
        QTest::newRow("dos-epoch") << dosEpoch.toSecsSinceEpoch();
        QTest::newRow("leap-day-2000") << QDateTime(QDate(2000, 2, 29), QTime(23, 59, 59), Qt::UTC).toSecsSinceEpoch();
        QTest::newRow("march-2100") << QDateTime(QDate(2100, 3, 1), QTime(0, 0, 1), Qt::UTC).toSecsSinceEpoch();
        QTest::newRow("last-dos-second") << beyond.toSecsSinceEpoch() - 1;
        QTest::newRow("first-past-dos") << beyond.toSecsSinceEpoch();
        QTest::newRow("long-after") << qint64(4000000000000LL);
        QRandomGenerator rng(1980);
        for (int i = 0; i < 40; ++i) {
            const qint64 secs = qint64(rng.bounded(quint32(4400000000LL / 4))) * 4 + rng.bounded(4);
            QTest::addRow("random-%lld", secs) << secs;
        }
    }

    void dosTimeFromSeconds()
    {
        // The arithmetic gives what the QDateTime conversion gives.
        QFETCH(qint64, secs);
        quint16 t = 0, d = 0, refT = 0, refD = 0;
        toDosDateTime(secs, &t, &d);
        toDosDateTime(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), &refT, &refD);
        QCOMPARE(t, refT);
        QCOMPARE(d, refD);
    }

    void invalidDosFieldsGiveInvalidTime()
    {
        QVERIFY(!fromDosDateTime(0, 0).isValid());                    // month 0, day 0
        QVERIFY(!fromDosDateTime(quint16(31 << 11), quint16((1 << 5) | 1)).isValid()); // hour 31
    }

    // The PKWARE cipher written out in unsigned arithmetic, over enough bytes that
    // key2 takes values whose 16-bit product overflows an int.
    void cipherMatchesReference()
    {
        quint32 table[256];
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        const auto crcStep = [&table](quint32 crc, quint8 b) { return table[(crc ^ b) & 0xff] ^ (crc >> 8); };
        quint32 keys[3] = {0x12345678, 0x23456789, 0x34567890};
        const auto update = [&](quint8 c) {
            keys[0] = crcStep(keys[0], c);
            keys[1] = (keys[1] + (keys[0] & 0xff)) * 134775813u + 1;
            keys[2] = crcStep(keys[2], quint8(keys[1] >> 24));
        };
        const QByteArray password = QByteArrayLiteral("p\xe4ssw\xf6rd");
        for (const char c : password)
            update(quint8(c));
        QByteArray plain(4096, Qt::Uninitialized);
        for (int i = 0; i < plain.size(); ++i)
            plain[i] = char(i * 7 + (i >> 5));
        QByteArray expected = plain;
        bool large = false;
        for (char &c : expected) {
            const quint32 temp = (keys[2] | 2u) & 0xffffu;
            large = large || temp * (temp ^ 1u) > quint32(std::numeric_limits<int>::max());
            const quint8 p = quint8(c);
            c = char(p ^ quint8((temp * (temp ^ 1u)) >> 8));
            update(p);
        }
        QVERIFY(large);
        QByteArray data = plain;
        CipherKeys(password).encrypt(data.data(), data.size());
        QCOMPARE(data, expected);
        CipherKeys(password).decrypt(data.data(), data.size());
        QCOMPARE(data, plain);
    }

    void encodeName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("ascii") << QStringLiteral("logs/a.log") << QByteArray("logs/a.log") << false;
        QTest::newRow("latin1") << QStringLiteral("caf\u00e9.txt") << QByteArray("caf\xc3\xa9.txt") << true;
        QTest::newRow("cyrillic") << QStringLiteral("\u043e\u0442\u0447\u0435\u0442.txt")
                                  << QByteArray("\xd0\xbe\xd1\x82\xd1\x87\xd0\xb5\xd1\x82.txt") << true;
    }

    void encodeName()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf8);
        bool flag = !utf8;
        QCOMPARE(zipcommon::encodeName(name, &flag), bytes);
        QCOMPARE(flag, utf8);
    }

    void decodeName_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<int>("host");
        QTest::addColumn<QString>("name");
        const QString cafe = QStringLiteral("caf\u00e9.txt");
        QTest::newRow("latin1-without-flag") << QByteArray("caf\xe9.txt") << 0 << QByteArray() << 0 << cafe;
        QTest::newRow("utf8-bytes-from-dos-host") << QByteArray("caf\xc3\xa9.txt") << 0 << QByteArray() << 0
                                                  << QStringLiteral("caf\u00c3\u00a9.txt");
        QTest::newRow("utf8-bytes-from-unix-host") << QByteArray("caf\xc3\xa9.txt") << 0 << QByteArray() << 3 << cafe;
        QTest::newRow("latin1-from-unix-host") << QByteArray("caf\xe9.txt") << 0 << QByteArray() << 3 << cafe;
        QTest::newRow("utf8-flag") << QByteArray("caf\xc3\xa9.txt") << 0x800 << QByteArray() << 0 << cafe;
        QTest::newRow("utf8-flag-invalid-bytes") << QByteArray("caf\xe9.txt") << 0x800 << QByteArray() << 0 << cafe;
        QByteArray other("\x00\x01\x02\x00\xaa\xbb", 6); // an unrelated extra field first
        QTest::newRow("unicode-path-field")
            << QByteArray("caf?.txt") << 0 << (other + unicodePathField("caf?.txt", cafe.toUtf8())) << 0 << cafe;
        QTest::newRow("unicode-path-stale-crc")
            << QByteArray("caf?.txt") << 0 << unicodePathField("caf?.txt", cafe.toUtf8(), 1)
            << 0 << QStringLiteral("caf?.txt");
        QByteArray truncated = unicodePathField("a.txt", "b.txt");
        truncated.chop(2);
        QTest::newRow("unicode-path-truncated") << QByteArray("a.txt") << 0 << truncated << 0
                                                << QStringLiteral("a.txt");
    }

    void decodeName()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, flags);
        QFETCH(QByteArray, extra);
        QFETCH(int, host);
        QFETCH(QString, name);
        QCOMPARE(zipcommon::decodeName(raw, quint16(flags), extra, quint8(host)), name);
    }

    void commentEncoding()
    {
        const QString latin = QStringLiteral("Gr\u00fc\u00dfe");
        QCOMPARE(encodeComment(latin), latin.toLatin1());
        QCOMPARE(decodeComment(encodeComment(latin)), latin);
        const QString wide = QStringLiteral("\u65e5\u672c");
        QCOMPARE(decodeComment(encodeComment(wide)), wide);
    }

    void safePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::addColumn<QString>("relative");
        QTest::newRow("plain") << "a.txt" << true << "a.txt";
        QTest::newRow("nested") << "dir/sub/a.txt" << true << "dir/sub/a.txt";
        QTest::newRow("dot-components") << "./dir/./a.txt" << true << "dir/a.txt";
        QTest::newRow("directory") << "dir/" << true << "dir";
        QTest::newRow("dotdot-first") << "../a.txt" << false << "";
        QTest::newRow("dotdot-inside") << "dir/../../a.txt" << false << "";
        QTest::newRow("dotdot-harmless-looking") << "dir/../a.txt" << false << "";
        QTest::newRow("dotdot-backslash") << "dir\\..\\..\\a.txt" << false << "";
        QTest::newRow("absolute") << "/etc/passwd" << false << "";
        QTest::newRow("absolute-backslash") << "\\windows\\a" << false << "";
        QTest::newRow("drive") << "C:/a.txt" << false << "";
        QTest::newRow("dots-in-name") << "a..b/..c" << true << "a..b/..c";
        QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("b") << false << "";
        QTest::newRow("repeated-slash") << "dir//a.txt" << true << "dir/a.txt";
        QTest::newRow("dot-last") << "dir/." << true << "dir";
        QTest::newRow("only-dot") << "." << true << "";
        QTest::newRow("hidden-directory") << ".cfg/a" << true << ".cfg/a";
        QTest::newRow("three-dots") << ".../a" << true << ".../a";
        QTest::newRow("dotdot-last") << "dir/.." << false << "";
        QTest::newRow("drive-backslash") << "c:\\a.txt" << false << "";
        QTest::newRow("colon-later") << "ab:c/d" << true << "ab:c/d";
    }

    void safePath()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QFETCH(QString, relative);
        QString out = QStringLiteral("unchanged");
        QCOMPARE(safeRelativePath(name, &out), safe);
        QCOMPARE(out, safe ? relative : QStringLiteral("unchanged"));
    }
};


QTEST_GUILESS_MAIN(tst_ZipCommon)
#include "tst_zipcommon.moc"
