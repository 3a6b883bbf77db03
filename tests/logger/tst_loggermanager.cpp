// LoggerManager: entry layout over real files, file naming, outputs,
// callbacks, the clean-up job checked with Python's zipfile, threads, and the
// faults of a process-wide handler (re-entrance, timers, restoring Qt's
// handler). Scenarios that could hang the process or need another time zone
// or locale run in a child process of this executable.
#include "loggermanager_p.h"

#include <logger/loggermanager.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The fixed "now" of the tests that set the clock; the clean-up job reads it
// in a pool thread while a test moves it on.
std::atomic<qint64> s_nowMs{0};
qint64 fixedClock()
{
    return s_nowMs.load();
}

qint64 localMs(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch();
}

const QDate Today(2018, 1, 19);

QString threadIdText()
{
    return QString::number(qint64(qint32(quintptr(QThread::currentThreadId()))), 16);
}

// Reaches the statics the class keeps for its subclasses.
struct LoggerPeek : LoggerManager
{
    static QTimer *timer() { return _eraceTimer; }
    static int cachedLoggers() { return _loggers.size(); }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList readLines(const QString &path)
{
    QString text = QString::fromUtf8(readAll(path));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
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
        return readAll(m_file.fileName());
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

// Runs this executable as a child for one scenario; kills it after `timeoutMs`.
struct ChildResult
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ChildResult runChild(const QStringList &args, const QProcessEnvironment &env,
                     const QString &workDir = QString(), int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    ChildResult r;
    if (!p.waitForStarted(10000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = p.readAllStandardError();
        return r;
    }
    r.finished = p.exitStatus() == QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestLoggerManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void entryLayout_data();
    void entryLayout();
    void exactBytes_data();
    void exactBytes();
    void rotationNames();
    void dayChangeMovesFile_data();
    void dayChangeMovesFile();
    void categoryFiles_data();
    void categoryFiles();
    void callbacks();
    void callbackThatLogs();
    void minimumLevel_data();
    void minimumLevel();
    void defaultDebugFiltered();
    void consoleAndFile_data();
    void consoleAndFile();
    void missingDirectoryGoesToStderr();
    void ignoredSetups_data();
    void ignoredSetups();
    void cleanupJob();
    void cleanAnyOldFiles();
    void threads_data();
    void threads();
    void reentrance_data();
    void reentrance();
    void secondInitLogReplacesTimer();
    void releaseRestoresQtHandler();
    void releaseBeforeInitWritesToStderr();
    void localTimes_data();
    void localTimes();

private:
    // Made first in every test: releases the logger, puts Qt Test's message
    // handler back and restores the defaults, however the test ends.
    auto restoreLogger()
    {
        return qScopeGuard([this] { restoreDefaults(); });
    }
    void restoreDefaults();
    // Starts logging into the test's fresh directory.
    QString start(bool rotate, QtMsgType minimum = QtDebugMsg, unsigned int days = 7);
    QString m_path;
    QScopedPointer<QTemporaryDir> m_dir;
    QtMessageHandler m_testHandler = nullptr;
};

void TestLoggerManager::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    m_path = m_dir->filePath(QStringLiteral("logs"));
    m_testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(m_testHandler);
}

void TestLoggerManager::cleanup()
{
    m_dir.reset();
}

void TestLoggerManager::restoreDefaults()
{
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
}

QString TestLoggerManager::start(bool rotate, QtMsgType minimum, unsigned int days)
{
    LoggerManager::initLog(m_path, days, rotate, minimum);
    return m_path;
}

void TestLoggerManager::entryLayout_data()
{
    QTest::addColumn<bool>("rotate");
    QTest::newRow("rotation") << true;
    QTest::newRow("no-rotation") << false;
}

// Line by line over a real file written with the real clock.
void TestLoggerManager::entryLayout()
{
    const auto restore = restoreLogger();
    QFETCH(bool, rotate);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    const QTime before = QTime::currentTime();
    start(rotate);
    QMessageLogger("/src/app/deep/module.cpp", 42, "void Module::run()").warning("the message");
    QMessageLogger("module.cpp", 7, "f").critical("critical text");
    QMessageLogger("module.cpp", 123456, "g").info("info text");
    LoggerManager::releaseLog();
    const QTime after = QTime::currentTime();

    const QString name = rotate
        ? QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("_kiosk.log")
        : QStringLiteral("kiosk.log");
    const QStringList lines = readLines(m_path + QLatin1Char('/') + name);
    const QString tid = QRegularExpression::escape(threadIdText().leftJustified(16));
    const QString time = QStringLiteral("\\[(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)\\] ");
    const QString dateLine =
        QLatin1Char('[') + QDate::currentDate().toString(QStringLiteral("yy-MM-dd")) + QLatin1Char(']');

    QStringList expected{
        QString(), QString(), QStringLiteral("-{80}"),
        time + QStringLiteral("INFO IN: {8}loggermanager\\.cpp {15}(\\d{3}  |\\d{4} )THREAD_ID: {4}") + tid,
        QStringLiteral(" {15}initLog"), QStringLiteral(" {15}Start logging"),
        time + QStringLiteral("WARNING IN: {5}module\\.cpp {22}42 {3}THREAD_ID: {4}") + tid,
        QStringLiteral(" {15}void Module::run\\(\\)"), QStringLiteral(" {15}the message"),
        time + QStringLiteral("CRITICAL IN: {4}module\\.cpp {22}7 {4}THREAD_ID: {4}") + tid,
        QStringLiteral(" {15}f"), QStringLiteral(" {15}critical text"),
        // the info type has no level word and no field for it
        time + QStringLiteral("module\\.cpp {22}123456THREAD_ID: {4}") + tid,
        QStringLiteral(" {15}g"), QStringLiteral(" {15}info text"),
        time + QStringLiteral("INFO IN: {8}loggermanager\\.cpp {15}(\\d{3}  |\\d{4} )THREAD_ID: {4}") + tid,
        QStringLiteral(" {15}releaseLog"), QStringLiteral(" {15}Stop logging")};
    if (!rotate) {
        // the date line before every header
        for (int i = expected.size() - 3; i >= 3; i -= 3)
            expected.insert(i, QRegularExpression::escape(dateLine));
    }
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpression re(QLatin1Char('^') + expected.at(i) + QLatin1Char('$'));
        const QRegularExpressionMatch m = re.match(lines.at(i));
        QVERIFY2(m.hasMatch(), qPrintable(QStringLiteral("line %1: \"%2\" !~ %3")
                                              .arg(i + 1).arg(lines.at(i), re.pattern())));
        if (!m.captured(1).isEmpty()) {
            const QTime t = QTime::fromString(m.captured(1), QStringLiteral("hh:mm:ss.zzz"));
            QVERIFY2(t >= before && t <= after, qPrintable(lines.at(i)));
        }
    }
}

void TestLoggerManager::exactBytes_data()
{
    entryLayout_data();
}

// Every byte of a set of awkward entries, against the plain QTextStream
// rendering of the layout.
void TestLoggerManager::exactBytes()
{
    const auto restore = restoreLogger();
    QFETCH(bool, rotate);
    s_nowMs = localMs(Today, QTime(9, 5, 3, 42));
    LoggerManagerPrivate::setClock(fixedClock);
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
         QString(QChar(0xd800)) + QLatin1Char('x') + QChar(0xdc00) + QStringLiteral("end")
             + QChar(0xd83d)},
        {QtWarningMsg, nullptr, 0, nullptr, QString()},
        {QtCriticalMsg, "/src/\xc3\xbc/d\xc3\xa4tei.cpp", 7, nullptr, QStringLiteral("multi\nline ")},
        {QtWarningMsg, "dir/", 99999, "h", QStringLiteral("trailing slash")},
        {QtWarningMsg, "a//b/../c.cpp", 100000, "i", QStringLiteral("dots")},
        {QtWarningMsg, "exactly-thirty-two-characters.cc", 5, "j", QStringLiteral("  spaces  ")},
    };
    QByteArray expected;
    for (const Case &c : cases) {
        emitMessage(c.type, c.file, c.line, c.function, c.message);
        expected += referenceEntry(rotate, c.type, c.file, c.line, c.function, c.message, s_nowMs.load());
    }
    const QString name = rotate ? QStringLiteral("2018-01-19_kiosk.log") : QStringLiteral("kiosk.log");
    const QByteArray all = readAll(m_path + QLatin1Char('/') + name);
    const QByteArray startLine = "Start logging\n";
    const int from = all.indexOf(startLine);
    QVERIFY(from > 0);
    const QByteArray entries = all.mid(from + startLine.size());
    if (entries != expected) {
        const QList<QByteArray> got = entries.split('\n'), want = expected.split('\n');
        for (int i = 0; i < qMin(got.size(), want.size()); ++i)
            QCOMPARE(got.at(i), want.at(i));
        QCOMPARE(got.size(), want.size());
    }
}

