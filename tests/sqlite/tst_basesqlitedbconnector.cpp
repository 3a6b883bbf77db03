#include "sqlitetestdb.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

class tst_BaseSqliteDbConnector : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNo = 0;

    QString newPath(const QString &subdir = QString())
    {
        return m_dir.filePath((subdir.isEmpty() ? QString() : subdir + QLatin1Char('/'))
                              + QStringLiteral("db%1.sqlite").arg(++m_fileNo));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
        QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")), "QSQLITE driver missing");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty(), "sqlite3 shell missing");
    }

    void objectNameNamesDatabaseThreadAndMode()
    {
        QThread *thread = QThread::currentThread();
        const QString threadName = thread->objectName();
        const auto restore = qScopeGuard([&] { thread->setObjectName(threadName); });
        thread->setObjectName(QStringLiteral("worker-7"));
        const QString prefix = QStringLiteral("stock") + threadHex() + QStringLiteral("worker-7");
        // Any mode other than ReadOnlyMode is read-write.
        for (const int mode : {1, 0, 7})
            QCOMPARE(TestDb("stock", QString(), nullptr, TestDb::ConnectionMode(mode)).objectName(),
                     prefix + (mode ? "-RW" : "-RO"));
    }

    void checkVersion_data()
    {
        QTest::addColumn<QString>("setup"); // SQL for the file, "missing", "empty" or "no-path"
        QTest::addColumn<bool>("threeArgs");
        QTest::addColumn<bool>("upgrade");
        QTest::addColumn<int>("upgradeMode");
        QTest::addColumn<int>("repairMode");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QList<int>>("calls"); // reads, updates, repairs

        const QString tooNew = QStringLiteral("The database requires a application update.");
        const QString checking = QStringLiteral("Database checking error. Try restart the application");
        const auto meta = [](const QString &v) {
            return QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);"
                                  "INSERT INTO metadata VALUES('version', '%1');").arg(v);
        };
        const QString noMeta = QStringLiteral("CREATE TABLE t(x);");
        const auto row = [](const QByteArray &tag, const QString &setup, bool three, bool upgrade, Upgrade up,
                            Repair repair, int result, int version, const QString &error, const QList<int> &calls) {
            QTest::newRow(tag.constData()) << setup << three << upgrade << int(up) << int(repair) << result
                                           << version << error << calls;
        };
        const Upgrade works = Upgrade::Works;
        const Repair none = Repair::None;

        for (const bool three : {false, true}) {
            const QByteArray v = three ? "/3" : "/2";
            const int repaired = three ? 1 : 0;
            row("no-path" + v, "no-path", three, true, works, none, 1, -1, "Database name is empty", {0, 0, 0});
            row("missing-file" + v, "missing", three, true, works, none, 4, -1, QString(), {0, 0, 0});
            row("empty-file" + v, "empty", three, true, works, none, 4, -1, QString(), {0, 0, 0});
            row("equal" + v, meta("3"), three, true, works, none, 0, 3, QString(), {1, 0, 0});
            row("newer" + v, meta("4"), three, true, works, none, 3, 4, tooNew, {1, 0, 0});
            row("no-metadata" + v, noMeta, three, true, works, none, 1, -1, checking, {1, 0, repaired});
            row("unreadable-version" + v, meta("three"), three, true, works, none, 1, -1, checking, {1, 0, repaired});
        }
        row("older/2", meta("1"), false, true, works, none, 2, 1, "The database is too old.", {1, 0, 0});
        row("older/3-upgrade-works", meta("1"), true, true, works, none, 0, 3, QString(), {2, 1, 0});
        row("older/3-upgrade-fails", meta("1"), true, true, Upgrade::Fails, none, 1, 1, checking, {1, 1, 0});
        row("older/3-upgrade-stays-old", meta("1"), true, true, Upgrade::StaysOld, none, 1, 1, checking, {2, 1, 0});
        row("older/3-no-upgrade", meta("1"), true, false, works, none, 1, 1, checking, {1, 0, 0});
        row("no-metadata/3-repaired", noMeta, true, true, works, Repair::CreatesMetadata, 0, 3, QString(), {2, 0, 1});
        row("no-metadata/3-repaired-old-then-upgraded", noMeta, true, true, works, Repair::CreatesOldMetadata, 0, 3,
            QString(), {3, 1, 1});
        row("empty-metadata/3-repair-sets-error", "CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);", true,
            true, works, Repair::SetsError, 1, -1, "metadata locked by the service tool", {1, 0, 1});
    }

    void checkVersion()
    {
        QFETCH(QString, setup);
        QFETCH(bool, threeArgs);
        QFETCH(bool, upgrade);
        QFETCH(int, upgradeMode);
        QFETCH(int, repairMode);
        QFETCH(int, result);
        QFETCH(int, version);
        QFETCH(QString, error);
        QFETCH(QList<int>, calls);

        const QString path = setup == QLatin1String("no-path") ? QString() : newPath();
        if (setup == QLatin1String("empty"))
            QVERIFY(writeFile(path, QByteArray()));
        else if (setup != QLatin1String("missing") && !path.isEmpty())
            QVERIFY(!sqlite3(path, setup).isNull());

        TestDb db(QStringLiteral("versions"), path);
        db.upgradeMode = Upgrade(upgradeMode);
        db.repairMode = Repair(repairMode);
        if (path.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, "Database name is empty");
        } else {
            db.init();
            QVERIFY(db.db().isOpen());
        }
        const auto release = qScopeGuard([&] { db.release(); });

        qint32 stored = -1;
        QString text;
        const int got = threeArgs ? db.checkVersion(stored, text, upgrade) : db.checkVersion(stored, text);
        QCOMPARE(got, result);
        QCOMPARE(stored, version);
        QCOMPARE(text, error);
        QCOMPARE((QList<int>{db.reads, db.updates, db.repairs}), calls);
        if (db.repairs && setup.startsWith(QLatin1String("CREATE TABLE t")))
            QCOMPARE(db.lastState, BaseSqliteDbConnector::MetadataMissing);
        if (db.updates)
            QCOMPARE(db.updatedFrom.first(), 1);
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
            QTest::ignoreMessage(QtWarningMsg, "METADATA STILL UNREADABLE AFTER 3 REPAIRS");
            qint32 version = -1;
            QString error;
            QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionCheckError);
            QCOMPARE(error, QStringLiteral("Database checking error. Try restart the application"));
            QCOMPARE(db.repairs, round * BaseSqliteDbConnector::MaxMetadataRepairs);
            QCOMPARE(db.reads, round * (BaseSqliteDbConnector::MaxMetadataRepairs + 1));
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
        QCOMPARE(second.attachedWhileOpen, QList<bool>{true}); // the hook runs on a joined connection too

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
        QCOMPARE(counter.localData(), 1);
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

    // Opened fresh (its directory made on the way), or joined after someone
    // closed it: either way with the busy timeout and enforced foreign keys.
    void opensWithBusyTimeoutAndForeignKeys()
    {
        QThreadStorage<int> &counter = newCounter();
        TestDb first(QStringLiteral("options"), newPath(QStringLiteral("a/b/c")), &counter);
        TestDb second(QStringLiteral("options"), first.path, &counter);
        first.init();
        const auto release = qScopeGuard([&] { second.release(); first.release(); });
        QCOMPARE(first.db().connectOptions(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        QCOMPARE(first.db().databaseName(), first.path);
        QCOMPARE(first.db().hostName(), QStringLiteral("localhost"));
        QVERIFY(first.exec(QStringLiteral("CREATE TABLE parent(id INTEGER PRIMARY KEY);"
                                          "CREATE TABLE child(p INTEGER REFERENCES parent(id));")));
        for (TestDb *db : {&first, &second}) {
            if (db == &second) {
                first.db().close();
                second.init();
            }
            QSqlQuery query(db->db());
            QVERIFY(!query.exec(QStringLiteral("INSERT INTO child VALUES(42);")));
            QVERIFY2(query.lastError().databaseText().contains(QLatin1String("FOREIGN KEY")),
                     qPrintable(query.lastError().text()));
        }
    }

    void unusableDirectoryStopsInit()
    {
        const QString blocker = m_dir.filePath(QStringLiteral("plain-file"));
        QVERIFY(writeFile(blocker, "x"));
        QThreadStorage<int> &counter = newCounter();
        TestDb db(QStringLiteral("blocked"), blocker + QStringLiteral("/sub/x.db"), &counter);
        QTest::ignoreMessage(QtCriticalMsg, "Can't create the database directory");
        db.init();
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QVERIFY(!counter.hasLocalData());
        QCOMPARE(db.attachedWhileOpen, QList<bool>());
    }

    void threadsWorkAtOnceOnOneFile_data()
    {
        QTest::addColumn<QString>("journal");
        QTest::newRow("rollback-journal") << QStringLiteral("DELETE");
        QTest::newRow("wal") << QStringLiteral("WAL");
    }

    void threadsWorkAtOnceOnOneFile()
    {
        QFETCH(QString, journal);
        const QString path = newPath();
        QVERIFY(!sqlite3(path, QStringLiteral("PRAGMA journal_mode=%1; CREATE TABLE rows(thread TEXT, n INTEGER);")
                                   .arg(journal)).isNull());

        constexpr int threads = 4;
        constexpr int single = 40; // autocommit inserts per thread
        constexpr int batches = 4; // transactions of 20 rows per thread
        QThreadStorage<int> &counter = newCounter(); // one storage: each thread counts only its own users
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        QSemaphore ready, go;
        QList<QFuture<QStringList>> futures;
        for (int t = 0; t < threads; ++t) {
            futures << QtConcurrent::run(&pool, [&, path]() -> QStringList {
                QStringList errors;
                TestDb db(QStringLiteral("busy"), path, &counter);
                db.init();
                if (!db.db().isOpen())
                    return {QStringLiteral("not open")};
                if (counter.localData() != 1)
                    errors << QStringLiteral("counter %1").arg(counter.localData());
                const QString name = db.connectionName();
                ready.release();
                go.acquire();
                QSqlQuery insert(db.db());
                insert.prepare(QStringLiteral("INSERT INTO rows VALUES(?, ?);"));
                const auto add = [&](int n) {
                    insert.addBindValue(name);
                    insert.addBindValue(n);
                    if (!insert.exec())
                        errors << insert.lastError().text();
                };
                for (int n = 0; n < single; ++n) {
                    add(n);
                    QSqlQuery read(db.db());
                    if (!read.exec(QStringLiteral("SELECT count(*) FROM rows;")) || !read.next())
                        errors << read.lastError().text();
                }
                for (int b = 0; b < batches; ++b) {
                    if (!db.exec(QStringLiteral("BEGIN IMMEDIATE;")))
                        errors << QStringLiteral("BEGIN failed");
                    for (int n = 0; n < 20; ++n)
                        add(1000 + b * 20 + n);
                    if (!db.exec(QStringLiteral("COMMIT;")))
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
                 QStringLiteral("%1|%2").arg(threads * (single + batches * 20)).arg(threads));
    }

    void readOnlyConnectorCannotWrite()
    {
        // Characters that a file URI must escape.
        const QString path = newPath(QStringLiteral("read only #1 %41?"));
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QVERIFY(!sqlite3(path, QStringLiteral("CREATE TABLE t(x); INSERT INTO t VALUES('kept');")).isNull());

        TestDb db(QStringLiteral("ro"), path, nullptr, BaseSqliteDbConnector::ReadOnlyMode);
        db.init();
        const auto release = qScopeGuard([&] { db.release(); });
        QVERIFY(db.db().isOpen());
        QCOMPARE(db.db().connectOptions(),
                 QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        const QString uri = db.db().databaseName();
        QVERIFY2(uri.startsWith(QLatin1String("file://")) && uri.endsWith(QLatin1String("?mode=ro&cache=private")),
                 qPrintable(uri));

        QSqlQuery query(db.db());
        QVERIFY(query.exec(QStringLiteral("SELECT x FROM t;")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("kept"));
        query.finish();
        QVERIFY(!query.exec(QStringLiteral("INSERT INTO t VALUES('lost');")));
        QVERIFY2(query.lastError().databaseText().contains(QLatin1String("readonly")),
                 qPrintable(query.lastError().text()));
        QCOMPARE(sqlite3(path, QStringLiteral("SELECT group_concat(x) FROM t;")), QStringLiteral("kept"));
    }

    void openErrorIsLoggedWithoutPassword_data()
    {
        QTest::addColumn<QString>("content"); // null: no file; "sql:...": made by the sqlite3 shell
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("sqlError");

        const QString garbage = QStringLiteral("this is not a database file. ").repeated(150);
        const QString notADatabase = QStringLiteral("file is not a database");
        QTest::newRow("corrupted/with-password") << garbage << false << "s3cret!" << notADatabase;
        QTest::newRow("corrupted/without-password") << garbage << false << QString() << notADatabase;
        QTest::newRow("corrupted/read-only") << garbage << true << "pw" << notADatabase;
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
                  readOnly ? BaseSqliteDbConnector::ReadOnlyMode : BaseSqliteDbConnector::ReadWriteMode);
        db.userName = QStringLiteral("operator");
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
        QCOMPARE(db.attachedWhileOpen, QList<bool>{false}); // the hook runs after a failed open too
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
        const qint64 after = QFileInfo(db.path).size();
        QVERIFY2(after < before / 4, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        QCOMPARE(sqlite3(db.path, QStringLiteral("PRAGMA integrity_check;")), QStringLiteral("ok"));

        QVERIFY(db.db().transaction());
        {
            MessageCapture capture;
            QVERIFY(!db.vacuum());
            const QStringList criticals = MessageCapture::messages(QtCriticalMsg);
            QCOMPARE(criticals.size(), 1);
            QVERIFY2(criticals.first().contains(QLatin1String("VACUUM;"))
                         && criticals.first().contains(QLatin1String("cannot VACUUM from within a transaction")),
                     qPrintable(criticals.first()));
        }
        QVERIFY(db.db().rollback());
    }

    void clearAllConnectionsSweepsByPrefix()
    {
        const QString path = newPath();
        QThreadStorage<int> &shopCounter = newCounter();
        QThreadStorage<int> &otherCounter = newCounter();
        TestDb shop(QStringLiteral("shop"), path, &shopCounter);
        TestDb shopAux(QStringLiteral("shop"), path, &otherCounter);
        shopAux.connectionSuffix = QStringLiteral("-aux");
        TestDb shopping(QStringLiteral("shopping"), path, &otherCounter);
        TestDb upper(QStringLiteral("Shop"), path, &otherCounter);
        TestDb other(QStringLiteral("other"), path, &otherCounter);
        for (TestDb *db : {&shop, &shopAux, &shopping, &upper, &other})
            db->init();
        const auto cleanup = qScopeGuard([&] {
            upper.clearAllConnections();
            other.clearAllConnections();
        });
        QSqlDatabase auxHandle = shopAux.db();

        // A closed connection whose file was deleted is removed, not reopened
        // (which would create the file again).
        TestDb gone(QStringLiteral("shop"), newPath(), &otherCounter);
        gone.connectionSuffix = QStringLiteral("-gone");
        gone.init();
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
