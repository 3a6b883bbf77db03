// gz_bench: GzipStreamWrapper against zlib's own one-shot compress() and
// uncompress() on the same data in the same run. uncompress() is given the
// exact output size up front (which gzuncompress() cannot know); both get a
// fresh output array per call, as a caller would.
//
// Usage: gz_bench [runs]    (default 9; the best run of each is printed)

#include <gz/gzipstreamwrapper.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <zlib.h>

#include <cstdio>
#include <functional>
#include <iterator>

namespace {
// Log lines as the logger writes them: time stamps, levels, sources, words.
QByteArray logText(int size)
{
    static const char *const levels[] = {"DEBUG", "INFO ", "WARN ", "ERROR"};
    static const char *const files[] = {"mosquittoworker.cpp", "httpfileloader.cpp", "qstompclient.cpp",
                                        "basesqlitedbconnector.cpp", "abstractworkerthread.cpp"};
    static const char *const words[] = {"connect", "broker", "timeout", "retry", "frame", "queue", "subscribe",
                                        "published", "message", "received", "block", "bytes", "of", "to",
                                        "from", "topic", "status", "ok", "failed", "reconnecting", "session"};
    QRandomGenerator random(42);
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "2024-05-%02d %02d:%02d:%02d.%03d ", random.bounded(1, 29),
                      random.bounded(24), random.bounded(60), random.bounded(60), random.bounded(1000));
        out += stamp;
        out += levels[random.bounded(int(std::size(levels)))];
        out += ' ';
        out += files[random.bounded(int(std::size(files)))];
        out += ':' + QByteArray::number(random.bounded(40, 900)) + " [0x7f"
               + QByteArray::number(random.bounded(0x100000, 0xffffff), 16) + "]\n               ";
        for (int i = random.bounded(4, 14); i > 0; --i) {
            out += words[random.bounded(int(std::size(words)))];
            out += ' ';
            if (random.bounded(5) == 0)
                out += QByteArray::number(random.bounded(100000)) + ' ';
        }
        out += '\n';
    }
    out.truncate(size);
    return out;
}

// Less compressible: mostly random bytes with short repeats, like packed
// binary records or already-compressed media mixed with headers.
QByteArray binaryMix(int size)
{
    QRandomGenerator random(7);
    QByteArray out;
    out.reserve(size + 64);
    while (out.size() < size) {
        if (random.bounded(4) == 0 && out.size() > 64) {
            const int length = random.bounded(4, 24);
            out += out.mid(out.size() - random.bounded(length + 1, 64), length);
        } else {
            for (int i = random.bounded(8, 64); i > 0; --i)
                out += char(random.bounded(256));
        }
    }
    out.truncate(size);
    return out;
}

QByteArray zlibCompress(const QByteArray &data)
{
    uLongf length = compressBound(uLong(data.size()));
    QByteArray out(int(length), Qt::Uninitialized);
    if (compress(reinterpret_cast<Bytef *>(out.data()), &length, reinterpret_cast<const Bytef *>(data.constData()),
                 uLong(data.size()))
        != Z_OK)
        return QByteArray();
    out.resize(int(length));
    return out;
}

QByteArray zlibUncompress(const QByteArray &stream, int size)
{
    QByteArray out(size, Qt::Uninitialized);
    uLongf length = uLongf(size);
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &length,
                   reinterpret_cast<const Bytef *>(stream.constData()), uLong(stream.size()))
        != Z_OK)
        return QByteArray();
    out.resize(int(length));
    return out;
}

// Best time in seconds of `runs` calls, alternated between the two
// candidates so that both see the same machine load.
void race(int runs, const std::function<QByteArray()> &a, const std::function<QByteArray()> &b, double *bestA,
          double *bestB, bool *same)
{
    *bestA = *bestB = 1e9;
    QByteArray lastA, lastB;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        lastA = a();
        *bestA = qMin(*bestA, timer.nsecsElapsed() / 1e9);
        timer.start();
        lastB = b();
        *bestB = qMin(*bestB, timer.nsecsElapsed() / 1e9);
    }
    *same = lastA == lastB;
}

double megabytesPerSecond(int bytes, double seconds)
{
    return bytes / 1e6 / seconds;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 9;

    struct Sample
    {
        const char *name;
        QByteArray data;
    };
    const Sample samples[] = {
        {"log text", logText(16 * 1024 * 1024)},
        {"binary mix", binaryMix(8 * 1024 * 1024)},
    };

    std::printf("gz_bench: zlib %s, default level, best of %d runs, MB/s of uncompressed data\n", zlibVersion(),
                runs);
    // Other work on the machine skews single figures; the ratios hold up better.
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average at start: %s\n", loadavg.readLine().split(' ').mid(0, 3).join(' ').constData());
    std::printf("\n");
    std::printf("%-11s %9s %7s | %12s %9s %6s | %12s %10s %6s\n", "sample", "size", "packed", "gzcompress",
                "compress", "ratio", "gzuncompress", "uncompress", "ratio");
    bool allSame = true;
    for (const Sample &sample : samples) {
        const QByteArray &data = sample.data;
        const int size = data.size();
        double ours = 0, theirs = 0;
        bool same = false;

        race(runs, [&] { return GzipStreamWrapper::gzcompress(data); }, [&] { return zlibCompress(data); }, &ours,
             &theirs, &same);
        allSame = allSame && same;
        const double compressOurs = megabytesPerSecond(size, ours);
        const double compressTheirs = megabytesPerSecond(size, theirs);

        const QByteArray stream = GzipStreamWrapper::gzcompress(data);
        race(runs, [&] { return GzipStreamWrapper::gzuncompress(stream); },
             [&] { return zlibUncompress(stream, size); }, &ours, &theirs, &same);
        allSame = allSame && same && GzipStreamWrapper::gzuncompress(stream) == data;
        const double uncompressOurs = megabytesPerSecond(size, ours);
        const double uncompressTheirs = megabytesPerSecond(size, theirs);

        std::printf("%-11s %5.1f MiB %6.1f%% | %7.1f MB/s %9.1f %6.2f | %7.1f MB/s %10.1f %6.2f\n", sample.name,
                    size / 1048576.0, 100.0 * stream.size() / size, compressOurs, compressTheirs,
                    compressOurs / compressTheirs, uncompressOurs, uncompressTheirs,
                    uncompressOurs / uncompressTheirs);
    }
    std::printf("\nratio = GzipStreamWrapper / zlib (1.00 = as fast); results identical: %s\n",
                allSame ? "yes" : "NO");
    return allSame ? 0 : 1;
}
