// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <qsettingsext/dircreator.h>
#include <qsettingsext/initconfig.h>
#include <qsettingsext/jsonsettings.h>
#include <serial/rs232settings.h>
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
