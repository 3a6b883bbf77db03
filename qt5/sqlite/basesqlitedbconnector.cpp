#include "basesqlitedbconnector.h"
#include "basesqlitedbconnector_p.h"

#include <logger/loglist.h>
#include <qsettingsext/dircreator.h>

#include <QDebug>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

namespace {
QString objectNameFor(const QString &name, bool readOnly)
{
    const QThread *thread = QThread::currentThread();
    return name
           + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16)
           + (thread ? thread->objectName() : QStringLiteral("========"))
           + (readOnly ? QStringLiteral("-RO") : QStringLiteral("-RW"));
}

// True when SQLite's result code says the file itself cannot be read as a
// database: SQLITE_CORRUPT (11, a damaged schema) or SQLITE_NOTADB (26). The
// driver reports the code as text; extended codes keep it in the low byte.
bool isUnreadableFile(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 11 || code == 26);
}
} // namespace

BaseSqliteDbConnectorPrivate::BaseSqliteDbConnectorPrivate(BaseSqliteDbConnector *q,
                                                           const QString &name, bool readOnly,
                                                           QThreadStorage<int> *useCounter)
    : q_ptr(q), readOnly(readOnly), name(name), useCounter(useCounter)
{
}

// Opens the (registered, closed) connection on `path`. Returns whether it is
// open and usable afterwards.
bool BaseSqliteDbConnectorPrivate::openConnection(const QString &path)
{
    Q_Q(BaseSqliteDbConnector);
    QString databaseName = path;
    if (readOnly) {
        QUrl url;
        url.setPath(path, QUrl::DecodedMode);
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("mode"), QStringLiteral("ro"));
        query.addQueryItem(QStringLiteral("cache"), QStringLiteral("private"));
        url.setQuery(query);
        url.setScheme(QStringLiteral("file"));
        databaseName = url.toString();
    }
    database.setDatabaseName(databaseName);
    database.setHostName(q->host());
    database.setPort(q->port());
    database.setUserName(q->user());
    database.setPassword(q->password());

    if (!database.open()) {
        logOpenError(database.lastError());
        return false;
    }

    QSqlQuery pragma(database);
    pragma.exec(QStringLiteral("PRAGMA foreign_keys = true;"));
    if (pragma.lastError().isValid())
        qWarning() << pragma.lastError();

    // SQLite opens any file lazily: a file that is not a database, or whose
    // schema is damaged, only fails on its first statement. Read the schema
    // now so such a file takes the open error path instead of surfacing
    // later as odd query failures. Any other failure (a file still locked
    // after the busy timeout, one that attacheDatabases() has yet to make
    // readable) says nothing about the file: the connection stays open.
    QSqlQuery probe(database);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master;"))) {
        const QSqlError error = probe.lastError();
        if (!isUnreadableFile(error)) {
            qWarning() << error;
            return true;
        }
        probe.finish();
        pragma.finish();
        database.close();
        logOpenError(error);
        return false;
    }
    return true;
}

void BaseSqliteDbConnectorPrivate::logOpenError(const QSqlError &error) const
{
    // The layout stays that of every open error; the password itself never
    // reaches a log.
    const QString password = database.password().isEmpty() ? QString() : QStringLiteral("***");
    qCritical().nospace() << loglist(
        QStringList { QStringLiteral("Database {"),
                      database.hostName() + QLatin1Char(':') + QString::number(database.port())
                          + QStringLiteral("//") + database.databaseName(),
                      database.userName(), password, database.driverName(),
                      QStringLiteral("} opening error: "), error.databaseText() });
}

BaseSqliteDbConnector::EDbVersionState
BaseSqliteDbConnectorPrivate::checkVersion(qint32 &version, QString &error,
                                           std::optional<bool> upgrade)
{
    Q_Q(BaseSqliteDbConnector);
    using Connector = BaseSqliteDbConnector;
    const QString path = q->dbFilePath();
    if (path.isEmpty()) {
        error = Connector::tr("Database name is empty");
        qCritical().noquote() << error;
        return Connector::VersionCheckError;
    }
    const QFileInfo file(path);
    if (!file.exists() || file.size() == 0)
        return Connector::DatabaseMissing;

    Connector::EMetadataState state = Connector::MetadataOk;
    if (!q->readDbVersion(version, state)) {
        // A subclass that reports a repair without making the version
        // readable would otherwise send the check round for ever.
        if (upgrade && metadataRepairs < Connector::MaxMetadataRepairs) {
            if (q->processMetadataState(state, error)) {
                ++metadataRepairs;
                const auto done = qScopeGuard([this] { --metadataRepairs; });
                return q->checkVersion(version, error, *upgrade);
            }
        } else if (upgrade) {
            qWarning("METADATA STILL UNREADABLE AFTER %d REPAIRS", Connector::MaxMetadataRepairs);
        }
        if (error.isEmpty())
            error = Connector::tr("Database checking error. Try restart the application");
        return Connector::VersionCheckError;
    }

    const qint32 expected = q->dbVersion();
    if (version == expected)
        return Connector::VersionOk;
    if (version > expected) {
        error = Connector::tr("The database requires a application update.");
        return Connector::VersionTooNew;
    }
    if (!upgrade) {
        error = Connector::tr("The database is too old.");
        return Connector::VersionTooOld;
    }
    if (*upgrade && q->updateDb(version))
        return q->checkVersion(version, error, false);
    error = Connector::tr("Database checking error. Try restart the application");
    return Connector::VersionCheckError;
}

