// Entries per second through LoggerManager installed as the Qt message
// handler, with 1 and 4 threads, for its three file paths: rotation with a
// kept file handle, rotation reopening the file per entry, and no rotation
// (open, append, close per entry). Next to them, in the same run: a plain Qt
// handler that keeps its file open and writes the same 3-line layout with a
// QTextStream, and spdlog's basic_logger_mt with a comparable 3-line pattern,
// flushed per message. Every entry is flushed to the file before the call
// returns. Best of three rounds; the kept handle and spdlog alternate.
//
//   logger_bench [--quick]      (--quick: a tenth of the entries)

#include <logger/loggermanager.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <functional>

#ifdef ORVEL_BENCH_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

struct Result
{
    double perSecond = 0;
    double bytesPerEntry = 0;
};

qint64 directorySize(const QString &path)
{
    qint64 size = 0;
    const QFileInfoList files = QDir(path).entryInfoList(QDir::Files);
    for (const QFileInfo &f : files)
        size += f.size();
    return size;
}

// Runs `work(thread, count)` in `threads` threads started together; returns
// the seconds from the common start to the last finish.
double runThreads(int threads, int perThread, const std::function<void(int, int)> &work)
{
    QSemaphore ready, go, done;
    QList<QThread *> list;
    for (int t = 0; t < threads; ++t) {
        list << QThread::create([&, t] {
            ready.release();
            go.acquire();
            work(t, perThread);
            done.release();
        });
        list.last()->start();
    }
    ready.acquire(threads);
    QElapsedTimer timer;
    timer.start();
    go.release(threads);
    done.acquire(threads);
    const double seconds = timer.nsecsElapsed() / 1e9;
    for (QThread *t : qAsConst(list)) {
        t->wait();
        delete t;
    }
    return seconds;
}

void logThroughQt(int thread, int count)
{
    for (int i = 0; i < count; ++i)
        qWarning("entry %d from thread %d", i, thread);
}

// Best of `rounds` rounds, each in a fresh directory made by `setUp`.
Result best(int threads, int total, const std::function<void(const QString &)> &setUp,
            const std::function<void()> &tearDown, const std::function<void(int, int)> &work,
            int rounds = 3)
{
    Result result;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logs"));
        QDir().mkpath(path);
        setUp(path);
        const double seconds = runThreads(threads, total / threads, work);
        tearDown();
        const double rate = (total / threads) * threads / seconds;
        if (rate > result.perSecond) {
            result.perSecond = rate;
            result.bytesPerEntry = double(directorySize(path)) / total;
        }
    }
    return result;
}

Result loggerManager(int threads, int total, bool rotate, bool keep, int rounds = 3)
{
    return best(
        threads, total,
        [rotate, keep](const QString &path) {
            LoggerManager::setDebugOuts(LoggerManager::FileOut);
            LoggerManager::setKeepLogHandlers(keep);
            LoggerManager::initLog(path, 7, rotate, QtDebugMsg);
        },
        [] {
            LoggerManager::releaseLog();
            QThreadPool::globalInstance()->waitForDone();
        },
        logThroughQt, rounds);
}

// A plain handler: the same layout written with QTextStream field widths and
// endl, one kept file, one mutex, local time read per entry.
QMutex plainMutex;
QFile *plainFile = nullptr;
QTextStream *plainStream = nullptr;

void plainHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QMutexLocker lock(&plainMutex);
    QTextStream &s = *plainStream;
    s.setCodec("System");
    s << QTime::currentTime().toString(QStringLiteral("[hh:mm:ss.zzz] "));
    static const char *const words[] = {"INFO IN:", "WARNING IN:", "CRITICAL IN:", "FATAL IN:"};
    if (int(type) < 4)
        s << Qt::left << qSetFieldWidth(16) << words[type] << qSetFieldWidth(0);
    s << Qt::dec << Qt::left << qSetFieldWidth(32)
      << QFileInfo(QString::fromUtf8(context.file)).fileName() << qSetFieldWidth(5)
      << context.line << qSetFieldWidth(14) << "THREAD_ID:" << qSetFieldWidth(16)
      << QString::number(qint64(qint32(quintptr(QThread::currentThreadId()))), 16)
      << qSetFieldWidth(0) << Qt::endl
      << QString(15, QLatin1Char(' ')) << QString::fromUtf8(context.function) << Qt::endl
      << QString(15, QLatin1Char(' ')) << message << Qt::endl;
}

