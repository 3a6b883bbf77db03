#include <gz/gzipstreamwrapper.h>
#include <gz/gzipstreamwrapper_p.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <zlib.h>

namespace {
// Decompression exactly as the documented algorithm does it: 1 KiB of output
// space per inflate call, stop at the first call that leaves space unfilled,
// an empty result for memory, data and dictionary errors.
QByteArray referenceUncompress(const QByteArray &data)
{
    z_stream stream = {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    if (data.size() <= 4 || inflateInit2(&stream, 47) != Z_OK)
        return QByteArray();
    const auto end = qScopeGuard([&stream] { inflateEnd(&stream); });
    QByteArray result;
    char buffer[1024];
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR || status == Z_DATA_ERROR || status == Z_NEED_DICT)
            return QByteArray();
        result.append(buffer, int(sizeof buffer - stream.avail_out));
    } while (stream.avail_out == 0);
    return result;
}

// Log-like text: compresses well, but not absurdly.
QByteArray text(int size, quint32 seed = 1)
{
    static const QList<QByteArray> words =
        QByteArray("connect broker timeout retry frame queue worker started 4 stopped 7 payload error ok \n").split(' ');
    QRandomGenerator random(seed);
    QByteArray out;
    while (out.size() < size)
        out += words.at(random.bounded(words.size())) + ' ';
    return out.left(size);
}

QByteArray noise(int size, quint32 seed = 2)
{
    QVector<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

// A zlib (windowBits 15), gzip (31) or raw (-15) stream at the given level; a
// gzip header with name, comment, extra field and header CRC when asked.
QByteArray deflated(const QByteArray &data, int windowBits, int level = Z_DEFAULT_COMPRESSION,
                    bool fullGzipHeader = false, const QByteArray &dictionary = QByteArray())
{
    static Bytef name[] = "name.txt", comment[] = "a comment", extra[] = "XY\x02\x00" "ab";
    gz_header header{0, 0, 0, 0, extra, 6, 0, name, 0, comment, 0, /* hcrc */ 1, 0};
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    if (fullGzipHeader)
        deflateSetHeader(&stream, &header);
    if (!dictionary.isEmpty())
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(dictionary.constData()), uInt(dictionary.size()));
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

QByteArray flipped(QByteArray data, int at, char mask = 1)
{
    const int i = at < 0 ? data.size() + at : at;
    data[i] = char(data.at(i) ^ mask);
    return data;
}

QStringList loggedMessages;
} // namespace

class tst_GzipStreamWrapper : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void matchesReferenceLoop_data();
    void matchesReferenceLoop();
    void outputLimit_data();
    void outputLimit();
};

void tst_GzipStreamWrapper::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    for (const int size : {0, 1, 4, 5, 1023, 1024, 1025, 65536, 1000 * 1000}) {
        const QByteArray n = QByteArray::number(size);
        QTest::newRow("text-" + n) << text(size);
        QTest::newRow("noise-" + n) << noise(size);
        QTest::newRow("zeros-" + n) << QByteArray(size, '\0');
    }
    QTest::newRow("zeros-16MiB") << QByteArray(16 * 1024 * 1024, '\0');
}

// Compressed as zlib's compress() does, and back; gzip members made
// by zlib (stored blocks; a full header) and by the gzip tool decompress too.
void tst_GzipStreamWrapper::roundTrip()
{
    QFETCH(QByteArray, data);
    const QByteArray compressed = GzipStreamWrapper::gzcompress(data);
    if (data.isEmpty())
        QCOMPARE(compressed.toHex(), QByteArray("789c030000000001"));
    QVERIFY(compressed == deflated(data, 15)); // what compress() makes: default level, zlib header
    QVERIFY(GzipStreamWrapper::gzuncompress(compressed) == data);
    if (data.size() > 1000 * 1000)
        return; // large output: only the growing buffer matters
    QVERIFY(GzipStreamWrapper::gzuncompress(deflated(data, 31, 0)) == data); // stored blocks
    QVERIFY(GzipStreamWrapper::gzuncompress(deflated(data, 31, 1, true)) == data);

    if (QStandardPaths::findExecutable(QStringLiteral("gzip")).isEmpty())
        QSKIP("gzip is not installed");
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-c"), data.size() % 2 ? QStringLiteral("-9") : QStringLiteral("-1")});
    QVERIFY2(gzip.waitForStarted(10000), qPrintable(gzip.errorString()));
    gzip.write(data);
    gzip.closeWriteChannel();
    QVERIFY(gzip.waitForFinished(30000) && gzip.exitCode() == 0);
    const QByteArray member = gzip.readAllStandardOutput();
    QVERIFY(member.startsWith("\x1f\x8b"));
    QVERIFY(GzipStreamWrapper::gzuncompress(member) == data);
}

