// Zip and UnZip against the zlib ceiling (raw deflate and inflate in memory
// on the same data) and against Info-ZIP zip/unzip, on a corpus built in a
// temporary directory: 100 MiB of log text in 200 files, one 100 MiB random
// file, and 2000 small log files of 1-4 KiB.
//
//   zip_bench [--quick] [--small]
//
// --quick: a tenth of the corpus; --small: the small files only (the set that
// shows the cost per entry).
//
// Every figure is the best of several rounds (seven for sets under 8 MiB,
// three for larger ones with --quick, else one) in which all contenders take
// turns: a single run of the small set takes milliseconds, and one slow spell
// of a shared machine would otherwise decide its ratio.

#include <zip/unzip.h>
#include <zip/zip.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVector>

#include <zlib.h>

#include <cstdio>

namespace {

struct Set
{
    const char *kind;
    QString dir;
    QVector<QByteArray> files;
    qint64 bytes = 0;
};

QByteArray logText(int size, QRandomGenerator &rng)
{
    static const char *const levels[] = {"INFO ", "DEBUG", "WARN ", "ERROR"};
    static const char *const words[] = {"connection", "request", "client", "timeout", "worker",
                                        "finished", "queue", "value", "started", "payload",
                                        "session", "broker", "retry", "closed", "mqtt"};
    QByteArray out;
    out.reserve(size + 256);
    int second = 0;
    while (out.size() < size) {
        ++second;
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "2024-03-11 %02d:%02d:%02d.%03u ", (second / 3600) % 24,
                      (second / 60) % 60, second % 60, rng.bounded(1000u));
        out += stamp;
        out += levels[rng.bounded(4)];
        out += " src/worker.cpp:";
        out += QByteArray::number(rng.bounded(40, 900));
        out += " thread 0x7f";
        out += QByteArray::number(rng.bounded(0x1000u, 0xffffu), 16);
        out += "\n               ";
        const int n = rng.bounded(3, 12);
        for (int i = 0; i < n; ++i) {
            out += words[rng.bounded(15)];
            out += ' ';
        }
        out += "id=";
        out += QByteArray::number(rng.bounded(100000u));
        out += '\n';
    }
    out.truncate(size);
    return out;
}

bool save(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

double seconds(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e9; }

// The ceiling: every file deflated in memory with one raw stream, reset
// between files.
double zlibDeflate(const Set &set, int level, QVector<QByteArray> *compressed)
{
    compressed->clear();
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QVector<QByteArray> outs;
    for (const QByteArray &f : set.files)
        outs.append(QByteArray(int(deflateBound(&zs, uLong(f.size()))), '\0'));
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < set.files.size(); ++i) {
        deflateReset(&zs);
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(set.files[i].constData()));
        zs.avail_in = uInt(set.files[i].size());
        zs.next_out = reinterpret_cast<Bytef *>(outs[i].data());
        zs.avail_out = uInt(outs[i].size());
        deflate(&zs, Z_FINISH);
        outs[i].truncate(int(zs.total_out));
    }
    const double s = seconds(t);
    deflateEnd(&zs);
    *compressed = outs;
    return s;
}

double zlibInflate(const Set &set, const QVector<QByteArray> &compressed)
{
    z_stream zs{};
    inflateInit2(&zs, -MAX_WBITS);
    // Touched once before timing, so that page faults do not count.
    QByteArray out(set.files.isEmpty() ? 0 : 110 << 20, '\0');
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < compressed.size(); ++i) {
        inflateReset(&zs);
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed[i].constData()));
        zs.avail_in = uInt(compressed[i].size());
        zs.next_out = reinterpret_cast<Bytef *>(out.data());
        zs.avail_out = uInt(out.size());
        inflate(&zs, Z_FINISH);
    }
    const double s = seconds(t);
    inflateEnd(&zs);
    return s;
}

// The best of several timings; any failed run (-1) makes the figure n/a.
struct Best
{
    double best = -1;
    bool failed = false;
    void add(double s)
    {
        if (s < 0)
            failed = true;
        else if (best < 0 || s < best)
            best = s;
    }
    double value() const { return failed ? -1 : best; }
};

double run(const QString &program, const QStringList &args, const QString &cwd)
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    return seconds(t);
}

