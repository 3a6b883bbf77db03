#include "testfiles.h"

#include <qsettingsext/initconfig.h>

#include <QDir>
#include <QLocale>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class MovedConfig : public InitConfig
{
public:
    MovedConfig(const QString &fileName, const QString &root)
        : InitConfig(fileName)
        , m_root(root)
    {
    }
    QString workDir() const override { return m_root; }

private:
    QString m_root;
};
} // namespace

class tst_InitConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void defaultsBelowProfileDirectory();
    void valuesReadAndWrittenAtOnce();
    void ignoredLogs_data();
    void ignoredLogs();
    void readmeWrittenOnce();
    void derivedWorkDirMovesPaths();

private:
    // An INI file in the temporary directory whose working directory is that directory.
    QString ini(const QString &name, const QByteArray &more = QByteArray())
    {
        const QString path = m_dir->filePath(name);
        return writeFile(path, "[General]\nworkDir=" + m_dir->path().toUtf8() + "\n" + more)
            ? path
            : QString();
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_InitConfig::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
}

void tst_InitConfig::defaultsBelowProfileDirectory()
{
    const bool wasSet = qEnvironmentVariableIsSet("ALLUSERSPROFILE");
    const QByteArray old = qgetenv("ALLUSERSPROFILE");
    const auto restore = qScopeGuard(
        [=] { wasSet ? qputenv("ALLUSERSPROFILE", old) : qunsetenv("ALLUSERSPROFILE"); });
    qputenv("ALLUSERSPROFILE", m_dir->path().toLocal8Bit());
    const QString ini = m_dir->filePath("empty.ini");
    QVERIFY(writeFile(ini, QByteArray()));

    const InitConfig config(ini);
    const QString work = m_dir->path() + "/orvel";
    QCOMPARE(QStringList({ config.workDir(), config.loggerPath(), config.runPath(),
                           config.versionsPath(), config.translationsPath(), config.configPath() }),
             QStringList({ work, work + "/logs", work + "/run", work + "/versions",
                           work + "/translations", work + "/.config" }));
    QCOMPARE(config.keepLogs(), 30);
    QVERIFY(config.ignoredLogs().isEmpty());
    QCOMPARE(config.locale(), QLocale(QLocale::system().name()));
    // Only these directories are made, and reading creates no keys in the file.
    QCOMPARE(QDir(work).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({ ".config", "logs", "versions" }));
    QCOMPARE(readFile(ini), QByteArray());

    // Without the variable (asked only after construction, so nothing is created in /var/lib).
    qunsetenv("ALLUSERSPROFILE");
    QCOMPARE(config.workDir(), QStringLiteral("/var/lib/orvel"));
    qputenv("ALLUSERSPROFILE", QByteArray());
    QCOMPARE(config.workDir(), QStringLiteral("/var/lib/orvel"));
}

// Every value() re-reads the file, every setValue() writes it.
void tst_InitConfig::valuesReadAndWrittenAtOnce()
{
    const QString work = m_dir->filePath("work"), logs = m_dir->filePath("elsewhere/logs");
    const QString path = m_dir->filePath("app.ini");
    QVERIFY(writeFile(path,
                      "[General]\nworkDir=" + work.toUtf8() + "\nlogsDir=" + logs.toUtf8()
                          + "\nrunDir=/run/kiosk\nkeepLogsDays=abc\nlocale=fr_CA\n"));
    InitConfig config(path);
    QCOMPARE(config.loggerPath(), logs);
    QCOMPARE(config.runPath(), QStringLiteral("/run/kiosk"));
    QCOMPARE(config.configPath(), work + "/.config");
    QCOMPARE(config.keepLogs(), 0);
    QCOMPARE(config.locale(), QLocale(QLocale::French, QLocale::Canada));
    QVERIFY(QFileInfo(logs).isDir() && QFileInfo(work + "/.config").isDir());

    // Another program rewrites the file. The run directory has a key of its
    // own: the log directory is not used for it.
    QVERIFY(writeFile(path,
                      "[General]\nworkDir=" + work.toUtf8() + "\nlogsDir=/x\nkeepLogsDays=120\n"));
    QCOMPARE(config.keepLogs(), 120);
    QCOMPARE(config.runPath(), work + "/run");
    config.setValue("custom", 5);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("custom").toInt(), 5);
    config.setlocale(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(readFile(path).contains("locale=de_DE"));
    QCOMPARE(config.locale().name(), QStringLiteral("de_DE"));
}

void tst_InitConfig::ignoredLogs_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("repeated-key") << "x.y/x.z" << QStringList { "x=y", "x=z" };
    QTest::newRow("example") << " mqtt.debug / stomp.info /bad/ x.y.z"
                             << QStringList { "mqtt=debug", "stomp=info" };
    QTest::newRow("empty-pieces") << ".a/b./." << QStringList { "=", "=a", "b=" };
}

void tst_InitConfig::ignoredLogs()
{
    QFETCH(QString, setting);
    QFETCH(QStringList, entries);
    const QString path = ini("logs.ini");
    QSettings(path, QSettings::IniFormat).setValue("ignoreLogs", setting);
    const QMap<QString, QString> logs = InitConfig(path).ignoredLogs();
    QStringList actual;
    for (auto it = logs.constBegin(); it != logs.constEnd(); ++it)
        actual << it.key() + '=' + it.value();
    actual.sort();
    QCOMPARE(actual, entries);
}

void tst_InitConfig::readmeWrittenOnce()
{
    const QLocale previous;
    const auto restore = qScopeGuard([previous] { QLocale::setDefault(previous); });
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString path = ini("readme.ini"), readme = m_dir->filePath(".config/README.en_US");
    InitConfig { path };
    QCOMPARE(readFile(readme),
             QByteArray("!!!!!!!!!!!!!!!!!!!!WARNING!!!!!!!!!!!!!!!!!!!!\n"
                        "This folder is system!\n"
                        "Do not change config files the folder contains!\n"));
    QVERIFY(writeFile(readme, "edited"));
    InitConfig { path };
    QCOMPARE(readFile(readme), QByteArray("edited"));
    // Another locale name is another file.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    InitConfig { path };
    QVERIFY(QFileInfo::exists(m_dir->filePath(".config/README.de_DE")));
}

// Paths follow a derived workDir(); during construction InitConfig's own was used.
void tst_InitConfig::derivedWorkDirMovesPaths()
{
    const QString moved = m_dir->filePath("moved");
    const MovedConfig config(ini("moved.ini"), moved);
    QCOMPARE(config.loggerPath(), moved + "/logs");
    QCOMPARE(config.configPath(), moved + "/.config");
    QCOMPARE(config.runPath(), moved + "/run");
    QVERIFY(QFileInfo(m_dir->filePath(".config")).isDir());
    QVERIFY(!QFileInfo::exists(moved));
}

QTEST_GUILESS_MAIN(tst_InitConfig)
#include "tst_initconfig.moc"
