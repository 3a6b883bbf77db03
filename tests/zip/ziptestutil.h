#ifndef ORVEL_TESTS_ZIPTESTUTIL_H
#define ORVEL_TESTS_ZIPTESTUTIL_H

// Helpers shared by the zip tests: files with known content, tree
// comparison, and running the outside archivers.

#include "testfiles.h"

#include <zip/zip.h>

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QtEndian>

#include <functional>

namespace ziptest {

using ::readFile;
using ::writeFile;

/// Log-like text that deflate can work on.
inline QByteArray logText(int size, quint32 seed = 1)
{
    QRandomGenerator rng(seed);
    static const char *const words[] = {"INFO", "DEBUG", "connection", "request", "client",
                                        "timeout", "worker", "finished", "queue", "value"};
    QByteArray out;
    out.reserve(size + 128);
    while (out.size() < size) {
        out += "2024-03-0" + QByteArray::number(rng.bounded(1, 10)) + " 12:"
            + QByteArray::number(rng.bounded(10, 60)) + " ";
        for (int i = 0; i < 6; ++i)
            out += QByteArray(words[rng.bounded(10)]) + ' ';
        out += QByteArray::number(rng.generate()) + '\n';
    }
    out.truncate(size);
    return out;
}

inline QByteArray randomBytes(int size, quint32 seed = 2)
{
    return ::randomBytes(size, seed);
}

/// Relative path -> content of every file below `root`; directories (unless
/// left out) get a trailing "/" and empty content.
inline QMap<QString, QByteArray> tree(const QString &root, QDir::Filters kinds = QDir::Files | QDir::Dirs)
{
    QMap<QString, QByteArray> files;
    const QDir base(root);
    QDirIterator it(root, kinds | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool dir = it.fileInfo().isDir();
        files.insert(base.relativeFilePath(path) + (dir ? QStringLiteral("/") : QString()),
                     dir ? QByteArray() : readFile(path));
    }
    return files;
}

/// Only the files of tree().
inline QMap<QString, QByteArray> fileTree(const QString &root)
{
    return tree(root, QDir::Files);
}

/// Writes files or directories into a new archive (named, or on a device);
/// the first error.
template <typename Target>
Zip::ErrorCode zipFiles(Target target, const QStringList &paths,
                        Zip::CompressionOptions options = Zip::IgnorePaths, Zip::CompressionLevel level = Zip::AutoFull)
{
    Zip zip;
    Zip::ErrorCode ec = zip.createArchive(target);
    if (ec == Zip::Ok)
        ec = zip.addFiles(paths, QString(), options, level);
    const Zip::ErrorCode closed = zip.closeArchive();
    return ec != Zip::Ok ? ec : closed;
}

/// An archive in memory whose reads fail from `failAt` on (an error, or an
/// early end), and which calls `onReach` when a read first passes `hookAt`.
class FaultyDevice : public QBuffer
{
public:
    enum Failure { Error, EarlyEnd };
    qint64 failAt = -1;
    Failure failure = Error;
    qint64 hookAt = -1;
    std::function<void()> onReach;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (hookAt >= 0 && pos() + maxSize > hookAt && onReach) {
            auto hook = std::move(onReach);
            onReach = nullptr;
            hook();
        }
        if (failAt >= 0 && pos() + maxSize > failAt) {
            if (pos() >= failAt)
                return failure == Error ? -1 : 0;
            maxSize = failAt - pos();
        }
        return QBuffer::readData(data, maxSize);
    }
};

struct ToolResult
{
    int exitCode = -1;
    QByteArray output;
};

/// Runs an outside program to its end (stdin closed); exit code -1 when it
/// could not be started or did not finish.
inline ToolResult runTool(const QString &program, const QStringList &args,
                          const QString &workDir = QString(), int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    ToolResult r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.output = p.readAll();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

inline QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

/// Little-endian field access into archive bytes.
inline quint16 u16(const QByteArray &a, int at) { return qFromLittleEndian<quint16>(a.constData() + at); }
inline quint32 u32(const QByteArray &a, int at) { return qFromLittleEndian<quint32>(a.constData() + at); }
inline void setU16(QByteArray &a, int at, quint16 v) { qToLittleEndian<quint16>(v, a.data() + at); }
inline void setU32(QByteArray &a, int at, quint32 v) { qToLittleEndian<quint32>(v, a.data() + at); }

} // namespace ziptest

#endif // ORVEL_TESTS_ZIPTESTUTIL_H
