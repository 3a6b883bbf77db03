#include "sqlitetestdb.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

namespace {
const QString checking = QStringLiteral("Database checking error. Try restart the application");
enum Call { TwoArgs, NoUpgrade, Upgrades, UpgradeFails, UpgradeStaysOld };
} // namespace

class tst_BaseSqliteDbConnector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")), "QSQLITE driver missing");
        QVERIFY2(!sqlite3Shell().isEmpty(), "sqlite3 shell missing");
    }

    void objectNameNamesDatabaseThreadAndMode()
    {
        QThread *thread = QThread::currentThread();
        const auto restore = qScopeGuard([thread, name = thread->objectName()] { thread->setObjectName(name); });
        thread->setObjectName(QStringLiteral("worker-7"));
        // Any mode other than ReadOnlyMode is read-write.
        for (const int mode : {1, 0, 7})
            QCOMPARE(TestDb("stock", QString(), nullptr, TestDb::ConnectionMode(mode)).objectName(),
                     "stock" + threadHex() + "worker-7" + (mode ? "-RW" : "-RO"));
    }

    void checkVersion_data()
    {
        QTest::addColumn<QString>("setup"); // SQL for the file, "missing", "empty" or "no-path"
        QTest::addColumn<int>("call");
        QTest::addColumn<int>("repair");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("calls");

        const QString tooNew = QStringLiteral("The database requires a application update.");
        const QString table = QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);");
        const QString v1 = table + "INSERT INTO metadata VALUES('version', '1');";
        const QString noMeta = QStringLiteral("CREATE TABLE t(x);");
        const auto row = [](const QByteArray &tag, const QString &setup, Call call, Repair repair, int result,
                            int version, const QString &error, const char *calls) {
            QTest::newRow(tag.constData()) << setup << int(call) << int(repair) << result << version << error
                                           << QString::fromLatin1(calls);
        };
        for (const Call call : {TwoArgs, Upgrades}) {
            const QByteArray v = call == TwoArgs ? "/2" : "/3";
            row("no-path" + v, "no-path", call, Repair::None, 1, -1, "Database name is empty", "");
            row("missing-file" + v, "missing", call, Repair::None, 4, -1, QString(), "");
            row("empty-file" + v, "empty", call, Repair::None, 4, -1, QString(), "");
            row("equal" + v, table + "INSERT INTO metadata VALUES('version', '3');", call, Repair::None, 0, 3,
                QString(), "read");
            row("newer" + v, table + "INSERT INTO metadata VALUES('version', '4');", call, Repair::None, 3, 4, tooNew,
                "read");
            // Without a repair the default gives up at once.
            row("no-metadata" + v, noMeta, call, Repair::None, 1, -1, checking, call == TwoArgs ? "read" : "read repair1");
        }
        row("older/2", v1, TwoArgs, Repair::None, 2, 1, "The database is too old.", "read");
        row("older/3-upgrade-works", v1, Upgrades, Repair::None, 0, 3, QString(), "read update1 read");
        row("older/3-upgrade-fails", v1, UpgradeFails, Repair::None, 1, 1, checking, "read update1");
        row("older/3-upgrade-stays-old", v1, UpgradeStaysOld, Repair::None, 1, 1, checking, "read update1 read");
        row("older/3-no-upgrade", v1, NoUpgrade, Repair::None, 1, 1, checking, "read");
        row("no-metadata/3-repaired", noMeta, Upgrades, Repair::CreatesMetadata, 0, 3, QString(), "read repair1 read");
        row("no-metadata/3-repaired-old-then-upgraded", noMeta, Upgrades, Repair::CreatesOldMetadata, 0, 3, QString(),
            "read repair1 read update1 read");
        row("empty-metadata/3-repair-sets-error", table, Upgrades, Repair::SetsError, 1, -1,
            "metadata locked by the service tool", "read repair2");
    }

    void checkVersion()
    {
        QFETCH(QString, setup);
        QFETCH(int, call);
        QFETCH(int, repair);
        QFETCH(int, result);

        const QString path = setup == QLatin1String("no-path") ? QString() : newPath();
        if (setup == QLatin1String("empty"))
            QVERIFY(writeFile(path, QByteArray()));
        else if (setup != QLatin1String("missing") && !path.isEmpty())
            QVERIFY(!sqlite3(path, setup).isNull());
        TestDb db(QStringLiteral("versions"), path);
        db.upgradeMode = call == UpgradeFails ? Upgrade::Fails : call == UpgradeStaysOld ? Upgrade::StaysOld : Upgrade::Works;
        db.repairMode = Repair(repair);
        if (path.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, "Database name is empty");
        } else {
            db.init();
            QVERIFY(db.db().isOpen());
        }
        const auto release = qScopeGuard([&] { db.release(); });
        db.calls.clear();

        qint32 stored = -1;
        QString text;
        QCOMPARE(call == TwoArgs ? db.checkVersion(stored, text) : db.checkVersion(stored, text, call != NoUpgrade), result);
        QTEST(int(stored), "version");
        QTEST(text, "error");
        QTEST(db.calls.join(QLatin1Char(' ')), "calls");
    }

    // A repair that never makes the version readable ends, per call.
    void endlessRepairIsBounded()
    {
        TestDb db(QStringLiteral("versions"), newPath());
        QVERIFY(!sqlite3(db.path, QStringLiteral("CREATE TABLE t(x);")).isNull());
        db.repairMode = Repair::Pretends;
        db.init();
        const auto release = qScopeGuard([&] { db.release(); });
        for (int round = 1; round <= 2; ++round) {
            db.calls.clear();
            QTest::ignoreMessage(QtWarningMsg, "METADATA STILL UNREADABLE AFTER 3 REPAIRS");
            qint32 version = -1;
            QString error;
            QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionCheckError);
            QCOMPARE(error, checking);
            QCOMPARE(db.calls.join(QLatin1Char(' ')), QStringLiteral("read repair1 read repair1 read repair1 read"));
        }
    }

    void connectorsInOneThreadShareTheConnection()
    {
        QThreadStorage<int> &counter = newCounter();
        TestDb first(QStringLiteral("shared"), newPath(), &counter);
        TestDb second(QStringLiteral("shared"), first.path, &counter);
        const QString connection = first.connectionName();
        const auto hasMarker = [](TestDb &db) { return db.exec(QStringLiteral("SELECT * FROM marker;")); };

        first.init();
        QCOMPARE(counter.localData(), 1);
        // A temporary table lives in one connection only: seeing it proves the join.
        QVERIFY(first.exec(QStringLiteral("CREATE TEMP TABLE marker(x);")));
        second.init();
        QCOMPARE(counter.localData(), 2);
        QVERIFY(hasMarker(second));
        QCOMPARE(second.calls, QStringList{"attach1"}); // the hook runs on a joined connection too

        // Nested use of one object keeps its handle until its own last release.
        second.init();
        second.release();
        QCOMPARE(counter.localData(), 2);
        QVERIFY(second.db().isOpen());

        MessageCapture capture; // Qt would warn if a released handle kept the connection in use
        second.release();
        QCOMPARE(counter.localData(), 1);
        QVERIFY(!second.db().isValid());
        QVERIFY(hasMarker(first));
        first.release();
        QCOMPARE(counter.localData(), 0);
        QVERIFY(!QSqlDatabase::contains(connection));
        QVERIFY(!first.db().isValid());
        QCOMPARE(MessageCapture::messages(QtWarningMsg), QStringList());

        // Another round starts from a fresh connection.
        first.init();
        QVERIFY(!hasMarker(first));
        first.release();
        QVERIFY(!QSqlDatabase::contains(connection));
    }

    void releaseWithoutCountRemovesAtOnce()
    {
        QThreadStorage<int> &counter = newCounter();
        TestDb db(QStringLiteral("foreign"), newPath(), &counter);
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db.connectionName());
            other.setDatabaseName(db.path);
            QVERIFY(other.open());
        }
        db.release();
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QVERIFY(!counter.hasLocalData());

        // A count at 0 or below also removes at once and is stored as 0.
        counter.setLocalData(-2);
        db.init();
        QCOMPARE(counter.localData(), -1);
        db.release();
        QCOMPARE(counter.localData(), 0);
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
    }

    // Opened fresh (its directory made on the way), joined after someone
    // closed it, or read-only at a path a file URI must escape: with the busy
    // timeout and enforced foreign keys, and no writes when read-only.
    void opensWithOptions_data()
    {
        QTest::addColumn<int>("mode"); // -1: read-write, joined after a close
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("refusal");
        const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
        QTest::newRow("fresh") << int(TestDb::ReadWriteMode) << busy << "FOREIGN KEY";
        QTest::newRow("rejoined-after-close") << -1 << busy << "FOREIGN KEY";
        QTest::newRow("read-only") << int(TestDb::ReadOnlyMode) << busy + ";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"
                                   << "readonly";
    }

    void opensWithOptions()
    {
        QFETCH(int, mode);
        QFETCH(QString, refusal);
        QThreadStorage<int> &counter = newCounter();
        TestDb first(QStringLiteral("options"), newPath(QStringLiteral("a/read only #1 %41?")), &counter),
            second(QStringLiteral("options"), first.path, &counter),
            readOnly(QStringLiteral("options-ro"), first.path, nullptr, TestDb::ReadOnlyMode);
        first.init();
        QCOMPARE(first.db().hostName(), QStringLiteral("localhost"));
        QVERIFY(first.exec(QStringLiteral("CREATE TABLE parent(id INTEGER PRIMARY KEY); INSERT INTO parent VALUES(1);"
                                          "CREATE TABLE child(p INTEGER REFERENCES parent(id)); INSERT INTO child VALUES(1);")));
        TestDb *db = mode == -1 ? &second : mode == TestDb::ReadOnlyMode ? &readOnly : &first;
        if (mode == -1)
            first.db().close();
        db->init();
        const auto release = qScopeGuard([&] { db->release(); first.release(); });
        QVERIFY(db->db().isOpen());
        QTEST(db->db().connectOptions(), "options");
        const QString name = db->db().databaseName();
        QVERIFY2(mode ? name == first.path : name.startsWith(QLatin1String("file://"))
                                                  && name.endsWith(QLatin1String("?mode=ro&cache=private")), qPrintable(name));
        QSqlQuery query(db->db());
        QVERIFY(query.exec(QStringLiteral("SELECT p FROM child;")) && query.next());
        query.finish();
        QVERIFY(!query.exec(QStringLiteral("INSERT INTO child VALUES(42);")));
        QVERIFY2(query.lastError().databaseText().contains(refusal), qPrintable(query.lastError().text()));
        QCOMPARE(sqlite3(first.path, QStringLiteral("SELECT group_concat(p) FROM child;")), QStringLiteral("1"));
    }

    void unusableDirectoryStopsInit()
    {
        const QString blocker = newPath();
        QVERIFY(writeFile(blocker, "x"));
        QThreadStorage<int> &counter = newCounter();
        TestDb db(QStringLiteral("blocked"), blocker + QStringLiteral("/sub/x.db"), &counter);
        QTest::ignoreMessage(QtCriticalMsg, "Can't create the database directory");
        db.init();
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QVERIFY(!counter.hasLocalData());
        QCOMPARE(db.calls, QStringList());
    }

    // Each thread has its own connection (counted in one storage) and waits
    // for the others' locks within the busy timeout.
    void threadsWorkAtOnceOnOneFile()
    {
        const QString path = newPath();
        QVERIFY(!sqlite3(path, QStringLiteral("CREATE TABLE rows(thread TEXT, n INTEGER);")).isNull());
        constexpr int threads = 4, rows = 120; // per thread: 20 autocommit inserts, then 20 in one transaction, ...
        QThreadStorage<int> &counter = newCounter();
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        QSemaphore ready, go;
        QList<QFuture<QStringList>> futures;
        for (int t = 0; t < threads; ++t) {
            futures << QtConcurrent::run(&pool, [&, path]() -> QStringList {
                QStringList errors;
                TestDb db(QStringLiteral("busy"), path, &counter);
                db.init();
                if (!db.db().isOpen() || counter.localData() != 1)
                    return {QStringLiteral("not open alone")};
                const QString name = db.connectionName();
                ready.release();
                go.acquire();
                QSqlQuery insert(db.db()), read(db.db());
                insert.prepare(QStringLiteral("INSERT INTO rows VALUES(?, ?);"));
                for (int n = 0; n < rows; ++n) {
                    const bool batch = n / 20 % 2 == 1;
                    if (batch && n % 20 == 0 && !db.exec(QStringLiteral("BEGIN IMMEDIATE;")))
                        errors << QStringLiteral("BEGIN failed");
                    insert.addBindValue(name);
                    insert.addBindValue(n);
                    if (!insert.exec())
                        errors << insert.lastError().text();
                    if (!batch && (!read.exec(QStringLiteral("SELECT count(*) FROM rows;")) || !read.next()))
                        errors << read.lastError().text();
                    read.finish();
                    if (batch && n % 20 == 19 && !db.exec(QStringLiteral("COMMIT;")))
                        errors << QStringLiteral("COMMIT failed");
                }
                insert.finish();
                db.release();
                if (counter.localData() != 0 || QSqlDatabase::contains(name))
                    errors << QStringLiteral("connection left behind");
                return errors;
            });
        }
        QVERIFY(ready.tryAcquire(threads, 20000)); // every thread has its connection open
        go.release(threads);
        for (auto &future : futures)
            QCOMPARE(future.result(), QStringList());
        QCOMPARE(sqlite3(path, QStringLiteral("SELECT count(*), count(DISTINCT thread) FROM rows;")),
                 QStringLiteral("%1|%2").arg(threads * rows).arg(threads));
    }

    void openErrorIsLoggedWithoutPassword_data()
    {
        QTest::addColumn<QString>("content"); // null: no file; "sql:...": made by the sqlite3 shell
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("sqlError");

        const QString garbage = QStringLiteral("this is not a database file. ").repeated(150);
        QTest::newRow("corrupted/with-password") << garbage << false << "s3cret!" << "file is not a database";
        QTest::newRow("corrupted/without-password") << garbage << false << QString() << "file is not a database";
        QTest::newRow("damaged-schema")
            << QStringLiteral("sql:CREATE TABLE t(x); PRAGMA writable_schema=ON; "
                              "UPDATE sqlite_master SET sql='CREATE TABLE t(x' WHERE name='t';")
            << false << QString() << "malformed database schema (t) - incomplete input";
        QTest::newRow("missing/read-only") << QString() << true << "pw" << "unable to open database file";
    }

    void openErrorIsLoggedWithoutPassword()
    {
        QFETCH(QString, content);
        QFETCH(bool, readOnly);
        QFETCH(QString, password);
        QFETCH(QString, sqlError);

        const QString path = newPath();
        if (content.startsWith(QLatin1String("sql:")))
            QVERIFY(!sqlite3(path, content.mid(4)).isNull());
        else if (!content.isNull())
            QVERIFY(writeFile(path, content.toUtf8()));
        QFile file(path);
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        QThreadStorage<int> &counter = newCounter();
        TestDb db(QStringLiteral("broken"), path, &counter,
                  readOnly ? TestDb::ReadOnlyMode : TestDb::ReadWriteMode);
        db.pass = password;
        {
            MessageCapture capture;
            db.init();
            const QString tab = QLatin1Char('\n') + QString(15, QLatin1Char(' '));
            const QStringList parts{QStringLiteral("Database {"), "localhost:0//" + db.db().databaseName(),
                                    QStringLiteral("operator"), password.isEmpty() ? QString() : QStringLiteral("***"),
                                    QStringLiteral("QSQLITE"), QStringLiteral("} opening error: "), sqlError};
            QCOMPARE(MessageCapture::messages(QtCriticalMsg), QStringList{'"' + tab + parts.join(tab) + '"'});
        }
        QVERIFY(!db.db().isOpen());
        QCOMPARE(db.calls, QStringList{"attach0"}); // the hook runs after a failed open too
        QCOMPARE(counter.localData(), 1); // and the user is counted
        db.release();
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QCOMPARE(file.exists(), !content.isNull()); // read-only never creates the file
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), before); // left as it was
    }

    void vacuum()
    {
        TestDb closed(QStringLiteral("vacuum"), newPath());
        QTest::ignoreMessage(QtCriticalMsg, "DATABASE IS NOT OPEN");
        QVERIFY(!closed.vacuum());

        TestDb db(QStringLiteral("vacuum"), newPath());
        db.init();
        const auto release = qScopeGuard([&] { db.release(); });
        QVERIFY(db.exec(QStringLiteral(
            "CREATE TABLE blobs(x TEXT); CREATE INDEX bx ON blobs(x);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
            "INSERT INTO blobs SELECT printf('%.300d', i) FROM n; DELETE FROM blobs WHERE rowid > 10;")));
        const qint64 before = QFileInfo(db.path).size();
        QVERIFY(db.vacuum());
        QVERIFY2(QFileInfo(db.path).size() < before / 4, qPrintable(QString::number(before)));
        QCOMPARE(sqlite3(db.path, QStringLiteral("PRAGMA integrity_check;")), QStringLiteral("ok"));

        QVERIFY(db.db().transaction());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("VACUUM;.*cannot VACUUM from within a transaction"));
        QVERIFY(!db.vacuum());
        QVERIFY(db.db().rollback());
    }

    void clearAllConnectionsSweepsByPrefix()
    {
        const QString path = newPath();
        QThreadStorage<int> &shopCounter = newCounter(), &otherCounter = newCounter();
        TestDb shop(QStringLiteral("shop"), path, &shopCounter), shopAux(QStringLiteral("shop"), path, &otherCounter),
            shopping(QStringLiteral("shopping"), path, &otherCounter), upper(QStringLiteral("Shop"), path, &otherCounter),
            other(QStringLiteral("other"), path, &otherCounter), gone(QStringLiteral("shop"), newPath(), &otherCounter);
        shopAux.connectionSuffix = QStringLiteral("-aux");
        gone.connectionSuffix = QStringLiteral("-gone");
        for (TestDb *db : {&shop, &shopAux, &shopping, &upper, &other, &gone})
            db->init();
        const auto cleanup = qScopeGuard([&] { upper.clearAllConnections(); other.clearAllConnections(); });
        QSqlDatabase auxHandle = shopAux.db();
        // A closed connection whose file was deleted is removed, not reopened
        // (which would create the file again).
        QVERIFY(gone.exec(QStringLiteral("CREATE TABLE t(x);")));
        gone.db().close();
        QVERIFY(QFile::remove(gone.path));
        // A thread that ended without releasing its connection.
        QString leftover;
        QScopedPointer<QThread> thread(QThread::create([&] {
            TestDb db(QStringLiteral("shop"), path);
            db.init();
            leftover = db.connectionName();
        }));
        thread->start();
        QVERIFY(thread->wait(10000));
        QVERIFY(QSqlDatabase::contains(leftover));

        {
            MessageCapture capture; // Qt warns about the connection of the other thread
            shop.clearAllConnections();
        }
        QVERIFY(!auxHandle.isOpen());
        QVERIFY(!QFileInfo::exists(gone.path));
        QCOMPARE(shopCounter.localData(), 0);
        QStringList remaining = QSqlDatabase::connectionNames();
        remaining.sort();
        QCOMPARE(remaining, (QStringList{upper.connectionName(), other.connectionName()}));
        QVERIFY(other.db().isOpen());

        // Without a name only the own connection goes.
        TestDb nameless(QString(), path, &shopCounter);
        nameless.init();
        nameless.clearAllConnections();
        QVERIFY(!QSqlDatabase::contains(nameless.connectionName()));
        QCOMPARE(QSqlDatabase::connectionNames().size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_BaseSqliteDbConnector)
#include "tst_basesqlitedbconnector.moc"
