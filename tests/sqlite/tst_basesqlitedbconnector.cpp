#include <sqlite/basesqlitedbconnector.h>

#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

// Use counters live for the whole process, as a host keeps them: Qt hands the
// slot of a destroyed QThreadStorage to the next one, old values included.
QThreadStorage<int> &newCounter()
{
    static QThreadStorage<int> counters[256];
    static QAtomicInt used;
    const int next = used.fetchAndAddRelaxed(1);
    Q_ASSERT(next < 256);
    return counters[next];
}

QString threadHex()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

// Collects every message while alive instead of printing it.
class MessageCapture
{
public:
    MessageCapture()
    {
        QMutexLocker lock(&s_mutex);
        s_messages.clear();
        s_previous = qInstallMessageHandler(handler);
    }
    ~MessageCapture() { qInstallMessageHandler(s_previous); }

    static QStringList messages(QtMsgType type)
    {
        QMutexLocker lock(&s_mutex);
        QStringList result;
        for (const auto &entry : qAsConst(s_messages))
            if (entry.first == type)
                result << entry.second;
        return result;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        QMutexLocker lock(&s_mutex);
        s_messages.append({type, text});
    }
    static QMutex s_mutex;
    static QList<QPair<QtMsgType, QString>> s_messages;
    static QtMessageHandler s_previous;
};
QMutex MessageCapture::s_mutex;
QList<QPair<QtMsgType, QString>> MessageCapture::s_messages;
QtMessageHandler MessageCapture::s_previous = nullptr;

enum class Upgrade { Works, Fails, StaysOld };
enum class Repair { None, CreatesMetadata, CreatesOldMetadata, Pretends, SetsError };

// Keeps its schema version in the table metadata(key, value).
class TestDb : public BaseSqliteDbConnector
{
    Q_OBJECT
public:
    TestDb(const QString &name, const QString &path, QThreadStorage<int> *counter,
           ConnectionMode mode = ReadWriteMode)
        : BaseSqliteDbConnector(name, mode, counter), path(path)
    {
    }

    QString path;
    QString connectionSuffix;
    qint32 expected = 3;
    Upgrade upgradeMode = Upgrade::Works;
    Repair repairMode = Repair::None;
    QString userName;
    QString pass;
    QString attachPath;

    int reads = 0;
    int updates = 0;
    int repairs = 0;
    int attaches = 0;
    QList<qint32> updatedFrom;
    EMetadataState lastState = MetadataOk;

    QString dbFilePath() override { return path; }
    QString connectionName() override { return name() + QLatin1Char('-') + threadHex() + connectionSuffix; }
    qint32 dbVersion() override { return expected; }

protected:
    QString user() const override { return userName; }
    QString password() const override { return pass; }

    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        ++reads;
        QSqlQuery query(db());
        if (!query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'version'"))) {
            state = MetadataMissing;
            return false;
        }
        if (!query.next()) {
            state = MetadataEmpty;
            return false;
        }
        bool ok = false;
        const qint32 stored = query.value(0).toString().toInt(&ok);
        if (!ok) {
            state = MetadataCorrupted;
            return false;
        }
        version = stored;
        return true;
    }

    bool updateDb(qint32 fromVersion) override
    {
        ++updates;
        updatedFrom << fromVersion;
        switch (upgradeMode) {
        case Upgrade::Fails:
            return false;
        case Upgrade::StaysOld:
            return true;
        case Upgrade::Works:
            break;
        }
        return writeVersion(expected);
    }

    bool processMetadataState(EMetadataState state, QString &error) override
    {
        ++repairs;
        lastState = state;
        switch (repairMode) {
        case Repair::None:
            return false;
        case Repair::CreatesMetadata:
            return writeVersion(expected);
        case Repair::CreatesOldMetadata:
            return writeVersion(expected - 2);
        case Repair::Pretends:
            return true;
        case Repair::SetsError:
            error = QStringLiteral("metadata locked by the service tool");
            return false;
        }
        return false;
    }

    void attacheDatabases() override
    {
        ++attaches;
        if (attachPath.isEmpty() || !db().isOpen())
            return;
        QSqlQuery list(db());
        list.exec(QStringLiteral("PRAGMA database_list;"));
        while (list.next())
            if (list.value(1).toString() == QLatin1String("aux"))
                return;
        QSqlQuery attach(db());
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS aux;"));
        attach.addBindValue(attachPath);
        if (!attach.exec())
            qWarning() << attach.lastError();
    }

