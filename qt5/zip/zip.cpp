#include "zip.h"
#include "zip_p.h"
#include "zipfilesystem_p.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

using namespace zipcommon;

namespace {

// Extensions for the levels chosen by file type; each list sorted.
const char *const StoreExtensions[] = {"7z", "bin", "deb", "exe", "gz", "gz2", "jar", "rar",
                                       "rpm", "tar", "tgz", "z", "zip"};
const char *const Level2Extensions[] = {"asf", "avi", "divx", "doc", "docx", "flv", "gif", "iso",
                                        "jpeg", "jpg", "mka", "mkv", "mp3", "mp4", "mpeg", "mpg",
                                        "odt", "ogg", "ogm", "ra", "rm", "wma", "wmv"};
const char *const Level9Extensions[] = {"asp", "bat", "c", "conf", "cpp", "css", "csv", "cxx",
                                        "h", "hpp", "htm", "html", "hxx", "ini", "js", "php",
                                        "pl", "py", "rtf", "sh", "tsv", "txt", "vb", "vbs",
                                        "xml", "xst"};

template <size_t N>
bool listed(const char *const (&list)[N], const QByteArray &suffix)
{
    return std::binary_search(std::begin(list), std::end(list), suffix.constData(),
                              [](const char *a, const char *b) { return std::strcmp(a, b) < 0; });
}

int levelForFile(const QFileInfo &info, qint64 size, Zip::CompressionLevel level)
{
    // Small files grow when deflated.
    if (size <= 59)
        return 0;
    if (level == Zip::AutoCPU)
        return 5;
    if (level == Zip::AutoMIME || level == Zip::AutoFull) {
        const QByteArray suffix = info.completeSuffix().toLower().toUtf8();
        if (listed(StoreExtensions, suffix))
            return 0;
        if (listed(Level2Extensions, suffix))
            return 2;
        if (listed(Level9Extensions, suffix))
            return 9;
        return 5;
    }
    return qBound(0, int(level), 9);
}

// A name stored in an archive never starts with "/" (nor with a drive
// letter): readers would refuse it or write outside their target.
QString relativeName(QString name)
{
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter())
        name.remove(0, 2);
    int i = 0;
    while (i < name.size() && name.at(i) == QLatin1Char('/'))
        ++i;
    return name.mid(i);
}

// The directory part of stored names for entries below `dir` (a file's own
// directory, or a directory being added).
QString directoryPart(const QDir &dir, Zip::CompressionOptions options)
{
    if (options & Zip::IgnorePaths)
        return QString();
    QString part = dir.dirName() + QLatin1Char('/');
    if ((options & Zip::AbsolutePaths) && !(options & Zip::IgnoreRoot)) {
        QDir parent(dir.absolutePath());
        if (parent.cdUp()) {
            QString above = parent.absolutePath();
            if (above != QLatin1String("/"))
                above += QLatin1Char('/');
            part = above + part;
        }
    }
    return part;
}

// Removes a broken archive, but only a regular file: a name such as
// /dev/null must survive a failed archive.
bool removeArchiveFile(QFile *file)
{
    const QFileInfo info(file->fileName());
    if (!info.isFile() || info.isSymLink())
        return false;
    return file->remove();
}

} // namespace

// ---------------------------------------------------------------- ZipPrivate

ZipPrivate::ZipPrivate()
{
    std::memset(&zs, 0, sizeof(zs));
}

ZipPrivate::~ZipPrivate()
{
    if (zsReady)
        deflateEnd(&zs);
    QObject::disconnect(deviceWatch);
    delete file;
}

void ZipPrivate::forgetDevice()
{
    QObject::disconnect(deviceWatch);
    device = nullptr;
    delete file;
    file = nullptr;
    entries.clear();
    entryIndex.clear();
    archiveId = zipfilesystem::FileId();
    flushedOffset = 0;
    outputFill = 0;
}