void TestLoggerManager::rotationNames()
{
    const auto restore = restoreLogger();
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(true);
    qWarning("today");
    const QString today =
        QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("_kiosk.log");
    QVERIFY2(readAll(m_path + QLatin1Char('/') + today).contains("today"), qPrintable(today));
    LoggerManager::releaseLog();

    s_nowMs = localMs(Today, QTime(12, 0));
    LoggerManagerPrivate::setClock(fixedClock);
    start(true);
    qWarning("by the clock");
    QVERIFY(readAll(m_path + QStringLiteral("/2018-01-19_kiosk.log")).contains("by the clock"));
}

void TestLoggerManager::dayChangeMovesFile_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("kept-handle") << true;
    QTest::newRow("reopened") << false;
}

// A file held from the evening moves to the new day's file at the first message after midnight.
void TestLoggerManager::dayChangeMovesFile()
{
    const auto restore = restoreLogger();
    QFETCH(bool, keep);
    LoggerManager::setKeepLogHandlers(keep);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    s_nowMs = localMs(Today, QTime(23, 59, 59, 900));
    LoggerManagerPrivate::setClock(fixedClock);
    start(true);
    qWarning("evening");
    QCOMPARE(LoggerPeek::cachedLoggers(), keep ? 1 : 0);
    s_nowMs = localMs(Today.addDays(1), QTime(0, 0, 0, 100));
    qWarning("morning");

    const QStringList first = readLines(m_path + QStringLiteral("/2018-01-19_kiosk.log"));
    const QStringList second = readLines(m_path + QStringLiteral("/2018-01-20_kiosk.log"));
    QVERIFY(first.contains(Indent + QStringLiteral("evening")));
    QVERIFY(!first.contains(Indent + QStringLiteral("morning")));
    QCOMPARE(second.size(), 3);
    QVERIFY(second.at(0).startsWith(QStringLiteral("[00:00:00.100] WARNING IN:")));
    QCOMPARE(second.at(2), Indent + QStringLiteral("morning"));
    QVERIFY(first.at(first.size() - 3).startsWith(QStringLiteral("[23:59:59.900] WARNING IN:")));
}

