// LoggerManager: entry layout over real files, file naming, outputs,
// callbacks, the clean-up job checked with Python's zipfile, threads, and the
// faults of a process-wide handler (re-entrance, timers, restoring Qt's
// handler). Scenarios that could hang the process or need another time zone
// or locale run in a child process of this executable.
#include "testfiles.h"
#include <logger/loggermanager_p.h>

#include <logger/loggermanager.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTextCodec>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

const QString Indent(15, QLatin1Char(' '));
const QDate Today(2018, 1, 19);

// The fixed "now" of the tests that set the clock; the clean-up job reads it
// in a pool thread while a test moves it on.
std::atomic<qint64> s_nowMs{0};
qint64 fixedClock()
{
    return s_nowMs.load();
}

// Sets the logger's clock to a local time.
void setNow(const QTime &time, const QDate &date = Today)
{
    s_nowMs = QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch();
    LoggerManagerPrivate::setClock(fixedClock);
}

QString threadIdText()
{
    return QString::number(qint64(qint32(quintptr(QThread::currentThreadId()))), 16);
}

// Reaches the logger's state.
struct LoggerPeek
{
    static QTimer *timer() { return LoggerManagerPrivate::state().cleanupTimer; }
    static int cachedLoggers() { return LoggerManagerPrivate::state().loggers.size(); }
};

QStringList readLines(const QString &path)
{
    QString text = QString::fromUtf8(readFile(path));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// The message lines of the (single-line) entries of a log file.
QStringList messagesIn(const QString &path)
{
    const QStringList lines = readLines(path);
    QStringList messages;
    for (int i = 1; i < lines.size(); ++i)
        if (lines.at(i - 1).startsWith(Indent) && lines.at(i).startsWith(Indent))
            messages << lines.at(i).mid(Indent.size());
    return messages;
}

void emitMessage(QtMsgType type, const char *file, int line, const char *function,
                 const QString &message, const char *category = "default")
{
    qt_message_output(type, QMessageLogContext(file, line, function, category), message);
}

// Sends what the process writes to fd 2 into a file until destroyed.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_file.open();
        m_saved = ::dup(2);
        ::dup2(m_file.handle(), 2);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }
    QByteArray text()
    {
        std::fflush(stderr);
        return readFile(m_file.fileName());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// The entry exactly as the layout describes it, written the plain way: a
// QTextStream with field widths.
QByteArray referenceEntry(bool rotate, QtMsgType type, const char *file, int line,
                          const char *function, const QString &message, qint64 utcMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs);
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QByteArray out;
    QTextStream s(&out, QIODevice::WriteOnly);
    s.setCodec("System");
    if (!rotate)
        s << QStringLiteral("[%1]").arg(local.date().toString(QStringLiteral("yy-MM-dd"))) << Qt::endl;
    s << local.time().toString(QStringLiteral("[hh:mm:ss.zzz] "));
    const char *words[] = {"INFO IN:", "WARNING IN:", "CRITICAL IN:", "FATAL IN:"};
    if (int(type) >= 0 && int(type) < 4)
        s << Qt::left << qSetFieldWidth(16) << words[type] << qSetFieldWidth(0);
    s << Qt::dec << Qt::left << qSetFieldWidth(32)
      << QFileInfo(file ? utf8->toUnicode(file) : QString()).fileName() << qSetFieldWidth(5)
      << line << qSetFieldWidth(14) << "THREAD_ID:" << qSetFieldWidth(16) << threadIdText()
      << qSetFieldWidth(0);
    s << Qt::endl << Indent << (function ? utf8->toUnicode(function) : QString());
    s << Qt::endl << Indent << message << Qt::endl;
    s.flush();
    return out;
}