Zip::ErrorCode ZipPrivate::createArchive(QIODevice *dev)
{
    if (!dev) {
        qDebug("Invalid device.");
        return Zip::OpenFailed;
    }
    if (!dev->isOpen() && !dev->open(QIODevice::WriteOnly)) {
        qDebug("Unable to open device for writing.");
        return Zip::OpenFailed;
    }
    device = dev;
    deviceWatch = QObject::connect(dev, &QObject::destroyed, [this] {
        qDebug("Unexpected device destruction detected.");
        file = nullptr;
        forgetDevice();
    });
    if (readBuffer.isEmpty()) {
        readBuffer.resize(BufferSize);
        outputBuffer.resize(BufferSize);
    }
    entries.clear();
    entryIndex.clear();
    const auto *fileDevice = qobject_cast<QFileDevice *>(dev);
    archiveId = fileDevice ? zipfilesystem::fileIdOf(*fileDevice) : zipfilesystem::FileId();
    // Appended bytes land at the end whatever the position: a device open
    // for appending is never sought back on, as a sequential one. Offsets
    // count from the start of the device, where its end is when appending.
    const bool appending = dev->openMode() & QIODevice::Append;
    seekable = !dev->isSequential() && !appending;
    flushedOffset = dev->isSequential() ? 0 : quint64(appending ? dev->size() : dev->pos());
    outputFill = 0;
    return Zip::Ok;
}

bool ZipPrivate::flushOutput()
{
    if (outputFill == 0)
        return true;
    const qint64 written = device->write(outputBuffer.constData(), outputFill);
    if (written != outputFill)
        return false;
    flushedOffset += quint64(outputFill);
    outputFill = 0;
    return true;
}

bool ZipPrivate::writeOut(const char *data, qint64 size)
{
    if (outputFill + size > BufferSize) {
        if (!flushOutput())
            return false;
        if (size >= BufferSize) {
            if (device->write(data, size) != size)
                return false;
            flushedOffset += quint64(size);
            return true;
        }
    }
    std::memcpy(outputBuffer.data() + outputFill, data, size_t(size));
    outputFill += int(size);
    return true;
}

// Drops everything written from `headerOffset` on, so a refused or failed
// entry leaves no trace before the central directory.
Zip::ErrorCode ZipPrivate::rollBack(quint64 headerOffset)
{
    if (headerOffset >= flushedOffset) {
        outputFill = int(headerOffset - flushedOffset);
        return Zip::Ok;
    }
    outputFill = 0;
    // What has left for a device that is not sought back on stays, unreferenced.
    if (!seekable || !device->seek(qint64(headerOffset)))
        return Zip::SeekFailed;
    flushedOffset = headerOffset;
    if (auto *fileDevice = qobject_cast<QFileDevice *>(device))
        fileDevice->resize(qint64(headerOffset));
    return Zip::Ok;
}

void ZipPrivate::addRecord(const ZipEntryRecord &record)
{
    const auto it = entryIndex.constFind(record.name);
    if (it != entryIndex.constEnd()) {
        // The same name again: the newer entry replaces the older one.
        entries[it.value()] = record;
        return;
    }
    entryIndex.insert(record.name, entries.size());
    entries.append(record);
}

