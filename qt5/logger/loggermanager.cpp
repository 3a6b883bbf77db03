#include "loggermanager.h"
#include "loggermanager_p.h"

#include "logging_p.h"

#include <qsettingsext/dircreator.h>
#include <qsettingsext/systemdirs_p.h>
#include <zip/zip.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

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

namespace {

constexpr qint64 MSecsPerDay = 86400000;
constexpr int CleanupIntervalMs = 86400000;

std::atomic<LoggerManagerPrivate::Clock> g_clock{nullptr};

// > 0 while this thread holds LoggerManager::_logMutex. A message raised then
// (a Qt warning from inside initLog(), say) must not wait for the mutex.
thread_local int t_lockDepth = 0;

// Locks the logger's mutex unless this thread holds it already, and marks
// the thread as holding it.
class LogLocker
{
public:
    explicit LogLocker(QMutex &mutex)
        : m_mutex(mutex)
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

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = floorDiv(y, 400);
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Local time minus UTC at a UTC second, as the C library sees it now (the
// same source Qt's local time comes from). 0 when unavailable.
qint64 localOffsetSeconds(qint64 utcSeconds)
{
    const std::time_t t = std::time_t(utcSeconds);
    std::tm tm{};
#ifdef Q_OS_WIN
    if (localtime_s(&tm, &t) != 0)
        return 0;
#else
    tzset(); // picks up a changed TZ variable or zone file
    if (!localtime_r(&t, &tm))
        return 0;
#endif
    const qint64 local = daysFromCivil(qint64(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400
        + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    return local - utcSeconds;
}

// A short text in place, so that the per-thread caches need no destructor
// (messages may still come while threads and the process wind down).
struct ShortText
{
    QChar text[24];
    int length = 0;

    void assign(const QString &from)
    {
        length = qMin(from.size(), int(sizeof(text) / sizeof(text[0])));
        std::copy(from.constData(), from.constData() + length, text);
    }
    QString toString() const { return QString(text, length); }
};

// Per-thread cache of the local offset and of the date texts of the current
// day, so that an entry costs one clock read and no time-zone lookup.
struct ClockCache
{
    qint64 second = std::numeric_limits<qint64>::min();
    qint64 offsetMs = 0;
    bool latinDigits = true;
    qint64 day = std::numeric_limits<qint64>::min();
    ShortText fileDate; // yyyy-MM-dd
    ShortText lineDate; // [yy-MM-dd]
};

thread_local ClockCache t_clock;

QDate dateOfDay(qint64 day)
{
    return QDate::fromJulianDay(day + 2440588); // 1970-01-01 is Julian day 2440588
}

// The date texts of the stamp's day, made once per day with Qt's own formatting.
const ClockCache &dayTexts(const LogStamp &stamp)
{
    ClockCache &cache = t_clock;
    if (cache.day != stamp.day) {
        const QDate date = dateOfDay(stamp.day);
        cache.fileDate.assign(date.toString(QStringLiteral("yyyy-MM-dd")));
        cache.lineDate.assign(QLatin1Char('[') + date.toString(QStringLiteral("yy-MM-dd"))
                              + QLatin1Char(']'));
        cache.day = stamp.day;
    }
    return cache;
}

const QString &blanks()
{
    static const QString text = QStringLiteral("                                "); // 32
    return text;
}

void appendBlanks(QString &out, int count)
{
    while (count > 0) {
        const int n = qMin(count, 32);
        out.append(blanks().constData(), n);
        count -= n;
    }
}

void appendLatin1Field(QString &out, const char *text, int length, int width)
{
    out.append(QLatin1String(text, length));
    appendBlanks(out, width - length);
}

void appendField(QString &out, const QString &text, int width)
{
    out.append(text);
    appendBlanks(out, width - text.size());
}

bool isAscii(const char *text)
{
    for (; *text; ++text) {
        if (uchar(*text) >= 0x80)
            return false;
    }
    return true;
}

QTextCodec *utf8Codec()
{
    static QTextCodec *const codec = QTextCodec::codecForName("UTF-8");
    return codec;
}

QString fromUtf8Context(const char *text)
{
    return text ? utf8Codec()->toUnicode(text) : QString();
}

// The file name part of a source path, as QFileInfo::fileName() gives it.
void appendFileField(QString &out, const char *file, int width)
{
    if (!file) {
        appendBlanks(out, width);
        return;
    }
    if (isAscii(file)) {
        const char *name = file;
#ifdef Q_OS_WIN
        if (file[0] && file[1] == ':')
            name = file + 2;
#endif
        for (const char *p = file; *p; ++p) {
#ifdef Q_OS_WIN
            if (*p == '/' || *p == '\\')
#else
            if (*p == '/')
#endif
                name = p + 1;
        }
        appendLatin1Field(out, name, int(std::strlen(name)), width);
        return;
    }
    appendField(out, QFileInfo(fromUtf8Context(file)).fileName(), width);
}

void appendTime(QString &out, int msOfDay, bool latinDigits)
{
    if (!latinDigits) {
        // A system locale with other digits: Qt's formatting writes them.
        out += QTime::fromMSecsSinceStartOfDay(msOfDay).toString(QStringLiteral("[hh:mm:ss.zzz] "));
        return;
    }
    const int h = msOfDay / 3600000;
    const int m = msOfDay / 60000 % 60;
    const int s = msOfDay / 1000 % 60;
    const int z = msOfDay % 1000;
    const QChar text[] = {
        QLatin1Char('['), QLatin1Char(char('0' + h / 10)), QLatin1Char(char('0' + h % 10)),
        QLatin1Char(':'), QLatin1Char(char('0' + m / 10)), QLatin1Char(char('0' + m % 10)),
        QLatin1Char(':'), QLatin1Char(char('0' + s / 10)), QLatin1Char(char('0' + s % 10)),
        QLatin1Char('.'), QLatin1Char(char('0' + z / 100)), QLatin1Char(char('0' + z / 10 % 10)),
        QLatin1Char(char('0' + z % 10)), QLatin1Char(']'), QLatin1Char(' ')};
    out.append(text, int(sizeof(text) / sizeof(text[0])));
}

void appendNumberField(QString &out, int value, int width)
{
    char digits[16];
    char *end = digits + sizeof(digits);
    char *p = end;
    unsigned int magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        *--p = '-';
    appendLatin1Field(out, p, int(end - p), width);
}

// The thread id as the header shows it, padded to its field; made once per thread.
void appendThreadField(QString &out)
{
    thread_local ShortText field;
    if (field.length == 0) {
        const auto id = qint32(quintptr(QThread::currentThreadId()));
        QString text = QString::number(qint64(id), 16);
        appendBlanks(text, 16 - text.size());
        field.assign(text);
    }
    out.append(field.text, field.length);
}

// Same bytes as QTextCodec's UTF-8 encoder: every unpaired surrogate becomes '?'.
void appendUtf8(QByteArray &out, const QChar *text, int length)
{
    const int start = out.size();
    out.resize(start + 3 * length);
    uchar *d = reinterpret_cast<uchar *>(out.data()) + start;
    const ushort *s = reinterpret_cast<const ushort *>(text);
    const ushort *const end = s + length;
    while (s != end) {
        const ushort u = *s++;
        if (u < 0x80) {
            *d++ = uchar(u);
        } else if (u < 0x800) {
            *d++ = uchar(0xc0 | (u >> 6));
            *d++ = uchar(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            *d++ = uchar(0xe0 | (u >> 12));
            *d++ = uchar(0x80 | ((u >> 6) & 0x3f));
            *d++ = uchar(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && s != end && QChar::isLowSurrogate(*s)) {
            const uint c = QChar::surrogateToUcs4(u, *s++);
            *d++ = uchar(0xf0 | (c >> 18));
            *d++ = uchar(0x80 | ((c >> 12) & 0x3f));
            *d++ = uchar(0x80 | ((c >> 6) & 0x3f));
            *d++ = uchar(0x80 | (c & 0x3f));
        } else {
            *d++ = '?';
        }
    }
    out.resize(int(d - reinterpret_cast<uchar *>(out.data())));
}

void writeStderr(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// The level word in its field of 16; other types have neither.
void appendLevelWord(QString &out, QtMsgType type)
{
    static const char *const words[] = {"INFO IN:        ", "WARNING IN:     ",
                                        "CRITICAL IN:    ", "FATAL IN:       "};
    const int i = int(type);
    if (i >= 0 && i < 4)
        out.append(QLatin1String(words[i], 16));
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

// --- clock ---

void LoggerManagerPrivate::setClock(Clock clock)
{
    g_clock.store(clock, std::memory_order_release);
}

qint64 LoggerManagerPrivate::currentMSecsSinceEpoch()
{
    const Clock clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : QDateTime::currentMSecsSinceEpoch();
}

LogStamp LoggerManagerPrivate::stamp(qint64 utcMSecs)
{
    ClockCache &cache = t_clock;
    const qint64 second = floorDiv(utcMSecs, 1000);
    if (second != cache.second) {
        cache.offsetMs = localOffsetSeconds(second) * 1000;
        cache.latinDigits = QLocale::system().zeroDigit() == QLatin1Char('0');
        cache.second = second;
    }
    const qint64 local = utcMSecs + cache.offsetMs;
    LogStamp result;
    result.day = floorDiv(local, MSecsPerDay);
    result.msOfDay = int(local - result.day * MSecsPerDay);
    return result;
}

QDate LoggerManagerPrivate::currentDate()
{
    return dateOfDay(stamp(currentMSecsSinceEpoch()).day);
}

// --- entry layout ---

void LoggerManagerPrivate::appendHeader(QString &out, const LogRecordHeader &header,
                                        const LogStamp &stamp)
{
    const ClockCache &texts = dayTexts(stamp);
    if (!header.rotate) {
        out.append(texts.lineDate.text, texts.lineDate.length);
        out += QLatin1Char('\n');
    }
    appendTime(out, stamp.msOfDay, texts.latinDigits);
    appendLevelWord(out, header.type);
    appendFileField(out, header.file, 32);
    appendNumberField(out, header.line, 5);
    out += QLatin1String("THREAD_ID:    ");
    appendThreadField(out);
    out += QLatin1Char('\n');
    out += logIndent();
    if (header.function) {
        if (isAscii(header.function))
            out += QLatin1String(header.function);
        else
            out += fromUtf8Context(header.function);
    }
}

QTextCodec *LoggerManagerPrivate::fileCodec()
{
    // File streams are switched to "System"; where Qt knows no codec of that
    // name they keep the locale's codec.
    static QTextCodec *const system = QTextCodec::codecForName("System");
    return system ? system : QTextCodec::codecForLocale();
}

const QByteArray &LoggerManagerPrivate::encode(QTextCodec *codec, const QString &text,
                                               QByteArray &buffer)
{
    if (!codec) {
        // no codec left while the process exits: as QTextStream does then
        buffer = text.toLatin1();
    } else if (codec->mibEnum() == 106) {
        buffer.resize(0);
        appendUtf8(buffer, text.constData(), text.size());
    } else {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        buffer = codec->fromUnicode(text.constData(), text.size(), &state);
    }
    return buffer;
}

QString LoggerManagerPrivate::suffixOrDefault()
{
    return LoggerManager::_defaultSuffix.isEmpty() ? QStringLiteral("log")
                                                   : LoggerManager::_defaultSuffix;
}

// --- files ---

void LoggerManagerPrivate::openAt(LoggerManager *lm, const LogStamp &stamp)
{
    const QString &logPath = LoggerManager::_logPath;
    const bool rotate = LoggerManager::_rotateLogs;
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
            ? QStringLiteral("%1/%2_%3.%4")
                  .arg(dir, dayTexts(stamp).fileDate.toString(), appName, lm->_suffix)
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
    LogRecordHeader header;
    header.rotate = LoggerManager::_rotateLogs;
    header.file = context.file;
    header.function = context.function;
    header.line = context.line;
    header.type = type;
    QString entry;
    appendHeader(entry, header, stamp(currentMSecsSinceEpoch()));
    entry += QLatin1Char('\n');
    entry += logIndent();
    entry += message;
    entry += QLatin1Char('\n');
    QByteArray bytes;
    writeStderr(encode(QTextCodec::codecForLocale(), entry, bytes));
}

// The "Start logging"/"Stop logging" lines in the default file. Called with the mutex held.
void LoggerManagerPrivate::writeBanner(const char *function, int line, const QString &text,
                                       bool separator)
{
    LogRecordHeader header;
    header.rotate = LoggerManager::_rotateLogs;
    header.file = __FILE__;
    header.function = function;
    header.line = line;
    header.type = QtDebugMsg;
    const LogStamp now = stamp(currentMSecsSinceEpoch());

    QString entry;
    if (separator) {
        entry += QLatin1String("\n\n");
        entry += QString(80, QLatin1Char('-'));
        entry += QLatin1Char('\n');
    }
    appendHeader(entry, header, now);
    entry += QLatin1Char('\n');
    entry += logIndent();
    entry += text;
    entry += QLatin1Char('\n');

    LoggerManager logger(suffixOrDefault());
    openAt(&logger, now);
    QTextStream *stream = logger.stream();
    *stream << entry;
    stream->flush();
}

// --- clean-up ---

void LoggerManagerPrivate::disposeTimer()
{
    QTimer *timer = LoggerManager::_eraceTimer;
    LoggerManager::_eraceTimer = nullptr;
    if (!timer)
        return;
    QObject::disconnect(timer, nullptr, nullptr, nullptr);
    // A running timer is stopped by its own thread: deleting it from another
    // one would fail (with a warning) to unregister it. A thread that has
    // ended would never carry out a deleteLater(), and has nothing left to
    // unregister.
    if (timer->thread() == QThread::currentThread() || !timer->isActive() || !timer->thread()->isRunning())
        delete timer;
    else
        timer->deleteLater();
}

void LoggerManagerPrivate::startCleanup()
{
    QtConcurrent::run(&LoggerManagerPrivate::cleanupLogs);
}

void LoggerManagerPrivate::cleanupLogs()
{
    const QString path = LoggerManager::logsPath();
    // An empty path would be the working directory.
    if (path.isEmpty())
        return;
    QDir dir(path);
    if (!dir.exists())
        return;
    const QDate today = currentDate();
    const quint32 keepingDays = LoggerManager::keepingDays();
    QStringList filters = LoggerManager::additionalEraseFilters();
    filters << QStringLiteral("*%1.log*").arg(QCoreApplication::applicationName());

    const QStringList names = dir.entryList(filters, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QDate date = QDate::fromString(name.left(name.indexOf(QLatin1Char('_'))),
                                             QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid())
            continue;
        if (date.addDays(keepingDays) <= today) {
            dir.remove(name);
            continue;
        }
        if (date.addDays(2) <= today && date.addDays(5) >= today
            && !name.toLower().endsWith(QLatin1String(".zip")))
            packLog(dir, name);
    }
    if (LoggerManager::cleanAnyOldLogs())
        cleanAnyOldFiles(dir, today, keepingDays);
}

void LoggerManagerPrivate::packLog(QDir &dir, const QString &name)
{
    const QString path = QFileInfo(dir, name).absoluteFilePath();
    const QString archive = QDir::fromNativeSeparators(QStringLiteral("%1.zip").arg(path));
    Zip zip;
    if (zip.createArchive(archive, true) == Zip::Ok
        && zip.addFile(path, QString(), Zip::IgnorePaths, Zip::AutoFull) == Zip::Ok
        && zip.closeArchive() == Zip::Ok)
        dir.remove(name);
}

void LoggerManagerPrivate::cleanAnyOldFiles(QDir dir, const QDate &today, quint32 keepingDays)
{
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*"), QStringLiteral("*.*")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QDate date = file.lastModified().date();
        if (date.isValid() && date.addDays(keepingDays) <= today)
            dir.remove(file.fileName());
    }
    // Linked directories are not followed: they may lead out of the log
    // directory or back into it.
    const QFileInfoList dirs = dir.entryInfoList({QStringLiteral("*")},
                                                 QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                                                 QDir::Name);
    for (const QFileInfo &sub : dirs)
        cleanAnyOldFiles(QDir(sub.absoluteFilePath()), today, keepingDays);
}

// --- LoggerManager: start and stop ---

bool LoggerManager::initLog(const QString &path, unsigned int keepingDays, bool rotate,
                            QtMsgType minimumLevel)
{
    if (path.isEmpty() || keepingDays < 2) {
        qInstallMessageHandler(ignoreLogs);
        return true;
    }
    LogLocker lock(_logMutex);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    _rotateLogs = rotate;
    DirCreator::checkAndCreate(path, DirCreator::DEFAULT_ALL);
    _logPath = path;
    _keepingDays = keepingDays;
    _minimumLogLevel = minimumLevel;
    LoggerManagerPrivate::writeBanner("initLog", __LINE__, QObject::tr("Start logging"), true);
    qInstallMessageHandler(logMessageOutput);

    LoggerManagerPrivate::disposeTimer();
    if (rotate) {
        _eraceTimer = new QTimer;
        _eraceTimer->setInterval(CleanupIntervalMs);
        QObject::connect(_eraceTimer, &QTimer::timeout, _eraceTimer,
                         &LoggerManagerPrivate::startCleanup, Qt::DirectConnection);
        _eraceTimer->start();
        LoggerManagerPrivate::startCleanup();
    }
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
    LogLocker lock(_logMutex);
    LoggerManagerPrivate::disposeTimer();
    _loggers.clear();
    LoggerManagerPrivate::writeBanner("releaseLog", __LINE__, QObject::tr("Stop logging"), false);
    qInstallMessageHandler(nullptr);
    _outputs.clear();
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
    LogLocker lock(_logMutex);

    // A callback of the message's category takes it instead of the outputs.
    // A message of a category whose callback this thread is running goes to
    // the outputs, so a callback that logs cannot call itself without end.
    if (context.category && !_outputs.isEmpty() && !CallbackScope::isRunning(context.category)) {
        const auto it = _outputs.constFind(QString::fromUtf8(context.category));
        if (it != _outputs.constEnd() && *it) {
            const OutputCallback callback = *it;
            lock.unlock();
            const CallbackScope scope(context.category);
            callback(type, context, message);
            return;
        }
    }

    if (!_debugOuts || int(type) < int(_minimumLogLevel))
        return;

    LogRecordHeader header;
    header.rotate = _rotateLogs;
    header.file = context.file;
    header.function = context.function;
    header.line = context.line;
    header.type = type;
    const LogStamp now = LoggerManagerPrivate::stamp(LoggerManagerPrivate::currentMSecsSinceEpoch());

    QString &entry = entryBuffer();
    entry.resize(0);
    LoggerManagerPrivate::appendHeader(entry, header, now);
    entry += QLatin1Char('\n');
    entry += logIndent();
    entry += message;
    entry += QLatin1Char('\n');

    QTextCodec *const consoleCodec = QTextCodec::codecForLocale();
    QTextCodec *const fileCodec = LoggerManagerPrivate::fileCodec();
    if (_debugOuts & ConsoleOut)
        writeStderr(LoggerManagerPrivate::encode(consoleCodec, entry, consoleBytes()));
    if (!(_debugOuts & FileOut))
        return;

    const QByteArray &bytes = (_debugOuts & ConsoleOut) && consoleCodec == fileCodec
        ? consoleBytes()
        : LoggerManagerPrivate::encode(fileCodec, entry, fileBytes());

    // A message without a category belongs to the default file, as it does
    // where the file system drops the trailing dot of "kiosk.log.".
    QString suffix = LoggerManagerPrivate::suffixOrDefault();
    if (context.category && *context.category && std::strcmp(context.category, "default") != 0)
        suffix += QLatin1Char('.') + QLatin1String(context.category);

    if (_rotateLogs && _keepLogHandlers) {
        QSharedPointer<LoggerManager> &logger = _loggers[suffix];
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
    LogLocker lock(_logMutex);
    return _debugOuts;
}

void LoggerManager::setDebugOuts(const QFlags<EQtDebugOut> &outs)
{
    LogLocker lock(_logMutex);
    _debugOuts = outs;
}

QString LoggerManager::logsPath()
{
    LogLocker lock(_logMutex);
    return _logPath;
}

bool LoggerManager::rotateLogs()
{
    LogLocker lock(_logMutex);
    return _rotateLogs;
}

quint32 LoggerManager::keepingDays()
{
    LogLocker lock(_logMutex);
    return _keepingDays;
}

bool LoggerManager::keepLogHandlers()
{
    LogLocker lock(_logMutex);
    return _keepLogHandlers;
}

void LoggerManager::setKeepLogHandlers(bool keep)
{
    LogLocker lock(_logMutex);
    _keepLogHandlers = keep;
}

QString LoggerManager::defaultSuffix()
{
    LogLocker lock(_logMutex);
    return _defaultSuffix;
}

void LoggerManager::setDefaultSuffix(const QString &suffix)
{
    LogLocker lock(_logMutex);
    _defaultSuffix = suffix;
}

QStringList LoggerManager::additionalEraseFilters()
{
    LogLocker lock(_logMutex);
    return _additionalEraseFilters;
}

void LoggerManager::setAdditionalEraseFilters(const QStringList &filters)
{
    LogLocker lock(_logMutex);
    _additionalEraseFilters = filters;
}

bool LoggerManager::cleanAnyOldLogs()
{
    LogLocker lock(_logMutex);
    return _cleanAnyOldLogs;
}

void LoggerManager::setCleanAnyOldLogs(bool clean)
{
    LogLocker lock(_logMutex);
    _cleanAnyOldLogs = clean;
}

QMap<QString, LoggerManager::OutputCallback> LoggerManager::outputs()
{
    LogLocker lock(_logMutex);
    return _outputs;
}

void LoggerManager::setOutputs(const QMap<QString, OutputCallback> &outputs)
{
    LogLocker lock(_logMutex);
    _outputs = outputs;
}

void LoggerManager::setOutputs(const QString &category, OutputCallback callback)
{
    LogLocker lock(_logMutex);
    if (!_outputs.contains(category))
        _outputs.insert(category, std::move(callback));
}

void LoggerManager::removeOutput(const QString &category)
{
    LogLocker lock(_logMutex);
    _outputs.remove(category);
}

// --- instances ---

LoggerManager::LoggerManager(const QString &suffix)
    : _suffix(suffix)
{
    _loggersCounter.ref();
    open();
}

LoggerManager::~LoggerManager()
{
    close();
    _loggersCounter.deref();
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