// Runs this executable as a child for one scenario; kills it after 20 s.
struct ChildResult
{
    bool finished = false; // and exited normally
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ChildResult runChild(const QStringList &args,
                     const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                     const QString &workDir = QString())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    ChildResult r;
    r.finished = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
    if (!r.finished)
        p.kill();
    p.waitForFinished();
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestLoggerManager : public QObject
{
    Q_OBJECT

    QString m_path;
    QScopedPointer<QTemporaryDir> m_dir;
    QtMessageHandler m_testHandler = nullptr;

    // Made first in every test: releases the logger, puts Qt Test's message
    // handler back and restores the defaults, however the test ends.
    auto restoreLogger()
    {
        return qScopeGuard([this] {
            const QtMessageHandler current = qInstallMessageHandler(m_testHandler);
            if (current == &LoggerManager::logMessageOutput) {
                qInstallMessageHandler(current);
                LoggerManager::releaseLog();
            }
            qInstallMessageHandler(m_testHandler);
            QThreadPool::globalInstance()->waitForDone();
            LoggerManagerPrivate::setClock(nullptr);
            LoggerManager::setDebugOuts(LoggerManager::ConsoleOut);
            LoggerManager::setKeepLogHandlers(true);
            LoggerManager::setDefaultSuffix(QStringLiteral("log"));
            LoggerManager::setAdditionalEraseFilters({});
            LoggerManager::setCleanAnyOldLogs(false);
            LoggerManager::setOutputs(QMap<QString, LoggerManager::OutputCallback>());
            QLoggingCategory::setFilterRules(QString());
        });
    }
    // Starts logging into the test's fresh directory.
    void start(bool rotate, QtMsgType minimum = QtDebugMsg, unsigned int days = 7)
    {
        LoggerManager::initLog(m_path, days, rotate, minimum);
    }
    QString file(const QString &name) const { return m_path + QLatin1Char('/') + name; }
    // Today's rotated file by the system clock.
    QString todaysFile() const
    {
        return file(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("_kiosk.log"));
    }

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
        m_path = m_dir->filePath(QStringLiteral("logs"));
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
    }

    void cleanup() { m_dir.reset(); }

    void entryBytes_data()
    {
        QTest::addColumn<bool>("rotate");
        QTest::newRow("rotation") << true;
        QTest::newRow("no-rotation") << false;
    }

    // Every byte of a log file from initLog() to releaseLog(), awkward
    // entries included, against the plain QTextStream rendering of the layout.
    void entryBytes()
    {
        const auto restore = restoreLogger();
        QFETCH(bool, rotate);
        qInstallMessageHandler(nullptr);
        const QtMessageHandler qtDefault = qInstallMessageHandler(m_testHandler);
        setNow(QTime(9, 5, 3, 42));
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(rotate);

        struct Case
        {
            QtMsgType type;
            const char *file;
            int line;
            const char *function;
            QString message;
        };
        const Case cases[] = {
            {QtWarningMsg, "/src/app/module.cpp", 42, "void Module::run()", QStringLiteral("plain")},
            {QtCriticalMsg, "C:\\work\\a very long windows path\\winfile.cpp", 123456, "f",
             QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9d\x84\x9e")},
            {QtInfoMsg, "relative/dir/info.cpp", -1, "void Gr\xc3\xb6\xc3\x9f" "e::run() const",
             QString(QChar(0xd800)) + QLatin1Char('x') + QChar(0xdc00) + QStringLiteral("end") + QChar(0xd83d)},
            {QtWarningMsg, nullptr, 0, nullptr, QString()},
            {QtCriticalMsg, "/src/\xc3\xbc/d\xc3\xa4tei.cpp", 7, nullptr, QStringLiteral("multi\nline ")},
            {QtWarningMsg, "dir/", 99999, "h", QStringLiteral("trailing slash")},
            {QtWarningMsg, "a//b/../c.cpp", 100000, "i", QStringLiteral("dots")},
            {QtWarningMsg, "exactly-thirty-two-characters.cc", 5, "j", QStringLiteral("  spaces  ")},
        };
        for (const Case &c : cases)
            emitMessage(c.type, c.file, c.line, c.function, c.message);
        LoggerManager::releaseLog();
        QVERIFY(qInstallMessageHandler(m_testHandler) == qtDefault); // Qt's own handler is back
        QCOMPARE(LoggerPeek::cachedLoggers(), 0);

        // The banners carry the logger's own source lines; only the first has the separator.
        const QByteArray all = readFile(file(rotate ? "2018-01-19_kiosk.log" : "kiosk.log"));
        QList<int> bannerLines;
        const QRegularExpression bannerLine(QStringLiteral("loggermanager\\.cpp +(\\d+)"));
        for (auto banners = bannerLine.globalMatch(QString::fromUtf8(all)); banners.hasNext();)
            bannerLines << banners.next().captured(1).toInt();
        QCOMPARE(bannerLines.size(), 2);
        const auto banner = [&](int line, const char *function, const char *text) {
            return referenceEntry(rotate, QtDebugMsg, "loggermanager.cpp", line, function, text, s_nowMs);
        };
        QByteArray expected = "\n\n" + QByteArray(80, '-') + '\n' + banner(bannerLines[0], "initLog", "Start logging");
        for (const Case &c : cases)
            expected += referenceEntry(rotate, c.type, c.file, c.line, c.function, c.message, s_nowMs);
        expected += banner(bannerLines[1], "releaseLog", "Stop logging");
        QCOMPARE(all.split('\n'), expected.split('\n'));
    }

    void dayChangeMovesFile_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::newRow("kept-handle") << true;
        QTest::newRow("reopened") << false;
    }