void row(const char *what, double s, qint64 bytes, double ceiling)
{
    if (s < 0) {
        std::printf("  %-28s %9s\n", what, "n/a");
        return;
    }
    std::printf("  %-28s %8.3f s %8.1f MB/s %7.2fx\n", what, s, bytes / s / 1e6, s / ceiling);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const bool smallOnly = app.arguments().contains(QStringLiteral("--small"));
    const int scale = quick ? 10 : 1;
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return 1;
    std::printf("zip_bench: building the corpus in %s\n", qPrintable(tmp.path()));
    std::fflush(stdout);

    QRandomGenerator rng(42);
    Set logs{"log text", tmp.filePath("corpus/logs"), {}, 0};
    Set random{"random", tmp.filePath("corpus/random"), {}, 0};
    Set small{"small logs", tmp.filePath("corpus/small"), {}, 0};
    for (Set *s : {&logs, &random, &small})
        QDir().mkpath(s->dir);
    for (int i = 0; i < 200 && !smallOnly; ++i)
        logs.files.append(logText((512 << 10) / scale, rng));
    if (!smallOnly) {
        QByteArray bytes((100 << 20) / scale, Qt::Uninitialized);
        rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        random.files.append(bytes);
    }
    for (int i = 0; i < 2000 / scale; ++i)
        small.files.append(logText(int(rng.bounded(1024, 4097)), rng));
    for (Set *s : {&logs, &random, &small}) {
        for (int i = 0; i < s->files.size(); ++i) {
            save(QStringLiteral("%1/f%2.log").arg(s->dir).arg(i, 4, 10, QLatin1Char('0')), s->files[i]);
            s->bytes += s->files[i].size();
        }
    }

    const QString zipTool = QStandardPaths::findExecutable(QStringLiteral("zip"));
    const QString unzipTool = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    std::printf("ratios are to the zlib ceiling of the same row group (deflate for writing, inflate for reading)\n");

    for (Set *s : {&logs, &random, &small}) {
        if (s->files.isEmpty())
            continue;
        const int runs = s->bytes < (8 << 20) ? 7 : quick ? 3 : 1;
        for (int level : {5, 9}) {
            std::printf("\n%s, %d file%s, %.1f MiB, level %d, best of %d run%s\n", s->kind,
                        int(s->files.size()), s->files.size() == 1 ? "" : "s", s->bytes / 1048576.0,
                        level, runs, runs == 1 ? "" : "s");
            QVector<QByteArray> compressed;
            const QString archive = tmp.filePath(QStringLiteral("ours.zip"));
            const QString theirs = tmp.filePath(QStringLiteral("theirs.zip"));
            const QString out = tmp.filePath(QStringLiteral("out"));
            const auto clearOut = [&] { QDir(out).removeRecursively(); };
            Best deflateCeiling, inflateCeiling, zipWrite, zipVerify, zipExtract;
            Best infoZip, infoTest, infoExtract;
            // The contenders take turns, so that a busy spell of the machine
            // hits them alike; opening the archive and emptying the target
            // are not timed.
            for (int r = 0; r < runs; ++r) {
                deflateCeiling.add(zlibDeflate(*s, level, &compressed));
                inflateCeiling.add(zlibInflate(*s, compressed));

                QElapsedTimer t;
                t.start();
                {
                    Zip zip;
                    zip.createArchive(archive);
                    zip.addDirectoryContents(s->dir, Zip::CompressionLevel(level));
                    zipWrite.add(zip.closeArchive() == Zip::Ok ? seconds(t) : -1);
                }
                UnZip unzip;
                unzip.openArchive(archive);
                t.restart();
                zipVerify.add(unzip.verifyArchive() == UnZip::Ok ? seconds(t) : -1);
                clearOut();
                unzip.openArchive(archive);
                t.restart();
                zipExtract.add(unzip.extractAll(out) == UnZip::Ok ? seconds(t) : -1);
                unzip.closeArchive();
                clearOut();

                if (!zipTool.isEmpty()) {
                    QFile::remove(theirs);
                    infoZip.add(run(zipTool, {"-q", "-r", "-" + QString::number(level), theirs, "."}, s->dir));
                }
                if (!unzipTool.isEmpty() && QFile::exists(theirs)) {
                    infoTest.add(run(unzipTool, {"-tqq", theirs}, tmp.path()));
                    infoExtract.add(run(unzipTool, {"-qq", "-o", theirs, "-d", out}, tmp.path()));
                    clearOut();
                }
            }
            qint64 packed = 0;
            for (const QByteArray &c : compressed)
                packed += c.size();

            std::printf("  compressed %.1f%% of the input\n", 100.0 * packed / s->bytes);
            const double dc = deflateCeiling.value(), ic = inflateCeiling.value();
            row("zlib deflate (ceiling)", dc, s->bytes, dc);
            row("Zip write", zipWrite.value(), s->bytes, dc);
            row("Info-ZIP zip", infoZip.value(), s->bytes, dc);
            row("zlib inflate (ceiling)", ic, s->bytes, ic);
            row("UnZip verify", zipVerify.value(), s->bytes, ic);
            row("UnZip extract", zipExtract.value(), s->bytes, ic);
            row("Info-ZIP unzip -t", infoTest.value(), s->bytes, ic);
            row("Info-ZIP unzip (extract)", infoExtract.value(), s->bytes, ic);
            std::fflush(stdout);
            QFile::remove(archive);
            QFile::remove(theirs);
        }
    }
    return 0;
}
