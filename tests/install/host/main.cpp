// A host built against the installed package: the umbrella header, headers by
// their subsystem path, and one exported symbol of each subsystem, so that a
// missing header, export or dependency fails to build or link.
#include <orvelextlib.h>
#include <values/fixnumber.h>
#include <workers/abstractworker.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#ifndef QT_MESSAGELOGCONTEXT
#error "The package must define QT_MESSAGELOGCONTEXT for its hosts"
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    XmlSettings::regFormat();
    XmlSettings xml(dir.filePath(QStringLiteral("host.xml")));
    xml.setValue(QStringLiteral("a"), 1);
    CryptoDataManager store(dir.filePath(QStringLiteral("host.enc")));
    QStompRequestFrame frame(QStompRequestFrame::RequestSend);
    frame.setDestination("/queue/a");
    AesWrapper aes;
    aes.key = QByteArray(16, 'k');
    MosquittoConfig mqtt;
    const HttpFileLoader loader(QStringLiteral("http://127.0.0.1:1/f"), QStringLiteral("f"));
    const bool ok = FixNumber(100, QStringLiteral("1.015")).toString(QLatin1Char('.'), QChar(0))
            == QLatin1String("1.02")
        && GzipStreamWrapper::gzuncompress(GzipStreamWrapper::gzcompress("x")) == "x"
        && DirCreator::checkAndCreate(dir.filePath(QStringLiteral("d")), DirCreator::DEFAULT_ALL)
        && Zip().addFile(QStringLiteral("x")) == Zip::NoOpenArchive
        && UnZip().verifyArchive() == UnZip::NoOpenArchive && !SysUtils::freeDiskSpace({}).isEmpty()
        && RS232Settings(QStringLiteral("p")).portSettings() == PortSettings()
        && frame.toByteArray() == "SEND\ndestination:/queue/a\n\n" && aes.rEncrypt("x").size() == 16
        && store.defaultUser().isEmpty() && mqtt.port() == 1883 && !loader.partFilePath().isEmpty()
        && LoggerManager::defaultSuffix() == QLatin1String("log")
        && BaseSqliteDbConnector::staticMetaObject.className() == QByteArray("BaseSqliteDbConnector")
        && !AppVersion::VERSION.isEmpty();
    return ok ? 0 : 1;
}
