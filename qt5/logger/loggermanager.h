#ifndef ORVELEXTLIB_LOGGERMANAGER_H
#define ORVELEXTLIB_LOGGERMANAGER_H

#include <orvelextlib_export.h>

#include <QFlags>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class QFile;
class QTextStream;
class LoggerManagerPrivate;

/// The process-wide Qt message handler of the library.
///
/// initLog() installs it: from then on every message written through the Qt
/// logging functions is either handed to the callback registered for its
/// category, or written as a multi-line entry (time, level word, source file,
/// line, thread id, then the function and the message on indented lines) to
/// the standard error stream, to a log file, or to both (debugOuts()). Files
/// are named after the application ("kiosk.log", or "2018-01-19_kiosk.log"
/// with rotation); messages of a category other than "default" go to a file
/// of their own ("kiosk.log.net"). With rotation a job in Qt's global thread
/// pool deletes files older than keepingDays() and packs files 2 to 5 days old
/// into zip archives, at start and then every 24 hours. releaseLog() hands
/// message handling back to Qt.
///
/// Every static function may be called from any thread; they share one mutex.
/// A message raised while the logger itself holds that mutex in the same
/// thread (for example a Qt warning from inside initLog()) is written straight
/// to the standard error stream instead of waiting for the mutex.
///
/// An instance is one open log file with a text stream on it; the class makes
/// them itself. Instance functions take no lock.
class ORVELEXTLIB_EXPORT LoggerManager
{
public:
    /// The outputs the handler writes entries to (debugOuts()).
    enum EQtDebugOut {
        FileOut = 0x1,   ///< write entries to the log files
        ConsoleOut = 0x2 ///< write entries to the standard error stream
    };
    /// A set of EQtDebugOut values.
    Q_DECLARE_FLAGS(EQtDebugOuts, EQtDebugOut)

    /// A callback that takes the messages of one category (setOutputs()). It
    /// runs in the thread that logs, without the logger's mutex, so it may log.
    using OutputCallback =
        std::function<void(QtMsgType, const QMessageLogContext &, const QString &)>;

    /// Starts logging into `path` (created if missing) and installs
    /// logMessageOutput() as the Qt message handler. Sets the filter rule
    /// "default.debug=false". With `rotate`, one file per day and the daily
    /// clean-up job; a second call replaces the earlier clean-up timer. An
    /// empty path or fewer than 2 keeping days installs ignoreLogs() instead.
    /// Always returns true. The daily timer lives in the calling thread, which
    /// needs an event loop for the daily runs.
    static bool initLog(const QString &path, unsigned int keepingDays, bool rotate,
                        QtMsgType minimumLevel);
    /// initLog() with rotation.
    static bool initLog(const QString &path, unsigned int keepingDays, QtMsgType minimumLevel);
    /// Installs ignoreLogs(): every message vanishes. Returns true.
    static bool initEmptyLog();
    /// Writes "Stop logging", closes the cached files, stops the clean-up
    /// timer, forgets the callbacks and restores Qt's default handler.
    static void releaseLog();

    /// The message handler installed by initLog().
    static void logMessageOutput(QtMsgType type, const QMessageLogContext &context,
                                 const QString &message);
    /// A message handler that discards every message.
    static void ignoreLogs(QtMsgType type, const QMessageLogContext &context,
                           const QString &message);

    /// The outputs entries are written to; ConsoleOut by default. An empty
    /// set writes nothing (callbacks still run). May be set before initLog().
    ///@{
    static QFlags<EQtDebugOut> debugOuts();
    static void setDebugOuts(const QFlags<EQtDebugOut> &outs);
    ///@}
    /// The settings of the last initLog() with a path: the log directory
    /// (empty before), rotation (false before) and the days a file is kept
    /// (7 before).
    ///@{
    static QString logsPath();
    static bool rotateLogs();
    static quint32 keepingDays();
    ///@}
    /// With rotation: keep one open file per suffix between messages (default true).
    ///@{
    static bool keepLogHandlers();
    static void setKeepLogHandlers(bool keep);
    ///@}
    /// Suffix of the default log file, "log" by default (and when empty).
    ///@{
    static QString defaultSuffix();
    static void setDefaultSuffix(const QString &suffix);
    ///@}
    /// Extra name patterns (such as "*.dmp") the clean-up job deletes or packs
    /// by the date at the start of their names, like the log files.
    ///@{
    static QStringList additionalEraseFilters();
    static void setAdditionalEraseFilters(const QStringList &filters);
    ///@}
    /// The clean-up job also deletes every file in the log directory tree
    /// whose modification date is older than keepingDays() (default false).
    ///@{
    static bool cleanAnyOldLogs();
    static void setCleanAnyOldLogs(bool clean);
    ///@}

    /// Callbacks by category name: read, replace all, remove one. A category
    /// with a callback is handed to it (without the mutex held) whatever its
    /// level and debugOuts(); nothing is written for it. An empty callback
    /// counts as none. releaseLog() forgets them all.
    ///@{
    static QMap<QString, OutputCallback> outputs();
    static void setOutputs(const QMap<QString, OutputCallback> &outputs);
    static void removeOutput(const QString &category);
    ///@}
    /// Adds the callback only when the category has none yet.
    static void setOutputs(const QString &category, OutputCallback callback);

    /// Opens today's file for `suffix` (or the standard error stream when the
    /// directory is missing or the file cannot be opened).
    explicit LoggerManager(const QString &suffix);
    virtual ~LoggerManager();

    /// Works out today's file name and makes sure file and stream are open on
    /// it; a file held from an earlier day is closed and the new one opened.
    void open();
    /// Deletes the stream (flushing it) and closes and deletes the file.
    void close();
    /// The stream on the file, or on the standard error stream when there is
    /// no open file. Owned by this object; valid until the next open()/close().
    QTextStream *stream();

private:
    Q_DISABLE_COPY(LoggerManager)
    friend class LoggerManagerPrivate;

    QString _suffix;
    QFile *_file = nullptr;
    QTextStream *_stream = nullptr;

    // What the current file name was worked out from, so that a held file is
    // checked against a new name only when one of these changed.
    qint64 _nameDay = 0;
    QString _nameLogPath;
    QString _nameAppName;
    bool _nameRotate = false;
    bool _nameValid = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(LoggerManager::EQtDebugOuts)

#endif // ORVELEXTLIB_LOGGERMANAGER_H
