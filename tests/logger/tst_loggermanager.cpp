// The log helpers' exact texts; LoggerManager's entry layout over real files, file naming,
// outputs, callbacks, the clean-up job checked with Python's zipfile, threads, time zones, and
// the faults of a process-wide handler (re-entrance, timers, failing files), those that could
// hang or fail the files in a child process of this executable.
#include "testfiles.h"

#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loggermanager.h>
#include <logger/loggermanager_p.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Indent(15, QLatin1Char(' '));
const QString nl = QLatin1Char('\n') + Indent; // what logtab writes

QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

template<typename T>
QString streamed(const T &value)
{
    QString out;
    QTextStream stream(&out);
    stream << value;
    stream.flush();
    return out;
}

template<typename T>
QString debugged(const T &value)
{
    QString out;
    QDebug(&out) << value;
    return out;
}

const QDate Today(2018, 1, 19);

// The logger's "now"; the clean-up job reads it in a pool thread.
std::atomic<qint64> s_nowMs{0};
qint64 fixedClock()
{
    return s_nowMs.load();
}
void setNow(const QTime &time, const QDate &date = Today)
{
    s_nowMs = QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch();
    LoggerManagerPrivate::setClock(fixedClock);
}

QString threadIdText()
{
    return QString::number(qint64(qint32(quintptr(QThread::currentThreadId()))), 16);
}

void emitMessage(QtMsgType type, const char *file, int line, const char *function, const QString &message,
                 const char *category = "default")
{
    qt_message_output(type, {file, line, function, category}, message);
}

// The messages of the entries in a text: each indented line after an indented line.
QStringList messagesIn(const QByteArray &text)
{
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    QStringList messages;
    for (int i = 1; i < lines.size(); ++i) {
        if (lines.at(i - 1).startsWith(Indent) && lines.at(i).startsWith(Indent))
            messages << lines.at(i).mid(Indent.size());
    }
    return messages;
}

