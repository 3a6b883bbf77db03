#ifndef ORVELEXTLIB_LOGGERMANAGER_P_H
#define ORVELEXTLIB_LOGGERMANAGER_P_H

#include "loggermanager.h"

#include <orvelextlib_export.h>

#include <QDate>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QByteArray;
class QTextCodec;
class QTimer;

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

// The process-wide state of the logger, guarded by `mutex`.
struct LoggerState
{
    QMutex mutex;
    QString logPath;
    quint32 keepingDays = 7;
    bool rotateLogs = false;
    QtMsgType minimumLogLevel = QtDebugMsg;
    LoggerManager::EQtDebugOuts debugOuts = LoggerManager::ConsoleOut;
    bool keepLogHandlers = true;
    QString defaultSuffix = QStringLiteral("log");
    bool cleanAnyOldLogs = false;
    QStringList additionalEraseFilters;
    QMap<QString, LoggerManager::OutputCallback> outputs;
    QMap<QString, QSharedPointer<LoggerManager>> loggers; // open files by suffix
    QTimer *cleanupTimer = nullptr; // daily clean-up, owned
};

// Internals of LoggerManager, and the hooks its tests use.
class ORVELEXTLIB_AUTOTEST_EXPORT LoggerManagerPrivate
{
public:
    /// The logger's state. Never destroyed: the destructors of a host's
    /// globals may still log.
    static LoggerState &state();

    // --- entry layout and clock (loggerentry.cpp) ---

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
    /// Appends the entry: the header lines, then the message indented on a
    /// line of its own.
    static void appendEntry(QString &out, const LogRecordHeader &header, const LogStamp &stamp,
                            const QString &message);
    /// The stamp's day as dated file names show it (yyyy-MM-dd).
    static QString fileDate(const LogStamp &stamp);
    static const QByteArray &encode(QTextCodec *codec, const QString &text, QByteArray &buffer);
    static QTextCodec *fileCodec();

    // --- clean-up job (loggercleanup.cpp) ---

    /// The clean-up job: deletes, packs and sweeps old files of the log
    /// directory. Runs in the calling thread; startCleanup() runs it in Qt's
    /// global thread pool.
    static void cleanupLogs();
    /// Starts the daily timer in the calling thread and the job at once.
    /// With the mutex held, as is stopCleanup(), which disposes of the timer.
    static void startCleanup();
    static void stopCleanup();

    // --- the handler and its outputs (loggermanager.cpp) ---

    static QString suffixOrDefault();
    static void openAt(LoggerManager *logger, const LogStamp &stamp);
    static void writeEntry(LoggerManager *logger, const QByteArray &bytes);
    static void writeNested(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static void writeBanner(const char *function, int line, const QString &text, bool separator);
};

#endif // ORVELEXTLIB_LOGGERMANAGER_P_H
