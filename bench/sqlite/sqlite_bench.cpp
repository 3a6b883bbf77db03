// Prints what the SQLite connector costs: init()/release() of a connector that
// joins an open connection (and, for contrast, one that opens the file), and
// rows per second inserted and read by 1 and 4 threads, each through its own
// per-thread connection to one file.

#include <sqlite/basesqlitedbconnector.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

class BenchDb : public BaseSqliteDbConnector
{
public:
    BenchDb(const QString &path, QThreadStorage<int> *counter)
        : BaseSqliteDbConnector(QStringLiteral("bench"), counter), m_path(path)
    {
    }
    QString dbFilePath() override { return m_path; }
    QString connectionName() override
    {
        return name() + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
    }
    qint32 dbVersion() override { return 1; }

protected:
    bool readDbVersion(qint32 &version, EMetadataState &) override
    {
        version = 1;
        return true;
    }
    bool updateDb(qint32) override { return true; }

private:
    QString m_path;
};

QThreadStorage<int> &counter()
{
    static auto *storage = new QThreadStorage<int>; // lives as long as the process, as in a host
    return *storage;
}

double usPerPair(const QString &path, bool joining, int pairs)
{
    BenchDb holder(path, &counter());
    if (joining)
        holder.init();
    BenchDb db(path, &counter());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < pairs; ++i) {
        db.init();
        db.release();
    }
    const double us = timer.nsecsElapsed() / 1000.0 / pairs;
    if (joining)
        holder.release();
    return us;
}

// Runs `job` in `threads` threads at once, each with its own connection;
// returns the wall-clock seconds from the common start to the last finish.
template<typename Job>
double runThreads(const QString &path, int threads, Job job)
{
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    QSemaphore ready, go;
    QList<QFuture<QString>> futures;
    for (int t = 0; t < threads; ++t) {
        futures << QtConcurrent::run(&pool, [&, t]() -> QString {
            BenchDb db(path, &counter());
            db.init();
            ready.release();
            go.acquire();
            const QString error = job(db.db(), t);
            db.release();
            return error;
        });
    }
    ready.acquire(threads);
    QElapsedTimer timer;
    timer.start();
    go.release(threads);
    for (auto &future : futures) {
        const QString error = future.result();
        if (!error.isEmpty())
            qFatal("benchmark failed: %s", qPrintable(error));
    }
    return timer.nsecsElapsed() / 1e9;
}

constexpr int RowsPerThread = 40000;
constexpr int RowsPerTransaction = 1000;

QString insertRows(QSqlDatabase db, int thread)
{
    QSqlQuery tx(db);
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO events(thread, n, text) VALUES(?, ?, ?);"));
    const QString text = QStringLiteral("payload of an ordinary event row");
    for (int n = 0; n < RowsPerThread; ++n) {
        if (n % RowsPerTransaction == 0 && !tx.exec(QStringLiteral("BEGIN IMMEDIATE;")))
            return tx.lastError().text();
        insert.addBindValue(thread);
        insert.addBindValue(n);
        insert.addBindValue(text);
        if (!insert.exec())
            return insert.lastError().text();
        if ((n + 1) % RowsPerTransaction == 0 && !tx.exec(QStringLiteral("COMMIT;")))
            return tx.lastError().text();
    }
    return QString();
}

// Every thread reads the whole table (all rows the inserts wrote).
constexpr int RowsInTable = 5 * RowsPerThread;

QString readRows(QSqlDatabase db, int)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT thread, n, text FROM events;")))
        return query.lastError().text();
    int rows = 0;
    qint64 sum = 0;
    while (query.next()) {
        sum += query.value(1).toLongLong() + query.value(2).toString().size();
        ++rows;
    }
    return rows == RowsInTable && sum > 0 ? QString() : QStringLiteral("read %1 rows").arg(rows);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary directory");

    const QString path = dir.filePath(QStringLiteral("bench.db"));
    {
        BenchDb db(path, &counter());
        db.init();
        QSqlQuery query(db.db());
        query.exec(QStringLiteral("SELECT sqlite_version();"));
        query.next();
        out << "sqlite_bench (Qt " << qVersion() << ", SQLite " << query.value(0).toString() << ")\n";
        query.finish();
        db.release();
    }
    out << QStringLiteral("init()/release(), joining an open connection: %1 us per pair\n")
               .arg(usPerPair(path, true, 200000), 0, 'f', 2);
    out << QStringLiteral("init()/release(), opening the file each time: %1 us per pair\n")
               .arg(usPerPair(path, false, 2000), 0, 'f', 1);

    for (const QString &journal : {QStringLiteral("delete"), QStringLiteral("wal")}) {
        const QString file = dir.filePath(QStringLiteral("rows-%1.db").arg(journal));
        {
            BenchDb db(file, &counter());
            db.init();
            QSqlQuery query(db.db());
            query.exec(QStringLiteral("PRAGMA journal_mode=%1;").arg(journal));
            query.exec(QStringLiteral("CREATE TABLE events(thread INTEGER, n INTEGER, text TEXT);"));
            query.finish();
            db.release();
        }
        int written = 0;
        for (const int threads : {1, 4}) {
            const double seconds = runThreads(file, threads, [threads, written](QSqlDatabase db, int t) {
                return insertRows(db, written + t);
            });
            out << QStringLiteral("insert, journal=%1, %2 thread%3: %4 rows/s (%5 rows, %6 per transaction)\n")
                       .arg(journal).arg(threads).arg(threads > 1 ? "s" : "")
                       .arg(qRound64(threads * RowsPerThread / seconds))
                       .arg(threads * RowsPerThread).arg(RowsPerTransaction);
            written += threads;
        }
        for (const int threads : {1, 4}) {
            const double seconds = runThreads(file, threads, readRows);
            out << QStringLiteral("read,   journal=%1, %2 thread%3: %4 rows/s (%5 rows)\n")
                       .arg(journal).arg(threads).arg(threads > 1 ? "s" : "")
                       .arg(qRound64(threads * RowsInTable / seconds))
                       .arg(threads * RowsInTable);
        }
    }
    out.flush();
    return 0;
}