private:
    bool writeVersion(qint32 version)
    {
        QSqlQuery query(db());
        return query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS metadata(key TEXT PRIMARY KEY, value TEXT);"))
               && query.exec(QStringLiteral("INSERT OR REPLACE INTO metadata VALUES('version', '%1');").arg(version));
    }
};

} // namespace

class tst_BaseSqliteDbConnector : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sqlite3;
    int m_fileNo = 0;

    QString newPath(const QString &subdir = QString())
    {
        return m_dir.path() + QLatin1Char('/') + subdir
               + (subdir.isEmpty() ? QString() : QStringLiteral("/"))
               + QStringLiteral("db%1.sqlite").arg(++m_fileNo);
    }

    // Runs the sqlite3 shell on a file; returns its output, or a null string
    // when it failed.
    QString sqlite3(const QString &file, const QString &sql)
    {
        QProcess shell;
        shell.start(m_sqlite3, {QStringLiteral("-batch"), file, sql});
        if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
            return QString();
        const QString output = QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
        return output.isNull() ? QString(QLatin1String("")) : output;
    }

private slots:
    void initTestCase();
    void objectNameNamesDatabaseThreadAndMode();
    void checkVersion_data();
    void checkVersion();
    void checkVersionWithEmptyPath();
    void endlessRepairIsBounded();
    void connectorsInOneThreadShareTheConnection();
    void releaseWithoutCountRemovesAtOnce();
    void joiningAClosedConnectionOpensItFully();
    void opensWithBusyTimeoutAndForeignKeys();
    void createsTheDirectory();
    void unusableDirectoryStopsInit();
    void threadsWorkAtOnceOnOneFile_data();
    void threadsWorkAtOnceOnOneFile();
    void readOnlyConnectorCannotWrite();
    void openErrorIsLoggedWithoutPassword_data();
    void openErrorIsLoggedWithoutPassword();
    void attachesDatabasesOnEveryInit();
    void vacuumShrinksAnOpenDatabase();
    void vacuumFailures();
    void clearAllConnectionsSweepsByPrefix();
};

void tst_BaseSqliteDbConnector::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")), "QSQLITE driver missing");
    m_sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    QVERIFY2(!m_sqlite3.isEmpty(), "sqlite3 shell missing");
}

void tst_BaseSqliteDbConnector::objectNameNamesDatabaseThreadAndMode()
{
    QThreadStorage<int> &counter = newCounter();
    QString rw, ro, expectedRw, expectedRo;
    QThread thread;
    thread.setObjectName(QStringLiteral("worker-7"));
    QObject context;
    context.moveToThread(&thread);
    thread.start();
    QSemaphore done;
    QMetaObject::invokeMethod(&context, [&] {
        TestDb a(QStringLiteral("stock"), newPath(), &counter);
        TestDb b(QStringLiteral("stock"), newPath(), &counter, BaseSqliteDbConnector::ReadOnlyMode);
        rw = a.objectName();
        ro = b.objectName();
        expectedRw = QStringLiteral("stock") + threadHex() + QStringLiteral("worker-7-RW");
        expectedRo = QStringLiteral("stock") + threadHex() + QStringLiteral("worker-7-RO");
        done.release();
    });
    QVERIFY(done.tryAcquire(1, 10000));
    thread.quit();
    thread.wait();
    QCOMPARE(rw, expectedRw);
    QCOMPARE(ro, expectedRo);
    // Any mode other than ReadOnlyMode is read-write.
    TestDb other(QStringLiteral("stock"), newPath(), &counter,
                 static_cast<BaseSqliteDbConnector::ConnectionMode>(7));
    QVERIFY(other.objectName().endsWith(QLatin1String("-RW")));
    QVERIFY(!other.isReadOnly());
}