Zip::ErrorCode ZipPrivate::collect(const QFileInfo &info, const QString &name, bool topLevel,
                                   Zip::CompressionOptions options, QVector<Item> *items,
                                   QHash<QString, bool> *seen)
{
    const bool checkDuplicates = options & Zip::CheckForDuplicates;
    const QString key = checkDuplicates ? info.absoluteFilePath() : QString();
    if (checkDuplicates && seen->contains(key))
        return Zip::Ok;
    // Only regular files and directories: reading a FIFO or a device could
    // block for ever.
    const bool usable = info.exists() && info.isReadable() && (info.isFile() || info.isDir());
    if (!usable) {
        if (options & Zip::SkipBadFiles)
            return Zip::Ok;
        logDebug(QStringLiteral("File or directory does not exist: %1").arg(info.filePath()));
        return Zip::FileNotFound;
    }
    if (checkDuplicates)
        seen->insert(key, true);
    if (info.isFile()) {
        // Never the archive itself (in a directory being added, maybe under
        // another name): it would be read while it grows.
        if (archiveId.valid && zipfilesystem::fileIdOf(info.absoluteFilePath()) == archiveId)
            return Zip::Ok;
        items->append({info, name});
        return Zip::Ok;
    }
    // Symbolic links to directories are not followed: they may form loops.
    if (info.isSymLink() && !topLevel)
        return Zip::Ok;
    // In name order (what QDir::Name gives: names compared as UTF-16), each
    // name taken once and kept for the entry.
    struct Child
    {
        QString name;
        QFileInfo info;
    };
    QVector<Child> children;
    QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        children.append({it.fileName(), it.fileInfo()});
    }
    std::sort(children.begin(), children.end(),
              [](const Child &a, const Child &b) { return a.name < b.name; });
    const QString prefix = name.isEmpty() || name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/');
    if (children.isEmpty()) {
        // An empty directory keeps an entry of its own, or it would be lost.
        if (!prefix.isEmpty())
            items->append({info, prefix});
        return Zip::Ok;
    }
    for (const Child &child : qAsConst(children)) {
        const Zip::ErrorCode ec = collect(child.info, prefix + child.name, false, options, items, seen);
        if (ec != Zip::Ok)
            return ec;
    }
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::addFiles(const QStringList &paths, const QString &root,
                                    Zip::CompressionOptions options, Zip::CompressionLevel level,
                                    int *addedFiles)
{
    if (addedFiles)
        *addedFiles = 0;
    if (!device)
        return Zip::NoOpenArchive;

    const QString trimmedRoot = root.trimmed();
    QVector<Item> items;
    QHash<QString, bool> seen;
    QHash<QString, QString> dirParts;   // parent directory -> directory part of names
    for (const QString &path : paths) {
        const QFileInfo info(path);
        QString name;
        if (info.isDir()) {
            name = trimmedRoot + directoryPart(QDir(info.absoluteFilePath()), options);
        } else {
            const QString parent = info.absolutePath();
            auto it = dirParts.find(parent);
            if (it == dirParts.end())
                it = dirParts.insert(parent, directoryPart(QDir(parent), options));
            name = trimmedRoot + it.value() + info.fileName();
        }
        const Zip::ErrorCode ec = collect(info, relativeName(name), true, options, &items, &seen);
        if (ec != Zip::Ok)
            return ec;
    }
    if (items.isEmpty())
        return Zip::Ok;

    const int utcOffset = zip_currentUtcOffset();
    for (const Item &item : qAsConst(items)) {
        const Zip::ErrorCode ec = item.info.isDir() ? writeDirectory(item, utcOffset)
                                                    : writeFile(item, level, utcOffset);
        if (ec != Zip::Ok)
            return ec;
        if (addedFiles)
            ++*addedFiles;
    }
    return Zip::Ok;
}

static void fillLocalHeader(char *h, const ZipEntryRecord &r, quint32 crc, quint32 compressed,
                            quint32 uncompressed)
{
    putUInt(h, LocalHeaderSignature);
    putUShort(h + 4, VersionNeeded);
    putUShort(h + 6, r.flags);
    putUShort(h + 8, r.method);
    putUShort(h + 10, r.modTime);
    putUShort(h + 12, r.modDate);
    putUInt(h + 14, crc);
    putUInt(h + 18, compressed);
    putUInt(h + 22, uncompressed);
    putUShort(h + 26, quint16(r.name.size()));
    putUShort(h + 28, 0);
}