    // A file held from the evening moves to the new day's file at the first message after midnight.
    void dayChangeMovesFile()
    {
        const auto restore = restoreLogger();
        QFETCH(bool, keep);
        LoggerManager::setKeepLogHandlers(keep);
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        setNow(QTime(23, 59, 59, 900));
        start(true);
        qWarning("evening");
        QCOMPARE(LoggerPeek::cachedLoggers(), keep ? 1 : 0);
        setNow(QTime(0, 0, 0, 100), Today.addDays(1));
        qWarning("morning");

        const QStringList first = readLines(file(QStringLiteral("2018-01-19_kiosk.log")));
        const QStringList second = readLines(file(QStringLiteral("2018-01-20_kiosk.log")));
        QCOMPARE(messagesIn(file(QStringLiteral("2018-01-19_kiosk.log"))), (QStringList{"Start logging", "evening"}));
        QVERIFY(first.at(first.size() - 3).startsWith(QStringLiteral("[23:59:59.900] WARNING IN:")));
        QCOMPARE(second.size(), 3);
        QVERIFY(second.at(0).startsWith(QStringLiteral("[00:00:00.100] WARNING IN:")));
        QCOMPARE(second.at(2), Indent + QStringLiteral("morning"));
    }

    void categoryFilesAndLevels_data()
    {
        QTest::addColumn<bool>("rotate");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QString>("own");
        QTest::addColumn<QString>("defaultFile");
        QTest::addColumn<QStringList>("written"); // of the category's messages
        const QStringList all{"debug", "warning", "critical", "info"};
        QTest::newRow("plain") << false << "log" << 0 << "kiosk.log.net" << "kiosk.log" << all;
        QTest::newRow("rotated") << true << "log" << 0 << "2018-01-19_kiosk.log.net" << "2018-01-19_kiosk.log" << all;
        QTest::newRow("own-suffix") << false << "txt" << 0 << "kiosk.txt.net" << "kiosk.txt" << all;
        QTest::newRow("empty-suffix") << false << "" << 0 << "kiosk.log.net" << "kiosk.log" << all;
        // the info type (4) compares above every other level
        QTest::newRow("minimum-warning") << false << "log" << int(QtWarningMsg) << "kiosk.log.net" << "kiosk.log"
                                         << QStringList(all.mid(1));
        QTest::newRow("minimum-critical") << false << "log" << int(QtCriticalMsg) << "kiosk.log.net" << "kiosk.log"
                                          << QStringList(all.mid(2));
    }

    // A category other than "default" has a file of its own; debug messages
    // of such a category pass the default filter rule.
    void categoryFilesAndLevels()
    {
        const auto restore = restoreLogger();
        QFETCH(bool, rotate);
        QFETCH(QString, suffix);
        QFETCH(int, minimum);
        QFETCH(QString, own);
        QFETCH(QString, defaultFile);
        QFETCH(QStringList, written);
        setNow(QTime(8, 0));
        LoggerManager::setDefaultSuffix(suffix);
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(rotate, QtMsgType(minimum));
        QLoggingCategory net("net");
        qCDebug(net, "debug");
        qCWarning(net, "warning");
        qCCritical(net, "critical");
        qCInfo(net, "info");
        qCritical("to the default file");
        emitMessage(QtCriticalMsg, "x.cpp", 1, "f", QStringLiteral("no category"), nullptr);
        QCOMPARE(messagesIn(file(own)), written);
        QCOMPARE(messagesIn(file(defaultFile)),
                 (QStringList{"Start logging", "to the default file", "no category"}));
    }

