// UnZip on an archive in memory: open, list, verify, extract everything to a
// scratch directory and one entry to a buffer. Nothing may be written outside
// the target directory.
#include "fuzzsupport.h"

#include <zip/unzip.h>

#include <QBuffer>
#include <QDateTime>
#include <QDirIterator>
#include <QHash>
#include <QTemporaryDir>

namespace {

struct FileState
{
    bool exists = false;
    qint64 size = 0;
    QDateTime modified;
    bool operator==(const FileState &o) const
    {
        return exists == o.exists && size == o.size && modified == o.modified;
    }
};

FileState stateOf(const QString &path)
{
    const QFileInfo info(path);
    FileState state;
    state.exists = info.exists() || info.isSymLink();
    // A directory's time moves whenever anyone adds to it (/tmp, say): only
    // its existence counts; what an entry could put inside is watched itself.
    if (state.exists && !info.isDir()) {
        state.size = info.size();
        state.modified = info.lastModified();
    }
    return state;
}

// Every path an entry name could reach outside the scratch directory, with
// what is there now.
QHash<QString, FileState> outsidePaths(const QList<ZipEntry> &entries, const QString &root,
                                       const QString &target)
{
    QHash<QString, FileState> paths;
    for (const ZipEntry &entry : entries) {
        const QString name = entry.filename();
        for (const QString &candidate : {QDir(target).absoluteFilePath(name), QDir::cleanPath(name)}) {
            const QString path = QDir::cleanPath(candidate);
            if (path != root && !path.startsWith(root + QLatin1Char('/')))
                paths.insert(path, stateOf(path));
        }
    }
    return paths;
}

void checkConfined(const QString &root, const QString &target, const QHash<QString, FileState> &outside)
{
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != target && !path.startsWith(target + QLatin1Char('/')))
            fuzz::fail(QStringLiteral("written outside the target directory: ") + path);
        if (QFileInfo(path).isSymLink())
            fuzz::fail(QStringLiteral("symbolic link extracted: ") + path);
    }
    for (auto it = outside.constBegin(); it != outside.constEnd(); ++it) {
        if (!(stateOf(it.key()) == it.value()))
            fuzz::fail(QStringLiteral("path outside the target changed: ") + it.key());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::init();
    static QTemporaryDir scratch(fuzz::tempRoot() + QStringLiteral("/orvel-fuzz-unzip-XXXXXX"));
    if (!scratch.isValid())
        fuzz::fail(QStringLiteral("no scratch directory"));
    const QString root = QDir(scratch.path()).canonicalPath();
    const QString target = root + QStringLiteral("/target");

    QByteArray archive = fuzz::bytes(data, size);
    QBuffer device(&archive);
    device.open(QIODevice::ReadOnly);

    UnZip unzip(false);
    unzip.setPassword(QStringLiteral("pw"));
    if (unzip.openArchive(&device) != UnZip::Ok)
        return 0;
    const QList<ZipEntry> entries = unzip.entryList();
    const QStringList names = unzip.fileList();
    fuzz::check(names.size() == entries.size(), "fileList and entryList differ in length");
    for (const QString &name : names)
        fuzz::check(unzip.contains(name), "contains() misses a listed name");
    (void)unzip.archiveComment();
    (void)unzip.verifyArchive();

    const QHash<QString, FileState> outside = outsidePaths(entries, root, target);
    (void)unzip.extractAll(target);
    if (!names.isEmpty()) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        (void)unzip.extractFile(names.first(), &out);
        (void)unzip.extractFiles(names.mid(0, 3), target, UnZip::SkipPaths);
    }
    checkConfined(root, target, outside);
    unzip.closeArchive();
    QDir(target).removeRecursively();
    return 0;
}