void tst_BaseSqliteDbConnector::checkVersion_data()
{
    QTest::addColumn<QString>("setup"); // SQL for the file, "missing" or "empty"
    QTest::addColumn<bool>("threeArgs");
    QTest::addColumn<bool>("upgrade");
    QTest::addColumn<int>("upgradeMode");
    QTest::addColumn<int>("repairMode");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<int>>("calls"); // reads, updates, repairs

    const QString tooOld = QStringLiteral("The database is too old.");
    const QString tooNew = QStringLiteral("The database requires a application update.");
    const QString checking = QStringLiteral("Database checking error. Try restart the application");
    const auto meta = [](int v) {
        return QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);"
                              "INSERT INTO metadata VALUES('version', '%1');").arg(v);
    };
    const int works = int(Upgrade::Works), fails = int(Upgrade::Fails), stays = int(Upgrade::StaysOld);
    const int none = int(Repair::None);

    for (const bool three : {false, true}) {
        const QString v = three ? QStringLiteral("/3") : QStringLiteral("/2");
        QTest::newRow(qPrintable("missing-file" + v)) << "missing" << three << true << works << none
                                                      << 4 << -1 << QString() << QList<int>{0, 0, 0};
        QTest::newRow(qPrintable("empty-file" + v)) << "empty" << three << true << works << none
                                                    << 4 << -1 << QString() << QList<int>{0, 0, 0};
        QTest::newRow(qPrintable("equal" + v)) << meta(3) << three << true << works << none
                                               << 0 << 3 << QString() << QList<int>{1, 0, 0};
        QTest::newRow(qPrintable("newer" + v)) << meta(4) << three << true << works << none
                                               << 3 << 4 << tooNew << QList<int>{1, 0, 0};
        QTest::newRow(qPrintable("no-metadata" + v)) << "CREATE TABLE t(x);" << three << true << works
                                                     << none << 1 << -1 << checking
                                                     << QList<int>{1, 0, three ? 1 : 0};
        QTest::newRow(qPrintable("unreadable-version" + v)) << meta(3).replace("'3'", "'three'") << three
                                                            << true << works << none << 1 << -1 << checking
                                                            << QList<int>{1, 0, three ? 1 : 0};
    }
    QTest::newRow("older/2") << meta(1) << false << true << works << none << 2 << 1 << tooOld
                             << QList<int>{1, 0, 0};
    QTest::newRow("older/3-upgrade-works") << meta(1) << true << true << works << none << 0 << 3
                                           << QString() << QList<int>{2, 1, 0};
    QTest::newRow("older/3-upgrade-fails") << meta(1) << true << true << fails << none << 1 << 1
                                           << checking << QList<int>{1, 1, 0};
    QTest::newRow("older/3-upgrade-stays-old") << meta(1) << true << true << stays << none << 1 << 1
                                               << checking << QList<int>{2, 1, 0};
    QTest::newRow("older/3-no-upgrade") << meta(1) << true << false << works << none << 1 << 1
                                        << checking << QList<int>{1, 0, 0};
    QTest::newRow("no-metadata/3-repaired") << "CREATE TABLE t(x);" << true << true << works
                                            << int(Repair::CreatesMetadata) << 0 << 3 << QString()
                                            << QList<int>{2, 0, 1};
    QTest::newRow("no-metadata/3-repaired-old-then-upgraded")
        << "CREATE TABLE t(x);" << true << true << works << int(Repair::CreatesOldMetadata) << 0 << 3
        << QString() << QList<int>{3, 1, 1};
    QTest::newRow("empty-metadata/3-repair-sets-error")
        << "CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);" << true << true << works
        << int(Repair::SetsError) << 1 << -1 << QStringLiteral("metadata locked by the service tool")
        << QList<int>{1, 0, 1};
}