    void callbacks()
    {
        const auto restore = restoreLogger();
        QStringList got; // type, category, message
        auto collect = [&got](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            got << QStringLiteral("%1 %2 %3").arg(type).arg(QString::fromUtf8(context.category), message);
        };
        LoggerManager::setOutputs(QStringLiteral("net"), collect);
        // a name that has a callback keeps it
        LoggerManager::setOutputs(QStringLiteral("net"), [](QtMsgType, const QMessageLogContext &, const QString &) {
            QFAIL("the second callback replaced the first");
        });
        LoggerManager::setOutputs(QStringLiteral("db"), LoggerManager::OutputCallback());
        LoggerManager::setOutputs(QStringLiteral("default"), collect);
        QCOMPARE(LoggerManager::outputs().keys(), (QStringList{"db", "default", "net"}));
        LoggerManager::setDebugOuts({});
        start(false, QtCriticalMsg);

        QLoggingCategory net("net");
        QLoggingCategory db("db");
        qCDebug(net) << "below the minimum";
        qCWarning(net) << "no outputs";
        qDebug() << "filtered by the default rule";
        qWarning() << "reaches";
        QCOMPARE(got, (QStringList{"0 net below the minimum", "1 net no outputs", "1 default reaches"}));
        QVERIFY(!QFile::exists(file(QStringLiteral("kiosk.log.net"))));

        // an empty callback counts as none: written like any message
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        qCCritical(db) << "to the db file";
        qCCritical(net) << "still the callback";
        QCOMPARE(got.size(), 4);
        QCOMPARE(messagesIn(file(QStringLiteral("kiosk.log.db"))), QStringList{"to the db file"});

        LoggerManager::removeOutput(QStringLiteral("net"));
        qCCritical(net) << "to the net file";
        QCOMPARE(got.size(), 4);
        QCOMPARE(messagesIn(file(QStringLiteral("kiosk.log.net"))), QStringList{"to the net file"});

        LoggerManager::releaseLog();
        QVERIFY(LoggerManager::outputs().isEmpty());
    }

    // A callback that logs its own category ends; the inner message is not lost. What it
    // logs to another category still reaches that category's callback, whatever its level.
    // (Qt sends what its handler logs straight to stderr; hosts forward by calling it.)
    void callbackThatLogs()
    {
        const auto restore = restoreLogger();
        int calls = 0;
        QStringList toDb;
        LoggerManager::setOutputs(QStringLiteral("net"), [&calls](QtMsgType type, const QMessageLogContext &context,
                                                                  const QString &message) {
            ++calls;
            LoggerManager::logMessageOutput(type, context, QStringLiteral("inner ") + message);
            const QMessageLogContext db(context.file, context.line, context.function, "db");
            LoggerManager::logMessageOutput(QtDebugMsg, db, QStringLiteral("db ") + message);
        });
        LoggerManager::setOutputs(QStringLiteral("db"), [&toDb](QtMsgType, const QMessageLogContext &,
                                                                const QString &message) { toDb << message; });
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(false, QtWarningMsg);
        QLoggingCategory net("net");
        qCWarning(net) << "outer";
        QCOMPARE(calls, 1);
        QCOMPARE(toDb, QStringList{"db outer"});
        QCOMPARE(messagesIn(file(QStringLiteral("kiosk.log.net"))), QStringList{"inner outer"});
    }

    void consoleAndFile_data()
    {
        QTest::addColumn<int>("outs");
        QTest::addColumn<bool>("toConsole");
        QTest::addColumn<bool>("toFile");
        QTest::newRow("none") << 0 << false << false;
        QTest::newRow("console") << int(LoggerManager::ConsoleOut) << true << false;
        QTest::newRow("file") << int(LoggerManager::FileOut) << false << true;
        QTest::newRow("both") << int(LoggerManager::ConsoleOut | LoggerManager::FileOut) << true << true;
        QTest::newRow("default") << -1 << true << false;
    }