void tst_GzipStreamWrapper::matchesReferenceLoop_data()
{
    // Each row is a family of inputs; the test checks every member.
    QTest::addColumn<QList<QByteArray>>("inputs");
    const auto prefixes = [](const QByteArray &stream, int step) {
        QList<QByteArray> out;
        for (int cut = 0; cut <= stream.size(); cut += step)
            out.append(stream.left(cut));
        return out << stream;
    };
    const auto bitFlips = [](const QByteArray &stream, int count, quint32 seed) {
        QList<QByteArray> out;
        QRandomGenerator random(seed);
        for (int i = 0; i < count; ++i)
            out << flipped(stream, random.bounded(stream.size()), char(1 << random.bounded(8)));
        return out;
    };
    const auto zlib = GzipStreamWrapper::gzcompress;

    // Every cut of streams whose output ends on a 1 KiB boundary: a stream cut
    // short gives what could be decompressed, silently.
    QTest::newRow("cuts-zlib-text-4096") << prefixes(zlib(text(4096)), 1);
    QTest::newRow("cuts-zlib-zeros-8192") << prefixes(zlib(QByteArray(8192, '\0')), 1);
    QTest::newRow("cuts-gzip-stored-3072") << prefixes(deflated(noise(3072), 31, 0), 1);
    QTest::newRow("cuts-gzip-full-header") << prefixes(deflated(text(2048), 31, 6, true), 1);
    QTest::newRow("cuts-zlib-text-300000") << prefixes(zlib(text(300000)), 131);
    QTest::newRow("cuts-gzip-noise-200000") << prefixes(deflated(noise(200000), 31), 1009);

    QTest::newRow("flips-zlib-text") << bitFlips(zlib(text(120000)), 400, 11);
    QTest::newRow("flips-gzip-text") << bitFlips(deflated(text(120000), 31, 6, true), 400, 12);
    QTest::newRow("flips-zlib-zeros") << bitFlips(zlib(QByteArray(1 << 18, '\0')), 200, 13);
    QTest::newRow("flips-gzip-stored") << bitFlips(deflated(noise(20480), 31, 0), 200, 14);

    const QByteArray data = text(50000);
    QTest::newRow("corrupt")
        << QList<QByteArray>{flipped(zlib(data), -1), // Adler-32
                             flipped(zlib(data), 1), // header check
                             flipped(deflated(data, 31), -5, 0x10), // CRC-32
                             flipped(deflated(data, 31), -1), // length
                             flipped(deflated(data, 31, 6, true), 4), // time stamp, under the header CRC
                             deflated(data, -15), // raw deflate without a header
                             deflated(data, 15, 6, false, "worker broker timeout")}; // needs a dictionary

    // Only the first stream is read, as "cat a.gz b.gz" makes them.
    const QByteArray a = zlib(text(4096, 3));
    QTest::newRow("concatenated-and-trailing")
        << QList<QByteArray>{a + zlib(text(1000, 4)), a + "x", a + noise(100),
                             deflated(text(2048), 31) + deflated(text(10), 31), deflated(QByteArray(), 31) + a};

    // Four bytes or less warn; longer noise is silent.
    QList<QByteArray> shortNoise{zlib(QByteArray()).left(4), QByteArray(5, '\0'), "hello"};
    for (int size = 0; size < 64; ++size)
        shortNoise << noise(size, quint32(size));
    QTest::newRow("short-and-noise") << shortNoise;
}

void tst_GzipStreamWrapper::matchesReferenceLoop()
{
    QFETCH(QList<QByteArray>, inputs);
    loggedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { loggedMessages << message; });
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QStringList expectedMessages;
    for (int i = 0; i < inputs.size(); ++i) {
        const QByteArray &input = inputs.at(i);
        const QByteArray expected = referenceUncompress(input);
        const QByteArray actual = GzipStreamWrapper::gzuncompress(input);
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("input %1 (%2 bytes): %3 bytes instead of %4")
                                                    .arg(i).arg(input.size()).arg(actual.size()).arg(expected.size())));
        if (input.size() <= 4)
            expectedMessages << QStringLiteral("gzuncompress: Input data is truncated");
    }
    QCOMPARE(loggedMessages, expectedMessages);
}

void tst_GzipStreamWrapper::outputLimit_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("fits");
    // At and one over the limit, for a limit that is a multiple of 1 KiB and one that is not.
    for (const auto &[size, limit] : {std::pair(4096, 4096), {4096, 4095}, {5001, 5001}, {5001, 5000}, {0, 0}, {1, 0}})
        QTest::addRow("%d-bytes-limit-%d", size, limit) << text(size) << limit << (size <= limit);
    // A small stream that would inflate to 64 MiB.
    QTest::newRow("bomb") << QByteArray(64 * 1024 * 1024, '\0') << 1024 * 1024 << false;
}

void tst_GzipStreamWrapper::outputLimit()
{
    QFETCH(QByteArray, data);
    QFETCH(int, limit);
    QFETCH(bool, fits);
    for (const QByteArray &input : {GzipStreamWrapper::gzcompress(data), deflated(data, 31)})
        QVERIFY(GzipStreamWrapperPrivate::uncompress(input, limit) == (fits ? data : QByteArray()));
    QVERIFY(GzipStreamWrapperPrivate::maxOutputSize() > 2000 * 1000 * 1000);
}

QTEST_GUILESS_MAIN(tst_GzipStreamWrapper)
#include "tst_gzipstreamwrapper.moc"