Zip::ErrorCode ZipPrivate::writeDirectory(const Item &item, int utcOffset)
{
    if (entries.size() >= 0xffff || position() > MaxSize32) {
        logDebug(QStringLiteral("Archive too large for the zip format: %1").arg(item.info.filePath()));
        return Zip::FileTooLarge;
    }
    bool utf8 = false;
    ZipEntryRecord record;
    record.name = encodeName(item.name, &utf8);
    if (record.name.size() > 0xffff)
        return Zip::FileTooLarge;
    record.flags = utf8 ? FlagUtf8 : 0;
    record.method = MethodStored;
    record.headerOffset = position();
    const QDateTime local = item.info.lastModified().toUTC().addSecs(utcOffset);
    toDosDateTime(local, &record.modTime, &record.modDate);
    char header[LocalHeaderSize];
    fillLocalHeader(header, record, 0, 0, 0);
    if (!writeOut(header, LocalHeaderSize) || !writeOut(record.name.constData(), record.name.size())) {
        logDebug(QStringLiteral("Error while writing %1").arg(item.info.filePath()));
        return Zip::WriteFailed;
    }
    addRecord(record);
    return Zip::Ok;
}

// Runs deflate over the pending input straight into the output buffer,
// encrypting what it produced when there is a password.
Zip::ErrorCode ZipPrivate::deflateBlock(int flush, quint64 *produced, CipherKeys *keys)
{
    for (;;) {
        if (outputFill == BufferSize && !flushOutput())
            return Zip::WriteFailed;
        char *out = outputBuffer.data() + outputFill;
        const uInt room = uInt(BufferSize - outputFill);
        zs.next_out = reinterpret_cast<Bytef *>(out);
        zs.avail_out = room;
        const int ret = deflate(&zs, flush);
        if (ret == Z_STREAM_ERROR)
            return Zip::ZlibError;
        const uInt made = room - zs.avail_out;
        if (keys)
            keys->encrypt(out, made);
        outputFill += int(made);
        *produced += made;
        if (flush == Z_FINISH) {
            if (ret == Z_STREAM_END)
                return Zip::Ok;
        } else if (zs.avail_in == 0 && zs.avail_out != 0) {
            return Zip::Ok;
        }
        if (made == 0 && ret == Z_BUF_ERROR && zs.avail_out != 0)
            return Zip::ZlibError;
    }
}

