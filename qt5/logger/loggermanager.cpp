// LoggerManager: its process-wide state, the message handler with its
// console and file outputs, and the public settings. The entry layout is in
// loggerentry.cpp, the clean-up job in loggercleanup.cpp.
#include "loggermanager.h"
#include "loggermanager_p.h"

#include "logging_p.h"

#include <qsettingsext/dircreator.h>
#include <qsettingsext/systemdirs_p.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextCodec>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

// > 0 while this thread holds the logger's mutex. A message raised then (a
// Qt warning from inside initLog(), say) must not wait for the mutex.
thread_local int t_lockDepth = 0;

// Locks the logger's mutex unless this thread holds it already, and marks
// the thread as holding it.
class LogLocker
{
public:
    LogLocker()
        : m_mutex(LoggerManagerPrivate::state().mutex)
        , m_owner(t_lockDepth == 0)
    {
        if (m_owner)
            m_mutex.lock();
        ++t_lockDepth;
        m_locked = true;
    }
    ~LogLocker() { unlock(); }
    void unlock()
    {
        if (!m_locked)
            return;
        m_locked = false;
        --t_lockDepth;
        if (m_owner)
            m_mutex.unlock();
    }

private:
    Q_DISABLE_COPY(LogLocker)
    QMutex &m_mutex;
    const bool m_owner;
    bool m_locked = false;
};

// One member of the state, read or written under the mutex.
template<typename T>
T lockedValue(T LoggerState::*member)
{
    const LogLocker lock;
    return LoggerManagerPrivate::state().*member;
}

template<typename T>
void setLockedValue(T LoggerState::*member, const T &value)
{
    const LogLocker lock;
    LoggerManagerPrivate::state().*member = value;
}

// Marks the category whose callback this thread runs, for as long as it runs;
// callbacks that log to other categories nest.
class CallbackScope
{
public:
    explicit CallbackScope(const char *category)
        : m_category(category)
        , m_outer(innermost())
    {
        innermost() = this;
    }
    ~CallbackScope() { innermost() = m_outer; }

    static bool isRunning(const char *category)
    {
        for (const CallbackScope *scope = innermost(); scope; scope = scope->m_outer) {
            if (std::strcmp(scope->m_category, category) == 0)
                return true;
        }
        return false;
    }

private:
    Q_DISABLE_COPY(CallbackScope)
    static const CallbackScope *&innermost()
    {
        thread_local const CallbackScope *scope = nullptr;
        return scope;
    }
    const char *const m_category; // the message context's, alive during the call
    const CallbackScope *const m_outer;
};

void writeStderr(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Entry and byte buffers of the handler, reused under the mutex. Never freed:
// the destructors of a host's globals may still log.
QString &entryBuffer()
{
    static QString *const buffer = new QString;
    return *buffer;
}

QByteArray &consoleBytes()
{
    static QByteArray *const buffer = new QByteArray;
    return *buffer;
}

QByteArray &fileBytes()
{
    static QByteArray *const buffer = new QByteArray;
    return *buffer;
}

} // namespace

LoggerState &LoggerManagerPrivate::state()
{
    // Never freed: the destructors of a host's globals may still log.
    static LoggerState *const state = new LoggerState;
    return *state;
}

QString LoggerManagerPrivate::suffixOrDefault()
{
    const QString &suffix = state().defaultSuffix;
    return suffix.isEmpty() ? QStringLiteral("log") : suffix;
}

void LoggerManagerPrivate::openAt(LoggerManager *lm, const LogStamp &stamp)
{
    const QString &logPath = state().logPath;
    const bool rotate = state().rotateLogs;
    const QString appName = QCoreApplication::applicationName();

    // The held file is still the right one: nothing to do.
    if (lm->_file && lm->_nameValid && lm->_nameRotate == rotate
        && (!rotate || lm->_nameDay == stamp.day) && lm->_nameLogPath == logPath
        && lm->_nameAppName == appName)
        return;

    // Without a held file, a missing directory shows as a failed open: same
    // outcome, one system call less per entry on the reopening paths. (An
    // empty path would be the working directory.)
    if (!logPath.isEmpty() && (!lm->_file || QFileInfo::exists(logPath))) {
        const QString dir = QDir(logPath).absolutePath();
        const QString name = rotate
            ? QStringLiteral("%1/%2_%3.%4").arg(dir, fileDate(stamp), appName, lm->_suffix)
            : QStringLiteral("%1/%2.%3").arg(dir, appName, lm->_suffix);
        if (lm->_file && lm->_file->fileName() != name)
            lm->close();
        if (!lm->_file)
            lm->_file = new QFile(name);
        bool ok = lm->_file->isOpen()
            || lm->_file->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text);
        if (ok) {
            lm->_file->setPermissions(SystemDirs::creationPermissions(
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                | QFileDevice::WriteGroup | QFileDevice::ReadOther));
            lm->_nameDay = stamp.day;
            lm->_nameLogPath = logPath;
            lm->_nameAppName = appName;
            lm->_nameRotate = rotate;
            // A relative directory depends on the working directory: check every time.
            lm->_nameValid = !QDir::isRelativePath(logPath);
        } else {
            delete lm->_file;
            lm->_file = nullptr;
            lm->_nameValid = false;
        }
    }
    // A stream left on another target is dropped; stream() makes the new one.
    if (lm->_stream && lm->_file && lm->_stream->device() != lm->_file) {
        delete lm->_stream;
        lm->_stream = nullptr;
    }
}