void tst_BaseSqliteDbConnector::checkVersion()
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

    const QString path = newPath();
    if (setup == QLatin1String("empty")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup != QLatin1String("missing")) {
        QVERIFY(!sqlite3(path, setup).isNull());
    }

    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("versions"), path, &counter);
    db.upgradeMode = Upgrade(upgradeMode);
    db.repairMode = Repair(repairMode);
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });
    QVERIFY(db.db().isOpen());

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

void tst_BaseSqliteDbConnector::checkVersionWithEmptyPath()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("versions"), QString(), &counter);
    for (const bool three : {false, true}) {
        QTest::ignoreMessage(QtCriticalMsg, "Database name is empty");
        qint32 version = -1;
        QString error;
        const int got = three ? db.checkVersion(version, error, true) : db.checkVersion(version, error);
        QCOMPARE(got, int(BaseSqliteDbConnector::VersionCheckError));
        QCOMPARE(error, QStringLiteral("Database name is empty"));
        QCOMPARE(db.reads, 0);
    }
}

void tst_BaseSqliteDbConnector::endlessRepairIsBounded()
{
    const QString path = newPath();
    QVERIFY(!sqlite3(path, QStringLiteral("CREATE TABLE t(x);")).isNull());
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("versions"), path, &counter);
    db.repairMode = Repair::Pretends;
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });

    for (int round = 0; round < 2; ++round) { // the bound holds per call
        QTest::ignoreMessage(QtWarningMsg, "METADATA STILL UNREADABLE AFTER 3 REPAIRS");
        qint32 version = -1;
        QString error;
        QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionCheckError);
        QCOMPARE(error, QStringLiteral("Database checking error. Try restart the application"));
        QCOMPARE(db.repairs, (round + 1) * BaseSqliteDbConnector::MaxMetadataRepairs);
        QCOMPARE(db.reads, (round + 1) * (BaseSqliteDbConnector::MaxMetadataRepairs + 1));
    }
}

void tst_BaseSqliteDbConnector::connectorsInOneThreadShareTheConnection()
{
    const QString path = newPath();
    QThreadStorage<int> &counter = newCounter();
    TestDb first(QStringLiteral("shared"), path, &counter);
    TestDb second(QStringLiteral("shared"), path, &counter);
    const QString connection = first.connectionName();

    first.init();
    QCOMPARE(counter.localData(), 1);
    QVERIFY(first.db().isOpen());
    // A temporary table lives in one connection only: seeing it proves the join.
    QVERIFY(QSqlQuery(first.db()).exec(QStringLiteral("CREATE TEMP TABLE marker(x);")));

    second.init();
    QCOMPARE(counter.localData(), 2);
    QVERIFY(QSqlQuery(second.db()).exec(QStringLiteral("SELECT * FROM marker;")));

    // Nested use of one object keeps its handle until its own last release.
    second.init();
    QCOMPARE(counter.localData(), 3);
    second.release();
    QCOMPARE(counter.localData(), 2);
    QVERIFY(second.db().isOpen());

    MessageCapture capture; // Qt would warn if a released handle kept the connection in use
    second.release();
    QCOMPARE(counter.localData(), 1);
    QVERIFY(!second.db().isValid());
    QVERIFY(QSqlDatabase::contains(connection));
    QVERIFY(first.db().isOpen());
    QVERIFY(QSqlQuery(first.db()).exec(QStringLiteral("SELECT * FROM marker;")));

    first.release();
    QCOMPARE(counter.localData(), 0);
    QVERIFY(!QSqlDatabase::contains(connection));
    QVERIFY(!first.db().isValid());
    QCOMPARE(MessageCapture::messages(QtWarningMsg), QStringList());

    // Another round starts from a fresh connection.
    first.init();
    QCOMPARE(counter.localData(), 1);
    QVERIFY(!QSqlQuery(first.db()).exec(QStringLiteral("SELECT * FROM marker;")));
    first.release();
    QVERIFY(!QSqlDatabase::contains(connection));
}

void tst_BaseSqliteDbConnector::releaseWithoutCountRemovesAtOnce()
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

