#ifndef ORVELEXTLIB_ZIPFILESYSTEM_P_H
#define ORVELEXTLIB_ZIPFILESYSTEM_P_H

// The operating-system seam for the files an archive is made from and
// extracted to, and for the C library's time-zone calls, which differ between
// the platforms: one implementation per platform (zipfilesystem_unix.cpp,
// zipfilesystem_win.cpp). The file part exists for speed: per entry it costs
// one open, one status query and the reads, where QFile and QFileInfo query
// the file several times and convert its times through the local time zone.

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace zipfilesystem {

/// The current offset of local time from UTC in seconds, from the C library's
/// local and UTC breakdowns of now after the time-zone settings are reloaded;
/// 0 when either breakdown is unavailable.
int currentUtcOffset();

/// Opens the existing file `path` for writing (never creating or truncating
/// it), sets its last-write time to `utc` and closes it again. Returns whether
/// the time was set.
bool setLastWriteTime(const QString &path, const QDateTime &utc);

/// A regular file opened for reading, with the size and the last-write time
/// it had when it was opened.
class SourceFile
{
public:
    SourceFile() = default;
    ~SourceFile() { close(); }
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    /// False when `path` cannot be opened for reading or is not a regular
    /// file (reading a FIFO or a device could block for ever).
    bool open(const QString &path);
    void close();
    qint64 size() const { return m_size; }
    /// Seconds since 1970-01-01 UTC, rounded down.
    qint64 lastWriteTime() const { return m_lastWrite; }
    /// Reads up to `max` bytes; 0 at the end of the file, -1 on an error.
    qint64 read(char *data, qint64 max);

private:
    qintptr m_handle = -1;
    qint64 m_size = 0;
    qint64 m_lastWrite = 0;
};

/// A file created, or emptied when it exists, for an extracted entry.
class TargetFile
{
public:
    TargetFile() = default;
    ~TargetFile() { close(); }
    TargetFile(const TargetFile &) = delete;
    TargetFile &operator=(const TargetFile &) = delete;

    bool open(const QString &path);
    /// Writes all of `data`; false on an error.
    bool write(const char *data, qint64 size);
    /// Sets the last-write time, in milliseconds since 1970-01-01 UTC.
    bool setLastWriteTime(qint64 msecs);
    /// False when closing reports an error (a write that failed late).
    bool close();

private:
    qintptr m_handle = -1;
};

} // namespace zipfilesystem

#endif // ORVELEXTLIB_ZIPFILESYSTEM_P_H