void LoggerManagerPrivate::writeEntry(LoggerManager *lm, const QByteArray &bytes)
{
    if (lm->_stream)
        lm->_stream->flush(); // keep the order of anything a caller streamed
    if (lm->_file) {
        if (lm->_file->write(bytes) == bytes.size() && lm->_file->flush())
            return;
        // A full disk or a failing device: the file is dropped, and with it
        // what QFile still buffers (it would grow with every entry), and
        // opened again for the next entry; this one goes to standard error.
        lm->close();
    }
    writeStderr(bytes);
}

// A message raised while this thread holds the mutex: the entry goes straight
// to the standard error stream, built in buffers of its own.
void LoggerManagerPrivate::writeNested(QtMsgType type, const QMessageLogContext &context,
                                       const QString &message)
{
    QString entry;
    appendEntry(entry, {state().rotateLogs, context.file, context.function, context.line, type},
                stamp(currentMSecsSinceEpoch()), message);
    QByteArray bytes;
    writeStderr(encode(QTextCodec::codecForLocale(), entry, bytes));
}

// The "Start logging"/"Stop logging" lines in the default file. Called with the mutex held.
void LoggerManagerPrivate::writeBanner(const char *function, int line, const QString &text,
                                       bool separator)
{
    const LogStamp now = stamp(currentMSecsSinceEpoch());
    QString entry;
    if (separator) {
        entry += QLatin1String("\n\n");
        entry += QString(80, QLatin1Char('-'));
        entry += QLatin1Char('\n');
    }
    appendEntry(entry, {state().rotateLogs, __FILE__, function, line, QtDebugMsg}, now, text);

    LoggerManager logger(suffixOrDefault());
    openAt(&logger, now);
    QTextStream *stream = logger.stream();
    *stream << entry;
    stream->flush();
}

// --- start and stop ---

bool LoggerManager::initLog(const QString &path, unsigned int keepingDays, bool rotate,
                            QtMsgType minimumLevel)
{
    if (path.isEmpty() || keepingDays < 2) {
        qInstallMessageHandler(ignoreLogs);
        return true;
    }
    const LogLocker lock;
    LoggerState &s = LoggerManagerPrivate::state();
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    s.rotateLogs = rotate;
    DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL);
    s.logPath = path;
    s.keepingDays = keepingDays;
    s.minimumLogLevel = minimumLevel;
    LoggerManagerPrivate::writeBanner("initLog", __LINE__, QObject::tr("Start logging"), true);
    qInstallMessageHandler(logMessageOutput);

    LoggerManagerPrivate::stopCleanup();
    if (rotate)
        LoggerManagerPrivate::startCleanup();
    return true;
}

bool LoggerManager::initLog(const QString &path, unsigned int keepingDays, QtMsgType minimumLevel)
{
    return initLog(path, keepingDays, true, minimumLevel);
}

bool LoggerManager::initEmptyLog()
{
    return initLog(QString(), 0, true, QtDebugMsg);
}

void LoggerManager::releaseLog()
{
    const LogLocker lock;
    LoggerManagerPrivate::stopCleanup();
    LoggerManagerPrivate::state().loggers.clear();
    LoggerManagerPrivate::writeBanner("releaseLog", __LINE__, QObject::tr("Stop logging"), false);
    qInstallMessageHandler(nullptr);
    LoggerManagerPrivate::state().outputs.clear();
}

// --- the handler ---

