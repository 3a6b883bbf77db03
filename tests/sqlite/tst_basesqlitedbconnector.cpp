// BaseSqliteDbConnector on real database files: the version check with its
// hooks, shared connections, open options, the sweep of connections, and files
// that are damaged or that another process (the sqlite3 shell) holds locked,
// where every operation gives a clear result and the file is left as it was.
#include "testfiles.h"

#include <sqlite/basesqlitedbconnector.h>

#include <QProcess>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadStorage>

namespace {

const QString checking = QStringLiteral("Database checking error. Try restart the application");
const QString readRows = QStringLiteral("SELECT count(*), sum(length(payload)) FROM rows");

// Use counters live for the whole process, as a host keeps them: Qt hands the
// slot of a destroyed QThreadStorage to the next one, old values included.
QThreadStorage<int> &newCounter()
{
    static QThreadStorage<int> counters[64];
    static int used = 0;
    return counters[used++];
}

QString newPath(const QString &subdir = QStringLiteral("."))
{
    static QTemporaryDir dir;
    static int files = 0;
    return dir.filePath(subdir + QStringLiteral("/db%1.sqlite").arg(++files));
}

// Runs the sqlite3 shell on a file: its output, or a null string on failure.
QString sqlite3(const QString &file, const QString &sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file, sql});
    if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
        return QString();
    const QString output = QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
    return output.isNull() ? QStringLiteral("") : output;
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

// Collects every message while alive instead of printing it.
struct MessageCapture
{
    MessageCapture() : previous(qInstallMessageHandler(collect)) { messages.clear(); }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    static void collect(QtMsgType type, const QMessageLogContext &, const QString &text) { messages[type] << text; }
    static inline QMap<QtMsgType, QStringList> messages;
    QtMessageHandler previous;
};

enum Call { TwoArgs, NoUpgrade, Upgrades, UpgradeFails, UpgradeStaysOld };
enum class Repair { None, CreatesMetadata, Pretends, SetsError };

// Keeps its schema version in the table metadata(key, value); expects 3.
class TestDb : public BaseSqliteDbConnector
{
public:
    // Connectors meant to share a connection pass the same counter.
    TestDb(const QString &name, const QString &path, QThreadStorage<int> *counter = nullptr,
           ConnectionMode mode = ReadWriteMode)
        : BaseSqliteDbConnector(name, mode, counter ? counter : &newCounter()), path(path)
    {
    }

    QString path, pass;
    Call upgrade = Upgrades;
    Repair repair = Repair::None;
    QStringList calls; // the hooks called: "read", "update<from>", "repair<state>", "attach<open>"

    QString dbFilePath() override { return path; }
    QString connectionName() override { return name() + QString::number(quintptr(QThread::currentThreadId()), 16); }
    qint32 dbVersion() override { return 3; }

    // Runs statements separated by ";"; false at the first that fails.
    bool exec(const QString &statements)
    {
        QSqlQuery query(db());
        for (const QString &sql : statements.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!sql.trimmed().isEmpty() && !query.exec(sql))
                return false;
        }
        return true;
    }

protected:
    QString user() const override { return QStringLiteral("operator"); }
    QString password() const override { return pass; }

    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        calls << QStringLiteral("read");
        QSqlQuery query(db());
        state = query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'version'")) ? MetadataEmpty
                                                                                               : MetadataMissing;
        if (!query.next())
            return false;
        version = query.value(0).toInt();
        return true;
    }

    bool updateDb(qint32 fromVersion) override
    {
        calls << QStringLiteral("update%1").arg(fromVersion);
        return upgrade == UpgradeStaysOld || (upgrade == Upgrades && writeVersion());
    }

    bool processMetadataState(EMetadataState state, QString &error) override
    {
        calls << QStringLiteral("repair%1").arg(state);
        if (repair == Repair::SetsError)
            error = QStringLiteral("metadata locked by the service tool");
        return repair == Repair::Pretends || (repair == Repair::CreatesMetadata && writeVersion());
    }

    void attacheDatabases() override { calls << QStringLiteral("attach%1").arg(db().isOpen()); }

