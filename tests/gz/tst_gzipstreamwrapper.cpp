#include <gz/gzipstreamwrapper.h>
#include <gz/gzipstreamwrapper_p.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

namespace {
const char truncatedWarning[] = "gzuncompress: Input data is truncated";

// Decompression exactly as the documented algorithm does it: 1 KiB of output
// space per inflate call, stop at the first call that leaves space unfilled,
// an empty result for memory, data and dictionary errors.
QByteArray referenceUncompress(const QByteArray &data)
{
    if (data.size() <= 4)
        return QByteArray();
    z_stream stream = {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    if (inflateInit2(&stream, 47) != Z_OK)
        return QByteArray();
    QByteArray result;
    char buffer[1024];
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR || status == Z_DATA_ERROR || status == Z_NEED_DICT) {
            inflateEnd(&stream);
            return QByteArray();
        }
        result.append(buffer, int(sizeof buffer - stream.avail_out));
    } while (stream.avail_out == 0);
    inflateEnd(&stream);
    return result;
}

// Log-like text: compresses well, but not absurdly.
QByteArray text(int size, quint32 seed = 1)
{
    static const char *const words[] = {"connect", "broker", "timeout", "retry", "frame", "queue",
                                        "worker", "started", "stopped", "payload", "error", "ok"};
    QRandomGenerator random(seed);
    QByteArray out;
    out.reserve(size + 128);
    while (out.size() < size) {
        out += "2024-05-0" + QByteArray::number(random.bounded(1, 10)) + " 12:"
               + QByteArray::number(random.bounded(10, 60)) + ":" + QByteArray::number(random.bounded(10, 60))
               + " DEBUG worker.cpp " + QByteArray::number(random.bounded(1000)) + " ";
        for (int i = random.bounded(3, 10); i > 0; --i)
            out += QByteArray(words[random.bounded(int(std::size(words)))]) + ' ';
        out += '\n';
    }
    out.truncate(size);
    return out;
}

QByteArray noise(int size, quint32 seed = 2)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &c : out)
        c = char(random.bounded(256));
    return out;
}

// A zlib (windowBits 15) or gzip (31) stream at the given level; a gzip
// header with name, comment, extra field and header CRC when asked.
QByteArray deflated(const QByteArray &data, int windowBits = 15, int level = Z_DEFAULT_COMPRESSION,
                    bool fullGzipHeader = false, const QByteArray &dictionary = QByteArray())
{
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray name("name.txt"), comment("a comment"), extra("XY\x02\x00" "ab", 6);
    gz_header header = {};
    if (fullGzipHeader) {
        header.name = reinterpret_cast<Bytef *>(name.data());
        header.comment = reinterpret_cast<Bytef *>(comment.data());
        header.extra = reinterpret_cast<Bytef *>(extra.data());
        header.extra_len = uInt(extra.size());
        header.hcrc = 1;
        header.os = 3;
        deflateSetHeader(&stream, &header);
    }
    if (!dictionary.isEmpty())
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(dictionary.constData()),
                             uInt(dictionary.size()));
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

QByteArray gzipTool(const QByteArray &data, const QStringList &arguments, QString *error)
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), arguments);
    if (!gzip.waitForStarted(10000)) {
        *error = gzip.errorString();
        return QByteArray();
    }
    gzip.write(data);
    gzip.closeWriteChannel();
    if (!gzip.waitForFinished(30000) || gzip.exitCode() != 0) {
        *error = QString::fromLocal8Bit(gzip.readAllStandardError());
        return QByteArray();
    }
    return gzip.readAllStandardOutput();
}

// Counts the messages logged while it lives.
class MessageCounter
{
public:
    MessageCounter()
    {
        s_count = 0;
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {
            ++s_count;
        });
    }
    ~MessageCounter() { qInstallMessageHandler(m_previous); }
    int count() const { return s_count; }

private:
    static int s_count;
    QtMessageHandler m_previous;
};
int MessageCounter::s_count = 0;
} // namespace