void LoggerManager::ignoreLogs(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void LoggerManager::logMessageOutput(QtMsgType type, const QMessageLogContext &context,
                                     const QString &message)
{
    if (t_lockDepth > 0) {
        LoggerManagerPrivate::writeNested(type, context, message);
        return;
    }
    LogLocker lock;
    LoggerState &s = LoggerManagerPrivate::state();

    // A callback of the message's category takes it instead of the outputs.
    // A message of a category whose callback this thread is running goes to
    // the outputs, so a callback that logs cannot call itself without end.
    if (context.category && !s.outputs.isEmpty() && !CallbackScope::isRunning(context.category)) {
        const auto it = s.outputs.constFind(QString::fromUtf8(context.category));
        if (it != s.outputs.constEnd() && *it) {
            const OutputCallback callback = *it;
            lock.unlock();
            const CallbackScope scope(context.category);
            callback(type, context, message);
            return;
        }
    }

    if (!s.debugOuts || int(type) < int(s.minimumLogLevel))
        return;

    const LogStamp now
        = LoggerManagerPrivate::stamp(LoggerManagerPrivate::currentMSecsSinceEpoch());
    QString &entry = entryBuffer();
    entry.resize(0);
    LoggerManagerPrivate::appendEntry(
        entry, {s.rotateLogs, context.file, context.function, context.line, type}, now, message);

    QTextCodec *const consoleCodec = QTextCodec::codecForLocale();
    QTextCodec *const fileCodec = LoggerManagerPrivate::fileCodec();
    if (s.debugOuts & ConsoleOut)
        writeStderr(LoggerManagerPrivate::encode(consoleCodec, entry, consoleBytes()));
    if (!(s.debugOuts & FileOut))
        return;

    const QByteArray &bytes = (s.debugOuts & ConsoleOut) && consoleCodec == fileCodec
        ? consoleBytes()
        : LoggerManagerPrivate::encode(fileCodec, entry, fileBytes());

    // A message without a category belongs to the default file, as it does
    // where the file system drops the trailing dot of "kiosk.log.".
    QString suffix = LoggerManagerPrivate::suffixOrDefault();
    if (context.category && *context.category && std::strcmp(context.category, "default") != 0)
        suffix += QLatin1Char('.') + QLatin1String(context.category);

    if (s.rotateLogs && s.keepLogHandlers) {
        QSharedPointer<LoggerManager> &logger = s.loggers[suffix];
        if (!logger)
            logger.reset(new LoggerManager(suffix));
        LoggerManagerPrivate::openAt(logger.data(), now);
        LoggerManagerPrivate::writeEntry(logger.data(), bytes);
    } else {
        LoggerManager logger(suffix);
        LoggerManagerPrivate::openAt(&logger, now);
        LoggerManagerPrivate::writeEntry(&logger, bytes);
    }
}

// --- settings ---

QFlags<LoggerManager::EQtDebugOut> LoggerManager::debugOuts()
{
    return lockedValue(&LoggerState::debugOuts);
}

void LoggerManager::setDebugOuts(const QFlags<EQtDebugOut> &outs)
{
    setLockedValue(&LoggerState::debugOuts, outs);
}

QString LoggerManager::logsPath()
{
    return lockedValue(&LoggerState::logPath);
}

bool LoggerManager::rotateLogs()
{
    return lockedValue(&LoggerState::rotateLogs);
}

quint32 LoggerManager::keepingDays()
{
    return lockedValue(&LoggerState::keepingDays);
}

bool LoggerManager::keepLogHandlers()
{
    return lockedValue(&LoggerState::keepLogHandlers);
}

void LoggerManager::setKeepLogHandlers(bool keep)
{
    setLockedValue(&LoggerState::keepLogHandlers, keep);
}

QString LoggerManager::defaultSuffix()
{
    return lockedValue(&LoggerState::defaultSuffix);
}

void LoggerManager::setDefaultSuffix(const QString &suffix)
{
    setLockedValue(&LoggerState::defaultSuffix, suffix);
}

QStringList LoggerManager::additionalEraseFilters()
{
    return lockedValue(&LoggerState::additionalEraseFilters);
}

void LoggerManager::setAdditionalEraseFilters(const QStringList &filters)
{
    setLockedValue(&LoggerState::additionalEraseFilters, filters);
}

bool LoggerManager::cleanAnyOldLogs()
{
    return lockedValue(&LoggerState::cleanAnyOldLogs);
}

void LoggerManager::setCleanAnyOldLogs(bool clean)
{
    setLockedValue(&LoggerState::cleanAnyOldLogs, clean);
}

QMap<QString, LoggerManager::OutputCallback> LoggerManager::outputs()
{
    return lockedValue(&LoggerState::outputs);
}

void LoggerManager::setOutputs(const QMap<QString, OutputCallback> &outputs)
{
    setLockedValue(&LoggerState::outputs, outputs);
}

void LoggerManager::setOutputs(const QString &category, OutputCallback callback)
{
    const LogLocker lock;
    QMap<QString, OutputCallback> &outputs = LoggerManagerPrivate::state().outputs;
    if (!outputs.contains(category))
        outputs.insert(category, std::move(callback));
}

void LoggerManager::removeOutput(const QString &category)
{
    const LogLocker lock;
    LoggerManagerPrivate::state().outputs.remove(category);
}

// --- instances ---

LoggerManager::LoggerManager(const QString &suffix)
    : _suffix(suffix)
{
    open();
}

LoggerManager::~LoggerManager()
{
    close();
}

void LoggerManager::open()
{
    LoggerManagerPrivate::openAt(this, LoggerManagerPrivate::stamp(
                                           LoggerManagerPrivate::currentMSecsSinceEpoch()));
}

void LoggerManager::close()
{
    delete _stream;
    _stream = nullptr;
    if (_file) {
        if (_file->isOpen())
            _file->close();
        delete _file;
        _file = nullptr;
    }
    _nameValid = false;
}

QTextStream *LoggerManager::stream()
{
    if (!_stream)
        _stream = _file ? new QTextStream(_file) : new QTextStream(stderr, QIODevice::ReadWrite);
    return _stream;
}
