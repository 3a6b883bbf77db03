// Downloads one large file from a local nginx over loopback with HttpFileLoader
// at several block sizes and with curl in the same run, and prints the rates.
// Usage: http_bench [size in MiB, default 512] [rounds, default 3]
//                   [block sizes in KiB, default 64,1024,8192]
// Cases run interleaved, round after round, so that a busy machine slows all
// of them alike; the median and the best round are printed.

#include <httpfileloader/httpfileloader.h>
#include <workers/abstractworkerthread.h>

#include "nginxserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

QTextStream out(stdout);

bool writeSource(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // xorshift: incompressible and fast to make.
    quint64 state = 0x9e3779b97f4a7c15ULL;
    QByteArray chunk(8 * 1024 * 1024, Qt::Uninitialized);
    for (qint64 done = 0; done < size; done += chunk.size()) {
        auto *words = reinterpret_cast<quint64 *>(chunk.data());
        for (int i = 0; i < chunk.size() / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        const qint64 n = std::min<qint64>(chunk.size(), size - done);
        if (file.write(chunk.constData(), n) != n)
            return false;
    }
    return true;
}

QByteArray sha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// Seconds for one download, or a negative value on failure.
double runCurl(const QString &url, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-f"),
                                        QStringLiteral("-o"), target, url});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

double runLoader(const QString &url, const QString &target, int blockSize)
{
    auto *loader = new HttpFileLoader(url, target, blockSize);
    AbstractWorkerThread thread(loader, nullptr);
    QString result;
    QEventLoop loop;
    QObject::connect(loader, qOverload<QString>(&HttpFileLoader::finished), &loop,
                     [&](const QString &file) {
                         result = file;
                         loop.quit();
                     });
    QElapsedTimer timer;
    timer.start();
    thread.start();
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    thread.quit();
    thread.wait();
    return result.isEmpty() ? -1 : seconds;
}

double best(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::min_element(values.begin(), values.end());
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("hfl.debug=false"));
    const qint64 sizeMiB = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 size = sizeMiB * 1024 * 1024;

    if (NginxServer::program().isEmpty() || PeerProcess::findProgram(QStringLiteral("curl")).isEmpty()) {
        out << "http_bench: skipped: nginx or curl is not installed" << Qt::endl;
        return 0;
    }
    NginxServer nginx;
    if (!nginx.start()) {
        out << "http_bench: " << nginx.errorString() << Qt::endl;
        return 1;
    }
    if (!writeSource(nginx.rootDir() + QStringLiteral("/big.bin"), size)) {
        out << "http_bench: cannot write the source file" << Qt::endl;
        return 1;
    }
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big.bin"));
    const QString url = nginx.url(QStringLiteral("big.bin"));

    struct Case
    {
        QString name;
        int blockSize;  // 0: curl
        QList<double> seconds;
    };
    QList<Case> cases{{QStringLiteral("curl (one GET, to disk)"), 0, {}}};
    QList<int> blockSizes;
    for (const QByteArray &kib : QByteArray(argc > 3 ? argv[3] : "64,1024,8192").split(','))
        blockSizes << kib.toInt() * 1024;
    if (!blockSizes.contains(HttpFileLoader::DEFAULT_BLOCK_SIZE))
        blockSizes << HttpFileLoader::DEFAULT_BLOCK_SIZE;
    for (const int blockSize : qAsConst(blockSizes)) {
        const QString size = blockSize % (1024 * 1024) == 0
                                 ? QStringLiteral("%1 MiB").arg(blockSize / (1024 * 1024))
                                 : QStringLiteral("%1 KiB").arg(blockSize / 1024);
        cases.append({QStringLiteral("HttpFileLoader %1 blocks%2")
                          .arg(size, blockSize == HttpFileLoader::DEFAULT_BLOCK_SIZE
                                         ? QStringLiteral(" (default)")
                                         : QString()),
                      blockSize,
                      {}});
    }

    out << "http_bench: " << sizeMiB << " MiB from nginx on 127.0.0.1 to disk, median of "
        << rounds << " rounds; default block size " << HttpFileLoader::DEFAULT_BLOCK_SIZE / 1024
        << " KiB" << Qt::endl;
    bool verified = false;
    for (int round = 0; round < rounds; ++round) {
        for (Case &c : cases) {
            QFile::remove(target);
            const double s = c.blockSize ? runLoader(url, target, c.blockSize) : runCurl(url, target);
            if (s < 0) {
                out << "http_bench: download failed: " << c.name << Qt::endl;
                return 1;
            }
            c.seconds << s;
            if (!verified && c.blockSize == HttpFileLoader::DEFAULT_BLOCK_SIZE) {
                if (sha256(target) != sha256(nginx.rootDir() + QStringLiteral("/big.bin"))) {
                    out << "http_bench: downloaded file differs from the source" << Qt::endl;
                    return 1;
                }
                verified = true;
            }
        }
    }
    QFile::remove(target);

    const double mb = size / 1e6;
    const double curlMedian = mb / median(cases.first().seconds);
    const double curlBest = mb / best(cases.first().seconds);
    out << QStringLiteral("  %1  %2  %3  %4  %5")
               .arg(QString(), -40)
               .arg(QStringLiteral("median"), 11)
               .arg(QStringLiteral("of curl"), 8)
               .arg(QStringLiteral("best"), 11)
               .arg(QStringLiteral("of curl"), 8)
        << Qt::endl;
    for (const Case &c : qAsConst(cases)) {
        const double rateMedian = mb / median(c.seconds);
        const double rateBest = mb / best(c.seconds);
        out << QStringLiteral("  %1  %2 MB/s  %3  %4 MB/s  %5")
                   .arg(c.name, -40)
                   .arg(rateMedian, 6, 'f', 0)
                   .arg(QStringLiteral("%1%").arg(100 * rateMedian / curlMedian, 0, 'f', 0), 8)
                   .arg(rateBest, 6, 'f', 0)
                   .arg(QStringLiteral("%1%").arg(100 * rateBest / curlBest, 0, 'f', 0), 8)
            << Qt::endl;
    }
    return 0;
}