class tst_GzipStreamWrapper : public QObject
{
    Q_OBJECT

private slots:
    void compressesEmptyToEightByteStream();
    void compressIsZlibDefaultLevel();
    void roundTrip_data();
    void roundTrip();
    void decompressesGzipTool_data();
    void decompressesGzipTool();
    void shortInputWarns_data();
    void shortInputWarns();
    void fiveByteGarbageIsSilent();
    void readsOnlyTheFirstStream();
    void truncatedStreamGivesPrefix();
    void corruptStreamGivesEmpty_data();
    void corruptStreamGivesEmpty();
    void matchesReferenceLoop_data();
    void matchesReferenceLoop();
    void outputLimit_data();
    void outputLimit();
};

void tst_GzipStreamWrapper::compressesEmptyToEightByteStream()
{
    const QByteArray stream = GzipStreamWrapper::gzcompress(QByteArray());
    QCOMPARE(stream, QByteArray::fromHex("789c030000000001"));
    QCOMPARE(GzipStreamWrapper::gzuncompress(stream), QByteArray());
}

void tst_GzipStreamWrapper::compressIsZlibDefaultLevel()
{
    const QByteArray data = text(300000);
    const QByteArray ours = GzipStreamWrapper::gzcompress(data);
    QByteArray theirs(int(compressBound(uLong(data.size()))), Qt::Uninitialized);
    uLongf length = uLongf(theirs.size());
    QCOMPARE(compress(reinterpret_cast<Bytef *>(theirs.data()), &length,
                      reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size())),
             Z_OK);
    theirs.resize(int(length));
    QCOMPARE(ours, theirs);
    // A zlib header, not a gzip one.
    QCOMPARE(quint8(ours.at(0)), quint8(0x78));
    QCOMPARE((quint8(ours.at(0)) * 256 + quint8(ours.at(1))) % 31, 0);
}

void tst_GzipStreamWrapper::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    const QList<int> sizes = {1, 4, 5, 1023, 1024, 1025, 2048, 4096, 4097, 65536, 1024 * 1000, 1000 * 1000,
                              3 * 1024 * 1024};
    for (const int size : sizes) {
        const QByteArray n = QByteArray::number(size);
        QTest::newRow("text-" + n) << text(size);
        QTest::newRow("noise-" + n) << noise(size);
        QTest::newRow("zeros-" + n) << QByteArray(size, '\0');
    }
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("zeros-16MiB") << QByteArray(16 * 1024 * 1024, '\0');
}

void tst_GzipStreamWrapper::roundTrip()
{
    QFETCH(QByteArray, data);
    const QByteArray compressed = GzipStreamWrapper::gzcompress(data);
    QVERIFY(!compressed.isEmpty());
    const QByteArray back = GzipStreamWrapper::gzuncompress(compressed);
    QCOMPARE(back.size(), data.size());
    QVERIFY(back == data);
}

void tst_GzipStreamWrapper::decompressesGzipTool_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("arguments");

    const QStringList fast = {QStringLiteral("-c"), QStringLiteral("-1")};
    const QStringList best = {QStringLiteral("-c"), QStringLiteral("-9")};
    QTest::newRow("empty") << QByteArray() << fast;
    QTest::newRow("short-text") << QByteArray("hello, gzip\n") << best;
    QTest::newRow("text-1024") << text(1024) << best;
    QTest::newRow("text-8192") << text(8192) << fast;
    QTest::newRow("text-1MiB") << text(1024 * 1024) << best;
    QTest::newRow("text-700001") << text(700001) << fast;
    QTest::newRow("noise-3072") << noise(3072) << best;
    QTest::newRow("noise-100000") << noise(100000) << fast;
    QTest::newRow("zeros-4MiB") << QByteArray(4 * 1024 * 1024, '\0') << best;
    // A file name in the member header.
    QTest::newRow("with-name") << text(5000) << QStringList{QStringLiteral("-c"), QStringLiteral("-N"), QStringLiteral("FILE")};
}