void TestLoggerManager::categoryFiles_data()
{
    QTest::addColumn<bool>("rotate");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("defaultFile");
    QTest::newRow("plain") << false << "log" << "kiosk.log.net" << "kiosk.log";
    QTest::newRow("rotated") << true << "log" << "2018-01-19_kiosk.log.net" << "2018-01-19_kiosk.log";
    QTest::newRow("own-suffix") << false << "txt" << "kiosk.txt.net" << "kiosk.txt";
    QTest::newRow("empty-suffix") << false << "" << "kiosk.log.net" << "kiosk.log";
}

void TestLoggerManager::categoryFiles()
{
    const auto restore = restoreLogger();
    QFETCH(bool, rotate);
    QFETCH(QString, suffix);
    QFETCH(QString, file);
    QFETCH(QString, defaultFile);
    s_nowMs = localMs(Today, QTime(8, 0));
    LoggerManagerPrivate::setClock(fixedClock);
    LoggerManager::setDefaultSuffix(suffix);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(rotate);
    QLoggingCategory net("net");
    qCWarning(net) << "to the net file";
    qCDebug(net) << "debug of another category";
    qWarning() << "to the default file";
    // no category at all: the default file
    emitMessage(QtWarningMsg, "x.cpp", 1, "f", QStringLiteral("no category"), nullptr);

    const QByteArray own = readAll(m_path + QLatin1Char('/') + file);
    const QByteArray main = readAll(m_path + QLatin1Char('/') + defaultFile);
    QVERIFY(own.contains("to the net file"));
    QVERIFY(own.contains("debug of another category"));
    QVERIFY(!own.contains("to the default file"));
    QVERIFY(main.contains("to the default file"));
    QVERIFY(main.contains("no category"));
    QVERIFY(main.contains("Start logging"));
    QVERIFY(!main.contains("to the net file"));
}

