#ifndef ORVEL_TESTS_ZIPTESTUTIL_H
#define ORVEL_TESTS_ZIPTESTUTIL_H

// Helpers shared by the zip tests: files with known content, tree
// comparison, and running the outside archivers.

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

namespace ziptest {

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (int i = 0; i < size; ++i)
        out[i] = char(rng.bounded(256));
    return out;
}

/// Relative path -> content of every file below `root`; directories get a
/// trailing "/" and empty content.
inline QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = base.relativeFilePath(path);
        if (it.fileInfo().isDir())
            files.insert(rel + QLatin1Char('/'), QByteArray());
        else
            files.insert(rel, readFile(path));
    }
    return files;
}

/// Only the files of tree().
inline QMap<QString, QByteArray> fileTree(const QString &root)
{
    QMap<QString, QByteArray> files = tree(root);
    for (auto it = files.begin(); it != files.end();) {
        if (it.key().endsWith(QLatin1Char('/')))
            it = files.erase(it);
        else
            ++it;
    }
    return files;
}

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