Result plainQt(int threads, int total)
{
    return best(
        threads, total,
        [](const QString &path) {
            plainFile = new QFile(path + QStringLiteral("/plain.log"));
            plainFile->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text);
            plainStream = new QTextStream(plainFile);
            qInstallMessageHandler(plainHandler);
        },
        [] {
            qInstallMessageHandler(nullptr);
            delete plainStream;
            delete plainFile;
        },
        logThroughQt);
}

#ifdef ORVEL_BENCH_SPDLOG
std::shared_ptr<spdlog::logger> spdLogger;

// File, line and function as Qt's message context gives them.
void logThroughSpdlog(int thread, int count)
{
    for (int i = 0; i < count; ++i)
        spdLogger->log(spdlog::source_loc{__FILE__, __LINE__, Q_FUNC_INFO}, spdlog::level::warn,
                       "entry {} from thread {}", i, thread);
}

Result spdlogFile(int threads, int total, int rounds)
{
    return best(
        threads, total,
        [](const QString &path) {
            spdLogger = spdlog::basic_logger_mt("bench", (path + QStringLiteral("/spd.log")).toStdString());
            // the same three lines: header, function, message
            spdLogger->set_pattern("[%H:%M:%S.%e] %-16l%-32s%-5#THREAD_ID:    %-16t\n"
                                   "               %!\n"
                                   "               %v");
            spdLogger->flush_on(spdlog::level::trace);
        },
        [] {
            spdlog::drop("bench");
            spdLogger.reset();
        },
        logThroughSpdlog, rounds);
}
#endif

Result better(const Result &a, const Result &b)
{
    return a.perSecond >= b.perSecond ? a : b;
}

void print(const char *name, const Result &one, const Result &four)
{
    std::printf("%-44s %12.0f %12.0f %10.0f\n", name, one.perSecond, four.perSecond,
                one.bytesPerEntry);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk"));
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int fast = quick ? 40000 : 400000;  // entries per round, kept-file paths
    const int slow = quick ? 4000 : 40000;    // entries per round, reopening paths

    std::printf("logger_bench: entries per second, each a 3-line entry flushed to its file, best of 3\n");
    std::printf("%-44s %12s %12s %10s\n", "", "1 thread", "4 threads", "bytes/entry");
    // The kept handle and spdlog take turns, round by round, so that both
    // see the same load on a shared machine.
    Result kept[2], spd[2];
    const int threadCounts[2] = {1, 4};
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 2; ++i) {
            kept[i] = better(kept[i], loggerManager(threadCounts[i], fast, true, true, 1));
#ifdef ORVEL_BENCH_SPDLOG
            spd[i] = better(spd[i], spdlogFile(threadCounts[i], fast, 1));
#endif
        }
    }
    print("LoggerManager, rotation, kept handle", kept[0], kept[1]);
    print("LoggerManager, rotation, reopened per entry", loggerManager(1, slow, true, false),
          loggerManager(4, slow, true, false));
    print("LoggerManager, no rotation (open/append/close)", loggerManager(1, slow, false, false),
          loggerManager(4, slow, false, false));
    print("plain QTextStream handler, kept file", plainQt(1, fast / 4), plainQt(4, fast / 4));
#ifdef ORVEL_BENCH_SPDLOG
    print("spdlog basic_logger_mt, flush per message", spd[0], spd[1]);
    std::printf("%-44s %12.2f %12.2f\n", "kept handle / spdlog", kept[0].perSecond / spd[0].perSecond,
                kept[1].perSecond / spd[1].perSecond);
#else
    std::printf("spdlog: not available (install libspdlog-dev)\n");
#endif
    return 0;
}