void tst_BaseSqliteDbConnector::joiningAClosedConnectionOpensItFully()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb first(QStringLiteral("reopen"), newPath(), &counter);
    TestDb second(QStringLiteral("reopen"), first.path, &counter);
    first.init();
    first.db().close();
    second.init();
    const auto release = qScopeGuard([&] { second.release(); first.release(); });
    QVERIFY(second.db().isOpen());
    QSqlQuery query(second.db());
    QVERIFY(query.exec(QStringLiteral("PRAGMA foreign_keys;")) && query.next());
    QCOMPARE(query.value(0).toInt(), 1);
}

void tst_BaseSqliteDbConnector::opensWithBusyTimeoutAndForeignKeys()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("options"), newPath(), &counter);
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });
    QCOMPARE(db.db().connectOptions(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    QCOMPARE(db.db().databaseName(), db.path);
    QCOMPARE(db.db().hostName(), QStringLiteral("localhost"));
    QSqlQuery query(db.db());
    QVERIFY(query.exec(QStringLiteral("CREATE TABLE parent(id INTEGER PRIMARY KEY);")));
    QVERIFY(query.exec(QStringLiteral("CREATE TABLE child(p INTEGER REFERENCES parent(id));")));
    QVERIFY(!query.exec(QStringLiteral("INSERT INTO child VALUES(42);")));
    QVERIFY(query.lastError().databaseText().contains(QLatin1String("FOREIGN KEY")));
}

void tst_BaseSqliteDbConnector::createsTheDirectory()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("nested"), newPath(QStringLiteral("a/b/c")), &counter);
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });
    QVERIFY(db.db().isOpen());
    QVERIFY(QSqlQuery(db.db()).exec(QStringLiteral("CREATE TABLE t(x);")));
    QVERIFY(QFileInfo(db.path).size() > 0);
}

