#include "initconfig.h"

#include "systemdirs_p.h"

#include <qsettingsext/dircreator.h>

#include <QFile>
#include <QMultiMap>

const QString InitConfig::WORK_DIR = QStringLiteral("workDir");
const QString InitConfig::LOGS_DIR = QStringLiteral("logsDir");
const QString InitConfig::RUN_DIR = QStringLiteral("runDir");
const QString InitConfig::KEEP_LOGS = QStringLiteral("keepLogsDays");
const QString InitConfig::IGNORE_LOGS = QStringLiteral("ignoreLogs");
const QString InitConfig::LOCALE = QStringLiteral("locale");

namespace {
// The product folder, Orvel, in lower case.
const QLatin1String ProductFolder("orvel");
} // namespace

InitConfig::InitConfig(const QString &fileName)
    : m_settings(fileName, QSettings::IniFormat)
{
    DirCreator::checkAndCreate(workDir(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(loggerPath(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(versionsPath(), DirCreator::DEFAULT_ALL);
    DirCreator::checkAndCreate(configPath(), DirCreator::DEFAULT_ALL);
    prepareReadmeFile();
}

InitConfig::~InitConfig() = default;

QVariant InitConfig::value(const QString &key, const QVariant &defaultValue) const
{
    m_settings.sync();
    return m_settings.value(key, defaultValue);
}

void InitConfig::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}

QString InitConfig::workDir() const
{
    return value(WORK_DIR, SystemDirs::defaultWorkDir(ProductFolder)).toString();
}

QString InitConfig::loggerPath() const
{
    return value(LOGS_DIR, workDir() + QLatin1String("/logs")).toString();
}

QString InitConfig::runPath() const
{
    return value(RUN_DIR, workDir() + QLatin1String("/run")).toString();
}

int InitConfig::keepLogs() const
{
    return value(KEEP_LOGS, 30).toInt();
}

QMap<QString, QString> InitConfig::ignoredLogs() const
{
    QMultiMap<QString, QString> result;
    const QStringList parts = value(IGNORE_LOGS, QString()).toString().split(QLatin1Char('/'));
    for (const QString &part : parts) {
        const QStringList pieces = part.trimmed().split(QLatin1Char('.'));
        if (pieces.size() == 2)
            result.insert(pieces.at(0).trimmed(), pieces.at(1).trimmed());
    }
    return result;
}

QString InitConfig::versionsPath() const
{
    return workDir() + QLatin1String("/versions");
}

QString InitConfig::translationsPath() const
{
    return workDir() + QLatin1String("/translations");
}

QString InitConfig::configPath() const
{
    return workDir() + QLatin1String("/.config");
}

QLocale InitConfig::locale() const
{
    return QLocale(value(LOCALE, QLocale::system().name()).toString());
}

void InitConfig::setlocale(const QLocale &locale)
{
    setValue(LOCALE, locale.name());
}

void InitConfig::prepareReadmeFile()
{
    QFile file(QStringLiteral("%1/README.%2").arg(configPath(), QLocale().name()));
    if (file.exists() || !file.open(QIODevice::WriteOnly))
        return;
    const char *const lines[] = {
        QT_TRANSLATE_NOOP("QObject", "!!!!!!!!!!!!!!!!!!!!WARNING!!!!!!!!!!!!!!!!!!!!"),
        QT_TRANSLATE_NOOP("QObject", "This folder is system!"),
        QT_TRANSLATE_NOOP("QObject", "Do not change config files the folder contains!"),
    };
    for (const char *line : lines) {
        file.write(QObject::tr(line).toUtf8());
        file.write("\n");
    }
    file.close();
}