    // With the system clock: today's file by date.
    void consoleAndFile()
    {
        const auto restore = restoreLogger();
        QFETCH(int, outs);
        QFETCH(bool, toConsole);
        QFETCH(bool, toFile);
        if (outs >= 0)
            LoggerManager::setDebugOuts(QFlags<LoggerManager::EQtDebugOut>(outs));
        StderrCapture err;
        start(true);
        QMessageLogger("console.cpp", 3, "void run()").warning("where does it go");
        const QByteArray console = err.text();
        // the banner goes to the file whatever the outputs say
        QVERIFY(messagesIn(todaysFile()).contains(QStringLiteral("Start logging")));
        QCOMPARE(messagesIn(todaysFile()).contains(QStringLiteral("where does it go")), toFile);
        QCOMPARE(console.contains("where does it go"), toConsole);
        if (toConsole) {
            const QRegularExpression entry(
                QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] WARNING IN: {5}console\\.cpp {21}3 {4}"
                               "THREAD_ID: {4}%1 *\\n {15}void run\\(\\)\\n {15}where does it go\\n$")
                    .arg(threadIdText()));
            QVERIFY2(entry.match(QString::fromUtf8(console)).hasMatch(), console.constData());
        }
    }

    void missingDirectoryGoesToStderr()
    {
        const auto restore = restoreLogger();
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(false);
        QVERIFY(QDir(m_path).removeRecursively());
        StderrCapture err;
        qWarning("nowhere to write");
        LoggerManager::releaseLog();
        const QByteArray text = err.text();
        QVERIFY(text.contains(Indent.toLatin1() + "nowhere to write\n"));
        QVERIFY(text.contains(Indent.toLatin1() + "Stop logging\n"));
        QVERIFY(!QFileInfo::exists(m_path));
    }

    void ignoredSetups_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("days");
        QTest::addColumn<bool>("empty");
        QTest::newRow("empty-path") << QString() << 7u << false;
        QTest::newRow("one-day") << "logs" << 1u << false;
        QTest::newRow("initEmptyLog") << QString() << 0u << true;
    }

    void ignoredSetups()
    {
        const auto restore = restoreLogger();
        QFETCH(QString, path);
        QFETCH(uint, days);
        QFETCH(bool, empty);
        const QString dir = path.isEmpty() ? QString() : m_dir->filePath(path);
        LoggerManager::setDebugOuts(LoggerManager::FileOut | LoggerManager::ConsoleOut);
        StderrCapture err;
        QVERIFY(empty ? LoggerManager::initEmptyLog() : LoggerManager::initLog(dir, days, true, QtDebugMsg));
        qCritical("vanishes");
        QVERIFY(qInstallMessageHandler(m_testHandler) == &LoggerManager::ignoreLogs);
        QVERIFY(err.text().isEmpty());
        QVERIFY(!QFileInfo::exists(m_path));
    }

    // Files named with past dates: deleted, packed and removed, kept.
    void cleanupJob()
    {
        const auto restore = restoreLogger();
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is needed to check the archives");
        setNow(QTime(10, 0));
        QVERIFY(QDir().mkpath(m_path));
        const auto day = [](int back) { return Today.addDays(-back).toString(QStringLiteral("yyyy-MM-dd")); };
        const QStringList deleted{day(8) + "_kiosk.log", day(7) + "_kiosk.log", day(7) + "_kiosk.log.zip",
                                  day(9) + "_crash.dmp"};
        const QStringList packed{day(5) + "_kiosk.log", day(4) + "_kiosk.log", day(4) + "_kiosk.log.net",
                                 day(2) + "_kiosk.log", day(3) + "_crash.dmp"};
        const QStringList kept{day(6) + "_kiosk.log", day(1) + "_kiosk.log", day(3) + "_kiosk.log.zip",
                               "kiosk.log", "notes_kiosk.log", day(9) + "_other.txt"};
        for (const QString &name : deleted + packed + kept) {
            QFile f(file(name));
            QVERIFY(f.open(QIODevice::WriteOnly)
                    && f.write(QStringLiteral("content of %1\n").arg(name).repeated(20).toUtf8()));
        }
        LoggerManager::setAdditionalEraseFilters({QStringLiteral("*.dmp")});

        start(true, QtDebugMsg, 7); // runs the job at once in the thread pool
        QThreadPool::globalInstance()->waitForDone();
        QStringList expected = kept;
        for (const QString &name : packed)
            expected << name + QStringLiteral(".zip");
        expected << day(0) + QStringLiteral("_kiosk.log");
        expected.sort();
        QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);

        // Each archive: one deflated entry under the bare file name, its content intact.
        const QString script = QStringLiteral(
            "import os, sys, zipfile\n"
            "for path in sys.argv[1:]:\n"
            "    name = os.path.basename(path)[:-4]\n"
            "    with zipfile.ZipFile(path) as z:\n"
            "        i = z.infolist()\n"
            "        print(len(i), i[0].filename == name, i[0].compress_type, z.testzip(),\n"
            "              z.read(i[0]) == ('content of %s\\n' % name * 20).encode())\n");
        QStringList args{QStringLiteral("-c"), script};
        for (const QString &name : packed)
            args << file(name + QStringLiteral(".zip"));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(python, args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(p.readAll()), QStringLiteral("1 True 8 None True\n").repeated(packed.size()));

        // A second run changes nothing: archives are never packed again.
        LoggerManagerPrivate::cleanupLogs();
        QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);

        // Three days on: what is 7 days old now goes, what is 2 to 5 days old now is packed.
        setNow(QTime(10, 0), Today.addDays(3));
        LoggerManagerPrivate::cleanupLogs();
        expected = QStringList{day(3) + "_kiosk.log.zip", "kiosk.log", "notes_kiosk.log", day(9) + "_other.txt",
                               day(2) + "_kiosk.log.zip", day(3) + "_crash.dmp.zip", day(1) + "_kiosk.log.zip",
                               day(0) + "_kiosk.log.zip"};
        expected.sort();
        QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);
    }

    void cleanAnyOldFiles()
    {
        const auto restore = restoreLogger();
        setNow(QTime(10, 0));
        QTemporaryDir outside;
        QVERIFY(outside.isValid());
        const QString tree = m_path + QStringLiteral("/sub/deeper");
        QVERIFY(QDir().mkpath(tree));
        const auto make = [](const QString &path, int daysOld) {
            QFile f(path);
            return f.open(QIODevice::ReadWrite) && f.write("x") == 1 && f.flush()
                && f.setFileTime(QDateTime(Today.addDays(-daysOld), QTime(12, 0)), QFileDevice::FileModificationTime);
        };
        QVERIFY(make(file(QStringLiteral("sub/old.bin")), 10));
        QVERIFY(make(file(QStringLiteral("sub/new.bin")), 1));
        QVERIFY(make(tree + QStringLiteral("/old.txt"), 7));
        QVERIFY(make(tree + QStringLiteral("/.hidden"), 30));
        QVERIFY(make(outside.filePath(QStringLiteral("precious.txt")), 30));
        // a link out of the tree and one back into it are not followed
        QVERIFY(QFile::link(outside.path(), file(QStringLiteral("sub/out"))));
        QVERIFY(QFile::link(m_path, tree + QStringLiteral("/loop")));

        LoggerManager::setCleanAnyOldLogs(true);
        start(true);
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(!QFile::exists(file(QStringLiteral("sub/old.bin"))));
        QVERIFY(QFile::exists(file(QStringLiteral("sub/new.bin"))));
        QVERIFY(!QFile::exists(tree + QStringLiteral("/old.txt")));
        QVERIFY(QFile::exists(tree + QStringLiteral("/.hidden")));
        QVERIFY(QFile::exists(outside.filePath(QStringLiteral("precious.txt"))));
    }

    void threads_data()
    {
        QTest::addColumn<bool>("rotate");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("perThread");
        QTest::newRow("rotation-kept-handles") << true << true << 3000;
        QTest::newRow("rotation-reopened") << true << false << 600;
        QTest::newRow("no-rotation") << false << false << 600;
    }

    // 8 threads at once: every message exactly once, every entry whole.
    void threads()
    {
        const auto restore = restoreLogger();
        QFETCH(bool, rotate);
        QFETCH(bool, keep);
        QFETCH(int, perThread);
        const int threadCount = 8;
        setNow(QTime(10, 0));
        LoggerManager::setKeepLogHandlers(keep);
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(rotate);

        QVector<QString> ids(threadCount);
        QSemaphore ready, go;
        QList<QThread *> workers;
        for (int t = 0; t < threadCount; ++t) {
            workers << QThread::create([&, t] {
                ids[t] = threadIdText().leftJustified(16); // padded to its field
                ready.release();
                go.acquire();
                for (int i = 0; i < perThread; ++i)
                    QMessageLogger("worker.cpp", 10 + t, "void worker()").warning("t%d m%d", t, i);
            });
            workers.last()->start();
        }
        ready.acquire(threadCount);
        go.release(threadCount);
        for (QThread *w : qAsConst(workers)) {
            QVERIFY(w->wait(60000));
            delete w;
        }

        const QString text = QString::fromUtf8(readFile(file(rotate ? "2018-01-19_kiosk.log" : "kiosk.log")));
        const QRegularExpression entry(
            (rotate ? QString() : QStringLiteral("\\[18-01-19\\]\\n"))
            + QStringLiteral("\\[10:00:00\\.000\\] WARNING IN: {5}worker\\.cpp {22}(\\d\\d) {3}"
                             "THREAD_ID: {4}(\\S+ *)\\n {15}void worker\\(\\)\\n {15}t(\\d) m(\\d+)\\n"));
        QVector<QVector<int>> seen(threadCount, QVector<int>(perThread, 0));
        int whole = 0;
        for (auto it = entry.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const int t = m.captured(3).toInt();
            const int i = m.captured(4).toInt();
            QVERIFY(t < threadCount && i < perThread);
            // header and message of one entry come from the same thread
            QCOMPARE(m.captured(1).toInt(), 10 + t);
            QCOMPARE(m.captured(2), ids.at(t));
            ++seen[t][i];
            whole += m.capturedLength();
        }
        // nothing but whole entries after the banner
        QCOMPARE(text.size() - whole, text.indexOf(QLatin1String("Start logging\n")) + 14);
        for (int t = 0; t < threadCount; ++t)
            QCOMPARE(seen.at(t), QVector<int>(perThread, 1));
    }

    void reentrance_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("nested");
        // initLog() in a thread without an event loop: the clean-up timer warns while the lock is held
        QTest::newRow("timer-warning") << "reentrance-timer" << "QObject::startTimer";
        // a category filter that logs runs inside setFilterRules(), under the lock
        QTest::newRow("filter-warning") << "reentrance-filter" << "filter ran";
    }

    // A message raised while the logger holds its lock goes to standard error; nothing deadlocks.
    void reentrance()
    {
        const auto restore = restoreLogger();
        QFETCH(QString, scenario);
        QFETCH(QString, nested);
        const ChildResult r = runChild({scenario, m_path});
        QVERIFY2(r.finished, "the child deadlocked");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("done\n"));
        const QString err = QString::fromUtf8(r.err);
        // Qt's own warnings carry no file name
        const QRegularExpression entry(
            QStringLiteral("WARNING IN: +(\\S+ +)?\\d+ +THREAD_ID: +\\S+ *\\n {15}.*\\n {15}")
            + QRegularExpression::escape(nested));
        QVERIFY2(entry.match(err).hasMatch(), qPrintable(err));
        const QStringList files = QDir(m_path).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QStringList messages = messagesIn(file(files.first()));
        QVERIFY(messages.contains(QStringLiteral("after the nested warning")));
        QCOMPARE(messages.last(), QStringLiteral("Stop logging"));
    }

    void secondInitLogReplacesTimer()
    {
        const auto restore = restoreLogger();
        start(true);
        const QPointer<QTimer> first = LoggerPeek::timer();
        QVERIFY(first);
        QVERIFY(first->isActive());
        QCOMPARE(first->interval(), 86400000);
        start(true);
        QVERIFY(!first);
        const QPointer<QTimer> second = LoggerPeek::timer();
        QVERIFY(second && second->isActive());
        start(false);
        QVERIFY(!second);
        QVERIFY(!LoggerPeek::timer());
        start(true);
        const QPointer<QTimer> third = LoggerPeek::timer();
        LoggerManager::releaseLog();
        QVERIFY(!third);
        QVERIFY(!LoggerPeek::timer());
    }

    // No log directory yet: the closing line goes to stderr, never into the
    // working directory.
    void releaseBeforeInitWritesToStderr()
    {
        const auto restore = restoreLogger();
        QVERIFY(QDir().mkpath(m_path));
        const ChildResult r = runChild({QStringLiteral("release-only"), QString()},
                                       QProcessEnvironment::systemEnvironment(), m_path);
        QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());
        QVERIFY(r.err.contains(Indent.toLatin1() + "Stop logging\n"));
        QCOMPARE(QDir(m_path).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void localTimes_data()
    {
        QTest::addColumn<QString>("tz");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("utc");
        QTest::addColumn<QStringList>("expected"); // date line and time; empty: as Qt writes it
        const QString cet = QStringLiteral("CET-1CEST,M3.5.0,M10.5.0/3");
        QTest::newRow("spring-forward")
            << cet << "C.UTF-8" << QStringList{"2021-03-28T00:59:59.500Z", "2021-03-28T01:00:00.500Z"}
            << QStringList{"[21-03-28]", "[01:59:59.500] ", "[21-03-28]", "[03:00:00.500] "};
        QTest::newRow("fall-back")
            << cet << "C.UTF-8" << QStringList{"2021-10-31T00:59:59.500Z", "2021-10-31T01:00:00.500Z"}
            << QStringList{"[21-10-31]", "[02:59:59.500] ", "[21-10-31]", "[02:00:00.500] "};
        QTest::newRow("local-day-ahead") << "JST-9" << "C.UTF-8" << QStringList{"2021-03-27T20:00:00.000Z"}
                                         << QStringList{"[21-03-28]", "[05:00:00.000] "};
        QTest::newRow("local-day-behind") << "EST5" << "C.UTF-8" << QStringList{"2021-03-28T02:00:00.000Z"}
                                          << QStringList{"[21-03-27]", "[21:00:00.000] "};
        QTest::newRow("arabic-digits") << "UTC0" << "ar_EG.UTF-8"
                                       << QStringList{"2021-03-28T02:03:04.005Z"} << QStringList();
    }

    // Time stamps under other zones and locales, in a child with TZ and LC_ALL
    // set: the cached local offset follows daylight saving, and the texts match
    // what Qt's own local time and formatting give.
    void localTimes()
    {
        const auto restore = restoreLogger();
        QFETCH(QString, tz);
        QFETCH(QString, locale);
        QFETCH(QStringList, utc);
        QFETCH(QStringList, expected);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), tz);
        env.insert(QStringLiteral("LC_ALL"), locale);
        QStringList args{QStringLiteral("times"), m_path};
        for (const QString &u : utc)
            args << QString::number(QDateTime::fromString(u, Qt::ISODateWithMs).toMSecsSinceEpoch());
        const ChildResult r = runChild(args, env);
        QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());

        QStringList got;
        const QStringList lines = readLines(file(QStringLiteral("kiosk.log")));
        for (int i = 7; i + 3 < lines.size(); i += 4) // after the banner
            got << lines.at(i) << lines.at(i + 1).left(lines.at(i + 1).indexOf(QLatin1Char(']')) + 2);
        got = got.mid(0, utc.size() * 2);
        // what Qt's own local time and formatting give in the child
        QCOMPARE(got, readLines(file(QStringLiteral("expected.txt"))));
        if (!expected.isEmpty())
            QCOMPARE(got, expected);
        else
            QVERIFY(!got.isEmpty() && !got.first().contains(QLatin1Char('2'))); // not Latin digits
    }
};

