// A host that includes the umbrella header and one header by its subsystem
// path, and touches an exported symbol of each subsystem.
#include <orvelextlib.h>
#include <values/fixnumber.h>
#include <workers/abstractworker.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

#ifndef QT_MESSAGELOGCONTEXT
#error "The package must define QT_MESSAGELOGCONTEXT for its hosts"
#endif

namespace {
// The smallest SQLite connector a host can write.
class HostDb : public BaseSqliteDbConnector
{
public:
    HostDb(const QString &path, QThreadStorage<int> *counter)
        : BaseSqliteDbConnector(QStringLiteral("host"), BaseSqliteDbConnector::ReadWriteMode, counter), m_path(path)
    {
    }
    QString dbFilePath() override { return m_path; }
    QString connectionName() override { return name(); }
    qint32 dbVersion() override { return 1; }

protected:
    bool readDbVersion(qint32 &version, EMetadataState &) override
    {
        version = 1;
        return true;
    }
    bool updateDb(qint32) override { return false; }

private:
    QString m_path;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString text;
    QTextStream stream(&text);
    stream << loglist(QStringList{QStringLiteral("a")});
    if (!DirCreator::checkAndCreate(QCoreApplication::applicationDirPath(), DirCreator::DEFAULT_ALL))
        return 1;
    if (!text.endsWith(QLatin1String("               a")))
        return 2;
    if (FixNumber(100, QStringLiteral("1.015")).toString(QLatin1Char('.'), QChar(0))
        != QLatin1String("1.02"))
        return 3;
    QTemporaryDir dir;
    auto *counter = new QThreadStorage<int>; // kept for the life of the process
    HostDb db(QDir(dir.path()).filePath(QStringLiteral("host.db")), counter);
    db.init();
    qint32 version = 0;
    QString error;
    if (!db.db().isOpen() || db.checkVersion(version, error) != BaseSqliteDbConnector::DatabaseMissing)
        return 4;
    db.release();
    Zip zip;
    UnZip unzip;
    if (zip.addFile(QStringLiteral("x")) != Zip::NoOpenArchive || unzip.verifyArchive() != UnZip::NoOpenArchive)
        return 5;
    // read only: the host does not install the logger as its handler
    if (LoggerManager::debugOuts() != LoggerManager::ConsoleOut
        || LoggerManager::defaultSuffix() != QLatin1String("log"))
        return 6;
    std::puts("install host ok");
    return 0;
}
