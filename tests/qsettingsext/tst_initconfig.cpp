#include <qsettingsext/initconfig.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Sets or unsets ALLUSERSPROFILE until the guard goes.
class ProfileVariable
{
public:
    ProfileVariable()
        : m_wasSet(qEnvironmentVariableIsSet("ALLUSERSPROFILE"))
        , m_old(qgetenv("ALLUSERSPROFILE"))
    {
    }
    ~ProfileVariable()
    {
        if (m_wasSet)
            qputenv("ALLUSERSPROFILE", m_old);
        else
            qunsetenv("ALLUSERSPROFILE");
    }
    void set(const QString &value) { qputenv("ALLUSERSPROFILE", value.toLocal8Bit()); }
    void unset() { qunsetenv("ALLUSERSPROFILE"); }

private:
    bool m_wasSet;
    QByteArray m_old;
};

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
    void defaultWithoutProfileVariable();
    void valuesFromIniFile();
    void ignoredLogs_data();
    void ignoredLogs();
    void setlocaleWritesAtOnce();
    void seesChangesOfOtherWriters();
    void readmeWrittenOnce();
    void derivedWorkDirMovesPaths();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_InitConfig::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
}

void tst_InitConfig::defaultsBelowProfileDirectory()
{
    ProfileVariable profile;
    profile.set(m_dir->path());
    const QString ini = m_dir->filePath(QStringLiteral("empty.ini"));
    QVERIFY(writeText(ini, QByteArray()));

    const InitConfig config(ini);
    const QString work = m_dir->path() + QStringLiteral("/orvel");
    QCOMPARE(config.workDir(), work);
    QCOMPARE(config.loggerPath(), work + QStringLiteral("/logs"));
    QCOMPARE(config.runPath(), work + QStringLiteral("/run"));
    QCOMPARE(config.versionsPath(), work + QStringLiteral("/versions"));
    QCOMPARE(config.translationsPath(), work + QStringLiteral("/translations"));
    QCOMPARE(config.configPath(), work + QStringLiteral("/.config"));
    QCOMPARE(config.keepLogs(), 30);
    QVERIFY(config.ignoredLogs().isEmpty());
    QCOMPARE(config.locale(), QLocale(QLocale::system().name()));

    for (const QString &dir : {work, work + "/logs", work + "/versions", work + "/.config"})
        QVERIFY2(QFileInfo(dir).isDir(), qPrintable(dir));
    QVERIFY(!QFileInfo::exists(work + "/run"));
    QVERIFY(!QFileInfo::exists(work + "/translations"));
    // Reading creates no keys in the file.
    QCOMPARE(readText(ini), QByteArray());
}

void tst_InitConfig::defaultWithoutProfileVariable()
{
    ProfileVariable profile;
    profile.set(m_dir->path());
    const QString ini = m_dir->filePath(QStringLiteral("config.ini"));
    const InitConfig config(ini);

    // Asked only after construction, so nothing is created in /var/lib.
    profile.unset();
    QCOMPARE(config.workDir(), QStringLiteral("/var/lib/orvel"));
    profile.set(QString());
    QCOMPARE(config.workDir(), QStringLiteral("/var/lib/orvel"));
}

void tst_InitConfig::valuesFromIniFile()
{
    const QString work = m_dir->filePath(QStringLiteral("work"));
    const QString logs = m_dir->filePath(QStringLiteral("elsewhere/logs"));
    const QString ini = m_dir->filePath(QStringLiteral("app.ini"));
    QVERIFY(writeText(ini, "[General]\n"
                           "workDir=" + work.toUtf8() + "\n"
                           "logsDir=" + logs.toUtf8() + "\n"
                           "runDir=/run/kiosk\n"
                           "keepLogsDays=abc\n"
                           "ignoreLogs=\" mqtt.debug / stomp.info /bad/ x.y.z\"\n"
                           "locale=fr_CA\n"));

    const InitConfig config(ini);
    QCOMPARE(config.workDir(), work);
    QCOMPARE(config.loggerPath(), logs);
    QCOMPARE(config.runPath(), QStringLiteral("/run/kiosk"));
    QCOMPARE(config.configPath(), work + "/.config");
    QCOMPARE(config.keepLogs(), 0);
    QCOMPARE(config.locale(), QLocale(QLocale::French, QLocale::Canada));
    QMap<QString, QString> expected;
    expected.insert(QStringLiteral("mqtt"), QStringLiteral("debug"));
    expected.insert(QStringLiteral("stomp"), QStringLiteral("info"));
    QCOMPARE(config.ignoredLogs(), expected);
    QVERIFY(QFileInfo(logs).isDir());
    QVERIFY(QFileInfo(work + "/.config").isDir());

    // The run directory has a key of its own: the log directory is not used.
    QVERIFY(writeText(ini, "[General]\nworkDir=" + work.toUtf8() + "\nlogsDir=/somewhere\n"));
    QCOMPARE(config.runPath(), work + "/run");
}