Zip::ErrorCode ZipPrivate::writeFile(const Item &item, Zip::CompressionLevel requested, int utcOffset)
{
    const QFileInfo &info = item.info;
    const auto tooLarge = [&] {
        logDebug(QStringLiteral("File too large for the zip format: %1").arg(info.filePath()));
        return Zip::FileTooLarge;
    };
    if (entries.size() >= 0xffff || position() > MaxSize32)
        return tooLarge();
    // Size and time come from the opened file: no further look-ups by name.
    zipfilesystem::SourceFile in;
    if (!in.open(info.absoluteFilePath())) {
        if (quint64(info.size()) > MaxSize32)
            return tooLarge();
        logDebug(QStringLiteral("An error occurred while opening %1").arg(info.filePath()));
        return Zip::OpenFailed;
    }
    if (quint64(in.size()) > MaxSize32)
        return tooLarge();

    const int level = levelForFile(info, in.size(), requested);
    const bool encrypt = !password.isEmpty();
    // Without a way back to the header the sizes follow the data.
    const bool descriptor = encrypt || !seekable;

    bool utf8 = false;
    ZipEntryRecord record;
    record.name = encodeName(item.name, &utf8);
    if (record.name.size() > 0xffff)
        return Zip::FileTooLarge;
    record.flags = quint16((encrypt ? FlagEncrypted : 0) | (descriptor ? FlagDataDescriptor : 0)
                           | (utf8 ? FlagUtf8 : 0));
    record.method = level == 0 ? MethodStored : MethodDeflated;
    record.headerOffset = position();
    toDosDateTime(in.lastWriteTime() + utcOffset, &record.modTime, &record.modDate);

    if (level != 0) {
        if (!zsReady) {
            if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
                qDebug("Could not initialize zlib for compression");
                return Zip::ZlibInit;
            }
            zsReady = true;
            zsLevel = level;
        } else {
            deflateReset(&zs);
            if (zsLevel != level) {
                if (deflateParams(&zs, level, Z_DEFAULT_STRATEGY) != Z_OK) {
                    qDebug("Could not initialize zlib for compression");
                    return Zip::ZlibInit;
                }
                zsLevel = level;
            }
        }
    }

    char header[LocalHeaderSize];
    fillLocalHeader(header, record, 0, 0, quint32(in.size()));
    const auto writeFailed = [&] {
        logDebug(QStringLiteral("Error while writing %1").arg(info.filePath()));
        rollBack(record.headerOffset);
        return Zip::WriteFailed;
    };
    if (!writeOut(header, LocalHeaderSize) || !writeOut(record.name.constData(), record.name.size()))
        return writeFailed();

    QScopedPointer<CipherKeys> keys;
    quint64 compressed = 0;
    if (encrypt) {
        keys.reset(new CipherKeys(passwordBytes(password)));
        char encryptionHeader[EncryptionHeaderSize];
        for (int i = 0; i < EncryptionHeaderSize; i += 4)
            putUInt(encryptionHeader + i, QRandomGenerator::system()->generate());
        // With a data descriptor the check byte is the high byte of the time.
        encryptionHeader[EncryptionHeaderSize - 1] = char(record.modTime >> 8);
        keys->encrypt(encryptionHeader, EncryptionHeaderSize);
        if (!writeOut(encryptionHeader, EncryptionHeaderSize))
            return writeFailed();
        compressed += EncryptionHeaderSize;
    }

    quint32 crc = 0;
    quint64 total = 0;
    char *buffer = readBuffer.data();
    for (;;) {
        const qint64 n = in.read(buffer, BufferSize);
        if (n < 0) {
            logDebug(QStringLiteral("Error while reading %1").arg(info.filePath()));
            rollBack(record.headerOffset);
            return Zip::ReadFailed;
        }
        if (n == 0)
            break;
        total += quint64(n);
        if (total > MaxSize32) {
            rollBack(record.headerOffset);
            return tooLarge();
        }
        crc = crc32(crc, buffer, n);
        if (level == 0) {
            if (keys)
                keys->encrypt(buffer, n);
            if (!writeOut(buffer, n))
                return writeFailed();
            compressed += quint64(n);
        } else {
            zs.next_in = reinterpret_cast<Bytef *>(buffer);
            zs.avail_in = uInt(n);
            const Zip::ErrorCode ec = deflateBlock(Z_NO_FLUSH, &compressed, keys.data());
            if (ec != Zip::Ok) {
                if (ec == Zip::WriteFailed)
                    return writeFailed();
                rollBack(record.headerOffset);
                return ec;
            }
        }
        // A short read that reaches the size the file had when it was opened
        // is its end: one read call less per small file.
        if (n < BufferSize && total == quint64(in.size()))
            break;
    }
    in.close();
    if (level != 0) {
        zs.next_in = nullptr;
        zs.avail_in = 0;
        const Zip::ErrorCode ec = deflateBlock(Z_FINISH, &compressed, keys.data());
        if (ec != Zip::Ok) {
            if (ec == Zip::WriteFailed)
                return writeFailed();
            rollBack(record.headerOffset);
            return ec;
        }
    }

    const quint64 end = position() + (descriptor ? DataDescriptorSize : 0);
    if (compressed > MaxSize32 || end > MaxSize32) {
        rollBack(record.headerOffset);
        return tooLarge();
    }
    record.crc = crc;
    record.compressedSize = quint32(compressed);
    record.uncompressedSize = quint32(total);

    if (descriptor) {
        char dd[DataDescriptorSize];
        putUInt(dd, DataDescriptorSignature);
        putUInt(dd + 4, record.crc);
        putUInt(dd + 8, record.compressedSize);
        putUInt(dd + 12, record.uncompressedSize);
        if (!writeOut(dd, DataDescriptorSize))
            return writeFailed();
    } else {
        // CRC-32 and sizes into the local header: in the output buffer while
        // the header is still there, else on the device. The uncompressed
        // size is written again in case the file changed while it was read.
        char fields[12];
        putUInt(fields, record.crc);
        putUInt(fields + 4, record.compressedSize);
        putUInt(fields + 8, record.uncompressedSize);
        const quint64 at = record.headerOffset + 14;
        if (at >= flushedOffset) {
            std::memcpy(outputBuffer.data() + (at - flushedOffset), fields, sizeof(fields));
        } else {
            if (!flushOutput())
                return writeFailed();
            if (!device->seek(qint64(at))) {
                logDebug(QStringLiteral("Error while writing %1").arg(info.filePath()));
                return Zip::SeekFailed;
            }
            if (device->write(fields, sizeof(fields)) != qint64(sizeof(fields))) {
                device->seek(qint64(flushedOffset));
                return writeFailed();
            }
            if (!device->seek(qint64(flushedOffset)))
                return Zip::SeekFailed;
        }
    }
    addRecord(record);
    return Zip::Ok;
}

