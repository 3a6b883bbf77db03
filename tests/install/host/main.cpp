// A host that includes the umbrella header and one header by its subsystem
// path, and touches an exported symbol of each subsystem.
#include <orvelextlib.h>
#include <httpfileloader/httpfileloader.h>
#include <sys/sysutils.h>
#include <values/fixnumber.h>
#include <workers/abstractworker.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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
    int failures = 0;
    const auto check = [&failures](bool ok, const char *what) {
        if (!ok) {
            std::fprintf(stderr, "install host: %s failed\n", what);
            ++failures;
        }
    };
    QTemporaryDir dir;

    { // log helpers, directories
        QString text;
        QTextStream stream(&text);
        stream << loglist(QStringList{QStringLiteral("a")});
        check(text.endsWith(QLatin1String("               a")), "loglist");
        check(DirCreator::checkAndCreate(dir.filePath(QStringLiteral("a/b")), DirCreator::DEFAULT_ALL),
              "DirCreator");
    }
    { // values
        check(FixNumber(100, QStringLiteral("1.015")).toString(QLatin1Char('.'), QChar(0))
                  == QLatin1String("1.02"),
              "FixNumber");
    }
    { // sqlite
        static QThreadStorage<int> counter; // kept for the life of the process
        HostDb db(QDir(dir.path()).filePath(QStringLiteral("host.db")), &counter);
        db.init();
        qint32 version = 0;
        QString error;
        check(db.db().isOpen() && db.checkVersion(version, error) == BaseSqliteDbConnector::DatabaseMissing,
              "BaseSqliteDbConnector");
        db.release();
    }
    { // zip
        Zip zip;
        UnZip unzip;
        check(zip.addFile(QStringLiteral("x")) == Zip::NoOpenArchive
                  && unzip.verifyArchive() == UnZip::NoOpenArchive,
              "Zip/UnZip");
    }
    { // sys
        check(!SysUtils::freeDiskSpace(QStringList()).isEmpty() && SysUtils::uptime() > 0, "SysUtils");
    }
    { // settings formats
        XmlSettings::regFormat();
        XmlSettings xml(dir.filePath(QStringLiteral("host.xml")));
        JsonSettings json(dir.filePath(QStringLiteral("host.json")));
        xml.setValue(QStringLiteral("list/1/name"), 1);
        json.setValue(QStringLiteral("list/1/name"), 1);
        xml.sync();
        json.sync();
        check(xml.status() == QSettings::NoError && json.format() == JsonSettings::jsonFormat(),
              "XmlSettings/JsonSettings");
    }
    { // compression
        check(GzipStreamWrapper::gzuncompress(GzipStreamWrapper::gzcompress("host")) == "host",
              "GzipStreamWrapper");
    }
    { // serial
        RS232Settings port(QStringLiteral("Port"));
        port.setList(port.toList());
        check(RS232Settings::PORT_NAME == QLatin1String("portName") && port.portSettings() == PortSettings(),
              "RS232Settings");
    }
    { // crypto
        AesWrapper aes;
        aes.key = QByteArray(16, 'k');
        CryptoDataManager store(dir.filePath(QStringLiteral("host.enc")));
        store.setDefaultUser(QStringLiteral("host"));
        store.forceSave();
        check(aes.rDecrypt(aes.rEncrypt("host")).startsWith("host") && store.defaultUser() == QLatin1String("host")
                  && QFileInfo(dir.filePath(QStringLiteral("host.enc"))).size() >= 32,
              "AesWrapper/CryptoDataManager");
    }
    { // stomp
        QStompRequestFrame frame(QStompRequestFrame::RequestSend);
        frame.setDestination("/queue/a");
        check(frame.toByteArray() == "SEND\ndestination:/queue/a\n\n", "QStompRequestFrame");
    }
    { // http
        const HttpFileLoader loader(QStringLiteral("http://127.0.0.1:1/f.bin"), QStringLiteral("f.bin"));
        check(loader.partFilePath() == QLatin1String("f.bin.part"), "HttpFileLoader");
    }
    { // mqtt
        MosquittoConfig mqtt;
        mqtt.setMode(2);
        check(mqtt.port() == 1883 && mqtt.mode() == 0, "MosquittoConfig");
    }
    { // logger: read only, the host does not install it as its handler
        check(LoggerManager::debugOuts() == LoggerManager::ConsoleOut
                  && LoggerManager::defaultSuffix() == QLatin1String("log"),
              "LoggerManager");
    }
    if (failures)
        return 1;
    std::puts("install host ok");
    return 0;
}
