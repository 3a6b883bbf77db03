#ifndef ORVEL_TESTS_SQLITETESTDB_H
#define ORVEL_TESTS_SQLITETESTDB_H

// Shared by the SQLite tests: a connector with switchable upgrade and repair
// that logs its hook calls, a message capture, the sqlite3 shell and numbered
// database files in a temporary directory.

#include "testfiles.h"

#include <sqlite/basesqlitedbconnector.h>

#include <QMap>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadStorage>
#include <QVariant>

// Use counters live for the whole process, as a host keeps them: Qt hands the
// slot of a destroyed QThreadStorage to the next one, old values included.
inline QThreadStorage<int> &newCounter()
{
    static QThreadStorage<int> counters[256];
    static QAtomicInt used;
    const int next = used.fetchAndAddRelaxed(1);
    Q_ASSERT(next < 256);
    return counters[next];
}

inline QString threadHex() { return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16); }

inline QString sqlite3Shell() { return QStandardPaths::findExecutable(QStringLiteral("sqlite3")); }

// A new file name in the program's temporary directory, below `subdir` if given.
inline QString newPath(const QString &subdir = QString())
{
    static QTemporaryDir dir;
    static int files = 0;
    return dir.filePath((subdir.isEmpty() ? subdir : subdir + QLatin1Char('/')) + QStringLiteral("db%1.sqlite").arg(++files));
}


// Runs the sqlite3 shell on a file: its output, or a null string on failure.
inline QString sqlite3(const QString &file, const QString &sql)
{
    QProcess shell;
    shell.start(sqlite3Shell(), {QStringLiteral("-batch"), file, sql});
    if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
        return QString();
    const QString output = QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
    return output.isNull() ? QStringLiteral("") : output;
}

// Collects every message while alive instead of printing it.
class MessageCapture
{
public:
    MessageCapture() : m_previous(qInstallMessageHandler(collect)) { s_messages.clear(); }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    static QStringList messages(QtMsgType type) { return s_messages.value(type); }

private:
    static void collect(QtMsgType type, const QMessageLogContext &, const QString &text) { s_messages[type] << text; }
    static inline QMap<QtMsgType, QStringList> s_messages;
    QtMessageHandler m_previous;
};

enum class Upgrade { Works, Fails, StaysOld };
enum class Repair { None, CreatesMetadata, CreatesOldMetadata, Pretends, SetsError };

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

    QString path;
    QString connectionSuffix;
    Upgrade upgradeMode = Upgrade::Works;
    Repair repairMode = Repair::None;
    QString pass;
    // The hooks called: "read", "update<from>", "repair<state>", "attach<open>".
    QStringList calls;

    QString dbFilePath() override { return path; }
    QString connectionName() override { return name() + QLatin1Char('-') + threadHex() + connectionSuffix; }
    qint32 dbVersion() override { return 3; }

    // Runs statements separated by ";"; false at the first that fails.
    bool exec(const QString &statements)
    {
        QSqlQuery query(db());
        for (const QString &sql : statements.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!sql.trimmed().isEmpty() && !query.exec(sql))
                return false;
        return true;
    }

protected:
    QString user() const override { return QStringLiteral("operator"); }
    QString password() const override { return pass; }

    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        calls << QStringLiteral("read");
        QSqlQuery query(db());
        state = MetadataMissing;
        if (!db().isOpen() || !query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'version'")))
            return false;
        state = MetadataEmpty;
        if (!query.next())
            return false;
        bool ok = false;
        const qint32 stored = query.value(0).toString().toInt(&ok);
        state = ok ? MetadataOk : MetadataCorrupted;
        version = ok ? stored : version;
        return ok;
    }

    bool updateDb(qint32 fromVersion) override
    {
        calls << QStringLiteral("update%1").arg(fromVersion);
        return upgradeMode == Upgrade::StaysOld || (upgradeMode == Upgrade::Works && writeVersion(3));
    }

    bool processMetadataState(EMetadataState state, QString &error) override
    {
        calls << QStringLiteral("repair%1").arg(state);
        if (repairMode == Repair::SetsError)
            error = QStringLiteral("metadata locked by the service tool");
        return repairMode == Repair::Pretends || (repairMode == Repair::CreatesMetadata && writeVersion(3))
               || (repairMode == Repair::CreatesOldMetadata && writeVersion(1));
    }

    void attacheDatabases() override { calls << QStringLiteral("attach%1").arg(db().isOpen()); }

private:
    bool writeVersion(qint32 version)
    {
        return exec(QStringLiteral("CREATE TABLE IF NOT EXISTS metadata(key TEXT PRIMARY KEY, value TEXT);"
                                   "INSERT OR REPLACE INTO metadata VALUES('version', '%1');").arg(version));
    }
};

#endif // ORVEL_TESTS_SQLITETESTDB_H