void TestLoggerManager::callbacks()
{
    const auto restore = restoreLogger();
    struct Received
    {
        QtMsgType type;
        QString category;
        QString message;
    };
    QList<Received> got;
    auto collect = [&got](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        got.append({type, QString::fromUtf8(context.category), message});
    };
    LoggerManager::setOutputs(QStringLiteral("net"), collect);
    // a name that has a callback keeps it
    LoggerManager::setOutputs(QStringLiteral("net"), [](QtMsgType, const QMessageLogContext &, const QString &) {
        QFAIL("the second callback replaced the first");
    });
    LoggerManager::setOutputs(QStringLiteral("db"), LoggerManager::OutputCallback());
    QCOMPARE(LoggerManager::outputs().keys(), (QStringList{QStringLiteral("db"), QStringLiteral("net")}));
    LoggerManager::setDebugOuts({});
    start(false, QtCriticalMsg);

    QLoggingCategory net("net");
    QLoggingCategory db("db");
    qCDebug(net) << "below the minimum";
    qCWarning(net) << "no outputs";
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.at(0).type, QtDebugMsg);
    QCOMPARE(got.at(0).category, QStringLiteral("net"));
    QCOMPARE(got.at(0).message, QStringLiteral("below the minimum"));
    QCOMPARE(got.at(1).type, QtWarningMsg);
    QVERIFY(!QFile::exists(m_path + QStringLiteral("/kiosk.log.net")));

    // an empty callback counts as none: written like any message
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    qCCritical(db) << "to the db file";
    qCCritical(net) << "still the callback";
    QCOMPARE(got.size(), 3);
    QVERIFY(readAll(m_path + QStringLiteral("/kiosk.log.db")).contains("to the db file"));

    LoggerManager::removeOutput(QStringLiteral("net"));
    qCCritical(net) << "to the net file";
    QCOMPARE(got.size(), 3);
    QVERIFY(readAll(m_path + QStringLiteral("/kiosk.log.net")).contains("to the net file"));
    QVERIFY(!readAll(m_path + QStringLiteral("/kiosk.log.net")).contains("still the callback"));

    LoggerManager::releaseLog();
    QVERIFY(LoggerManager::outputs().isEmpty());
}

// A callback that logs its own category ends; the inner message is not lost.
void TestLoggerManager::callbackThatLogs()
{
    const auto restore = restoreLogger();
    int calls = 0;
    LoggerManager::setOutputs(QStringLiteral("net"),
                              [&calls](QtMsgType, const QMessageLogContext &, const QString &message) {
                                  ++calls;
                                  QLoggingCategory inner("net");
                                  qCWarning(inner).noquote() << "inner" << message;
                              });
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(false);
    StderrCapture err;
    QLoggingCategory net("net");
    qCWarning(net) << "outer";
    QCOMPARE(calls, 1);
    const QByteArray inner = "inner outer";
    QVERIFY(err.text().contains(inner) || readAll(m_path + QStringLiteral("/kiosk.log.net")).contains(inner));
}

