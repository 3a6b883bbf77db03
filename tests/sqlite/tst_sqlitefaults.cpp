// The SQLite connector on a database file that was truncated while closed,
// and on one that another process (the sqlite3 shell) holds locked: every
// operation gives a clear result (an error state with a text, a failed
// query), nothing crashes, and the locked file works again once released.
#include <sqlite/basesqlitedbconnector.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadStorage>

namespace {

// Counters live as long as the process: Qt reuses the slot of a destroyed
// QThreadStorage with its old values.
QThreadStorage<int> &newCounter()
{
    static QThreadStorage<int> counters[32];
    static int used = 0;
    Q_ASSERT(used < 32);
    return counters[used++];
}

// Version 2 in metadata(key, value), and a table of rows.
class FaultDb : public BaseSqliteDbConnector
{
    Q_OBJECT
public:
    FaultDb(const QString &path, ConnectionMode mode = ReadWriteMode)
        : BaseSqliteDbConnector(QStringLiteral("faultdb"), mode, &newCounter()), m_path(path)
    {
    }
    QString dbFilePath() override { return m_path; }
    QString connectionName() override { return QStringLiteral("faultdb-%1").arg(quintptr(this), 0, 16); }
    qint32 dbVersion() override { return 2; }

    // A connection that waits briefly for a lock instead of 10 s.
    void shortBusyTimeout() { QSqlQuery(db()).exec(QStringLiteral("PRAGMA busy_timeout = 200")); }

protected:
    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        if (!db().isOpen()) {
            state = MetadataMissing;
            return false;
        }
        QSqlQuery query(db());
        if (!query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'version'"))) {
            state = MetadataMissing;
            return false;
        }
        if (!query.next()) {
            state = MetadataEmpty;
            return false;
        }
        version = query.value(0).toInt();
        return true;
    }
    bool updateDb(qint32) override
    {
        QSqlQuery query(db());
        return query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS metadata(key TEXT PRIMARY KEY, value TEXT)"))
               && query.exec(QStringLiteral("INSERT OR REPLACE INTO metadata VALUES('version', '2')"));
    }

private:
    QString m_path;
};

// Keeps what is logged while alive (the connector reports damaged and locked
// files as critical messages), out of the test log.
class MessageCapture
{
public:
    MessageCapture() { s_previous = qInstallMessageHandler(handler); }
    ~MessageCapture() { qInstallMessageHandler(s_previous); }
    static QString all() { return s_messages.join(QLatin1Char('\n')); }
    static void clear() { s_messages.clear(); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &text) { s_messages << text; }
    static QtMessageHandler s_previous;
    static QStringList s_messages;
};
QtMessageHandler MessageCapture::s_previous = nullptr;
QStringList MessageCapture::s_messages;

// Reads every row; false with the error text when the file does not allow it.
bool readAllRows(FaultDb &db, QString *error)
{
    if (!db.db().isOpen()) {
        *error = QStringLiteral("not open");
        return false;
    }
    QSqlQuery query(db.db());
    if (!query.exec(QStringLiteral("SELECT count(*), sum(length(payload)) FROM rows"))) {
        *error = query.lastError().text();
        return false;
    }
    if (!query.next()) {
        *error = query.lastError().text();
        return false;
    }
    return true;
}

} // namespace

class tst_SqliteFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void truncatedWhileClosed_data();
    void truncatedWhileClosed();
    void lockedByAnotherProcess();
    void openWaitsForALockThatEnds();

private:
    QString createDatabase();
    QTemporaryDir m_dir;
    int m_files = 0;
    QString m_sqlite3;
};

void tst_SqliteFaults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
}

QString tst_SqliteFaults::createDatabase()
{
    const QString path = m_dir.filePath(QStringLiteral("db%1.sqlite").arg(++m_files));
    FaultDb db(path);
    db.init();
    QSqlQuery query(db.db());
    query.exec(QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT)"));
    query.exec(QStringLiteral("INSERT INTO metadata VALUES('version', '2')"));
    query.exec(QStringLiteral("CREATE TABLE rows(id INTEGER PRIMARY KEY, payload TEXT)"));
    db.db().transaction();
    query.prepare(QStringLiteral("INSERT INTO rows(payload) VALUES(?)"));
    for (int i = 0; i < 2000; ++i) {
        query.addBindValue(QString(200, QLatin1Char('a' + i % 26)));
        query.exec();
    }
    db.db().commit();
    db.release();
    return path;
}