void tst_GzipStreamWrapper::decompressesGzipTool()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, arguments);
    if (QStandardPaths::findExecutable(QStringLiteral("gzip")).isEmpty())
        QSKIP("gzip is not installed");

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QByteArray input = data;
    const int fileIndex = arguments.indexOf(QStringLiteral("FILE"));
    if (fileIndex >= 0) {
        QFile file(dir.filePath(QStringLiteral("report.log")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
        file.close();
        arguments[fileIndex] = file.fileName();
        input.clear();
    }
    QString error;
    const QByteArray member = gzipTool(input, arguments, &error);
    QVERIFY2(!member.isEmpty(), qPrintable(error));
    QCOMPARE(quint8(member.at(0)), quint8(0x1f));
    QCOMPARE(quint8(member.at(1)), quint8(0x8b));
    const QByteArray back = GzipStreamWrapper::gzuncompress(member);
    QCOMPARE(back.size(), data.size());
    QVERIFY(back == data);
}

void tst_GzipStreamWrapper::shortInputWarns_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one-byte") << QByteArray("\x78", 1);
    QTest::newRow("four-bytes-of-a-stream") << GzipStreamWrapper::gzcompress(QByteArray()).left(4);
    QTest::newRow("four-zero-bytes") << QByteArray(4, '\0');
}

void tst_GzipStreamWrapper::shortInputWarns()
{
    QFETCH(QByteArray, data);
    QTest::ignoreMessage(QtWarningMsg, truncatedWarning);
    QCOMPARE(GzipStreamWrapper::gzuncompress(data), QByteArray());
}

void tst_GzipStreamWrapper::fiveByteGarbageIsSilent()
{
    const MessageCounter messages;
    QCOMPARE(GzipStreamWrapper::gzuncompress(QByteArray("hello")), QByteArray());
    QCOMPARE(GzipStreamWrapper::gzuncompress(QByteArray(5, '\0')), QByteArray());
    QCOMPARE(messages.count(), 0);
}

void tst_GzipStreamWrapper::readsOnlyTheFirstStream()
{
    const QByteArray first = text(3000, 7);
    const QByteArray second = text(2000, 8);
    const QByteArray zlibFirst = GzipStreamWrapper::gzcompress(first);
    QCOMPARE(GzipStreamWrapper::gzuncompress(zlibFirst + GzipStreamWrapper::gzcompress(second)), first);
    QCOMPARE(GzipStreamWrapper::gzuncompress(zlibFirst + "trailing garbage"), first);
    QCOMPARE(GzipStreamWrapper::gzuncompress(zlibFirst + noise(5000)), first);
    // Two gzip members back to back, as "cat a.gz b.gz" makes them.
    QCOMPARE(GzipStreamWrapper::gzuncompress(deflated(first, 31) + deflated(second, 31)), first);
}