private:
    bool writeVersion()
    {
        return exec(QStringLiteral("CREATE TABLE IF NOT EXISTS metadata(key TEXT PRIMARY KEY, value TEXT);"
                                   "INSERT OR REPLACE INTO metadata VALUES('version', '3');"));
    }
};

} // namespace

class tst_BaseSqliteDbConnector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QSqlDatabase::isDriverAvailable("QSQLITE") && !sqlite3(newPath(), "SELECT 1;").isNull(),
                 "the QSQLITE driver or the sqlite3 shell is missing");
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
        const QString table = QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);");
        const QString v1 = table + "INSERT INTO metadata VALUES('version', '1');";
        const QString noMeta = QStringLiteral("CREATE TABLE t(x);");
        const auto row = [](const QByteArray &tag, const QString &setup, Call call, Repair repair, int result,
                            int version, const QString &error, const char *calls) {
            QTest::newRow(tag.constData()) << setup << int(call) << int(repair) << result << version << error
                                           << QString::fromLatin1(calls);
        };
        // Both variants share the checks before the version is read.
        row("no-path", "no-path", Upgrades, Repair::None, 1, -1, "Database name is empty", "");
        row("missing-file", "missing", Upgrades, Repair::None, 4, -1, QString(), "");
        row("empty-file", "empty", TwoArgs, Repair::None, 4, -1, QString(), "");
        row("equal", table + "INSERT INTO metadata VALUES('version', '3');", TwoArgs, Repair::None, 0, 3, {}, "read");
        row("newer", table + "INSERT INTO metadata VALUES('version', '4');", Upgrades, Repair::None, 3, 4,
            "The database requires a application update.", "read");
        // Without a repair the default gives up at once; the two-argument check never repairs.
        row("no-metadata/2", noMeta, TwoArgs, Repair::CreatesMetadata, 1, -1, checking, "read");
        row("no-metadata/3", noMeta, Upgrades, Repair::None, 1, -1, checking, "read repair1");
        row("older/2", v1, TwoArgs, Repair::None, 2, 1, "The database is too old.", "read");
        row("older/3-upgrade-works", v1, Upgrades, Repair::None, 0, 3, QString(), "read update1 read");
        row("older/3-upgrade-fails", v1, UpgradeFails, Repair::None, 1, 1, checking, "read update1");
        row("older/3-upgrade-stays-old", v1, UpgradeStaysOld, Repair::None, 1, 1, checking, "read update1 read");
        row("older/3-no-upgrade", v1, NoUpgrade, Repair::None, 1, 1, checking, "read");
        row("no-metadata/3-repaired", noMeta, Upgrades, Repair::CreatesMetadata, 0, 3, QString(), "read repair1 read");
        row("empty-metadata/3-repair-sets-error", table, Upgrades, Repair::SetsError, 1, -1,
            "metadata locked by the service tool", "read repair2");
        // A repair that never makes the version readable ends.
        row("no-metadata/3-repair-pretends", noMeta, Upgrades, Repair::Pretends, 1, -1, checking,
            "read repair1 read repair1 read repair1 read");
    }

    void checkVersion()
    {
        QFETCH(QString, setup);
        QFETCH(int, call);
        QFETCH(int, repair);
        const QString path = setup == QLatin1String("no-path") ? QString() : newPath();
        if (setup == QLatin1String("empty"))
            QVERIFY(writeFile(path, QByteArray()));
        else if (setup != QLatin1String("missing") && !path.isEmpty())
            QVERIFY(!sqlite3(path, setup).isNull());
        TestDb db(QStringLiteral("versions"), path);
        db.upgrade = Call(call);
        db.repair = Repair(repair);
        if (path.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, "Database name is empty");
        else
            db.init();
        if (Repair(repair) == Repair::Pretends)
            QTest::ignoreMessage(QtWarningMsg, "METADATA STILL UNREADABLE AFTER 3 REPAIRS");
        const auto release = qScopeGuard([&] { db.release(); });
        db.calls.clear();
        qint32 stored = -1;
        QString text;
        QTEST(int(call == TwoArgs ? db.checkVersion(stored, text) : db.checkVersion(stored, text, call != NoUpgrade)),
              "result");
        QTEST(int(stored), "version");
        QTEST(text, "error");
        QTEST(db.calls.join(QLatin1Char(' ')), "calls");
    }

    // Connectors of one database in one thread share its connection, counted; a release
    // without a count closes and removes it at once.
    void connectorsInOneThreadShareTheConnection()
    {
        QThreadStorage<int> &counter = newCounter();
        TestDb first(QStringLiteral("shared"), newPath(), &counter);
        TestDb second(QStringLiteral("shared"), first.path, &counter);
        const QString connection = first.connectionName();
        const auto hasMarker = [](TestDb &db) { return db.exec(QStringLiteral("SELECT * FROM marker;")); };
        first.init();
        // A temporary table lives in one connection only: seeing it proves the join.
        QVERIFY(first.exec(QStringLiteral("CREATE TEMP TABLE marker(x);")));
        second.init();
        second.init();
        QCOMPARE(counter.localData(), 3);
        QVERIFY(hasMarker(second));
        QCOMPARE(second.calls, QStringList({"attach1", "attach1"})); // the hook runs on a joined connection too
        MessageCapture capture; // Qt would warn if a released handle kept the connection in use
        second.release();
        second.release();
        QVERIFY(counter.localData() == 1 && !second.db().isValid() && hasMarker(first));
        first.release();
        QVERIFY(counter.localData() == 0 && !QSqlDatabase::contains(connection));
        QCOMPARE(MessageCapture::messages[QtWarningMsg], QStringList());
        first.init(); // a fresh connection
        QVERIFY(!hasMarker(first));
        first.release();
        QThreadStorage<int> &unused = newCounter();
        TestDb foreign(QStringLiteral("foreign"), newPath(), &unused);
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), foreign.connectionName());
        foreign.release();
        QVERIFY(!QSqlDatabase::contains(foreign.connectionName()) && !unused.hasLocalData());
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
        QVERIFY(first.exec(QStringLiteral("CREATE TABLE parent(id INTEGER PRIMARY KEY); INSERT INTO parent VALUES(1);"
                                          "CREATE TABLE child(p REFERENCES parent(id)); INSERT INTO child VALUES(1)")));
        TestDb *db = mode == -1 ? &second : mode == TestDb::ReadOnlyMode ? &readOnly : &first;
        if (mode == -1)
            first.db().close();
        db->init();
        const auto release = qScopeGuard([&] { db->release(); first.release(); });
        QTEST(db->db().connectOptions(), "options");
        const QString name = db->db().databaseName();
        QVERIFY2(mode ? name == first.path : name.startsWith("file://") && name.endsWith("?mode=ro&cache=private"),
                 qPrintable(name));
        QSqlQuery query(db->db());
        QVERIFY(query.exec(QStringLiteral("SELECT p FROM child;")) && query.next());
        query.finish();
        QVERIFY(!query.exec(QStringLiteral("INSERT INTO child VALUES(42);")));
        QVERIFY2(query.lastError().databaseText().contains(refusal), qPrintable(query.lastError().text()));
        const MessageCapture capture;
        QCOMPARE(db->vacuum(), mode != TestDb::ReadOnlyMode); // reindex and VACUUM
        QCOMPARE(sqlite3(first.path, QStringLiteral("PRAGMA integrity_check; SELECT group_concat(p) FROM child;")),
                 QStringLiteral("ok\n1"));
    }

    // Every connection whose name starts with the database name goes, also those of other threads;
    // one whose file was deleted is not reopened (which would make the file again).
    void clearAllConnectionsSweepsByPrefix()
    {
        const QString path = newPath();
        QThreadStorage<int> &counter = newCounter(), &others = newCounter();
        TestDb shop(QStringLiteral("shop"), path, &counter), shopping(QStringLiteral("shopping"), path, &others),
            upper(QStringLiteral("Shop"), path, &others), other(QStringLiteral("other"), path, &others),
            gone(QStringLiteral("shop-gone"), newPath(), &others);
        for (TestDb *db : {&shop, &shopping, &upper, &other, &gone})
            db->init();
        const auto cleanup = qScopeGuard([&] { upper.clearAllConnections(); other.clearAllConnections(); });
        QSqlDatabase shoppingHandle = shopping.db();
        QVERIFY(gone.exec(QStringLiteral("CREATE TABLE t(x);")));
        gone.db().close();
        QVERIFY(QFile::remove(gone.path));
        QScopedPointer<QThread> thread(QThread::create([&] { TestDb(QStringLiteral("shop"), path).init(); }));
        thread->start(); // ends without releasing its connection
        QVERIFY(thread->wait(10000));
        {
            MessageCapture capture; // Qt warns about the connection of the other thread
            shop.clearAllConnections();
        }
        QVERIFY(!shoppingHandle.isOpen() && !QFileInfo::exists(gone.path) && counter.localData() == 0);
        QStringList remaining = QSqlDatabase::connectionNames();
        remaining.sort();
        QCOMPARE(remaining, (QStringList{upper.connectionName(), other.connectionName()}));
    }

    // --- bad files ---

    void damagedFile_data()
    {
        QTest::addColumn<QString>("content"); // "sql:..." for the sqlite3 shell, "truncated:<percent>:<bytes>"
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("openError"); // the SQL error of a refused open; empty: may open
        const QString garbage = QStringLiteral("this is not a database file. ").repeated(150);
        QTest::newRow("not-a-database") << garbage << false << "s3cret!" << "file is not a database";
        QTest::newRow("damaged-schema") << "sql:CREATE TABLE t(x); PRAGMA writable_schema=ON; "
                                           "UPDATE sqlite_master SET sql='CREATE TABLE t(x' WHERE name='t';"
                                        << false << QString() << "malformed database schema (t) - incomplete input";
        QTest::newRow("missing/read-only") << QString() << true << "pw" << "unable to open database file";
        QTest::newRow("truncated/first-page") << "truncated:0:4096" << false << QString() << QString();
        QTest::newRow("truncated/half") << "truncated:50:0" << false << QString() << QString();
        QTest::newRow("truncated/all-but-one-page") << "truncated:100:-4096" << false << QString() << QString();
    }

    void damagedFile()
    {
        QFETCH(QString, content);
        QFETCH(bool, readOnly);
        QFETCH(QString, password);
        QFETCH(QString, openError);
        QString path = newPath();
        if (content.startsWith(QLatin1String("truncated:"))) {
            QFile file(path = createDatabase());
            QVERIFY(file.size() > 100000);
            const int percent = content.section(':', 1, 1).toInt(), bytes = content.section(':', 2).toInt();
            QVERIFY(file.resize(file.size() * percent / 100 + bytes));
        } else if (content.startsWith(QLatin1String("sql:"))) {
            QVERIFY(!sqlite3(path, content.mid(4)).isNull());
        } else if (!content.isNull()) {
            QVERIFY(writeFile(path, content.toUtf8()));
        }
        const QByteArray before = readFile(path);
        QThreadStorage<int> &counter = newCounter();
        TestDb db(QStringLiteral("broken"), path, &counter, readOnly ? TestDb::ReadOnlyMode : TestDb::ReadWriteMode);
        db.pass = password;
        const MessageCapture capture;
        db.init();
        const QString tab = QLatin1Char('\n') + QString(15, QLatin1Char(' '));
        const QStringList parts{QStringLiteral("\"Database {"), "localhost:0//" + db.db().databaseName(),
                                QStringLiteral("operator"), password.isEmpty() ? QString() : QStringLiteral("***"),
                                QStringLiteral("QSQLITE"), QStringLiteral("} opening error: ")};
        if (!openError.isEmpty()) { // the whole message, the password masked
            const QString refused = parts.join(tab).insert(1, tab) + tab + openError + '"';
            QCOMPARE(MessageCapture::messages[QtCriticalMsg], QStringList{refused});
            QCOMPARE(db.calls, QStringList{"attach0"}); // the hook runs after a failed open too
            QCOMPARE(counter.localData(), 1); // and the user is counted
        } else if (!db.db().isOpen()) { // found damaged when opened
            QVERIFY(MessageCapture::messages[QtCriticalMsg].value(0).startsWith(parts.join(tab).insert(1, tab)));
        }
        qint32 version = 0;
        QString error;
        const BaseSqliteDbConnector::EDbVersionState state = db.checkVersion(version, error, false);
        if (state == BaseSqliteDbConnector::VersionOk) // the schema and the metadata survived; the rows did not
            QVERIFY(db.db().isOpen() && !db.exec(readRows));
        else
            QVERIFY(state == BaseSqliteDbConnector::DatabaseMissing || !error.isEmpty());
        QVERIFY(!db.vacuum());
        db.release();
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QCOMPARE(QFile::exists(path), !content.isNull()); // read-only never makes the file
        QCOMPARE(readFile(path), before);
    }

    void locked_data()
    {
        QTest::addColumn<QByteArray>("holder"); // the shell's commands after it has taken the lock
        QTest::addColumn<bool>("openWaits");
        QTest::newRow("at-open-ends-within-timeout") << QByteArray(".shell sleep 0.3\nCOMMIT;\n") << true;
        QTest::newRow("at-open-outlasts-timeout") << QByteArray() << true;
        QTest::newRow("after-open") << QByteArray() << false;
    }

    // A connection opened while another process holds the file waits for the lock (the busy
    // timeout) and opens once it is given up; one that the lock outlasts stays open, with a
    // warning. While the lock lasts, the version check, reads, writes and VACUUM fail; once it
    // ends, the same connection works.
    void locked()
    {
        QFETCH(QByteArray, holder);
        QFETCH(bool, openWaits);
        const QString path = createDatabase();
        const MessageCapture capture;
        TestDb db(QStringLiteral("locked"), path);
        if (holder.isEmpty()) // a registered connection is opened as it stands: not 10 s
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db.connectionName())
                .setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
        if (!openWaits)
            db.init();
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {path});
        shell.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n" + holder);
        QVERIFY(shell.waitForReadyRead(10000) && shell.readLine() == "locked\n");
        const auto stop = qScopeGuard([&] { shell.kill(); shell.waitForFinished(); });
        if (openWaits)
            db.init();
        QVERIFY2(db.db().isOpen(), qPrintable(MessageCapture::messages[QtCriticalMsg].join('\n')));
        const bool warned = MessageCapture::messages[QtWarningMsg].join(QString()).contains("locked");
        QCOMPARE(warned, openWaits && holder.isEmpty());
        qint32 version = 0;
        QString error;
        if (!openWaits) {
            QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionCheckError);
            QVERIFY(!error.isEmpty() && !db.exec(readRows) && !db.vacuum());
            QVERIFY(!db.exec(QStringLiteral("INSERT INTO rows(payload) VALUES('x')")));
        }
        shell.write("COMMIT;\nSELECT 'released';\n");
        QVERIFY(shell.waitForReadyRead(10000));
        QCOMPARE(db.checkVersion(version, error, true), BaseSqliteDbConnector::VersionOk);
        QVERIFY(db.exec(QStringLiteral("INSERT INTO rows(payload) VALUES('x')")) && db.exec(readRows));
        db.release();
    }
};

QTEST_GUILESS_MAIN(tst_BaseSqliteDbConnector)
#include "tst_basesqlitedbconnector.moc"
