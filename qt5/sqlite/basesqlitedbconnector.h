#ifndef ORVELEXTLIB_BASESQLITEDBCONNECTOR_H
#define ORVELEXTLIB_BASESQLITEDBCONNECTOR_H

#include <orvelextlib_export.h>

#include <QObject>
#include <QScopedPointer>
#include <QSqlDatabase>
#include <QString>
#include <QThreadStorage>

class BaseSqliteDbConnectorPrivate;

/// The base of an application's access object for one SQLite database file.
///
/// Each thread gets one Qt SQL connection per database (named by
/// connectionName(), which must differ per thread and start with the database
/// name). Connectors of one database in one thread share that connection: the
/// first init() opens it, later ones join it, and the last release() closes
/// and removes it. The count of users lives in the caller-supplied
/// QThreadStorage<int>, so connectors that share a connection must share that
/// storage object. Keep it for the life of the process: Qt hands the slot of
/// a destroyed QThreadStorage, with the values still in it, to the next one.
///
/// A connector is used in the thread that calls init(). Subclasses supply the
/// file path, the connection name, how the stored schema version is read and
/// upgraded, and the version the application expects.
class ORVELEXTLIB_EXPORT BaseSqliteDbConnector : public QObject
{
    Q_OBJECT
public:
    /// How the connection opens the file.
    enum ConnectionMode : int {
        ReadOnlyMode = 0, ///< read-only, through an SQLite URI (mode=ro, cache=private)
        ReadWriteMode = 1 ///< any value other than ReadOnlyMode means read-write
    };
    Q_ENUM(ConnectionMode)

    /// Result of checkVersion().
    enum EDbVersionState : int {
        VersionOk = 0,         ///< stored version equals the expected one
        VersionCheckError = 1, ///< the check or an upgrade failed
        VersionTooOld = 2,     ///< stored version lower (two-argument check only)
        VersionTooNew = 3,     ///< stored version higher than expected
        DatabaseMissing = 4    ///< the file does not exist or is empty
    };
    Q_ENUM(EDbVersionState)

    /// Why readDbVersion() could not read the version. Produced by the
    /// subclass's readDbVersion() and handed back to its
    /// processMetadataState(); this class never looks at the value. A
    /// subclass may use its own values from MetadataUserState upwards.
    enum EMetadataState : int {
        MetadataOk = 0, ///< read fine
        MetadataMissing = 1, ///< no metadata at all (e.g. the table is absent)
        MetadataEmpty = 2, ///< metadata present but no version stored
        MetadataCorrupted = 3, ///< version present but not readable
        MetadataUserState = 0x100 ///< the first value for a subclass's own states
    };
    Q_ENUM(EMetadataState)

    /// How often one checkVersion(version, error, upgrade) call lets
    /// processMetadataState() repair the metadata and tries again; after that
    /// the check gives VersionCheckError.
    static constexpr int MaxMetadataRepairs = 3;

    /// Read-write connector. No connection is made until init().
    BaseSqliteDbConnector(const QString &name, QThreadStorage<int> *useCounter,
                          QObject *parent = nullptr);
    /// Read-only when `mode` is ReadOnlyMode, read-write otherwise.
    BaseSqliteDbConnector(const QString &name, ConnectionMode mode,
                          QThreadStorage<int> *useCounter, QObject *parent = nullptr);
    /// Neither closes nor removes the connection: call release() first.
    ~BaseSqliteDbConnector() override;

    /// The database name given to the constructor.
    QString name() const;
    /// True when constructed with ReadOnlyMode.
    bool isReadOnly() const;

    /// The connection of this object; invalid before init() and after release().
    ///@{
    virtual QSqlDatabase &db();
    virtual QSqlDatabase db() const;
    ///@}

    /// release(), then closes and removes every registered connection whose
    /// name starts with name() (case-sensitive), in every thread. Only safe
    /// when no other thread still uses those connections.
    virtual void clearAllConnections();

    /// Rebuilds the indexes and vacuums the main database. False (and a
    /// critical message) when the connection is not open or a statement fails.
    virtual bool vacuum() const;

    /// Checks the stored version against dbVersion(); with `upgrade` an older
    /// database is upgraded by updateDb() and checked once more. Never gives
    /// VersionTooOld. When readDbVersion() fails, processMetadataState() may
    /// repair the metadata and the check starts again, at most
    /// MaxMetadataRepairs times per call. `error` receives a translated text
    /// on failure. The connection must have been opened with init().
    virtual EDbVersionState checkVersion(qint32 &version, QString &error, bool upgrade);
    /// Checks the stored version against dbVersion() without changing anything.
    virtual EDbVersionState checkVersion(qint32 &version, QString &error);

    /// Opens the connection of the calling thread or joins the one another
    /// connector of this database opened in this thread, then calls
    /// attacheDatabases() and counts this user. A failed open, a file that is
    /// not a database or a damaged schema is logged and leaves the connection
    /// closed (and still counted: call release()); a schema probe that finds
    /// the file busy or locked only warns and leaves it open.
    virtual void init();
    /// Leaves the connection of the calling thread; the last user closes and
    /// removes it. In a thread that has no count it is removed at once.
    virtual void release();

protected:
    /// Called at the end of every init(), also when the open failed or the
    /// connection was joined. Attach further files here; does nothing here.
    virtual void attacheDatabases();

public:
    /// Path of the database file.
    virtual QString dbFilePath() = 0;
    /// Qt connection name for the calling thread; must start with name().
    virtual QString connectionName() = 0;

protected:
    virtual QString driver() const;   ///< "QSQLITE"
    virtual QString host() const;     ///< "localhost"
    virtual int port() const;         ///< 0
    virtual QString user() const;     ///< empty
    virtual QString password() const; ///< empty; never written to a log

    /// Reads the stored version; false when it cannot, with `state` saying why.
    virtual bool readDbVersion(qint32 &version, EMetadataState &state) = 0;

public:
    /// The schema version the application expects.
    virtual qint32 dbVersion() = 0;

protected:
    /// Upgrades the database from `fromVersion`; true on success.
    virtual bool updateDb(qint32 fromVersion) = 0;
    /// Called by the three-argument checkVersion() when readDbVersion()
    /// failed. Returns false here; a subclass may repair the metadata (for
    /// example create it) and return true to have the check run again.
    virtual bool processMetadataState(EMetadataState state, QString &error);

    /// The d-pointer; its type is not part of the API.
    QScopedPointer<BaseSqliteDbConnectorPrivate> d_ptr;

private:
    Q_DECLARE_PRIVATE(BaseSqliteDbConnector)
    Q_DISABLE_COPY(BaseSqliteDbConnector)
};

#endif // ORVELEXTLIB_BASESQLITEDBCONNECTOR_H
