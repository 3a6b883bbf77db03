#ifndef ORVEL_TESTS_SQLITETESTDB_H
#define ORVEL_TESTS_SQLITETESTDB_H

// Shared by the SQLite tests: a connector subclass with switchable upgrade
// and repair behaviour, a message capture and the sqlite3 shell.

#include <sqlite/basesqlitedbconnector.h>

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QThreadStorage>
#include <QDebug>
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

inline QString threadHex()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Runs the sqlite3 shell on a file: its output, or a null string on failure.
inline QString sqlite3(const QString &file, const QString &sql)
{
    QProcess shell;
    shell.start(QStandardPaths::findExecutable(QStringLiteral("sqlite3")), {QStringLiteral("-batch"), file, sql});
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
    qint32 expected = 3;
    Upgrade upgradeMode = Upgrade::Works;
    Repair repairMode = Repair::None;
    QString userName;
    QString pass;

    int reads = 0;
    int updates = 0;
    int repairs = 0;
    QList<bool> attachedWhileOpen; // one entry per call of the hook
    QList<qint32> updatedFrom;
    EMetadataState lastState = MetadataOk;

    QString dbFilePath() override { return path; }
    QString connectionName() override { return name() + QLatin1Char('-') + threadHex() + connectionSuffix; }
    qint32 dbVersion() override { return expected; }

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
    QString user() const override { return userName; }
    QString password() const override { return pass; }

    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        ++reads;
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
        if (ok)
            version = stored;
        return ok;
    }

    bool updateDb(qint32 fromVersion) override
    {
        ++updates;
        updatedFrom << fromVersion;
        return upgradeMode == Upgrade::StaysOld || (upgradeMode == Upgrade::Works && writeVersion(expected));
    }

    bool processMetadataState(EMetadataState state, QString &error) override
    {
        ++repairs;
        lastState = state;
        switch (repairMode) {
        case Repair::CreatesMetadata:
            return writeVersion(expected);
        case Repair::CreatesOldMetadata:
            return writeVersion(expected - 2);
        case Repair::Pretends:
            return true;
        case Repair::SetsError:
            error = QStringLiteral("metadata locked by the service tool");
            return false;
        case Repair::None:
            break;
        }
        return false;
    }

    void attacheDatabases() override { attachedWhileOpen << db().isOpen(); }

private:
    bool writeVersion(qint32 version)
    {
        return exec(QStringLiteral("CREATE TABLE IF NOT EXISTS metadata(key TEXT PRIMARY KEY, value TEXT);"
                                   "INSERT OR REPLACE INTO metadata VALUES('version', '%1');").arg(version));
    }
};

#endif // ORVEL_TESTS_SQLITETESTDB_H