void tst_GzipStreamWrapper::truncatedStreamGivesPrefix()
{
    const QByteArray data = text(200000);
    const QByteArray stream = GzipStreamWrapper::gzcompress(data);
    const MessageCounter messages;
    for (const int cut : {stream.size() / 4, stream.size() / 2, stream.size() - 5, stream.size() - 1}) {
        const QByteArray part = GzipStreamWrapper::gzuncompress(stream.left(cut));
        QVERIFY2(!part.isEmpty(), qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QVERIFY(data.startsWith(part));
    }
    // Missing only the checksum: everything is there, unchecked.
    QCOMPARE(GzipStreamWrapper::gzuncompress(stream.left(stream.size() - 4)), data);
    QCOMPARE(messages.count(), 0);
}

void tst_GzipStreamWrapper::corruptStreamGivesEmpty_data()
{
    QTest::addColumn<QByteArray>("stream");

    const QByteArray data = text(50000);
    QByteArray zlib = GzipStreamWrapper::gzcompress(data);
    QByteArray badChecksum = zlib;
    badChecksum[badChecksum.size() - 1] = char(badChecksum.at(badChecksum.size() - 1) ^ 1);
    QTest::newRow("zlib-bad-adler32") << badChecksum;
    QByteArray badHeader = zlib;
    badHeader[1] = char(badHeader.at(1) ^ 1);
    QTest::newRow("zlib-bad-header-check") << badHeader;
    const QByteArray gzip = deflated(data, 31);
    QByteArray badCrc = gzip;
    badCrc[badCrc.size() - 5] = char(badCrc.at(badCrc.size() - 5) ^ 0x10);
    QTest::newRow("gzip-bad-crc") << badCrc;
    QByteArray badLength = gzip;
    badLength[badLength.size() - 1] = char(badLength.at(badLength.size() - 1) ^ 1);
    QTest::newRow("gzip-bad-length") << badLength;
    QByteArray badHeaderCrc = deflated(data, 31, 6, true);
    badHeaderCrc[4] = char(badHeaderCrc.at(4) ^ 1); // inside the time stamp, covered by the header CRC
    QTest::newRow("gzip-bad-header-crc") << badHeaderCrc;
    QTest::newRow("raw-deflate-without-header") << deflated(data, -15);
    QTest::newRow("needs-dictionary") << deflated(data, 15, 6, false, "worker broker timeout");
    QTest::newRow("noise") << noise(4096);
}

void tst_GzipStreamWrapper::corruptStreamGivesEmpty()
{
    QFETCH(QByteArray, stream);
    const MessageCounter messages;
    QCOMPARE(GzipStreamWrapper::gzuncompress(stream), QByteArray());
    QCOMPARE(messages.count(), 0);
}

void tst_GzipStreamWrapper::matchesReferenceLoop_data()
{
    // Each row is a family of inputs; the test checks every member.
    QTest::addColumn<QList<QByteArray>>("inputs");

    const auto prefixes = [](const QByteArray &stream, int step) {
        QList<QByteArray> out;
        for (int cut = 0; cut <= stream.size(); cut += step)
            out.append(stream.left(cut));
        out.append(stream);
        return out;
    };
    const auto bitFlips = [](const QByteArray &stream, int count, quint32 seed) {
        QList<QByteArray> out;
        QRandomGenerator random(seed);
        for (int i = 0; i < count; ++i) {
            QByteArray changed = stream;
            const int at = random.bounded(changed.size());
            changed[at] = char(changed.at(at) ^ (1 << random.bounded(8)));
            out.append(changed);
        }
        return out;
    };

    QList<QByteArray> whole;
    for (const int size : {0, 1, 1023, 1024, 1025, 3072, 65536, 100000, 1024 * 1024}) {
        whole.append(GzipStreamWrapper::gzcompress(text(size)));
        whole.append(GzipStreamWrapper::gzcompress(QByteArray(size, 'z')));
        whole.append(deflated(noise(qMin(size, 300000)), 31, 0)); // stored blocks
        whole.append(deflated(text(size), 31, 9, true));
    }
    whole.append(GzipStreamWrapper::gzcompress(QByteArray(5 * 1024 * 1024, 'z')));
    QTest::newRow("whole-streams") << whole;

    // Every cut of streams whose output ends on a 1 KiB boundary.
    QTest::newRow("cuts-zlib-text-4096") << prefixes(GzipStreamWrapper::gzcompress(text(4096)), 1);
    QTest::newRow("cuts-zlib-zeros-8192") << prefixes(GzipStreamWrapper::gzcompress(QByteArray(8192, '\0')), 1);
    QTest::newRow("cuts-gzip-stored-3072") << prefixes(deflated(noise(3072), 31, 0), 1);
    QTest::newRow("cuts-gzip-full-header") << prefixes(deflated(text(2048), 31, 6, true), 1);
    QTest::newRow("cuts-zlib-text-300000") << prefixes(GzipStreamWrapper::gzcompress(text(300000)), 97);
    QTest::newRow("cuts-gzip-noise-200000") << prefixes(deflated(noise(200000), 31), 1009);

    QTest::newRow("flips-zlib-text") << bitFlips(GzipStreamWrapper::gzcompress(text(120000)), 400, 11);
    QTest::newRow("flips-gzip-text") << bitFlips(deflated(text(120000), 31, 6, true), 400, 12);
    QTest::newRow("flips-zlib-zeros") << bitFlips(GzipStreamWrapper::gzcompress(QByteArray(1 << 18, '\0')), 200, 13);
    QTest::newRow("flips-gzip-stored") << bitFlips(deflated(noise(20480), 31, 0), 200, 14);

    QList<QByteArray> joined;
    const QByteArray a = GzipStreamWrapper::gzcompress(text(4096, 3));
    const QByteArray b = GzipStreamWrapper::gzcompress(text(1000, 4));
    joined << a + b << a + "x" << a + noise(100) << deflated(text(2048), 31) + deflated(text(10), 31)
           << deflated(QByteArray(), 31) + a;
    QTest::newRow("concatenated-and-trailing") << joined;

    QList<QByteArray> odd;
    odd << deflated(text(5000), 15, 6, false, "dictionary") << deflated(text(5000), -15);
    for (int size = 5; size < 64; ++size)
        odd << noise(size, quint32(size));
    QTest::newRow("dictionary-raw-noise") << odd;
}

void tst_GzipStreamWrapper::matchesReferenceLoop()
{
    QFETCH(QList<QByteArray>, inputs);
    int i = 0;
    for (const QByteArray &input : qAsConst(inputs)) {
        const QByteArray expected = referenceUncompress(input);
        if (input.size() <= 4)
            QTest::ignoreMessage(QtWarningMsg, truncatedWarning);
        const QByteArray actual = GzipStreamWrapper::gzuncompress(input);
        if (actual != expected) {
            QFAIL(qPrintable(QStringLiteral("input %1 (%2 bytes): %3 bytes instead of %4")
                                 .arg(i)
                                 .arg(input.size())
                                 .arg(actual.size())
                                 .arg(expected.size())));
        }
        ++i;
    }
}

void tst_GzipStreamWrapper::outputLimit_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("fits");

    const QByteArray kib = text(4096);
    QTest::newRow("exactly-at-limit-1k-multiple") << kib << 4096 << true;
    QTest::newRow("one-over-limit") << kib << 4095 << false;
    QTest::newRow("under-limit") << kib << 4097 << true;
    QTest::newRow("odd-size-at-limit") << text(5001) << 5001 << true;
    QTest::newRow("odd-size-over-limit") << text(5001) << 5000 << false;
    QTest::newRow("empty-with-zero-limit") << QByteArray() << 0 << true;
    QTest::newRow("one-byte-with-zero-limit") << QByteArray("x") << 0 << false;
    // A small stream that would inflate to 64 MiB.
    QTest::newRow("bomb") << QByteArray(64 * 1024 * 1024, '\0') << 1024 * 1024 << false;
}

void tst_GzipStreamWrapper::outputLimit()
{
    QFETCH(QByteArray, data);
    QFETCH(int, limit);
    QFETCH(bool, fits);

    const QByteArray stream = GzipStreamWrapper::gzcompress(data);
    for (const QByteArray &input : {stream, deflated(data, 31)}) {
        const QByteArray result = GzipStreamWrapperPrivate::uncompress(input, limit);
        if (fits)
            QVERIFY(result == data);
        else
            QVERIFY(result.isEmpty());
    }
    QVERIFY(GzipStreamWrapperPrivate::maxOutputSize() > 2000 * 1000 * 1000);
}

QTEST_GUILESS_MAIN(tst_GzipStreamWrapper)
#include "tst_gzipstreamwrapper.moc"