void TestLoggerManager::minimumLevel_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("debug") << int(QtDebugMsg) << QStringList{"debug", "warning", "critical", "info"};
    QTest::newRow("warning") << int(QtWarningMsg) << QStringList{"warning", "critical", "info"};
    QTest::newRow("critical") << int(QtCriticalMsg) << QStringList{"critical", "info"};
}

void TestLoggerManager::minimumLevel()
{
    const auto restore = restoreLogger();
    QFETCH(int, minimum);
    QFETCH(QStringList, written);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(false, QtMsgType(minimum));
    QLoggingCategory net("net");
    qCDebug(net) << "debug";
    qCWarning(net) << "warning";
    qCCritical(net) << "critical";
    qCInfo(net) << "info"; // type 4 compares above every other level
    const QStringList lines = readLines(m_path + QStringLiteral("/kiosk.log.net"));
    QStringList messages;
    for (int i = 3; i < lines.size(); i += 4)
        messages << lines.at(i).mid(15);
    QCOMPARE(messages, written);
}

void TestLoggerManager::defaultDebugFiltered()
{
    const auto restore = restoreLogger();
    QStringList seen;
    LoggerManager::setOutputs(QStringLiteral("default"),
                              [&seen](QtMsgType, const QMessageLogContext &, const QString &m) { seen << m; });
    start(true);
    qDebug() << "never";
    qWarning() << "reaches";
    QCOMPARE(seen, QStringList{QStringLiteral("reaches")});
}

void TestLoggerManager::consoleAndFile_data()
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

void TestLoggerManager::consoleAndFile()
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
    const QByteArray file =
        readAll(m_path + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                + QStringLiteral("_kiosk.log"));
    // the banner goes to the file whatever the outputs say
    QVERIFY(file.contains("Start logging"));
    QCOMPARE(file.contains("where does it go"), toFile);
    QCOMPARE(console.contains("where does it go"), toConsole);
    if (toConsole) {
        const QRegularExpression entry(QStringLiteral(
            "^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] WARNING IN: {5}console\\.cpp {21}3 {4}THREAD_ID: {4}%1 *\\n {15}void run\\(\\)\\n {15}where does it go\\n$")
                                           .arg(threadIdText()));
        QVERIFY2(entry.match(QString::fromUtf8(console)).hasMatch(), console.constData());
    }
}

void TestLoggerManager::missingDirectoryGoesToStderr()
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

void TestLoggerManager::ignoredSetups_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("days");
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty-path") << QString() << 7u << false;
    QTest::newRow("one-day") << "logs" << 1u << false;
    QTest::newRow("initEmptyLog") << QString() << 0u << true;
}

void TestLoggerManager::ignoredSetups()
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
    const QtMessageHandler installed = qInstallMessageHandler(m_testHandler);
    QVERIFY(installed == &LoggerManager::ignoreLogs);
    QVERIFY(err.text().isEmpty());
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("logs"))));
}