void tst_SqliteFaults::truncatedWhileClosed_data()
{
    QTest::addColumn<int>("keepPercent");
    QTest::addColumn<int>("keepBytes");
    QTest::newRow("header-only") << 0 << 100;
    QTest::newRow("first-page") << 0 << 4096;
    QTest::newRow("half") << 50 << 0;
    QTest::newRow("all-but-one-page") << 100 << -4096;
}

void tst_SqliteFaults::truncatedWhileClosed()
{
    QFETCH(int, keepPercent);
    QFETCH(int, keepBytes);
    const QString path = createDatabase();
    QFile file(path);
    const qint64 size = file.size();
    QVERIFY(size > 100000);
    QVERIFY(file.resize(size * keepPercent / 100 + keepBytes));

    const MessageCapture capture;
    MessageCapture::clear();
    FaultDb db(path);
    db.init();
    qint32 version = 0;
    QString error;
    const BaseSqliteDbConnector::EDbVersionState state = db.checkVersion(version, error, false);
    QString readError;
    const bool read = readAllRows(db, &readError);
    if (!db.db().isOpen()) {
        // Found damaged when opened: reported once, and the check fails.
        QVERIFY2(MessageCapture::all().contains(QStringLiteral("opening error")), qPrintable(MessageCapture::all()));
        QCOMPARE(state, BaseSqliteDbConnector::VersionCheckError);
        QVERIFY(!error.isEmpty());
    } else if (state == BaseSqliteDbConnector::VersionOk) {
        // The schema and the metadata survived; the rows did not.
        QVERIFY(!read);
        QVERIFY2(!readError.isEmpty(), "a failed read without a reason");
    } else {
        QCOMPARE(state, BaseSqliteDbConnector::VersionCheckError);
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(!db.vacuum());
    db.release();
}

void tst_SqliteFaults::lockedByAnotherProcess()
{
    if (m_sqlite3.isEmpty())
        QSKIP("sqlite3 is not installed");
    const QString path = createDatabase();
    const MessageCapture capture;
    FaultDb db(path);
    db.init();
    QVERIFY(db.db().isOpen());
    db.shortBusyTimeout();
    FaultDb reader(path, BaseSqliteDbConnector::ReadOnlyMode);
    reader.init();
    QVERIFY(reader.db().isOpen());
    reader.shortBusyTimeout();

    // Another process takes the file: an exclusive transaction, kept open.
    QProcess holder;
    holder.start(m_sqlite3, {path});
    QVERIFY(holder.waitForStarted(10000));
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));
    const auto stopHolder = qScopeGuard([&] {
        holder.closeWriteChannel();
        if (!holder.waitForFinished(10000))
            holder.kill();
    });

    qint32 version = 0;
    QString error;
    QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionCheckError);
    QVERIFY(!error.isEmpty());
    QString readError;
    QVERIFY(!readAllRows(db, &readError));
    QVERIFY2(readError.contains(QStringLiteral("locked")), qPrintable(readError));
    QSqlQuery insert(db.db());
    QVERIFY(!insert.exec(QStringLiteral("INSERT INTO rows(payload) VALUES('x')")));
    QVERIFY(insert.lastError().text().contains(QStringLiteral("locked")));
    QVERIFY(!db.vacuum());
    QVERIFY(!readAllRows(reader, &readError));

    // Released: the same connections work again.
    holder.write("COMMIT;\nSELECT 'released';\n");
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("released"));
    error.clear();
    QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionOk);
    QVERIFY(readAllRows(db, &readError));
    QVERIFY(readAllRows(reader, &readError));
    QVERIFY(insert.exec(QStringLiteral("INSERT INTO rows(payload) VALUES('x')")));
    reader.release();
    db.release();
}

// A connection opened while another process holds the file waits for the
// lock (the busy timeout) and opens once it is given up.
void tst_SqliteFaults::openWaitsForALockThatEnds()
{
    if (m_sqlite3.isEmpty())
        QSKIP("sqlite3 is not installed");
    const QString path = createDatabase();
    QProcess holder;
    holder.start(m_sqlite3, {path});
    QVERIFY(holder.waitForStarted(10000));
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n.shell sleep 0.3\nCOMMIT;\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));
    const MessageCapture capture;
    MessageCapture::clear();
    FaultDb db(path);
    QElapsedTimer waited;
    waited.start();
    db.init();
    QVERIFY2(db.db().isOpen(), qPrintable(MessageCapture::all()));
    QVERIFY(waited.elapsed() >= 150); // it did meet the lock
    qint32 version = 0;
    QString error;
    QCOMPARE(db.checkVersion(version, error, false), BaseSqliteDbConnector::VersionOk);
    db.release();
    QVERIFY(holder.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(tst_SqliteFaults)
#include "tst_sqlitefaults.moc"