void tst_BaseSqliteDbConnector::unusableDirectoryStopsInit()
{
    QFile blocker(m_dir.filePath(QStringLiteral("plain-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("blocked"), blocker.fileName() + QStringLiteral("/sub/x.db"), &counter);
    QTest::ignoreMessage(QtCriticalMsg, "Can't create the database directory");
    db.init();
    QVERIFY(!QSqlDatabase::contains(db.connectionName()));
    QVERIFY(!counter.hasLocalData());
    QCOMPARE(db.attaches, 0);
}

void tst_BaseSqliteDbConnector::threadsWorkAtOnceOnOneFile_data()
{
    QTest::addColumn<QString>("journal");
    QTest::newRow("rollback-journal") << QStringLiteral("DELETE");
    QTest::newRow("wal") << QStringLiteral("WAL");
}

void tst_BaseSqliteDbConnector::threadsWorkAtOnceOnOneFile()
{
    QFETCH(QString, journal);
    const QString path = newPath();
    QVERIFY(!sqlite3(path, QStringLiteral("PRAGMA journal_mode=%1; CREATE TABLE rows(thread TEXT, n INTEGER);")
                               .arg(journal)).isNull());

    constexpr int threads = 4;
    constexpr int single = 40;   // autocommit inserts per thread
    constexpr int batches = 4;   // transactions of 20 rows per thread
    QThreadStorage<int> &counter = newCounter(); // one storage: each thread counts only its own users
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    QSemaphore ready;
    QSemaphore go;
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
            auto add = [&](int n) {
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
            QSqlQuery tx(db.db());
            for (int b = 0; b < batches; ++b) {
                if (!tx.exec(QStringLiteral("BEGIN IMMEDIATE;")))
                    errors << tx.lastError().text();
                for (int n = 0; n < 20; ++n)
                    add(1000 + b * 20 + n);
                if (!tx.exec(QStringLiteral("COMMIT;")))
                    errors << tx.lastError().text();
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

void tst_BaseSqliteDbConnector::readOnlyConnectorCannotWrite()
{
    // Characters that a file URI must escape.
    const QString path = newPath(QStringLiteral("read only #1 %41?"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(!sqlite3(path, QStringLiteral("CREATE TABLE t(x); INSERT INTO t VALUES('kept');")).isNull());

    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("ro"), path, &counter, BaseSqliteDbConnector::ReadOnlyMode);
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

void tst_BaseSqliteDbConnector::openErrorIsLoggedWithoutPassword_data()
{
    QTest::addColumn<QString>("content"); // null: no file; "sql:...": made by the sqlite3 shell
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("shownPassword");
    QTest::addColumn<QString>("sqlError");

    const QString garbage = QString(QStringLiteral("this is not a database file. ")).repeated(150);
    QTest::newRow("corrupted/with-password") << garbage << false << QStringLiteral("s3cret!") << QStringLiteral("***")
                                             << QStringLiteral("file is not a database");
    QTest::newRow("corrupted/without-password") << garbage << false << QString() << QString()
                                                << QStringLiteral("file is not a database");
    QTest::newRow("corrupted/read-only") << garbage << true << QStringLiteral("pw") << QStringLiteral("***")
                                         << QStringLiteral("file is not a database");
    QTest::newRow("damaged-schema") << QStringLiteral("sql:CREATE TABLE t(x); PRAGMA writable_schema=ON; "
                                                      "UPDATE sqlite_master SET sql='CREATE TABLE t(x' WHERE name='t';")
                                    << false << QString() << QString()
                                    << QStringLiteral("malformed database schema (t) - incomplete input");
    QTest::newRow("missing/read-only") << QString() << true << QStringLiteral("pw") << QStringLiteral("***")
                                       << QStringLiteral("unable to open database file");
}

void tst_BaseSqliteDbConnector::openErrorIsLoggedWithoutPassword()
{
    QFETCH(QString, content);
    QFETCH(bool, readOnly);
    QFETCH(QString, password);
    QFETCH(QString, shownPassword);
    QFETCH(QString, sqlError);

    const QString path = newPath();
    if (content.startsWith(QLatin1String("sql:"))) {
        QVERIFY(!sqlite3(path, content.mid(4)).isNull());
    } else if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
    }
    QByteArray before;
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("broken"), path, &counter,
              readOnly ? BaseSqliteDbConnector::ReadOnlyMode : BaseSqliteDbConnector::ReadWriteMode);
    db.userName = QStringLiteral("operator");
    db.pass = password;
    {
        MessageCapture capture;
        db.init();
        const QStringList criticals = MessageCapture::messages(QtCriticalMsg);
        QCOMPARE(criticals.size(), 1);
        const QString tab = QLatin1Char('\n') + QString(15, QLatin1Char(' '));
        const QString expected = QLatin1Char('"') + tab + QStringLiteral("Database {") + tab
                                 + QStringLiteral("localhost:0//") + db.db().databaseName() + tab
                                 + QStringLiteral("operator") + tab + shownPassword + tab + QStringLiteral("QSQLITE")
                                 + tab + QStringLiteral("} opening error: ") + tab + sqlError + QLatin1Char('"');
        QCOMPARE(criticals.first(), expected);
        if (!password.isEmpty())
            QVERIFY(!criticals.first().contains(password));
    }
    QVERIFY(!db.db().isOpen());
    QCOMPARE(db.attaches, 1);      // the hook runs after a failed open too
    QCOMPARE(counter.localData(), 1); // and the user is counted
    db.release();
    QVERIFY(!QSqlDatabase::contains(db.connectionName()));
    QCOMPARE(QFileInfo::exists(path), !content.isNull()); // read-only never creates the file
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before); // left as it was
    }
}

void tst_BaseSqliteDbConnector::attachesDatabasesOnEveryInit()
{
    const QString auxPath = newPath();
    QVERIFY(!sqlite3(auxPath, QStringLiteral("CREATE TABLE items(x); INSERT INTO items VALUES(1),(2);")).isNull());
    QThreadStorage<int> &counter = newCounter();
    TestDb first(QStringLiteral("attach"), newPath(), &counter);
    TestDb second(QStringLiteral("attach"), first.path, &counter);
    first.attachPath = second.attachPath = auxPath;

    first.init();
    second.init();
    const auto release = qScopeGuard([&] { second.release(); first.release(); });
    QCOMPARE(first.attaches, 1);
    QCOMPARE(second.attaches, 1);
    QSqlQuery query(second.db());
    QVERIFY2(query.exec(QStringLiteral("SELECT count(*) FROM aux.items;")) && query.next(),
             qPrintable(query.lastError().text()));
    QCOMPARE(query.value(0).toInt(), 2);
    query.finish();
    QVERIFY(query.exec(QStringLiteral("INSERT INTO aux.items VALUES(3);")));
    QCOMPARE(sqlite3(auxPath, QStringLiteral("SELECT count(*) FROM items;")), QStringLiteral("3"));
}

void tst_BaseSqliteDbConnector::vacuumShrinksAnOpenDatabase()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb db(QStringLiteral("vacuum"), newPath(), &counter);
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });
    QSqlQuery query(db.db());
    QVERIFY(query.exec(QStringLiteral("CREATE TABLE blobs(x TEXT);")));
    QVERIFY(query.exec(QStringLiteral("CREATE INDEX bx ON blobs(x);")));
    QVERIFY(query.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                                      "INSERT INTO blobs SELECT printf('%.300d', i) FROM n;")));
    QVERIFY(query.exec(QStringLiteral("DELETE FROM blobs WHERE rowid > 10;")));
    query.finish();
    const qint64 before = QFileInfo(db.path).size();
    QVERIFY(db.vacuum());
    const qint64 after = QFileInfo(db.path).size();
    QVERIFY2(after < before / 4, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    QCOMPARE(sqlite3(db.path, QStringLiteral("PRAGMA integrity_check;")), QStringLiteral("ok"));
}

