#ifndef ORVELEXTLIB_INITCONFIG_H
#define ORVELEXTLIB_INITCONFIG_H

#include <orvelextlib_export.h>

#include <QLocale>
#include <QMap>
#include <QSettings>
#include <QString>
#include <QVariant>

/// The application's start-up configuration: one INI file naming the working
/// and log directories, the days to keep logs, the log sources to silence,
/// the run-time directory and the language. Every value() re-reads the file
/// and every setValue() writes it at once, so other processes' changes are
/// seen. A missing or unreadable file gives the defaults.
///
/// Construction creates the working, log, versions and configuration
/// directories (DirCreator::DEFAULT_ALL) and a README in the configuration
/// directory. All paths go through the virtual functions, so a derived
/// class that replaces workDir() or value() moves every derived path (during
/// construction, InitConfig's own versions are used). One thread only.
class ORVELEXTLIB_EXPORT InitConfig
{
public:
    static const QString WORK_DIR;     ///< "workDir"; default: the system-wide data folder + "orvel"
    static const QString LOGS_DIR;     ///< "logsDir"; default: workDir() + "/logs"
    static const QString RUN_DIR;      ///< "runDir"; default: workDir() + "/run"
    static const QString KEEP_LOGS;    ///< "keepLogsDays"; default: 30
    static const QString IGNORE_LOGS;  ///< "ignoreLogs"; default: empty
    static const QString LOCALE;       ///< "locale"; default: the system locale's name

    /// Opens the INI file `fileName` (which need not exist), creates the
    /// working, log, versions and configuration directories and writes the
    /// README. Failures are not reported: missing directories stay missing.
    explicit InitConfig(const QString &fileName);
    /// Closes the settings, writing pending changes.
    virtual ~InitConfig();

    /// The working directory. Default on Windows: the all-users profile
    /// folder + "\orvel"; elsewhere "ALLUSERSPROFILE" (when set, else
    /// /var/lib) + "/orvel".
    virtual QString workDir() const;
    /// The log directory: "logsDir", default workDir() + "/logs".
    virtual QString loggerPath() const;
    /// The directory for run-time files: "runDir", default workDir() + "/run".
    virtual QString runPath() const;
    /// "keepLogsDays" as a number; 0 when it is not one.
    virtual int keepLogs() const;
    /// "ignoreLogs" parsed: parts separated by "/", each "source.level";
    /// other parts are skipped. A source may occur several times.
    virtual QMap<QString, QString> ignoredLogs() const;
    virtual QString versionsPath() const;      ///< workDir() + "/versions"
    virtual QString translationsPath() const;  ///< workDir() + "/translations"
    virtual QString configPath() const;        ///< workDir() + "/.config"
    /// The language: the locale named by "locale", default the system locale.
    virtual QLocale locale() const;
    /// Stores the locale's name under "locale"; the file is written at once.
    virtual void setlocale(const QLocale &locale);
    /// Re-reads the file, then returns the value of `key` or `defaultValue`.
    virtual QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;
    /// Sets the value and writes the file at once.
    virtual void setValue(const QString &key, const QVariant &value);

    /// Writes "<configPath()>/README.<locale name>", a warning not to edit the
    /// folder, unless it exists. Failures are ignored.
    void prepareReadmeFile();

private:
    Q_DISABLE_COPY(InitConfig)
    // value() re-reads the file, through QSettings' non-const sync().
    mutable QSettings m_settings;
};

#endif // ORVELEXTLIB_INITCONFIG_H
