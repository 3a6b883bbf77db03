// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <crypto/cryptedsettingsstorage.h>
#include <crypto/cryptodatamanager.h>
#include <logger/loggermanager.h>
#include <qsettingsext/dircreator.h>
#include <qsettingsext/initconfig.h>
#include <qsettingsext/jsonsettings.h>
#include <serial/rs232settings.h>
#include <stomp/qstompframe_p.h>
#include <values/appversion.h>
#include <values/appversion_p.h>

// --- directory and file permission sets ---
const QFileDevice::Permissions DirCreator::DEFAULT_GROUP =
    DirCreator::DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup;
const QFileDevice::Permissions DirCreator::DEFAULT_ALL =
    DirCreator::DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_GROUP =
    DirCreator::FILE_DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_ALL =
    DirCreator::FILE_DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther;

// --- the library's own version and build moment ---
const QString AppVersion::VERSION = QStringLiteral("4.2.6");
const QString AppVersion::BUILD = appVersionBuildMoment(__DATE__, __TIME__);

// --- start-up configuration keys ---
const QString InitConfig::WORK_DIR = QStringLiteral("workDir");
const QString InitConfig::LOGS_DIR = QStringLiteral("logsDir");
const QString InitConfig::RUN_DIR = QStringLiteral("runDir");
const QString InitConfig::KEEP_LOGS = QStringLiteral("keepLogsDays");
const QString InitConfig::IGNORE_LOGS = QStringLiteral("ignoreLogs");
const QString InitConfig::LOCALE = QStringLiteral("locale");

// --- settings formats ---
QSettings::Format JsonSettings::_jsonFormat = QSettings::registerFormat(
    QStringLiteral("json"), JsonSettings::readJsonFile, JsonSettings::writeJsonFile, Qt::CaseSensitive);
// --- serial port record keys ---
const QString RS232Settings::PORT_NAME = QStringLiteral("portName");
const QString RS232Settings::PORT_BAUDRATE = QStringLiteral("baudrate");
const QString RS232Settings::PORT_FLOW_CONTROL = QStringLiteral("flowControl");
const QString RS232Settings::PORT_PARITY = QStringLiteral("parity");
const QString RS232Settings::PORT_DATABITS = QStringLiteral("dataBits");
const QString RS232Settings::PORT_STOPBIT = QStringLiteral("stopBit");

// --- certificate store keys and the encrypted settings format ---
const QString CryptoDataManager::CA_CERTIFICATES_SECTION = QStringLiteral("CA");
const QString CryptoDataManager::LOCAL_CERTIFICATES_SECTION = QStringLiteral("LS");
const QString CryptoDataManager::PRIVATE_KEY_SECTION = QStringLiteral("PRIVATE_KEYS");
const QString CryptoDataManager::PRIVATE_KEY = QStringLiteral("key");
const QString CryptoDataManager::PRIVATE_KEY_ALG = QStringLiteral("algorithm");
const QString CryptoDataManager::USER_SECTION = QStringLiteral("USER");
const QString CryptoDataManager::USER_NAME = QStringLiteral("defaultUser");
const QString CryptoDataManager::PASSWORD = QStringLiteral("defaultUserPassword");
const QString CryptoDataManager::SU_NAME = QStringLiteral("su");
const QString CryptoDataManager::SU_PASSWORD = QStringLiteral("su_password");
const QString CryptoDataManager::_storageFileName;
QSharedPointer<QSslConfiguration> CryptoDataManager::_defaultSslConfig;
QSettings::Format CryptedSettingsStorage::CRYPTED_FORMAT = QSettings::registerFormat(
    QStringLiteral("crypto"), CryptedSettingsStorage::readCryptoFile, CryptedSettingsStorage::writeCryptoFile,
    Qt::CaseSensitive);

// --- STOMP command words, in the order of the protocol's command list ---
const QList<QByteArray> stompCommandList = {
    QByteArrayLiteral("ABORT"),   QByteArrayLiteral("ACK"),         QByteArrayLiteral("BEGIN"),
    QByteArrayLiteral("COMMIT"),  QByteArrayLiteral("CONNECT"),     QByteArrayLiteral("DISCONNECT"),
    QByteArrayLiteral("CONNECTED"), QByteArrayLiteral("MESSAGE"),   QByteArrayLiteral("SEND"),
    QByteArrayLiteral("SUBSCRIBE"), QByteArrayLiteral("UNSUBSCRIBE"), QByteArrayLiteral("RECEIPT"),
    QByteArrayLiteral("ERROR"),   QByteArrayLiteral("NACK"),        QByteArrayLiteral("STOMP")};
// --- logger settings and state, before any message can reach the handler ---
QMutex LoggerManager::_logMutex;
QAtomicInt LoggerManager::_loggersCounter(0);
QString LoggerManager::_logPath;
quint32 LoggerManager::_keepingDays = 7;
bool LoggerManager::_rotateLogs = false;
QtMsgType LoggerManager::_minimumLogLevel = QtDebugMsg;
QFlags<LoggerManager::EQtDebugOut> LoggerManager::_debugOuts = LoggerManager::ConsoleOut;
bool LoggerManager::_keepLogHandlers = true;
QString LoggerManager::_defaultSuffix = QStringLiteral("log");
bool LoggerManager::_cleanAnyOldLogs = false;
QStringList LoggerManager::_additionalEraseFilters;
QMap<QString, LoggerManager::OutputCallback> LoggerManager::_outputs;
QMap<QString, QSharedPointer<LoggerManager>> LoggerManager::_loggers;
QTimer *LoggerManager::_eraceTimer = nullptr;
