#ifndef ORVELEXTLIB_BASESQLITEDBCONNECTOR_P_H
#define ORVELEXTLIB_BASESQLITEDBCONNECTOR_P_H

#include "basesqlitedbconnector.h"

#include <QSqlDatabase>
#include <QString>
#include <QThreadStorage>

#include <optional>

class QSqlError;

class BaseSqliteDbConnectorPrivate
{
    Q_DECLARE_PUBLIC(BaseSqliteDbConnector)
public:
    BaseSqliteDbConnectorPrivate(BaseSqliteDbConnector *q, const QString &name, bool readOnly,
                                 QThreadStorage<int> *useCounter);

    bool openConnection(const QString &path);
    void logOpenError(const QSqlError &error) const;
    // Both checks. Without `upgrade` (the two-argument check) nothing is
    // repaired or upgraded and an older database is VersionTooOld; with it an
    // older one is upgraded when `*upgrade` holds, or else a failed check.
    BaseSqliteDbConnector::EDbVersionState checkVersion(qint32 &version, QString &error,
                                                        std::optional<bool> upgrade);

    BaseSqliteDbConnector *q_ptr;
    QSqlDatabase database;
    bool readOnly;
    QString name;
    QThreadStorage<int> *useCounter; // not owned
    // init() calls of this object not yet matched by release().
    int ownUses = 0;
    // Repairs granted so far inside the running three-argument checkVersion().
    int metadataRepairs = 0;
};

#endif // ORVELEXTLIB_BASESQLITEDBCONNECTOR_P_H
