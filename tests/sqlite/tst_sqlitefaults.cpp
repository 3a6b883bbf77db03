// The SQLite connector on a database file that was truncated while closed,
// and on one that another process (the sqlite3 shell) holds locked: every
// operation gives a clear result (an error state with a text, a failed
// query), nothing crashes, and the locked file works again once released.
#include "sqlitetestdb.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

namespace {

// Reads every row; false with the error text when the file does not allow it.
bool readAllRows(TestDb &db, QString *error)
{
    QSqlQuery query(db.db());
    const bool read = db.db().isOpen() && query.exec(QStringLiteral("SELECT count(*), sum(length(payload)) FROM rows"));
    *error = db.db().isOpen() ? query.lastError().text() : QStringLiteral("not open");
    return read && query.next();
}

// The sqlite3 shell holding the file in an exclusive transaction, started
// with the commands that follow (which may end it).
bool lockInShell(QProcess &holder, const QString &path, const QByteArray &then = QByteArray())
{
    holder.start(sqlite3Shell(), {path});
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n" + then);
    return holder.waitForReadyRead(10000) && holder.readLine().trimmed() == "locked";
}

// Version 3 in metadata(key, value), and 2000 rows of 200 bytes.
QString createDatabase()
{
    const QString path = newPath();
    sqlite3(path, QStringLiteral(
        "CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT); INSERT INTO metadata VALUES('version', '3');"
        "CREATE TABLE rows(id INTEGER PRIMARY KEY, payload TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1999) "
        "INSERT INTO rows(payload) SELECT replace(printf('%200s', ''), ' ', char(97 + i % 26)) FROM n;"));
    return path;
}

} // namespace

class tst_SqliteFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(!sqlite3Shell().isEmpty(), "sqlite3 shell missing"); }

    void truncatedWhileClosed_data()
    {
        QTest::addColumn<int>("keepPercent");
        QTest::addColumn<int>("keepBytes");
        QTest::newRow("header-only") << 0 << 100;
        QTest::newRow("first-page") << 0 << 4096;
        QTest::newRow("half") << 50 << 0;
        QTest::newRow("all-but-one-page") << 100 << -4096;
    }

    void truncatedWhileClosed()
    {
        QFETCH(int, keepPercent);
        QFETCH(int, keepBytes);
        QFile file(createDatabase());
        const qint64 size = file.size();
        QVERIFY(size > 100000);
        QVERIFY(file.resize(size * keepPercent / 100 + keepBytes));

        const MessageCapture capture;
        TestDb db(QStringLiteral("faultdb"), file.fileName());
        db.init();
        qint32 version = 0;
        QString error;
        const BaseSqliteDbConnector::EDbVersionState state = db.checkVersion(version, error, false);
        QString readError;
        const bool read = readAllRows(db, &readError);
        if (!db.db().isOpen()) { // found damaged when opened: reported
            const QString criticals = MessageCapture::messages(QtCriticalMsg).join(QLatin1Char('\n'));
            QVERIFY2(criticals.contains(QStringLiteral("opening error")), qPrintable(criticals));
        }
        if (state == BaseSqliteDbConnector::VersionOk) // the schema and the metadata survived; the rows did not
            QVERIFY2(db.db().isOpen() && !read && !readError.isEmpty(), "a failed read without a reason");
        else
            QVERIFY(state == BaseSqliteDbConnector::VersionCheckError && !error.isEmpty());
        QVERIFY(!db.vacuum());
        db.release();
    }

    void lockedByAnotherProcess()
    {
        const QString path = createDatabase();
        const MessageCapture capture;
        TestDb db(QStringLiteral("faultdb"), path);
        TestDb reader(QStringLiteral("faultdb-reader"), path, nullptr, BaseSqliteDbConnector::ReadOnlyMode);
        for (TestDb *connector : {&db, &reader}) {
            connector->init();
            QVERIFY(connector->db().isOpen());
            QVERIFY(connector->exec(QStringLiteral("PRAGMA busy_timeout = 200"))); // not 10 s
        }
        QProcess holder;
        QVERIFY(lockInShell(holder, path));
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

    void openMeetsALock_data()
    {
        QTest::addColumn<bool>("outlastsTimeout");
        QTest::newRow("lock-ends-within-timeout") << false;
        QTest::newRow("lock-outlasts-timeout") << true;
    }

    // A connection opened while another process holds the file waits for the
    // lock (the busy timeout) and opens once it is given up; one that the
    // lock outlasts stays open, with a warning, and works once it ends.
    void openMeetsALock()
    {
        QFETCH(bool, outlastsTimeout);
        const QString path = createDatabase();
        QProcess holder;
        QVERIFY(lockInShell(holder, path, outlastsTimeout ? QByteArray() : ".shell sleep 0.3\nCOMMIT;\n"));
        const MessageCapture capture;
        TestDb db(QStringLiteral("faultdb"), path);
        if (outlastsTimeout) // a registered connection is opened as it stands: not 10 s
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db.connectionName())
                .setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
        QElapsedTimer waited;
        waited.start();
        db.init();
        QVERIFY2(db.db().isOpen(), qPrintable(MessageCapture::messages(QtCriticalMsg).join(QLatin1Char('\n'))));
        QVERIFY(waited.elapsed() >= 150); // it did meet the lock
        QCOMPARE(MessageCapture::messages(QtWarningMsg).join(QString()).contains(QStringLiteral("locked")),
                 outlastsTimeout);
        if (outlastsTimeout)
            holder.write("COMMIT;\n");
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        qint32 version = 0;
        QString error;
        QCOMPARE(db.checkVersion(version, error, false), BaseSqliteDbConnector::VersionOk);
        db.release();
    }
};

QTEST_GUILESS_MAIN(tst_SqliteFaults)
#include "tst_sqlitefaults.moc"
