#include "zipfilesystem_p.h"

#include <QFile>

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

int currentUtcOffset()
{
    tzset();
    const time_t now = time(nullptr);
    struct tm local;
    struct tm utc;
    if (!localtime_r(&now, &local) || !gmtime_r(&now, &utc))
        return 0;
    // Both breakdowns read as if they were UTC; their distance is the offset.
    return int(timegm(&local) - timegm(&utc));
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
    close();
    // Non-blocking, so that a FIFO in the target directory cannot stall the
    // extraction: without a reader the open fails at once.
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    m_handle = fd;
    return true;
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

bool TargetFile::close()
{
    if (m_handle < 0)
        return true;
    // On Linux the descriptor is released even when close() is interrupted.
    const bool ok = ::close(int(m_handle)) == 0 || errno == EINTR;
    m_handle = -1;
    return ok;
}

} // namespace zipfilesystem