// Files named with past dates: deleted, packed and removed, kept.
void TestLoggerManager::cleanupJob()
{
    const auto restore = restoreLogger();
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is needed to check the archives");
    s_nowMs = localMs(Today, QTime(10, 0));
    LoggerManagerPrivate::setClock(fixedClock);
    QVERIFY(QDir().mkpath(m_path));
    auto day = [](int back) { return Today.addDays(-back).toString(QStringLiteral("yyyy-MM-dd")); };
    auto content = [](const QString &name) {
        return (QStringLiteral("content of %1\n").arg(name).repeated(20)).toUtf8();
    };
    const QStringList deleted{day(8) + "_kiosk.log", day(7) + "_kiosk.log", day(7) + "_kiosk.log.zip",
                              day(9) + "_crash.dmp"};
    const QStringList packed{day(5) + "_kiosk.log", day(4) + "_kiosk.log", day(4) + "_kiosk.log.net",
                             day(2) + "_kiosk.log", day(3) + "_crash.dmp"};
    const QStringList kept{day(6) + "_kiosk.log", day(1) + "_kiosk.log", day(3) + "_kiosk.log.zip",
                           QStringLiteral("kiosk.log"), QStringLiteral("notes_kiosk.log"),
                           day(9) + "_other.txt"};
    for (const QString &name : deleted + packed + kept)
        QVERIFY(writeFile(m_path + QLatin1Char('/') + name, content(name)));
    LoggerManager::setAdditionalEraseFilters({QStringLiteral("*.dmp")});

    start(true, QtDebugMsg, 7); // runs the job at once in the thread pool
    QThreadPool::globalInstance()->waitForDone();

    QStringList expected = kept;
    for (const QString &name : packed)
        expected << name + QStringLiteral(".zip");
    expected << day(0) + QStringLiteral("_kiosk.log");
    expected.sort();
    QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);

    const char *script =
        "import json, sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "print(json.dumps({'bad': z.testzip(), 'entries': [[i.filename, i.compress_type] for i in z.infolist()],"
        " 'data': z.read(z.infolist()[0]).decode('utf-8')}))\n";
    for (const QString &name : packed) {
        QProcess p;
        p.start(python, {QStringLiteral("-c"), QString::fromLatin1(script),
                         m_path + QLatin1Char('/') + name + QStringLiteral(".zip")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QJsonObject r = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        QVERIFY2(r.value(QStringLiteral("bad")).isNull(), qPrintable(name));
        const QJsonArray entries = r.value(QStringLiteral("entries")).toArray();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.at(0).toArray().at(0).toString(), name); // the bare file name
        QCOMPARE(entries.at(0).toArray().at(1).toInt(), 8);       // deflated
        QCOMPARE(r.value(QStringLiteral("data")).toString().toUtf8(), content(name));
    }

    // A second run changes nothing: archives are never packed again.
    LoggerManagerPrivate::cleanupLogs();
    QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);

    // Three days on, the archives of files 7 days old go as well.
    s_nowMs = localMs(Today.addDays(3), QTime(10, 0));
    LoggerManagerPrivate::cleanupLogs();
    const QStringList now = QDir(m_path).entryList(QDir::Files, QDir::Name);
    QVERIFY(!now.contains(day(4) + QStringLiteral("_kiosk.log.zip")));
    QVERIFY(!now.contains(day(5) + QStringLiteral("_kiosk.log.zip")));
    QVERIFY(now.contains(day(2) + QStringLiteral("_kiosk.log.zip")));
    QVERIFY(!now.contains(day(1) + QStringLiteral("_kiosk.log")));
    QVERIFY(now.contains(day(1) + QStringLiteral("_kiosk.log.zip")));
    QVERIFY(!now.contains(day(3) + QStringLiteral("_kiosk.log.zip.zip")));
}

void TestLoggerManager::cleanAnyOldFiles()
{
    const auto restore = restoreLogger();
    s_nowMs = localMs(Today, QTime(10, 0));
    LoggerManagerPrivate::setClock(fixedClock);
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString tree = m_path + QStringLiteral("/sub/deeper");
    QVERIFY(QDir().mkpath(tree));
    auto make = [](const QString &path, int daysOld) {
        QFile f(path);
        return f.open(QIODevice::ReadWrite) && f.write("x") == 1 && f.flush()
            && f.setFileTime(QDateTime(Today.addDays(-daysOld), QTime(12, 0)),
                             QFileDevice::FileModificationTime);
    };
    QVERIFY(make(m_path + QStringLiteral("/sub/old.bin"), 10));
    QVERIFY(make(m_path + QStringLiteral("/sub/new.bin"), 1));
    QVERIFY(make(tree + QStringLiteral("/old.txt"), 7));
    QVERIFY(make(tree + QStringLiteral("/.hidden"), 30));
    QVERIFY(make(outside.filePath(QStringLiteral("precious.txt")), 30));
    // a link out of the tree and one back into it are not followed
    QVERIFY(QFile::link(outside.path(), m_path + QStringLiteral("/sub/out")));
    QVERIFY(QFile::link(m_path, tree + QStringLiteral("/loop")));

    LoggerManager::setCleanAnyOldLogs(true);
    start(true);
    QThreadPool::globalInstance()->waitForDone();
    QVERIFY(!QFile::exists(m_path + QStringLiteral("/sub/old.bin")));
    QVERIFY(QFile::exists(m_path + QStringLiteral("/sub/new.bin")));
    QVERIFY(!QFile::exists(tree + QStringLiteral("/old.txt")));
    QVERIFY(QFile::exists(tree + QStringLiteral("/.hidden")));
    QVERIFY(QFile::exists(outside.filePath(QStringLiteral("precious.txt"))));
}

void TestLoggerManager::threads_data()
{
    QTest::addColumn<bool>("rotate");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("perThread");
    QTest::newRow("rotation-kept-handles") << true << true << 3000;
    QTest::newRow("rotation-reopened") << true << false << 600;
    QTest::newRow("no-rotation") << false << false << 600;
}

// 8 threads at once: every message exactly once, every entry whole.
void TestLoggerManager::threads()
{
    const auto restore = restoreLogger();
    QFETCH(bool, rotate);
    QFETCH(bool, keep);
    QFETCH(int, perThread);
    const int threadCount = 8;
    s_nowMs = localMs(Today, QTime(10, 0));
    LoggerManagerPrivate::setClock(fixedClock);
    LoggerManager::setKeepLogHandlers(keep);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(rotate);

    QVector<QString> ids(threadCount);
    QSemaphore ready, go;
    QList<QThread *> workers;
    for (int t = 0; t < threadCount; ++t) {
        workers << QThread::create([&, t] {
            ids[t] = threadIdText();
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

    const QStringList lines = readLines(m_path + QLatin1Char('/')
                                        + (rotate ? QStringLiteral("2018-01-19_kiosk.log")
                                                  : QStringLiteral("kiosk.log")));
    const int per = rotate ? 3 : 4;
    const int bannerLines = rotate ? 6 : 7;
    QCOMPARE(lines.size(), bannerLines + threadCount * perThread * per);
    const QRegularExpression header(QStringLiteral(
        "^\\[10:00:00\\.000\\] WARNING IN: {5}worker\\.cpp {22}(\\d\\d) {3}THREAD_ID: {4}(\\S+) *$"));
    const QRegularExpression message(QStringLiteral("^ {15}t(\\d) m(\\d+)$"));
    QVector<QVector<int>> seen(threadCount, QVector<int>(perThread, 0));
    for (int at = bannerLines; at < lines.size(); at += per) {
        if (!rotate)
            QCOMPARE(lines.at(at), QStringLiteral("[18-01-19]"));
        const int h = at + per - 3;
        const QRegularExpressionMatch hm = header.match(lines.at(h));
        QVERIFY2(hm.hasMatch(), qPrintable(lines.at(h)));
        QCOMPARE(lines.at(h + 1), Indent + QStringLiteral("void worker()"));
        const QRegularExpressionMatch mm = message.match(lines.at(h + 2));
        QVERIFY2(mm.hasMatch(), qPrintable(lines.at(h + 2)));
        const int t = mm.captured(1).toInt();
        const int i = mm.captured(2).toInt();
        QVERIFY(t < threadCount && i < perThread);
        // header and message of one entry come from the same thread
        QCOMPARE(hm.captured(1).toInt(), 10 + t);
        QCOMPARE(hm.captured(2), ids.at(t));
        ++seen[t][i];
    }
    for (int t = 0; t < threadCount; ++t)
        QCOMPARE(seen.at(t), QVector<int>(perThread, 1));
}

void TestLoggerManager::reentrance_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("nested");
    // initLog() in a thread without an event loop: the clean-up timer warns while the lock is held
    QTest::newRow("timer-warning") << "reentrance-timer" << "QObject::startTimer";
    // a category filter that logs runs inside setFilterRules(), under the lock
    QTest::newRow("filter-warning") << "reentrance-filter" << "filter ran";
}

// A message raised while the logger holds its lock goes to standard error; nothing deadlocks.
void TestLoggerManager::reentrance()
{
    const auto restore = restoreLogger();
    QFETCH(QString, scenario);
    QFETCH(QString, nested);
    const ChildResult r = runChild({scenario, m_path}, QProcessEnvironment::systemEnvironment());
    QVERIFY2(r.finished, "the child deadlocked");
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("done\n"));
    const QString err = QString::fromUtf8(r.err);
    // Qt's own warnings carry no file name
    const QRegularExpression entry(QStringLiteral("WARNING IN: +(\\S+ +)?\\d+ +THREAD_ID: +\\S+ *\\n {15}.*\\n {15}")
                                   + QRegularExpression::escape(nested));
    QVERIFY2(entry.match(err).hasMatch(), qPrintable(err));
    QStringList files = QDir(m_path).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray log = readAll(m_path + QLatin1Char('/') + files.first());
    QVERIFY(log.contains("after the nested warning"));
    QVERIFY(log.contains("Stop logging"));
}

void TestLoggerManager::secondInitLogReplacesTimer()
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

void TestLoggerManager::releaseRestoresQtHandler()
{
    const auto restore = restoreLogger();
    qInstallMessageHandler(nullptr);
    const QtMessageHandler qtDefault = qInstallMessageHandler(m_testHandler);
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    start(true);
    QVERIFY(qInstallMessageHandler(&LoggerManager::logMessageOutput) == &LoggerManager::logMessageOutput);
    LoggerManager::releaseLog();
    QVERIFY(qInstallMessageHandler(m_testHandler) == qtDefault);
    const QStringList lines = readLines(
        m_path + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral("_kiosk.log"));
    QVERIFY(lines.size() >= 3);
    QCOMPARE(lines.last(), Indent + QStringLiteral("Stop logging"));
    QCOMPARE(lines.at(lines.size() - 2), Indent + QStringLiteral("releaseLog"));
    QVERIFY(lines.at(lines.size() - 4) != QString(80, QLatin1Char('-')));
    QCOMPARE(LoggerPeek::cachedLoggers(), 0);
}

// No log directory yet: the closing line goes to stderr, never into the
// working directory.
void TestLoggerManager::releaseBeforeInitWritesToStderr()
{
    const auto restore = restoreLogger();
    QVERIFY(QDir().mkpath(m_path));
    const ChildResult r = runChild({QStringLiteral("release-only"), QString()},
                                   QProcessEnvironment::systemEnvironment(), m_path);
    QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());
    QVERIFY(r.err.contains(Indent.toLatin1() + "Stop logging\n"));
    QCOMPARE(QDir(m_path).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestLoggerManager::localTimes_data()
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
void TestLoggerManager::localTimes()
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
    const QStringList lines = readLines(m_path + QStringLiteral("/kiosk.log"));
    for (int i = 7; i + 3 < lines.size(); i += 4) // after the banner
        got << lines.at(i) << lines.at(i + 1).left(lines.at(i + 1).indexOf(QLatin1Char(']')) + 2);
    got = got.mid(0, utc.size() * 2);
    // what Qt's own local time and formatting give in the child
    const QStringList qt = readLines(m_path + QStringLiteral("/expected.txt"));
    QCOMPARE(got, qt);
    if (!expected.isEmpty())
        QCOMPARE(got, expected);
    else
        QVERIFY(!got.isEmpty() && !got.first().contains(QLatin1Char('2'))); // not Latin digits
}

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
