// LoggerManager: the entry layout and the clock it reads, with the per-thread
// cache of the local offset and of the day's date texts.
#include "loggermanager_p.h"

#include "logging_p.h"

#include <zip/zipcalendar_p.h>
#include <zip/zipfilesystem_p.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTextCodec>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 MSecsPerDay = zipcalendar::SecsPerDay * 1000;

std::atomic<LoggerManagerPrivate::Clock> g_clock{nullptr};

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
        // Where the native separator is a backslash, it counts too, and so
        // does a drive letter ("C:main.cpp").
        const char native = char(QDir::separator().unicode());
        const char *name = native == '\\' && file[0] && file[1] == ':' ? file + 2 : file;
        for (const char *p = file; *p; ++p) {
            if (*p == '/' || *p == native)
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

// The level word in its field of 16; other types have neither.
void appendLevelWord(QString &out, QtMsgType type)
{
    static const char *const words[] = {"INFO IN:        ", "WARNING IN:     ",
                                        "CRITICAL IN:    ", "FATAL IN:       "};
    const int i = int(type);
    if (i >= 0 && i < 4)
        out.append(QLatin1String(words[i], 16));
}

void appendHeader(QString &out, const LogRecordHeader &header, const LogStamp &stamp)
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

} // namespace

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
    const qint64 second = zipcalendar::floorDiv(utcMSecs, 1000);
    if (second != cache.second) {
        cache.offsetMs = zipfilesystem::utcOffsetAt(second) * 1000;
        cache.latinDigits = QLocale::system().zeroDigit() == QLatin1Char('0');
        cache.second = second;
    }
    const qint64 local = utcMSecs + cache.offsetMs;
    LogStamp result;
    result.day = zipcalendar::floorDiv(local, MSecsPerDay);
    result.msOfDay = int(local - result.day * MSecsPerDay);
    return result;
}

QDate LoggerManagerPrivate::currentDate()
{
    return dateOfDay(stamp(currentMSecsSinceEpoch()).day);
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

void LoggerManagerPrivate::appendEntry(QString &out, const LogRecordHeader &header,
                                       const LogStamp &stamp, const QString &message)
{
    appendHeader(out, header, stamp);
    out += QLatin1Char('\n');
    out += logIndent();
    out += message;
    out += QLatin1Char('\n');
}

QString LoggerManagerPrivate::fileDate(const LogStamp &stamp)
{
    return dayTexts(stamp).fileDate.toString();
}