// This executable run with "--child" and a scenario, killed after 20 s: whether it ended by itself
// with exit code 0, its output, and its standard error (the logger's console and fallback).
struct ChildResult
{
    bool ok;
    QByteArray out, err;
};
ChildResult runChild(const QStringList &args, const QString &workDir = QString(),
                     const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    const bool ended = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    p.kill();
    p.waitForFinished();
    return {ended, p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class tst_LoggerManager : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_path;
    QtMessageHandler m_testHandler = nullptr;

    void start(bool rotate, QtMsgType minimum = QtDebugMsg) { LoggerManager::initLog(m_path, 7, rotate, minimum); }
    QString file(const QString &name) const { return m_path + QLatin1Char('/') + name; }
    QStringList messages(const QString &name) const { return messagesIn(readFile(file(name))); }

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        m_path = m_dir->filePath(QStringLiteral("logs"));
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
    }

    // However a test ends: the logger released, Qt Test's handler and the defaults back.
    void cleanup()
    {
        if (qInstallMessageHandler(m_testHandler) == &LoggerManager::logMessageOutput)
            LoggerManager::releaseLog();
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
        m_dir.reset();
    }

    // The log helpers: the exact text each writes to a QTextStream and to a QDebug.
    void helperLayouts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *tag, const QString &actual, const QString &expected) {
            QTest::newRow(tag) << actual << expected;
        };
        const auto binary = [](const QByteArray &data, const char *codec = "UTF-8") {
            return streamed(logbinary(data, codec));
        };
        const auto encoded = [](const QByteArray &data, const char *codec = "UTF-8") {
            return streamed(logencoded(data, codec));
        };

        // Hex dump: 16 bytes a line, the text 54 columns after the hex digits, control bytes as dots.
        const QString size = QStringLiteral("Bytearrray size = ");
        const QString sixteenHex = QStringLiteral("30 31 32 33 34 35 36 37    38 39 61 62 63 64 65 66    ");
        row("binary/empty", binary({}), size + "0" + nl + "Byte array is empty\n");
        row("binary/three-bytes", binary("\x41\x0a\x42"), size + "3" + nl + "41 0a 42 " + blanks(45) + "A.B");
        row("binary/eight-bytes", binary("01234567"), size + "8" + nl + sixteenHex.left(27) + blanks(27) + "01234567");
        row("binary/seventeen-bytes", binary("0123456789abcdefg"),
            size + "17" + nl + sixteenHex + "0123456789abcdef" + nl + "67 " + blanks(51) + "g");
        row("binary/control-and-upper-bytes", binary(QByteArray("\x00\x1f\x20\x7f\xc3\xa9", 6)),
            size + "6" + nl + "00 1f 20 7f c3 a9 " + blanks(36) + ".. " + QChar(0x7f) + QChar(0xe9));
        row("binary/character-split-between-lines", binary(QByteArray(15, 'x') + "\xc3\xa9yz"),
            size + "19" + nl + QStringLiteral("78 ").repeated(8) + blanks(3) + QStringLiteral("78 ").repeated(7) + "c3 "
                + blanks(3) + QString(15, 'x') + nl + "a9 79 7a " + blanks(45) + QChar(0xe9) + "yz");
        row("binary/unknown-codec-as-system", binary("a\x01", "no-such-codec"),
            size + "2" + nl + "61 01 " + blanks(48) + "a.");
        QString out; // logtab as a manipulator and called; a count in decimal in a stream left in hexadecimal
        QTextStream stream(&out);
        stream << "a" << logtab << "b" << Qt::hex << Qt::showbase;
        logtab(stream) << "c" << logbinary(QByteArray(20, 'a'), nullptr);
        stream.flush();
        row("logtab-and-count-in-decimal", out.section('\n', 0, 2), "a" + nl + "b" + nl + "c" + size + "20");

        // Decoded text: one line stays on the current line, several go on indented lines.
        row("encoded/one-line", streamed(logencoded("ab", "UTF-8")), "ab");
        row("encoded/cr-cr-lf-is-one-break", encoded("a\r\r\nb"), nl + "a" + nl + "b");
        row("encoded/empty-parts-kept", encoded("a\n\nb\n"), nl + "a" + nl + nl + "b" + nl);
        row("encoded/null-text", streamed(logencoded(static_cast<const char *>(nullptr), "UTF-8")), QString());
        row("encoded/utf16le", encoded(QByteArray("h\0i\0\n\0x\0", 8), "UTF-16LE"), nl + "hi" + nl + "x");
        row("encoded/unknown-codec-as-system", encoded("a\r\nb", "no-such-codec"), nl + "a" + nl + "b");

        // A list, one string a line; a value as indented JSON (which ends with a line break).
        row("list/empty-writes-nothing", streamed(loglist({})), QString());
        row("list/two", streamed(loglist({"x", "y"})), nl + "x" + nl + "y");
        row("variant/map", streamed(logvariant(QVariantMap{{"id", 7}, {"name", "probe"}})),
            nl + "{" + nl + "    \"id\": 7," + nl + "    \"name\": \"probe\"" + nl + "}" + nl);
        row("variant/number-gives-one-empty-line", streamed(logvariant(42)), nl);

        // Through QDebug: quoted, unescaped, then the automatic blank; its settings stay.
        row("debug/encoded", debugged(logencoded("say \"hi\"", "UTF-8")), QStringLiteral("\"say \"hi\"\" "));
        row("debug/binary", debugged(logbinary(QByteArray("\x01z", 2), "UTF-8")),
            "\"" + size + "2" + nl + "01 7a " + blanks(48) + ".z\" ");
        row("debug/variant", debugged(logvariant(QVariantList{1})),
            "\"" + nl + "[" + nl + "    1" + nl + "]" + nl + "\" ");
        out.clear();
        QDebug(&out) << "a" << loglist({"s"}) << "b";
        row("debug/spaced", out, "a \"" + nl + "s\" b ");
        out.clear();
        QDebug(&out).nospace() << "a" << loglist({"s"}) << "b" << logencoded("x", "UTF-8") << QStringLiteral("q");
        row("debug/nospace", out, "a\"" + nl + "s\"b\"x\"\"q\"");
    }

    void helperLayouts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void entryLayout_data()
    {
        QTest::addColumn<bool>("rotate");
        QTest::newRow("rotation") << true;
        QTest::newRow("no-rotation") << false;
    }

    // Every byte of a log file from initLog() to releaseLog(), awkward entries included.
    void entryLayout()
    {
        QFETCH(bool, rotate);
        qInstallMessageHandler(nullptr);
        const QtMessageHandler qtDefault = qInstallMessageHandler(m_testHandler);
        setNow(QTime(9, 5, 3, 42));
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(rotate);
        struct Case
        {
            QtMsgType type;
            const char *file, *function;
            int line;
            QString message, fileName; // the file name as written
        };
        const Case cases[] = {
            {QtWarningMsg, "/src/app/module.cpp", "void Module::run()", 42, "plain", "module.cpp"},
            {QtCriticalMsg, "C:\\a long path\\winfile.cpp", "f", 123456,
             QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9d\x84\x9e"), "C:\\a long path\\winfile.cpp"},
            {QtInfoMsg, "relative/info.cpp", "void Gr\xc3\xb6\xc3\x9f" "e::run() const", -1,
             QString(QChar(0xd800)) + QLatin1Char('x') + QChar(0xdc00) + QStringLiteral("end"), "info.cpp"},
            {QtWarningMsg, nullptr, nullptr, 0, QString(), QString()},
            {QtCriticalMsg, "/\xc3\xbc/d\xc3\xa4tei.cpp", "h", 99999, "multi\nline ",
             QString::fromUtf8("d\xc3\xa4tei.cpp")},
            {QtWarningMsg, "dir/", "i", 100000, "trailing slash", QString()},
            {QtWarningMsg, "exactly-thirty-two-characters.cc", "j", 5, " x ", "exactly-thirty-two-characters.cc"},
        };
        for (const Case &c : cases)
            emitMessage(c.type, c.file, c.line, c.function, c.message);
        LoggerManager::releaseLog();
        QVERIFY(qInstallMessageHandler(m_testHandler) == qtDefault); // Qt's own handler is back

        const QByteArray written = readFile(file(rotate ? "2018-01-19_kiosk.log" : "kiosk.log"));
        QList<int> bannerLines; // the logger's own source lines
        auto banners = QRegularExpression(QStringLiteral("loggermanager\\.cpp +(\\d+)")).globalMatch(written);
        while (banners.hasNext())
            bannerLines << banners.next().captured(1).toInt();
        QCOMPARE(bannerLines.size(), 2);
        const auto entry = [&](QtMsgType type, const QString &fileName, int line, const QString &function,
                               const QString &message) {
            const char *words[] = {"INFO IN:", "WARNING IN:", "CRITICAL IN:", "FATAL IN:", ""};
            return (rotate ? QString() : QStringLiteral("[18-01-19]\n")) + QStringLiteral("[09:05:03.042] ")
                   + QString::fromLatin1(words[type]).leftJustified(type == QtInfoMsg ? 0 : 16)
                   + fileName.leftJustified(32) + QString::number(line).leftJustified(5)
                   + QStringLiteral("THREAD_ID:    ") + threadIdText().leftJustified(16) + QLatin1Char('\n') + Indent
                   + function + QLatin1Char('\n') + Indent + message + QLatin1Char('\n');
        };
        QString expected = QStringLiteral("\n\n") + QString(80, QLatin1Char('-')) + QLatin1Char('\n')
                           + entry(QtDebugMsg, "loggermanager.cpp", bannerLines[0], "initLog", "Start logging");
        for (const Case &c : cases)
            expected += entry(c.type, c.fileName, c.line, QString::fromUtf8(c.function), c.message);
        expected += entry(QtDebugMsg, "loggermanager.cpp", bannerLines[1], "releaseLog", "Stop logging");
        QCOMPARE(written.split('\n'), QTextCodec::codecForLocale()->fromUnicode(expected).split('\n'));
    }

    void categoryFilesAndLevels_data()
    {
        QTest::addColumn<bool>("rotate");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QString>("defaultFile"); // the category's is this with ".net" added
        QTest::addColumn<QStringList>("written"); // of the category's messages
        const QStringList all{"debug", "warning", "critical", "info"};
        QTest::newRow("plain") << false << "log" << 0 << "kiosk.log" << all;
        QTest::newRow("rotated") << true << "log" << 0 << "2018-01-19_kiosk.log" << all;
        QTest::newRow("own-suffix") << false << "txt" << 0 << "kiosk.txt" << all;
        QTest::newRow("empty-suffix") << false << "" << 0 << "kiosk.log" << all;
        // the info type (4) compares above every other level
        QTest::newRow("minimum-warning") << false << "log" << int(QtWarningMsg) << "kiosk.log"
                                         << QStringList(all.mid(1));
    }

    // A category other than "default" has a file of its own; debug messages
    // of such a category pass the default filter rule.
    void categoryFilesAndLevels()
    {
        QFETCH(bool, rotate);
        QFETCH(QString, suffix);
        QFETCH(int, minimum);
        QFETCH(QString, defaultFile);
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
        QTEST(messages(defaultFile + ".net"), "written");
        QCOMPARE(messages(defaultFile), (QStringList{"Start logging", "to the default file", "no category"}));
    }

    // A callback of a category gets its messages, whatever the level and outputs; one that logs
    // its own category (hosts forward by calling the handler) ends, the inner message is not
    // lost, and what it logs to another category still reaches that category's callback.
    void callbacks()
    {
        QStringList got; // type, category, message
        const auto collect = [&got](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            got << QStringLiteral("%1 %2 %3").arg(type).arg(QString::fromUtf8(context.category), message);
            if (message == QLatin1String("outer")) {
                LoggerManager::logMessageOutput(type, context, QStringLiteral("inner"));
                const QMessageLogContext db(context.file, context.line, context.function, "db");
                LoggerManager::logMessageOutput(QtDebugMsg, db, QStringLiteral("to db"));
            }
        };
        LoggerManager::setOutputs(QStringLiteral("net"), collect);
        LoggerManager::setOutputs(QStringLiteral("net"), [](QtMsgType, const QMessageLogContext &, const QString &) {
            QFAIL("the second callback replaced the first"); // a name that has a callback keeps it
        });
        LoggerManager::setOutputs(QStringLiteral("empty"), LoggerManager::OutputCallback());
        LoggerManager::setOutputs(QStringLiteral("default"), collect);
        LoggerManager::setDebugOuts({});
        start(false, QtWarningMsg);
        QLoggingCategory net("net");
        QLoggingCategory empty("empty");
        qCDebug(net, "below the minimum");
        qDebug("filtered by the default rule");
        qWarning("reaches");
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        LoggerManager::setOutputs(QStringLiteral("db"), collect);
        qCWarning(net, "outer");
        qCCritical(empty, "an empty callback counts as none");
        LoggerManager::removeOutput(QStringLiteral("net"));
        qCCritical(net, "to the net file");
        QCOMPARE(got, (QStringList{"0 net below the minimum", "1 default reaches", "1 net outer", "0 db to db"}));
        QCOMPARE(messages(QStringLiteral("kiosk.log.net")), (QStringList{"inner", "to the net file"}));
        QCOMPARE(messages(QStringLiteral("kiosk.log.empty")), QStringList{"an empty callback counts as none"});
        LoggerManager::releaseLog();
        QVERIFY(LoggerManager::outputs().isEmpty());
    }

    void outputs_data()
    {
        QTest::addColumn<int>("outs"); // -1: the default
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("toConsole");
        QTest::addColumn<bool>("toFile");
        QTest::newRow("none") << 0 << 7 << false << false;
        QTest::newRow("console") << int(LoggerManager::ConsoleOut) << 7 << true << false;
        QTest::newRow("both") << int(LoggerManager::ConsoleOut | LoggerManager::FileOut) << 7 << true << true;
        QTest::newRow("default") << -1 << 7 << true << false;
        QTest::newRow("one-day-ignores-all") << 3 << 1 << false << false;
        QTest::newRow("initEmptyLog-ignores-all") << 3 << 0 << false << false;
    }

    // With the system clock: today's file by date. The banner goes to the file whatever the
    // outputs say; the console entry has the file's layout.
    void outputs()
    {
        QFETCH(int, outs);
        QFETCH(int, days);
        const ChildResult r = runChild({"outputs", m_path, QString::number(outs), QString::number(days)});
        QVERIFY2(r.ok, r.err.constData());
        const QStringList written = messages(QDate::currentDate().toString("yyyy-MM-dd") + "_kiosk.log");
        QCOMPARE(written.contains(QStringLiteral("Start logging")), days > 1);
        QTEST(written.contains(QStringLiteral("where does it go")), "toFile");
        QTEST(r.err.contains("where does it go"), "toConsole");
        const QRegularExpression entry(
            QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] WARNING IN: {5}console\\.cpp {21}3 {4}"
                           "THREAD_ID: {4}\\S+ *\\n {15}void run\\(\\)\\n {15}where does it go\\n$"));
        QVERIFY2(r.err.isEmpty() || entry.match(QString::fromUtf8(r.err)).hasMatch(), r.err.constData());
    }

    // Files named with past dates: deleted, packed and removed, kept. With cleanAnyOldLogs any
    // old file of the tree goes too; links out of it or back into it are not followed, nor are
    // links named like a log or an archive. A second job started while the first packs waits.
    void cleanupJob()
    {
        setNow(QTime(10, 0));
        QTemporaryDir outside;
        const QString old = file(QStringLiteral("sub/old.bin")), recent = file(QStringLiteral("sub/new.bin")),
                      precious = outside.filePath(QStringLiteral("precious.txt"));
        for (const QString &path : {old, recent, precious}) {
            QFile f(path);
            QVERIFY(writeFile(path, "x") && f.open(QIODevice::ReadWrite));
            const QDateTime time = Today.addDays(path == recent ? -1 : -7).startOfDay();
            QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
        }
        QVERIFY(QFile::link(outside.path(), file(QStringLiteral("sub/out"))));
        QVERIFY(QFile::link(m_path, file(QStringLiteral("sub/loop"))));
        LoggerManager::setCleanAnyOldLogs(true);
        const auto day = [](int back) { return Today.addDays(-back).toString(QStringLiteral("yyyy-MM-dd")); };
        const QStringList deleted{day(8) + "_kiosk.log", day(7) + "_kiosk.log", day(7) + "_kiosk.log.zip",
                                  day(9) + "_crash.dmp"};
        QStringList packed{day(5) + "_kiosk.log", day(4) + "_kiosk.log.net", day(2) + "_kiosk.log",
                           day(3) + "_crash.dmp"};
        for (int i = 0; i < 30; ++i)
            packed << day(3) + QStringLiteral("_kiosk.log.c%1").arg(i);
        const QStringList kept{day(6) + "_kiosk.log", day(1) + "_kiosk.log", day(3) + "_kiosk.log.zip",
                               "kiosk.log", "notes_kiosk.log", day(9) + "_other.txt"};
        for (const QString &name : deleted + packed + kept) {
            const QString line = QStringLiteral("content of %1\n").arg(name);
            QVERIFY(writeFile(file(name), line.repeated(packed.contains(name) ? 15000 : 1).toUtf8()));
        }
        QVERIFY(QFile::link(precious, file(day(4) + "_kiosk.log")));
        QVERIFY(QFile::link(precious, file(day(5) + "_kiosk.log.zip")));
        LoggerManager::setAdditionalEraseFilters({QStringLiteral("*.dmp")});
        start(true); // runs the job at once in the thread pool
        start(true); // a second job while the first packs: the logs are still packed once each
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(!QFile::exists(old) && QFile::exists(recent) && readFile(precious) == "x");
        QStringList expected = kept + QStringList{day(0) + "_kiosk.log"};
        QStringList args{QStringLiteral("-c"), QStringLiteral(
            "import os, sys, zipfile\n"
            "for path in sys.argv[1:]:\n"
            "    z = zipfile.ZipFile(path); i = z.infolist(); name = os.path.basename(path)[:-4]\n"
            "    print(len(i), i[0].filename == name, i[0].compress_type, z.testzip(),\n"
            "          z.read(i[0]) == ('content of %s\\n' % name * 15000).encode())\n")};
        for (const QString &name : packed) {
            expected << name + QStringLiteral(".zip");
            args << file(name + QStringLiteral(".zip"));
        }
        expected.sort();
        QCOMPARE(QDir(m_path).entryList(QDir::Files, QDir::Name), expected);
        // Each archive: one deflated entry under the bare file name, its content intact.
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("python3"), args); // python3 is needed to check the archives
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(p.readAll()), QStringLiteral("1 True 8 None True\n").repeated(packed.size()));
    }

    // 8 threads at once on one held file: every message exactly once, every entry whole, its
    // header and message from one thread.
    void threads()
    {
        setNow(QTime(10, 0));
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(true);
        QVector<QString> ids(8);
        QList<QThread *> workers;
        for (int t = 0; t < ids.size(); ++t) {
            workers << QThread::create([&ids, t] {
                ids[t] = threadIdText().leftJustified(16); // padded to its field
                for (int i = 0; i < 1000; ++i)
                    QMessageLogger("worker.cpp", 10 + t, "void worker()").warning("t%d m%d", t, i);
            });
            workers.last()->start();
        }
        for (QThread *w : qAsConst(workers))
            QVERIFY(w->wait(60000));
        qDeleteAll(workers);
        const QString text = QString::fromUtf8(readFile(file(QStringLiteral("2018-01-19_kiosk.log"))));
        const QRegularExpression entry(QStringLiteral("\\[10:00:00\\.000\\] WARNING IN: {5}worker\\.cpp {22}1(\\d) {3}"
                                                      "THREAD_ID: {4}(.{16})\\n {15}void worker\\(\\)\\n {15}"
                                                      "(t\\1 m\\d+)\\n"));
        QSet<QString> seen;
        int whole = 0;
        for (auto it = entry.globalMatch(text); it.hasNext(); ++whole) {
            const QRegularExpressionMatch m = it.next();
            QCOMPARE(m.captured(2), ids.value(m.captured(1).toInt()));
            seen << m.captured(3);
        }
        QVERIFY(whole == 8000 && seen.size() == 8000);
        // nothing but whole entries after the banner
        QCOMPARE(QString(text).remove(entry), text.left(text.indexOf(QLatin1String("Start logging\n")) + 14));
    }

    void childScenarios_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("nested");
        // initLog() in a thread without an event loop: the clean-up timer warns while the lock is held
        QTest::newRow("timer-warning") << "reentrance-timer" << "QObject::startTimer";
        // a category filter that logs runs inside setFilterRules(), under the lock
        QTest::newRow("filter-warning") << "reentrance-filter" << "filter ran";
        // no log directory yet: the closing line goes to stderr, never into the working directory
        QTest::newRow("release-before-init") << "release-only" << "Stop logging";
    }

    // A message raised while the logger holds its lock goes to standard error; nothing deadlocks.
    void childScenarios()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, nested);
        QVERIFY(QDir().mkpath(m_path));
        const ChildResult r = runChild({scenario, m_path}, m_path);
        QVERIFY2(r.ok, r.err.constData());
        QCOMPARE(r.out, QByteArray("done\n")); // no clean-up timer left behind either
        const QRegularExpression entry( // Qt's warnings have no file name
            QStringLiteral("(WARNING|INFO) IN: +(\\S+ +)?\\d+ +THREAD_ID: +\\S+ *\\n {15}.*\\n {15}")
            + QRegularExpression::escape(nested));
        QVERIFY2(entry.match(QString::fromUtf8(r.err)).hasMatch(), r.err.constData());
        const QStringList files = QDir(m_path).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), scenario == QLatin1String("release-only") ? 0 : 1);
        if (!files.isEmpty())
            QCOMPARE(messages(files.first()).mid(messages(files.first()).size() - 2),
                     (QStringList{"after the nested warning", "Stop logging"}));
    }

    void localTimes_data()
    {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<QStringList>("utc");
        QTest::addColumn<QString>("expected"); // date lines and times
        const QByteArray cet("CET-1CEST,M3.5.0,M10.5.0/3");
        QTest::newRow("spring-forward") << cet << QStringList{"2021-03-28T00:59:59.500Z", "2021-03-28T01:00:00.500Z"}
                                        << "[21-03-28]\n[01:59:59.500] [21-03-28]\n[03:00:00.500] ";
        QTest::newRow("fall-back") << cet << QStringList{"2021-10-31T00:59:59.500Z", "2021-10-31T01:00:00.500Z"}
                                   << "[21-10-31]\n[02:59:59.500] [21-10-31]\n[02:00:00.500] ";
        QTest::newRow("local-day-ahead") << QByteArray("JST-9") << QStringList{"2021-03-27T20:00:00.000Z"}
                                         << "[21-03-28]\n[05:00:00.000] ";
    }

    // Time stamps under other zones: the cached local offset follows daylight saving.
    void localTimes()
    {
        QFETCH(QByteArray, tz);
        QFETCH(QStringList, utc);
        const QByteArray zone = qgetenv("TZ");
        const auto restore = qScopeGuard([&] { zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone); });
        qputenv("TZ", tz);
        LoggerManager::setDebugOuts(LoggerManager::FileOut);
        start(false);
        LoggerManagerPrivate::setClock(fixedClock);
        for (const QString &u : utc) {
            s_nowMs = QDateTime::fromString(u, Qt::ISODateWithMs).toMSecsSinceEpoch();
            qWarning("at %s", qPrintable(u));
        }
        QString got;
        const QString text = QString::fromUtf8(readFile(file(QStringLiteral("kiosk.log"))));
        auto stamps = QRegularExpression(QStringLiteral("(\\[.{8}\\]\n\\[.{12}\\] )WARNING")).globalMatch(text);
        while (stamps.hasNext())
            got += stamps.next().captured(1);
        QTEST(got, "expected");
    }

    void filesFail_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("rotate");
        for (const char *scenario : {"unreachable-directory", "full-file-system"}) {
            QTest::addRow("%s/one-file", scenario) << scenario << false;
            QTest::addRow("%s/rotation", scenario) << scenario << true;
        }
        // (A file held open by rotation would go on taking entries where it was moved.)
        QTest::newRow("moved-directory/one-file") << "moved-directory" << false;
    }

    // The log directory becomes inaccessible (with rotation the day changes too, so a new file is
    // needed) or is moved away, or the file system fills up, in a child that logs before, during
    // and after the fault: entries it cannot write go to standard error, none is lost or doubled.
    void filesFail()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, rotate);
        // The child runs unprivileged (as nobody when the tests run as root) and makes the directory.
        QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7777)));
        const ChildResult r = runChild({scenario, m_path, rotate ? QStringLiteral("rotate") : QString()});
        QVERIFY2(r.ok && r.out == "done\n", r.err.constData());
        QByteArray files;
        for (const QString &dir : {m_path, m_path + QStringLiteral(".old")}) {
            for (const QString &name : QDir(dir).entryList(QDir::Files))
                files += readFile(dir + QLatin1Char('/') + name);
        }
        const QStringList inFiles = messagesIn(files), inErr = messagesIn(r.err);
        for (const char *phase : {"before", "during", "after"}) {
            for (int i = 0; i < 40; ++i) {
                const QString entry = QStringLiteral("%1-%2").arg(QLatin1String(phase)).arg(i);
                const int total = inFiles.count(entry) + inErr.count(entry);
                QVERIFY2(total == 1, qPrintable(QStringLiteral("%1 written %2 times").arg(entry).arg(total)));
                QVERIFY2(inFiles.contains(entry) || qstrcmp(phase, "during") == 0, qPrintable(entry + " not in files"));
            }
        }
        QVERIFY2(inErr.contains(QStringLiteral("during-39")), "the fault never showed: nothing went to standard error");
        if (rotate && scenario == QLatin1String("unreachable-directory")) // the held file moved on to the new day
            QVERIFY(messages(QStringLiteral("2018-01-20_kiosk.log")).contains(QStringLiteral("after-0")));
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
    const QString scenario = args.value(0), dir = args.value(1);
    if (scenario == QLatin1String("outputs")) {
        if (args.value(2).toInt() >= 0)
            LoggerManager::setDebugOuts(LoggerManager::EQtDebugOuts(args.value(2).toInt()));
        const int days = args.value(3).toInt();
        if (days ? !LoggerManager::initLog(dir, days, true, QtDebugMsg) : !LoggerManager::initEmptyLog())
            return 2;
        QMessageLogger("console.cpp", 3, "void run()").warning("where does it go");
        const QtMessageHandler installed = qInstallMessageHandler(nullptr);
        return installed == (days > 1 ? &LoggerManager::logMessageOutput : &LoggerManager::ignoreLogs) ? 0 : 3;
    }
    LoggerManager::setDebugOuts(LoggerManager::FileOut);
    QPointer<QTimer> cleanupTimer;
    if (scenario == QLatin1String("reentrance-timer")) {
        std::thread t([&] { LoggerManager::initLog(dir, 7, true, QtDebugMsg); });
        t.join();
        cleanupTimer = LoggerManagerPrivate::state().cleanupTimer; // its thread is gone: releaseLog() disposes of it
    } else if (scenario == QLatin1String("reentrance-filter")) {
        LoggerManager::initLog(dir, 7, false, QtDebugMsg);
        qWarning("registers the default category");
        s_previousFilter = QLoggingCategory::installFilter(loggingFilter);
        LoggerManager::initLog(dir, 7, false, QtDebugMsg);
        QLoggingCategory::installFilter(s_previousFilter);
    } else if (scenario != QLatin1String("release-only")) { // a fault under the files, logged before, during, after
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) // permissions do not bind the superuser
            return 5;
        const bool rotate = !args.value(2).isEmpty();
        setNow(QTime(10, 0));
        LoggerManager::initLog(dir, 7, rotate, QtDebugMsg);
        const auto phase = [](const char *name) {
            for (int i = 0; i < 40; ++i)
                qWarning("%s-%d", name, i);
        };
        phase("before");
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit full = saved; // room for a few more entries, then the file system is "full"
        full.rlim_cur = rlim_t(QFileInfo(dir + (rotate ? "/2018-01-19_kiosk.log" : "/kiosk.log")).size() + 1000);
        std::signal(SIGXFSZ, SIG_IGN);
        const QByteArray path = QFile::encodeName(dir);
        if (scenario == QLatin1String("unreachable-directory"))
            setNow(QTime(10, 0), Today.addDays(1)); // a new day needs a new file; the old one is still open
        if (scenario == QLatin1String("unreachable-directory") ? ::chmod(path.constData(), 0) != 0
            : scenario == QLatin1String("moved-directory")     ? !QDir().rename(dir, dir + QStringLiteral(".old"))
                                                               : setrlimit(RLIMIT_FSIZE, &full) != 0)
            return 3;
        phase("during");
        if ((::chmod(path.constData(), 0755) != 0 && !QDir().mkpath(dir)) || setrlimit(RLIMIT_FSIZE, &saved) != 0)
            return 4;
        phase("after");
    }
    if (scenario != QLatin1String("release-only"))
        qWarning("after the nested warning");
    LoggerManager::releaseLog();
    QThreadPool::globalInstance()->waitForDone();
    std::printf(cleanupTimer ? "clean-up timer left behind\n" : "done\n");
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kiosk"));
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childMain(QCoreApplication::arguments().mid(2));
    tst_LoggerManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_loggermanager.moc"
