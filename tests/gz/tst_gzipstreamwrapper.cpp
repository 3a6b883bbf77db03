#include <gz/gzipstreamwrapper.h>
#include <gz/gzipstreamwrapper_p.h>

#include "testfiles.h"

#include <QProcess>
#include <QTest>

namespace {
// compress()'s zlib stream: qCompress() less its length prefix (alone for no input).
QByteArray zlibStream(const QByteArray &data, int level = -1)
{
    return data.isEmpty() ? QByteArray::fromHex("789c030000000001") : qCompress(data, level).mid(4);
}

// A gzip member made by the gzip tool; empty when it is not installed.
QByteArray gzipped(const QByteArray &data, const QString &level = QStringLiteral("-6"))
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), { QStringLiteral("-c"), level });
    gzip.write(data);
    gzip.closeWriteChannel();
    gzip.waitForFinished(60000);
    return gzip.readAllStandardOutput();
}

// Log-like text: compresses well, but not absurdly.
QByteArray text(int size)
{
    QByteArray out;
    for (quint32 i = 1; out.size() < size; i = i * 1103515245 + 12345)
        out += "worker " + QByteArray::number(i >> 20) + (i % 3 ? " started\n" : " timeout\n");
    return out.left(size);
}
} // namespace

class tst_GzipStreamWrapper : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("data");
        for (const int size : { 0, 1, 5, 1023, 1024, 1025, 65536, 1000 * 1000 }) {
            QTest::addRow("text-%d", size) << text(size);
            QTest::addRow("noise-%d", size) << randomBytes(size, quint32(size));
        }
        QTest::newRow("zeros-16MiB") << QByteArray(16 * 1024 * 1024, '\0');
    }

    // Compressed as compress() does, and back; gzip members decompress too.
    void roundTrip()
    {
        QFETCH(QByteArray, data);
        const QByteArray compressed = GzipStreamWrapper::gzcompress(data);
        QVERIFY(compressed == zlibStream(data));
        QVERIFY(GzipStreamWrapper::gzuncompress(compressed) == data);
        const QByteArray member = gzipped(data, data.size() % 2 ? "-9" : "-1");
        if (member.isEmpty())
            QSKIP("gzip is not installed");
        QVERIFY(GzipStreamWrapper::gzuncompress(member) == data);
    }

    // Damaged, cut and short input: what could be read, or nothing; 4 bytes or less warn.
    void damaged_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const QByteArray data = text(50000), zlib = zlibStream(data), gzip = gzipped(data);
        const auto lastFlipped = [](QByteArray a) {
            a[a.size() - 1] = char(a.back() ^ 1);
            return a;
        };
        QTest::newRow("adler-32") << lastFlipped(zlib) << QByteArray();
        QTest::newRow("gzip-length") << lastFlipped(gzip) << QByteArray();
        QTest::newRow("raw-deflate") << zlib.mid(2) << QByteArray();
        QTest::newRow("needs-dictionary")
            << QByteArray::fromHex("78bb000000000300") << QByteArray();
        QTest::newRow("cut-before-checksum") << zlib.chopped(4) << data;
        QTest::newRow("second-stream-ignored") << zlib + zlibStream("more") << data;
        QTest::newRow("trailing-garbage") << gzip + "x" << data;
        QTest::newRow("empty-gzip-first") << gzipped(QByteArray()) + zlib << QByteArray();
        QTest::newRow("empty-input") << zlibStream(QByteArray()) << QByteArray();
        QTest::newRow("4-bytes") << zlib.left(4) << QByteArray();
        QTest::newRow("5-bytes-text") << QByteArray("hello") << QByteArray();
        // Cut stored blocks give the bytes that arrived, also around 1 KiB steps.
        const QByteArray noise = randomBytes(3072, 7);
        const QByteArray stored = zlibStream(noise, 0); // 2 bytes zlib header, 5 bytes block header
        for (const int cut : { 5, 7, 8, 1030, 1031, 1032, 2055, 3079, int(stored.size()) - 1 })
            QTest::addRow("stored-cut-at-%d", cut)
                << stored.left(cut) << noise.left(qMax(0, cut - 7));
    }

    void damaged()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        if (input.size() <= 4)
            QTest::ignoreMessage(QtWarningMsg, "gzuncompress: Input data is truncated");
        QVERIFY(GzipStreamWrapper::gzuncompress(input) == output);
    }

    void outputLimit_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("limit");
        // At and one over the limit, for a limit that is a multiple of 1 KiB and one that is not.
        const int cases[][2] = { { 4096, 4096 }, { 4096, 4095 }, { 5001, 5001 },
                                 { 5001, 5000 }, { 0, 0 },       { 1, 0 } };
        for (const auto &c : cases)
            QTest::addRow("%d-bytes-limit-%d", c[0], c[1]) << text(c[0]) << c[1];
        // A small stream that would inflate to 64 MiB.
        QTest::newRow("bomb") << QByteArray(64 * 1024 * 1024, '\0') << 1024 * 1024;
    }

    void outputLimit()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, limit);
        for (const QByteArray &input : { GzipStreamWrapper::gzcompress(data), gzipped(data) })
            QVERIFY(GzipStreamWrapperPrivate::uncompress(input, limit)
                    == (data.size() <= limit ? data : QByteArray()));
    }
};

QTEST_GUILESS_MAIN(tst_GzipStreamWrapper)
#include "tst_gzipstreamwrapper.moc"