Zip::ErrorCode ZipPrivate::closeArchive()
{
    if (!device)
        return Zip::NoOpenArchive;

    Zip::ErrorCode ec = Zip::Ok;
    const quint64 directoryOffset = position();
    for (const ZipEntryRecord &r : qAsConst(entries)) {
        char h[CentralHeaderSize];
        putUInt(h, CentralHeaderSignature);
        putUShort(h + 4, (r.flags & FlagUtf8) ? MadeByNtfs : MadeByDos);
        putUShort(h + 6, VersionNeeded);
        putUShort(h + 8, r.flags);
        putUShort(h + 10, r.method);
        putUShort(h + 12, r.modTime);
        putUShort(h + 14, r.modDate);
        putUInt(h + 16, r.crc);
        putUInt(h + 20, r.compressedSize);
        putUInt(h + 24, r.uncompressedSize);
        putUShort(h + 28, quint16(r.name.size()));
        putUShort(h + 30, 0);                 // extra field
        putUShort(h + 32, 0);                 // comment
        putUShort(h + 34, 0);                 // disk number
        putUShort(h + 36, 0);                 // internal attributes
        putUInt(h + 38, 0);                   // external attributes
        putUInt(h + 42, quint32(r.headerOffset));
        if (!writeOut(h, CentralHeaderSize) || !writeOut(r.name.constData(), r.name.size())) {
            ec = Zip::WriteFailed;
            break;
        }
    }

    if (ec == Zip::Ok) {
        QByteArray commentBytes = encodeComment(comment);
        if (commentBytes.size() > MaxCommentSize) {
            qDebug("Archive comment too long, truncated.");
            commentBytes.truncate(MaxCommentSize);
        }
        const quint64 directorySize = position() - directoryOffset;
        char e[EndOfDirectorySize];
        putUInt(e, EndOfDirectorySignature);
        putUShort(e + 4, 0);
        putUShort(e + 6, 0);
        putUShort(e + 8, quint16(entries.size()));
        putUShort(e + 10, quint16(entries.size()));
        putUInt(e + 12, quint32(directorySize));
        putUInt(e + 16, quint32(directoryOffset));
        putUShort(e + 20, quint16(commentBytes.size()));
        if (directoryOffset > MaxSize32 || directorySize > MaxSize32) {
            ec = Zip::FileTooLarge;
        } else if (!writeOut(e, EndOfDirectorySize)
                   || !writeOut(commentBytes.constData(), commentBytes.size()) || !flushOutput()) {
            ec = Zip::WriteFailed;
        }
    }

    // A file keeps the last bytes in its own buffer: they must reach the disk
    // before the archive counts as written.
    auto *fileDevice = qobject_cast<QFileDevice *>(device);
    if (ec == Zip::Ok && fileDevice && !fileDevice->flush())
        ec = Zip::WriteFailed;
    if (file) {
        file->close();
        if (ec == Zip::Ok && file->error() != QFileDevice::NoError)
            ec = Zip::WriteFailed;
        if (ec != Zip::Ok && !removeArchiveFile(file))
            qDebug("Failed to delete corrupt archive.");
    }
    forgetDevice();
    return ec;
}

