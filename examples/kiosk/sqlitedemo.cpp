// SQLite: the kiosk keeps a small table of events in a database file through
// a connector that checks the schema version and upgrades an older file.

#include "demos.h"

#include <orvelextlib.h>

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadStorage>

namespace {

// One use counter per database, kept for the life of the process.
QThreadStorage<int> &eventsCounter()
{
    static auto *counter = new QThreadStorage<int>;
    return *counter;
}

// Schema 1: events(id, at, text). Schema 2 adds events.level. The version
// lives in metadata(key, value) under the key "schema".
class EventsDb : public BaseSqliteDbConnector
{
public:
    EventsDb(const QString &path, qint32 schema)
        : BaseSqliteDbConnector(QStringLiteral("events"), &eventsCounter()), m_path(path), m_schema(schema)
    {
    }

    QString dbFilePath() override { return m_path; }
    QString connectionName() override
    {
        return name() + QLatin1Char('-')
               + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
    }
    qint32 dbVersion() override { return m_schema; }

    bool create()
    {
        QSqlQuery query(db());
        bool ok = query.exec(QStringLiteral("CREATE TABLE metadata(key TEXT PRIMARY KEY, value TEXT);"))
                  && query.exec(QStringLiteral("CREATE TABLE events(id INTEGER PRIMARY KEY, at TEXT, text TEXT);"))
                  && query.exec(QStringLiteral("INSERT INTO metadata VALUES('schema', '1');"));
        return ok && (m_schema == 1 || updateDb(1));
    }

    bool record(const QString &text, const QString &level = QString())
    {
        QSqlQuery query(db());
        query.prepare(m_schema >= 2 ? QStringLiteral("INSERT INTO events(at, text, level) VALUES(datetime('now'), ?, ?);")
                                    : QStringLiteral("INSERT INTO events(at, text) VALUES(datetime('now'), ?);"));
        query.addBindValue(text);
        if (m_schema >= 2)
            query.addBindValue(level);
        return query.exec();
    }

protected:
    bool readDbVersion(qint32 &version, EMetadataState &state) override
    {
        QSqlQuery query(db());
        if (!query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'schema';"))) {
            state = MetadataMissing;
            return false;
        }
        if (!query.next()) {
            state = MetadataEmpty;
            return false;
        }
        bool ok = false;
        version = query.value(0).toString().toInt(&ok);
        state = ok ? MetadataOk : MetadataCorrupted;
        return ok;
    }

    bool updateDb(qint32 fromVersion) override
    {
        if (fromVersion != 1)
            return false;
        db().transaction();
        QSqlQuery query(db());
        const bool ok = query.exec(QStringLiteral("ALTER TABLE events ADD COLUMN level TEXT NOT NULL DEFAULT 'info';"))
                        && query.exec(QStringLiteral("UPDATE metadata SET value = '2' WHERE key = 'schema';"));
        query.finish();
        return ok ? db().commit() : (db().rollback(), false);
    }

private:
    QString m_path;
    qint32 m_schema;
};

} // namespace

bool demoSqlite(DemoContext &ctx)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        ctx.out << "   skipped: the Qt SQLite driver (QSQLITE) is not installed" << Qt::endl;
        return true;
    }
    const QString path = QDir(ctx.workDir).filePath(QStringLiteral("sqlite/events.db"));
    qint32 version = 0;
    QString error;

    {
        // What an older kiosk did on its first start: schema 1.
        EventsDb old(path, 1);
        old.init();
        if (old.checkVersion(version, error, true) == BaseSqliteDbConnector::DatabaseMissing) {
            if (!old.create() || !old.record(QStringLiteral("kiosk installed"))) {
                old.release();
                return false;
            }
            ctx.out << "   " << QDir(ctx.workDir).relativeFilePath(path)
                    << " missing: created by the old kiosk with schema version 1" << Qt::endl;
        }
        old.release();
    }

    EventsDb db(path, 2);
    db.init();
    const auto state = db.checkVersion(version, error);
    if (state == BaseSqliteDbConnector::VersionTooOld) {
        ctx.out << "   stored schema " << version << ", this kiosk expects 2: " << error << Qt::endl;
        if (db.checkVersion(version, error, true) != BaseSqliteDbConnector::VersionOk) {
            ctx.out << "   upgrade failed: " << error << Qt::endl;
            db.release();
            return false;
        }
        ctx.out << "   upgraded to schema " << version << " (events gained a \"level\" column)" << Qt::endl;
    } else if (state == BaseSqliteDbConnector::VersionOk) {
        ctx.out << "   stored schema " << version << ": up to date" << Qt::endl;
    } else {
        ctx.out << "   version check gave " << state << ": " << error << Qt::endl;
        db.release();
        return false;
    }

    const bool recorded = db.record(QStringLiteral("door opened"), QStringLiteral("info"))
                          && db.record(QStringLiteral("paper low"), QStringLiteral("warning"))
                          && db.record(QStringLiteral("receipt printed"), QStringLiteral("info"));
    QSqlQuery query(db.db());
    query.exec(QStringLiteral("SELECT count(*) FROM events;"));
    query.next();
    ctx.out << "   recorded 3 events; the table holds " << query.value(0).toInt() << Qt::endl;
    query.exec(QStringLiteral("SELECT id, level, text FROM events ORDER BY id DESC LIMIT 4;"));
    while (query.next())
        ctx.out << "     #" << query.value(0).toInt() << " " << query.value(1).toString() << ": "
                << query.value(2).toString() << Qt::endl;
    query.finish();
    const bool vacuumed = db.vacuum();
    ctx.out << "   reindex and vacuum: " << (vacuumed ? "done" : "failed") << Qt::endl;
    db.release();
    ctx.out << "   connection " << (QSqlDatabase::contains(db.connectionName()) ? "still open" : "closed and removed")
            << Qt::endl;
    return recorded && vacuumed;
}
