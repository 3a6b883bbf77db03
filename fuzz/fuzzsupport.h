#ifndef ORVEL_FUZZ_FUZZSUPPORT_H
#define ORVEL_FUZZ_FUZZSUPPORT_H

// Shared by the fuzz targets: quiet logging, a scratch directory on tmpfs
// where there is one, and a failure that every driver reports as a crash.
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Once per process: the readers log what they reject, which would only slow
// the fuzzer down.
inline void init()
{
    static const bool done = [] {
        qInstallMessageHandler(quietMessages);
        return true;
    }();
    Q_UNUSED(done)
}

// A property the target checks does not hold: report it and stop, so the
// fuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const QString &what)
{
    std::fprintf(stderr, "fuzz property violated: %s\n", qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

inline void check(bool ok, const char *what)
{
    if (!ok)
        fail(QString::fromUtf8(what));
}

// Where scratch files go: tmpfs when the machine has it.
inline QString tempRoot()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return shm.absoluteFilePath();
    return QDir::tempPath();
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

} // namespace fuzz

#endif // ORVEL_FUZZ_FUZZSUPPORT_H