// ----------------------------------------------------------------------- Zip

Zip::Zip()
    : d(new ZipPrivate)
{
}

Zip::~Zip()
{
    closeArchive();
}

bool Zip::isOpen() const
{
    return d->device != nullptr;
}

void Zip::setPassword(const QString &pwd)
{
    d->password = pwd;
}

void Zip::clearPassword()
{
    d->password.clear();
}

QString Zip::password() const
{
    return d->password;
}

Zip::ErrorCode Zip::createArchive(const QString &fileName, bool overwrite)
{
    closeArchive();
    if (fileName.isEmpty())
        return FileNotFound;
    if (QFile::exists(fileName) && !overwrite)
        return FileExists;
    auto *file = new QFile(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        delete file;
        return OpenFailed;
    }
    const ErrorCode ec = d->createArchive(file);
    if (ec != Ok) {
        file->close();
        removeArchiveFile(file);
        delete file;
        return ec;
    }
    d->file = file;
    return Ok;
}

Zip::ErrorCode Zip::createArchive(QIODevice *device)
{
    closeArchive();
    return d->createArchive(device);
}

QString Zip::archiveComment() const
{
    return d->comment;
}

void Zip::setArchiveComment(const QString &comment)
{
    d->comment = comment;
}

Zip::ErrorCode Zip::addFile(const QString &path, CompressionLevel level)
{
    return addFile(path, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addFile(const QString &path, const QString &root, CompressionLevel level)
{
    return addFile(path, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addFile(const QString &path, const QString &root, CompressionOptions options,
                            CompressionLevel level)
{
    if (path.isEmpty())
        return Ok;
    return addFiles(QStringList(path), root, options, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, CompressionLevel level)
{
    return addFiles(paths, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, const QString &root, CompressionLevel level)
{
    return addFiles(paths, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addFiles(const QStringList &paths, const QString &root, CompressionOptions options,
                             CompressionLevel level, int *addedFiles)
{
    return d->addFiles(paths, root, options, level, addedFiles);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, CompressionLevel level)
{
    return addDirectory(path, QString(), RelativePaths, level);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, const QString &root, CompressionLevel level)
{
    return addDirectory(path, root, RelativePaths, level);
}

Zip::ErrorCode Zip::addDirectory(const QString &path, const QString &root, CompressionOptions options,
                                 CompressionLevel level, int *addedFiles)
{
    if (addedFiles)
        *addedFiles = 0;
    if (!d->device)
        return NoOpenArchive;
    const QFileInfo info(path);
    if (!info.isDir()) {
        if (options & SkipBadFiles)
            return Ok;
        return FileNotFound;
    }
    return d->addFiles(QStringList(path), root, options, level, addedFiles);
}

Zip::ErrorCode Zip::addDirectoryContents(const QString &path, CompressionLevel level)
{
    return addDirectory(path, QString(), IgnorePaths, level);
}

Zip::ErrorCode Zip::addDirectoryContents(const QString &path, const QString &root, CompressionLevel level)
{
    return addDirectory(path, root, IgnorePaths, level);
}

Zip::ErrorCode Zip::closeArchive()
{
    return d->closeArchive();
}

QString Zip::formatError(ErrorCode c) const
{
    switch (c) {
    case Ok: return tr("ZIP operation completed successfully.");
    case ZlibInit: return tr("Failed to initialize or load zlib library.");
    case ZlibError: return tr("zlib library error.");
    case OpenFailed: return tr("Unable to create or open file.");
    case NoOpenArchive: return tr("No archive has been created yet.");
    case FileNotFound: return tr("File or directory does not exist.");
    case ReadFailed: return tr("File read error.");
    case WriteFailed: return tr("File write error.");
    case SeekFailed: return tr("File seek error.");
    case FileTooLarge: return tr("File or archive too large for the zip format.");
    case FileExists:
    default: return tr("Unknown error.");
    }
}