void tst_InitConfig::ignoredLogs_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("pairs");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("repeated-key") << "x.y/x.z" << QStringList{"x", "y", "x", "z"};
    QTest::newRow("example") << " mqtt.debug / stomp.info /bad/ x.y.z"
                             << QStringList{"mqtt", "debug", "stomp", "info"};
    QTest::newRow("empty-pieces") << ".a/b./." << QStringList{"", "a", "b", "", "", ""};
    QTest::newRow("blanks-inside") << " a . b " << QStringList{"a", "b"};
}

void tst_InitConfig::ignoredLogs()
{
    QFETCH(QString, setting);
    QFETCH(QStringList, pairs);

    const QString ini = m_dir->filePath(QStringLiteral("logs.ini"));
    {
        QSettings writer(ini, QSettings::IniFormat);
        writer.setValue(QStringLiteral("workDir"), m_dir->path());
        writer.setValue(QStringLiteral("ignoreLogs"), setting);
    }
    const InitConfig config(ini);
    const QMultiMap<QString, QString> logs(config.ignoredLogs());
    QMultiMap<QString, QString> expected;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        expected.insert(pairs.at(i), pairs.at(i + 1));
    QCOMPARE(logs.size(), expected.size());
    for (const QString &key : expected.uniqueKeys()) {
        QStringList actualValues = logs.values(key);
        QStringList expectedValues = expected.values(key);
        actualValues.sort();
        expectedValues.sort();
        QCOMPARE(actualValues, expectedValues);
    }
}

void tst_InitConfig::setlocaleWritesAtOnce()
{
    const QString ini = m_dir->filePath(QStringLiteral("locale.ini"));
    QVERIFY(writeText(ini, "[General]\nworkDir=" + m_dir->path().toUtf8() + "\n"));
    InitConfig config(ini);
    config.setlocale(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(readText(ini).contains("locale=de_DE"));
    QCOMPARE(config.locale().name(), QStringLiteral("de_DE"));
}

void tst_InitConfig::seesChangesOfOtherWriters()
{
    const QString ini = m_dir->filePath(QStringLiteral("shared.ini"));
    QVERIFY(writeText(ini, "[General]\nworkDir=" + m_dir->path().toUtf8() + "\nkeepLogsDays=7\n"));
    InitConfig config(ini);
    QCOMPARE(config.keepLogs(), 7);

    // Another program rewrites the file; the size changes, so the next
    // value() re-reads it.
    QVERIFY(writeText(ini, "[General]\nworkDir=" + m_dir->path().toUtf8() + "\nkeepLogsDays=120\n"));
    QCOMPARE(config.keepLogs(), 120);

    config.setValue(QStringLiteral("custom"), 5);
    QSettings other(ini, QSettings::IniFormat);
    QCOMPARE(other.value(QStringLiteral("custom")).toInt(), 5);
}

void tst_InitConfig::readmeWrittenOnce()
{
    const QLocale previous;
    const auto restore = qScopeGuard([previous] { QLocale::setDefault(previous); });
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    const QString ini = m_dir->filePath(QStringLiteral("readme.ini"));
    QVERIFY(writeText(ini, "[General]\nworkDir=" + m_dir->path().toUtf8() + "\n"));
    const QString readme = m_dir->filePath(QStringLiteral(".config/README.en_US"));
    {
        const InitConfig config(ini);
        QCOMPARE(readText(readme), QByteArray("!!!!!!!!!!!!!!!!!!!!WARNING!!!!!!!!!!!!!!!!!!!!\n"
                                              "This folder is system!\n"
                                              "Do not change config files the folder contains!\n"));
    }
    QVERIFY(writeText(readme, "edited"));
    {
        const InitConfig config(ini);
        QCOMPARE(readText(readme), QByteArray("edited"));
    }

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const InitConfig config(ini);
    QVERIFY(QFileInfo::exists(m_dir->filePath(QStringLiteral(".config/README.de_DE"))));
    QCOMPARE(readText(readme), QByteArray("edited"));
}

void tst_InitConfig::derivedWorkDirMovesPaths()
{
    const QString ini = m_dir->filePath(QStringLiteral("moved.ini"));
    QVERIFY(writeText(ini, "[General]\nworkDir=" + m_dir->filePath(QStringLiteral("base")).toUtf8() + "\n"));
    const QString moved = m_dir->filePath(QStringLiteral("moved"));
    const MovedConfig config(ini, moved);

    QCOMPARE(config.loggerPath(), moved + "/logs");
    QCOMPARE(config.configPath(), moved + "/.config");
    QCOMPARE(config.runPath(), moved + "/run");
    // During construction InitConfig's own workDir() was used.
    QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("base/.config"))).isDir());
    QVERIFY(!QFileInfo::exists(moved));
}

QTEST_GUILESS_MAIN(tst_InitConfig)
#include "tst_initconfig.moc"
