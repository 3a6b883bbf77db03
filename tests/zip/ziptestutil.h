#ifndef ORVEL_TESTS_ZIPTESTUTIL_H
#define ORVEL_TESTS_ZIPTESTUTIL_H

// Helpers shared by the zip tests.

#include "testfiles.h"

#include <zip/zip.h>

#include <QDirIterator>
#include <QLoggingCategory>
#include <QMap>
#include <QScopeGuard>

namespace ziptest {

/// Log-like text that deflate can work on.
inline QByteArray logText(int size, quint32 seed = 1)
{
    QByteArray out;
    for (quint32 i = seed; out.size() < size; i = i * 1103515245 + 12345)
        out += "worker " + QByteArray::number(i >> 16) + (i % 7 ? " done\n" : " timeout\n");
    return out.left(size);
}

/// Relative path -> content of every file below `root` (directories: "/", empty).
inline QMap<QString, QByteArray> tree(const QString &root, bool dirs = true)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root,
                    (dirs ? QDir::AllEntries : QDir::Files) | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next(), name = QDir(root).relativeFilePath(path);
        it.fileInfo().isDir() ? files.insert(name + '/', {}) : files.insert(name, readFile(path));
    }
    return files;
}

/// Files or directories into a new archive (named, or a device); the first error.
template<typename Target>
Zip::ErrorCode zipFiles(Target target, const QStringList &paths,
                        Zip::CompressionOptions options = Zip::IgnorePaths)
{
    Zip zip;
    Zip::ErrorCode ec = zip.createArchive(target);
    if (ec == Zip::Ok)
        ec = zip.addFiles(paths, QString(), options, Zip::AutoFull);
    return ec == Zip::Ok ? zip.closeArchive() : ec;
}

/// Debug output switched off, for tests that throw damage at the reader.
inline auto silenceDebug()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    return qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
}

} // namespace ziptest

#endif // ORVEL_TESTS_ZIPTESTUTIL_H
