#ifndef ORVELEXTLIB_ZIPFILESYSTEM_P_H
#define ORVELEXTLIB_ZIPFILESYSTEM_P_H

// The operating-system seam for the files an archive is made from and
// extracted to, and for the C library's time-zone calls, which differ between
// the platforms: one implementation per platform (zipfilesystem_unix.cpp,
// zipfilesystem_win.cpp). The file part exists for speed: per entry it costs
// one open, one status query and the reads, where QFile and QFileInfo query
// the file several times and convert its times through the local time zone.

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

class QFileDevice;

namespace zipfilesystem {

/// The offset of local time from UTC in seconds at the moment `utcSeconds`
/// (since 1970-01-01 UTC), from the C library's local and UTC breakdowns of
/// it after the time-zone settings are reloaded; 0 when either breakdown is
/// unavailable. Any thread.
int utcOffsetAt(qint64 utcSeconds);

/// Opens the existing file `path` for writing (never creating or truncating
/// it), sets its last-write time to `utc` and closes it again. Returns whether
/// the time was set.
bool setLastWriteTime(const QString &path, const QDateTime &utc);

/// What tells one file from another whatever its name: the device and the
/// inode on Unix, the volume and the file index on Windows.
struct FileId
{
    quint64 volume = 0;
    quint64 index = 0;
    bool valid = false; // false when the file could not be queried

    bool operator==(const FileId &other) const
    {
        return valid && other.valid && volume == other.volume && index == other.index;
    }
};

/// The file at `path`, links followed.
FileId fileIdOf(const QString &path);
/// The file an open QFileDevice writes to.
FileId fileIdOf(const QFileDevice &file);

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

/// A path beside `path` for a temporary file: hidden on Unix, and random so
/// that it meets no entry and no other extraction (a name that exists is
/// refused by the exclusive creation, and another is tried).
inline QString temporarySibling(const QString &path)
{
    const int slash = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.left(slash + 1)
        + QStringLiteral(".unzip-%1")
              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

/// The file of an extracted entry. The data goes to a new temporary file in
/// the directory of the final path, and commit() puts it in place in one step:
/// an existing file is replaced only by a complete one (a power loss leaves
/// the old file or the new one), and the final path is never followed when it
/// is a symbolic link. Whatever is not committed is removed.
class TargetFile
{
public:
    TargetFile() = default;
    ~TargetFile() { discard(); }
    TargetFile(const TargetFile &) = delete;
    TargetFile &operator=(const TargetFile &) = delete;

    /// False when the temporary file cannot be created, or `path` is a
    /// directory, a special file (a FIFO, say) or an existing file that may
    /// not be written (a read-only file stays protected). The temporary file
    /// takes over the permissions of an existing file.
    bool open(const QString &path);
    /// Writes all of `data`; false on an error.
    bool write(const char *data, qint64 size);
    /// Sets the last-write time, in milliseconds since 1970-01-01 UTC.
    bool setLastWriteTime(qint64 msecs);
    /// Closes the temporary file and renames it to the final path, replacing
    /// what is there. False when closing (a write that failed late) or the
    /// rename fails; discard() then removes the temporary file.
    bool commit();
    /// Closes and removes the temporary file; false when it could not be
    /// removed (temporaryPath() still names it).
    bool discard();
    QString temporaryPath() const { return m_temporary; }

private:
    bool closeHandle();

    qintptr m_handle = -1;
    QString m_path;
    QString m_temporary;
    bool m_replaces = false; // an existing file is replaced
};

} // namespace zipfilesystem

#endif // ORVELEXTLIB_ZIPFILESYSTEM_P_H