void tst_BaseSqliteDbConnector::vacuumFailures()
{
    QThreadStorage<int> &counter = newCounter();
    TestDb closed(QStringLiteral("vacuum"), newPath(), &counter);
    QTest::ignoreMessage(QtCriticalMsg, "DATABASE IS NOT OPEN");
    QVERIFY(!closed.vacuum());

    TestDb db(QStringLiteral("vacuum"), newPath(), &counter);
    db.init();
    const auto release = qScopeGuard([&] { db.release(); });
    QVERIFY(QSqlQuery(db.db()).exec(QStringLiteral("CREATE TABLE t(x);")));
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

void tst_BaseSqliteDbConnector::clearAllConnectionsSweepsByPrefix()
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
        for (TestDb *db : {&upper, &other})
            db->clearAllConnections();
    });
    QSqlDatabase auxHandle = shopAux.db();

    // A closed connection whose file was deleted is removed, not reopened
    // (which would create the file again).
    TestDb gone(QStringLiteral("shop"), newPath(), &otherCounter);
    gone.connectionSuffix = QStringLiteral("-gone");
    gone.init();
    QVERIFY(QSqlQuery(gone.db()).exec(QStringLiteral("CREATE TABLE t(x);")));
    gone.db().close();
    QVERIFY(QFile::remove(gone.path));

    // A thread that ended without releasing its connection.
    QString leftover;
    QThread *thread = QThread::create([&] {
        QThreadStorage<int> &threadCounter = newCounter();
        TestDb db(QStringLiteral("shop"), path, &threadCounter);
        db.init();
        leftover = db.connectionName();
    });
    thread->start();
    QVERIFY(thread->wait(10000));
    delete thread;
    QVERIFY(QSqlDatabase::contains(leftover));

    {
        MessageCapture capture; // Qt warns about the connection of the other thread
        shop.clearAllConnections();
    }
    QVERIFY(!auxHandle.isOpen());
    QVERIFY(!QFileInfo::exists(gone.path));
    QVERIFY(!QSqlDatabase::contains(gone.connectionName()));
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

QTEST_GUILESS_MAIN(tst_BaseSqliteDbConnector)
#include "tst_basesqlitedbconnector.moc"
