#include "systemdirs_p.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The umask, read once at first use. umask() reads it only by replacing it,
// and a file another thread creates between the two calls would get no mask
// at all; Linux shows it in /proc/self/status ("Umask:") without changing it,
// so the pair of calls is only the fallback. Hosts set their umask at
// start-up, before the library creates anything, and one read keeps the cost
// off the logger, which sets a file's permissions for each entry without
// rotation. Plain system calls: Qt's could log from inside the logger.
mode_t readUmask()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[4096];
        size_t used = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer + used, sizeof(buffer) - 1 - used);
            if (n > 0)
                used += size_t(n);
            else if (n == 0 || errno != EINTR)
                break;
            if (used == sizeof(buffer) - 1)
                break;
        }
        ::close(fd);
        buffer[used] = '\0';
        if (const char *line = std::strstr(buffer, "\nUmask:")) {
            char *end = nullptr;
            const unsigned long mask = std::strtoul(line + 7, &end, 8);
            if (end != line + 7)
                return mode_t(mask & 0777);
        }
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
} // namespace

namespace SystemDirs {

QString defaultWorkDir(const QString &folder)
{
    QString base = qEnvironmentVariable("ALLUSERSPROFILE");
    if (base.isEmpty())
        base = QStringLiteral("/var/lib");
    return base + QLatin1Char('/') + folder;
}

QFileDevice::Permissions creationPermissions(QFileDevice::Permissions requested)
{
    static const mode_t mask = readUmask();
    // Group and other bits sit in Qt's flags as in the mode, a nibble apart;
    // Qt's "user" bits stand for the owner on Unix.
    const int owner = int(mask >> 6) & 7, group = int(mask >> 3) & 7, other = int(mask) & 7;
    const int forbidden = owner << 12 | owner << 8 | group << 4 | other;
    return requested & ~QFileDevice::Permissions(forbidden);
}

} // namespace SystemDirs
