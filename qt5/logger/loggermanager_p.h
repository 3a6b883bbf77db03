#ifndef ORVELEXTLIB_LOGGERMANAGER_P_H
#define ORVELEXTLIB_LOGGERMANAGER_P_H

#include <orvelextlib_export.h>

#include <QDate>
#include <QDir>
#include <QString>
#include <QtGlobal>

class QByteArray;
class QTextCodec;
class LoggerManager;

// The data of one entry header. File and function are the raw UTF-8 texts of
// the message context; they are decoded only when written.
struct LogRecordHeader
{
    bool rotate = false;
    const char *file = nullptr;
    const char *function = nullptr;
    int line = 0;
    QtMsgType type = QtDebugMsg;
};

// A moment as the logger writes it: the local calendar day (days since
// 1970-01-01) and the milliseconds into that day.
struct LogStamp
{
    qint64 day = 0;
    int msOfDay = 0;
};

// Internals of LoggerManager, and the hooks its tests use.
class ORVELEXTLIB_AUTOTEST_EXPORT LoggerManagerPrivate
{
public:
    using Clock = qint64 (*)();

    /// Test hook: replaces the source of "now" (UTC milliseconds since the
    /// epoch) behind entry time stamps, dated file names and the clean-up
    /// job's "today", so that tests need not touch the machine clock. Local
    /// time is still worked out from the process's time zone. A null clock
    /// restores the system clock. Any thread.
    static void setClock(Clock clock);
    static qint64 currentMSecsSinceEpoch();
    /// Today's local date by the clock above.
    static QDate currentDate();

    /// Local day and time of a UTC moment, with the local offset cached per
    /// thread and worked out again whenever the UTC second changes (so a
    /// daylight-saving switch or a new zone is seen within that second).
    static LogStamp stamp(qint64 utcMSecs);

    /// The clean-up job: deletes, packs and sweeps old files of the log
    /// directory. Runs in the calling thread; initLog() and the daily timer
    /// run it in Qt's global thread pool.
    static void cleanupLogs();

    // --- used by LoggerManager ---
    static void startCleanup();
    static void cleanAnyOldFiles(QDir dir, const QDate &today, quint32 keepingDays);
    static void packLog(QDir &dir, const QString &name);
    static void appendHeader(QString &out, const LogRecordHeader &header, const LogStamp &stamp);
    static QString suffixOrDefault();
    static void openAt(LoggerManager *logger, const LogStamp &stamp);
    static void writeEntry(LoggerManager *logger, const QByteArray &bytes);
    static void writeNested(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static void writeBanner(const char *function, int line, const QString &text, bool separator);
    static const QByteArray &encode(QTextCodec *codec, const QString &text, QByteArray &buffer);
    static QTextCodec *fileCodec();
    static void disposeTimer();
};

#endif // ORVELEXTLIB_LOGGERMANAGER_P_H
