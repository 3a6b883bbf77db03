// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <logger/loggermanager.h>
#include <qsettingsext/dircreator.h>
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
