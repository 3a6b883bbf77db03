#include "zipfilesystem_p.h"
#include "zipcalendar_p.h"

#include <QFile>
#include <QFileDevice>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zipfilesystem {

namespace {
// Sets the modification time of an open file to `msecs` since the epoch (UTC),
// leaving its access time alone.
bool setModificationTime(int fd, qint64 msecs)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(msecs / 1000);
    times[1].tv_nsec = long((msecs % 1000) * 1000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_sec -= 1;
        times[1].tv_nsec += 1000000000L;
    }
    return ::futimens(fd, times) == 0;
}
} // namespace

int utcOffsetAt(qint64 utcSeconds)
{
    tzset(); // picks up a changed TZ variable or zone file
    const time_t t = time_t(utcSeconds);
    struct tm local;
    struct tm utc;
    if (!localtime_r(&t, &local) || !gmtime_r(&t, &utc))
        return 0;
    // Both breakdowns read as if they were UTC; their distance is the offset.
    return int(zipcalendar::secondsOf(local) - zipcalendar::secondsOf(utc));
}

bool setLastWriteTime(const QString &path, const QDateTime &utc)
{
    if (!utc.isValid())
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool ok = setModificationTime(fd, utc.toMSecsSinceEpoch());
    ::close(fd);
    return ok;
}

FileId fileIdOf(const QString &path)
{
    FileId id;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        id = { quint64(st.st_dev), quint64(st.st_ino), true };
    return id;
}

FileId fileIdOf(const QFileDevice &file)
{
    FileId id;
    struct stat st;
    if (file.handle() >= 0 && ::fstat(file.handle(), &st) == 0)
        id = { quint64(st.st_dev), quint64(st.st_ino), true };
    return id;
}

bool SourceFile::open(const QString &path)
{
    close();
    // Non-blocking, so that a FIFO put in place of the file cannot stall the
    // open; it is refused below. Reads of regular files are not affected.
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_size = qint64(st.st_size);
    m_lastWrite = qint64(st.st_mtim.tv_sec);
    return true;
}

void SourceFile::close()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
    m_size = 0;
    m_lastWrite = 0;
}

qint64 SourceFile::read(char *data, qint64 max)
{
    if (m_handle < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(int(m_handle), data, size_t(max));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR)
            return -1;
    }
}

bool TargetFile::open(const QString &path)
{
    discard();
    const QByteArray native = QFile::encodeName(path);
    struct stat existing;
    const bool exists = ::lstat(native.constData(), &existing) == 0;
    // A symbolic link is replaced, never followed; a FIFO, a device or a
    // directory is left alone.
    if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
        return false;
    const bool replaces = exists && S_ISREG(existing.st_mode);
    // Written in place, a file we may not write refused the extraction.
    if (replaces && ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0)
        return false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temporary = temporarySibling(path);
        int fd;
        do {
            fd = ::open(QFile::encodeName(temporary).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, replaces ? 0600 : 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return false;
        if (replaces) {
            // The new file keeps the old one's owner where we may give it
            // away (as the superuser) and its permissions; the set-id bits
            // only with the owner they were given for.
            mode_t mode = existing.st_mode & 07777;
            if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
                && ::fchown(fd, existing.st_uid, existing.st_gid) != 0)
                mode &= 0777;
            ::fchmod(fd, mode);
        }
        m_handle = fd;
        m_path = path;
        m_temporary = temporary;
        m_replaces = replaces;
        return true;
    }
    return false;
}

bool TargetFile::write(const char *data, qint64 size)
{
    if (m_handle < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(int(m_handle), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool TargetFile::setLastWriteTime(qint64 msecs)
{
    return m_handle >= 0 && setModificationTime(int(m_handle), msecs);
}

bool TargetFile::commit()
{
    if (m_handle < 0)
        return false;
    // The new content is on the disk before the name moves to it, so that a
    // power loss cannot leave an empty file in place of the old one.
    const bool synced = !m_replaces || ::fsync(int(m_handle)) == 0 || errno == EINVAL;
    if (!closeHandle() || !synced)
        return false;
    const QByteArray from = QFile::encodeName(m_temporary);
    if (::rename(from.constData(), QFile::encodeName(m_path).constData()) != 0)
        return false;
    m_temporary.clear();
    return true;
}

bool TargetFile::discard()
{
    closeHandle();
    if (m_temporary.isEmpty())
        return true;
    if (::unlink(QFile::encodeName(m_temporary).constData()) != 0 && errno != ENOENT)
        return false;
    m_temporary.clear();
    return true;
}

bool TargetFile::closeHandle()
{
    if (m_handle < 0)
        return true;
    // On Linux the descriptor is released even when close() is interrupted.
    const bool ok = ::close(int(m_handle)) == 0 || errno == EINTR;
    m_handle = -1;
    return ok;
}

} // namespace zipfilesystem