// --- child scenarios ---

static QLoggingCategory::CategoryFilter s_previousFilter = nullptr;

static void loggingFilter(QLoggingCategory *category)
{
    if (qstrcmp(category->categoryName(), "default") == 0)
        qWarning("filter ran");
    if (s_previousFilter)
        s_previousFilter(category);
}

static int childMain(const QStringList &args)
{
    const QString scenario = args.value(0);
    const QString dir = args.value(1);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    if (scenario == QLatin1String("release-only")) {
        LoggerManager::releaseLog();
        return 0;
    }
    QPointer<QTimer> cleanupTimer;
    if (scenario == QLatin1String("reentrance-timer")) {
        std::thread t([&] { LoggerManager::initLog(dir, 7, true, QtDebugMsg); });
        t.join();
        // Its thread is gone: releaseLog() must still dispose of it.
        cleanupTimer = LoggerPeek::timer();
    } else if (scenario == QLatin1String("reentrance-filter")) {
        LoggerManager::initLog(dir, 7, false, QtDebugMsg);
        qWarning("registers the default category");
        s_previousFilter = QLoggingCategory::installFilter(loggingFilter);
        LoggerManager::initLog(dir, 7, false, QtDebugMsg);
        QLoggingCategory::installFilter(s_previousFilter);
    } else if (scenario == QLatin1String("times")) {
        LoggerManagerPrivate::setClock(fixedClock);
        s_nowMs = args.value(2).toLongLong();
        LoggerManager::initLog(dir, 7, false, QtDebugMsg);
        QFile expected(dir + QStringLiteral("/expected.txt"));
        if (!expected.open(QIODevice::WriteOnly))
            return 2;
        QTextStream out(&expected);
        for (int i = 2; i < args.size(); ++i) {
            s_nowMs = args.at(i).toLongLong();
            qWarning("at %s", qPrintable(args.at(i)));
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(s_nowMs.load());
            out << '[' << local.date().toString(QStringLiteral("yy-MM-dd")) << "]\n"
                << local.time().toString(QStringLiteral("[hh:mm:ss.zzz] ")) << '\n';
        }
    } else {
        return 3;
    }
    qWarning("after the nested warning");
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    if (cleanupTimer)
        std::printf("clean-up timer left behind\n");
    std::printf("done\n");
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk"));
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childMain(QCoreApplication::arguments().mid(2));
    TestLoggerManager test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_loggermanager.moc"