BaseSqliteDbConnector::BaseSqliteDbConnector(const QString &name, QThreadStorage<int> *useCounter,
                                             QObject *parent)
    : BaseSqliteDbConnector(name, ReadWriteMode, useCounter, parent)
{
}

BaseSqliteDbConnector::BaseSqliteDbConnector(const QString &name, ConnectionMode mode,
                                             QThreadStorage<int> *useCounter, QObject *parent)
    : QObject(parent),
      d_ptr(new BaseSqliteDbConnectorPrivate(this, name, mode == ReadOnlyMode, useCounter))
{
    setObjectName(objectNameFor(name, mode == ReadOnlyMode));
}

BaseSqliteDbConnector::~BaseSqliteDbConnector() = default;

QString BaseSqliteDbConnector::name() const
{
    Q_D(const BaseSqliteDbConnector);
    return d->name;
}

bool BaseSqliteDbConnector::isReadOnly() const
{
    Q_D(const BaseSqliteDbConnector);
    return d->readOnly;
}

QSqlDatabase &BaseSqliteDbConnector::db()
{
    Q_D(BaseSqliteDbConnector);
    return d->database;
}

QSqlDatabase BaseSqliteDbConnector::db() const
{
    Q_D(const BaseSqliteDbConnector);
    return d->database;
}

void BaseSqliteDbConnector::clearAllConnections()
{
    Q_D(BaseSqliteDbConnector);
    release();
    if (d->name.isEmpty())
        return;
    const QStringList names = QSqlDatabase::connectionNames();
    for (const QString &connection : names) {
        if (!connection.startsWith(d->name, Qt::CaseSensitive))
            continue;
        {
            // Not opened on the way: reopening a closed connection only to
            // close it again could create a database file that was deleted.
            QSqlDatabase database = QSqlDatabase::database(connection, false);
            if (database.isOpen())
                database.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }
}

bool BaseSqliteDbConnector::vacuum() const
{
    Q_D(const BaseSqliteDbConnector);
    if (!d->database.isOpen()) {
        qCritical("DATABASE IS NOT OPEN");
        return false;
    }
    QSqlQuery query(d->database);
    for (const QString &statement : {QStringLiteral("reindex;"), QStringLiteral("VACUUM;")}) {
        if (!query.exec(statement)) {
            qCritical() << query.lastQuery() << query.lastError();
            return false;
        }
    }
    return true;
}

BaseSqliteDbConnector::EDbVersionState
BaseSqliteDbConnector::checkVersion(qint32 &version, QString &error, bool upgrade)
{
    Q_D(BaseSqliteDbConnector);
    return d->checkVersion(version, error, upgrade);
}

BaseSqliteDbConnector::EDbVersionState BaseSqliteDbConnector::checkVersion(qint32 &version,
                                                                           QString &error)
{
    Q_D(BaseSqliteDbConnector);
    return d->checkVersion(version, error, std::nullopt);
}

void BaseSqliteDbConnector::init()
{
    Q_D(BaseSqliteDbConnector);
    const QString path = dbFilePath();
    if (!DirCreator::checkAndCreate(QFileInfo(path).absolutePath(), DirCreator::DEFAULT_ALL)) {
        qCritical().noquote() << QStringLiteral("Can't create the database directory");
        return;
    }

    const QString connection = connectionName();
    if (QSqlDatabase::contains(connection)) {
        // Joined without opening: a connection that is closed (an earlier
        // open failed, or someone closed it) is opened below, with the
        // foreign-key pragma and the checks of a first open.
        d->database = QSqlDatabase::database(connection, false);
    } else {
        d->database = QSqlDatabase::addDatabase(driver(), connection);
        QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
        if (d->readOnly)
            options += QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
        d->database.setConnectOptions(options);
    }

    if (!d->database.isOpen())
        d->openConnection(path);

    attacheDatabases();

    ++d->ownUses;
    if (d->useCounter) {
        if (!d->useCounter->hasLocalData())
            d->useCounter->setLocalData(1);
        else
            d->useCounter->setLocalData(d->useCounter->localData() + 1);
    }
}

void BaseSqliteDbConnector::release()
{
    Q_D(BaseSqliteDbConnector);
    if (d->ownUses > 0)
        --d->ownUses;
    if (d->useCounter && d->useCounter->hasLocalData()) {
        int &count = d->useCounter->localData();
        if (count > 0) {
            --count;
            if (count > 0) {
                // Others keep the connection. This object lets go of its
                // handle once it has released every init() of its own, so
                // the last user can remove the connection without Qt
                // finding it still referenced.
                if (d->ownUses == 0)
                    d->database = QSqlDatabase();
                return;
            }
        }
        count = 0;
    }
    if (d->database.isOpen())
        d->database.close();
    d->database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName());
}

void BaseSqliteDbConnector::attacheDatabases()
{
}

QString BaseSqliteDbConnector::driver() const
{
    return QStringLiteral("QSQLITE");
}

QString BaseSqliteDbConnector::host() const
{
    return QStringLiteral("localhost");
}

int BaseSqliteDbConnector::port() const
{
    return 0;
}

QString BaseSqliteDbConnector::user() const
{
    return QString();
}

QString BaseSqliteDbConnector::password() const
{
    return QString();
}

bool BaseSqliteDbConnector::processMetadataState(EMetadataState, QString &)
{
    return false;
}
