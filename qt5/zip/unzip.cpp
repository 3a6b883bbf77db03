#include "unzip.h"
#include "unzip_p.h"
#include "zipfilesystem_p.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <optional>

using namespace zipcommon;

namespace {

// Internal result for an entry refused for its name; reported as Corrupted.
constexpr int UnsafeName = -1;

} // namespace

bool UnZipEntryRecord::isSupported() const
{
    // The high byte of the version names the writer's system, not the format.
    return (method == MethodStored || method == MethodDeflated)
        && (versionNeeded & 0xff) <= VersionNeeded;
}

// -------------------------------------------------------------- UnZipPrivate

UnZipPrivate::UnZipPrivate(bool restore)
    : restoreTimestamps(restore)
{
    std::memset(&zs, 0, sizeof(zs));
}

UnZipPrivate::~UnZipPrivate()
{
    closeArchive();
    if (zsReady)
        inflateEnd(&zs);
}

void UnZipPrivate::closeArchive()
{
    QObject::disconnect(deviceWatch);
    if (file) {
        file->close();
        delete file;
        file = nullptr;
    }
    device = nullptr;
    entries.clear();
    comment.clear();
    directoryOffset = 0;
    directorySize = 0;
    deviceSize = 0;
    devicePos = -1;
    knownDirs.clear();
}

bool UnZipPrivate::readAt(quint64 offset, char *data, qint64 size)
{
    if (offset > deviceSize || quint64(size) > deviceSize - offset)
        return false;
    if (devicePos != qint64(offset)) {
        if (!device->seek(qint64(offset))) {
            devicePos = -1;
            return false;
        }
    }
    qint64 done = 0;
    while (done < size) {
        const qint64 n = device->read(data + done, size - done);
        if (n <= 0) {
            devicePos = -1;
            return false;
        }
        done += n;
    }
    devicePos = qint64(offset) + size;
    return true;
}

UnZip::ErrorCode UnZipPrivate::openArchive(QIODevice *dev)
{
    closeArchive();
    if (!dev) {
        qDebug("Invalid device.");
        return UnZip::InvalidDevice;
    }
    if ((!dev->isOpen() && !dev->open(QIODevice::ReadOnly)) || !dev->isReadable()) {
        qDebug("Unable to open device for reading");
        return UnZip::OpenFailed;
    }
    if (dev->isSequential()) {
        // The central directory sits at the end: the device must be seekable.
        qDebug("Invalid device.");
        return UnZip::InvalidDevice;
    }
    device = dev;
    deviceSize = quint64(qMax<qint64>(0, dev->size()));
    devicePos = -1;
    deviceWatch = QObject::connect(dev, &QObject::destroyed, [this] {
        qDebug("Unexpected device destruction detected.");
        QObject::disconnect(deviceWatch);
        file = nullptr;
        closeArchive();
    });
    if (inputBuffer.isEmpty()) {
        inputBuffer.resize(BufferSize);
        outputBuffer.resize(BufferSize);
    }
    const UnZip::ErrorCode ec = parseDirectory();
    if (ec == UnZip::PartiallyCorrupted) {
        qDebug("Corrupted zip archive. Some files might be extracted.");
    } else if (ec != UnZip::Ok) {
        qDebug("Corrupted or invalid zip archive. Closing.");
        closeArchive();
    }
    return ec;
}

UnZip::ErrorCode UnZipPrivate::parseDirectory()
{
    if (deviceSize < quint64(EndOfDirectorySize))
        return UnZip::InvalidArchive;

    // The end record is the last 22 bytes unless a comment of up to 64 KiB
    // follows it: search backwards, preferring a record whose comment ends
    // exactly at the end of the device.
    const qint64 tail = qint64(qMin<quint64>(deviceSize, EndOfDirectorySize + MaxCommentSize));
    const quint64 tailStart = deviceSize - quint64(tail);
    char *buf = inputBuffer.data();
    if (!readAt(tailStart, buf, tail))
        return UnZip::ReadFailed;
    qint64 found = -1;
    qint64 fallback = -1;
    for (qint64 i = tail - EndOfDirectorySize; i >= 0; --i) {
        if (getUInt(buf + i) != EndOfDirectorySignature)
            continue;
        const qint64 commentEnd = i + EndOfDirectorySize + getUShort(buf + i + 20);
        if (commentEnd == tail) {
            found = i;
            break;
        }
        if (fallback < 0)
            fallback = i;
    }
    if (found < 0)
        found = fallback;
    if (found < 0)
        return UnZip::InvalidArchive;

    const char *e = buf + found;
    const quint64 endRecord = tailStart + quint64(found);
    const quint16 thisDisk = getUShort(e + 4);
    const quint16 directoryDisk = getUShort(e + 6);
    const quint16 entriesHere = getUShort(e + 8);
    const quint16 entriesTotal = getUShort(e + 10);
    const quint32 size = getUInt(e + 12);
    const quint32 offset = getUInt(e + 16);
    const quint16 commentLength = getUShort(e + 20);
    comment = decodeComment(QByteArray(e + EndOfDirectorySize,
                                       int(qMin<qint64>(commentLength, tail - found - EndOfDirectorySize))));

    if (thisDisk != 0 || directoryDisk != 0 || entriesHere != entriesTotal) {
        qDebug("Multi-disk archives are not supported.");
        return UnZip::InvalidArchive;
    }
    if (endRecord >= 20 && (entriesTotal == 0xffff || size == 0xffffffffu || offset == 0xffffffffu)) {
        char locator[4];
        if (readAt(endRecord - 20, locator, 4) && getUInt(locator) == Zip64LocatorSignature) {
            qDebug("Zip64 archives are not supported.");
            return UnZip::InvalidArchive;
        }
    }
    if (size > endRecord)
        return UnZip::Corrupted;

    // Data in front of the archive (a self-extractor stub, say) moves every
    // offset; the directory always ends where the end record begins.
    quint64 shift = 0;
    char sig[4];
    if (size > 0) {
        const quint64 expected = endRecord - size;
        const bool atOffset = quint64(offset) + size <= endRecord && readAt(offset, sig, 4)
            && getUInt(sig) == CentralHeaderSignature;
        if (!atOffset) {
            if (expected > offset && readAt(expected, sig, 4) && getUInt(sig) == CentralHeaderSignature)
                shift = expected - offset;
            else
                return UnZip::Corrupted;
        }
    } else if (quint64(offset) > endRecord) {
        return UnZip::Corrupted;
    }
    directoryOffset = quint64(offset) + shift;
    directorySize = size;

    // Walk the directory through a window of the input buffer; a header with
    // its three variable fields is at most 46 + 3 * 65535 bytes.
    const quint64 end = directoryOffset + directorySize;
    quint64 windowStart = 0;
    qint64 windowLength = 0;
    auto window = [&](quint64 at, qint64 length) -> const char * {
        if (at < windowStart || at + quint64(length) > windowStart + quint64(windowLength)) {
            const qint64 want = qint64(qMin<quint64>(BufferSize, end - at));
            if (want < length || !readAt(at, buf, want))
                return nullptr;
            windowStart = at;
            windowLength = want;
        }
        return buf + (at - windowStart);
    };

    int seen = 0;
    bool damaged = false;
    quint64 pos = directoryOffset;
    while (pos < end) {
        const char *h = window(pos, CentralHeaderSize);
        if (!h || getUInt(h) != CentralHeaderSignature) {
            damaged = true;
            break;
        }
        const quint16 nameLength = getUShort(h + 28);
        const quint16 extraLength = getUShort(h + 30);
        const quint16 commentLen = getUShort(h + 32);
        const qint64 recordLength = CentralHeaderSize + nameLength + extraLength + commentLen;
        h = window(pos, recordLength);
        if (!h) {
            damaged = true;
            break;
        }
        ++seen;
        pos += quint64(recordLength);

        UnZipEntryRecord r;
        r.versionNeeded = getUShort(h + 6);
        r.flags = getUShort(h + 8);
        r.method = getUShort(h + 10);
        r.modTime = getUShort(h + 12);
        r.modDate = getUShort(h + 14);
        r.crc = getUInt(h + 16);
        r.compressedSize = getUInt(h + 20);
        r.uncompressedSize = getUInt(h + 24);
        r.headerOffset = quint64(getUInt(h + 42)) + shift;
        r.rawName = QByteArray(h + CentralHeaderSize, nameLength);
        const QByteArray extra(h + CentralHeaderSize + nameLength, extraLength);
        const QByteArray entryComment(h + CentralHeaderSize + nameLength + extraLength, commentLen);

        if (nameLength == 0) {
            qDebug("Skipping file with no name.");
            continue;
        }
        const QString name = decodeName(r.rawName, r.flags, extra, quint8(getUShort(h + 4) >> 8));
        // An entry that cannot be read is still listed, so that extracting it
        // fails loudly instead of its absence going unnoticed.
        if (r.method != MethodStored && r.method != MethodDeflated) {
            qDebug("Unsupported compression method. Skipping file.");
        } else if ((r.versionNeeded & 0xff) > VersionNeeded) {
            logDebug(QStringLiteral("Unsupported PKZip version (%1). Skipping file: %2")
                         .arg(r.versionNeeded & 0xff)
                         .arg(name));
        }
        // Local header and data must lie in front of the directory. Entries
        // that are never read may carry Zip64 markers here instead.
        const quint64 room = directoryOffset;
        if (r.isSupported()
            && (r.headerOffset + LocalHeaderSize > room
                || quint64(r.compressedSize) > room - r.headerOffset - LocalHeaderSize
                || ((r.flags & FlagEncrypted) && r.compressedSize < quint32(EncryptionHeaderSize))
                || (r.method == MethodStored && !(r.flags & FlagEncrypted)
                    && r.compressedSize != r.uncompressedSize))) {
            logDebug(QStringLiteral("Inconsistent directory entry. Skipping file: %1").arg(name));
            damaged = true;
            continue;
        }
        r.comment = (r.flags & FlagUtf8) ? QString::fromUtf8(entryComment) : QString::fromLatin1(entryComment);
        entries.insert(name, r);
    }
    if (seen < entriesTotal)
        damaged = true;
    if (damaged)
        return seen > 0 ? UnZip::PartiallyCorrupted : UnZip::Corrupted;
    return UnZip::Ok;
}

UnZip::ErrorCode UnZipPrivate::readData(const QString &name, const UnZipEntryRecord &entry,
                                        QIODevice *out, const QString &outPath)
{
    // Local header: its name must match the directory's.
    // A read past the end is damage; any other failed read is the device's.
    const auto readFailure = [this](quint64 at, qint64 length) {
        return at > deviceSize || quint64(length) > deviceSize - at ? UnZip::Corrupted : UnZip::ReadFailed;
    };
    char h[LocalHeaderSize];
    if (!readAt(entry.headerOffset, h, LocalHeaderSize))
        return readFailure(entry.headerOffset, LocalHeaderSize);
    if (getUInt(h) != LocalHeaderSignature) {
        logDebug(QStringLiteral("Invalid local header: %1").arg(name));
        return UnZip::Corrupted;
    }
    const quint16 nameLength = getUShort(h + 26);
    const quint16 extraLength = getUShort(h + 28);
    QByteArray localName(nameLength, Qt::Uninitialized);
    if (!readAt(entry.headerOffset + LocalHeaderSize, localName.data(), nameLength))
        return readFailure(entry.headerOffset + LocalHeaderSize, nameLength);
    if (localName != entry.rawName) {
        qDebug("Filename in local header mismatches.");
        return UnZip::HeaderConsistencyError;
    }
    quint64 offset = entry.headerOffset + LocalHeaderSize + nameLength + extraLength;
    quint64 size = entry.compressedSize;
    if (offset > deviceSize || size > deviceSize - offset) {
        logDebug(QStringLiteral("Entry data past the end of the archive: %1").arg(name));
        return UnZip::Corrupted;
    }

    std::optional<CipherKeys> keys;
    if (entry.flags & FlagEncrypted) {
        char encryptionHeader[EncryptionHeaderSize];
        if (!readAt(offset, encryptionHeader, EncryptionHeaderSize))
            return readFailure(offset, EncryptionHeaderSize);
        // With a data descriptor the check byte is the high byte of the time.
        const quint8 check = (entry.flags & FlagDataDescriptor) ? quint8(entry.modTime >> 8)
                                                                : quint8(entry.crc >> 24);
        const QByteArray utf8 = passwordBytes(password);
        const QByteArray latin1 = passwordBytesLatin1(password);
        QList<QByteArray> candidates{utf8};
        if (latin1 != utf8)
            candidates << latin1;
        for (const QByteArray &candidate : qAsConst(candidates)) {
            if (password.isEmpty() || keys)
                break;
            CipherKeys attempt(candidate);
            char probe[EncryptionHeaderSize];
            std::memcpy(probe, encryptionHeader, EncryptionHeaderSize);
            attempt.decrypt(probe, EncryptionHeaderSize);
            if (quint8(probe[EncryptionHeaderSize - 1]) == check)
                keys.emplace(attempt);
        }
        if (!keys) {
            logDebug(QStringLiteral("Unable to decrypt %1").arg(name));
            return UnZip::WrongPassword;
        }
        offset += EncryptionHeaderSize;
        size -= EncryptionHeaderSize;
    }
    if (entry.method == MethodStored && size != entry.uncompressedSize)
        return UnZip::Corrupted;

    // Nothing is written before the data is known to be readable, and an
    // existing file stays as it is until the entry has proved good.
    const bool toFile = !outPath.isEmpty();
    zipfilesystem::TargetFile target;
    if (toFile && !target.open(outPath)) {
        logDebug(QStringLiteral("Unable to open %1 for writing").arg(outPath));
        return UnZip::OpenFailed;
    }
    const auto put = [&](const char *data, qint64 n) {
        return toFile ? target.write(data, n) : !out || out->write(data, n) == n;
    };

    const bool deflated = entry.method == MethodDeflated;
    if (deflated) {
        if (!zsReady) {
            if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
                return UnZip::ZlibInit;
            zsReady = true;
        } else if (inflateReset(&zs) != Z_OK) {
            return UnZip::ZlibError;
        }
    }

    UnZip::ErrorCode ec = UnZip::Ok;
    quint32 crc = 0;
    quint64 produced = 0;
    quint64 remaining = size;
    quint64 readPos = offset;
    char *in = inputBuffer.data();
    char *outBuf = outputBuffer.data();
    bool finished = false;
    zs.avail_in = 0;
    while (!finished) {
        if ((!deflated || zs.avail_in == 0) && remaining > 0) {
            const qint64 n = qint64(qMin<quint64>(remaining, BufferSize));
            if (!readAt(readPos, in, n)) {
                ec = UnZip::ReadFailed;
                break;
            }
            if (keys)
                keys->decrypt(in, n);
            readPos += quint64(n);
            remaining -= quint64(n);
            if (!deflated) {
                crc = crc32(crc, in, n);
                produced += quint64(n);
                if (!put(in, n)) {
                    ec = UnZip::WriteFailed;
                    break;
                }
                finished = remaining == 0;
                continue;
            }
            zs.next_in = reinterpret_cast<Bytef *>(in);
            zs.avail_in = uInt(n);
        }
        if (!deflated) {
            finished = true;
            break;
        }
        zs.next_out = reinterpret_cast<Bytef *>(outBuf);
        zs.avail_out = BufferSize;
        const int ret = inflate(&zs, Z_NO_FLUSH);
        const qint64 made = BufferSize - qint64(zs.avail_out);
        if (ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
            ec = UnZip::ZlibError;
            break;
        }
        if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT) {
            ec = UnZip::Corrupted;
            break;
        }
        // More output than the directory promised: stop before writing it.
        if (produced + quint64(made) > entry.uncompressedSize) {
            ec = UnZip::Corrupted;
            break;
        }
        if (made > 0) {
            crc = crc32(crc, outBuf, made);
            produced += quint64(made);
            if (!put(outBuf, made)) {
                ec = UnZip::WriteFailed;
                break;
            }
        }
        if (ret == Z_STREAM_END) {
            finished = true;
        } else if (made == 0 && zs.avail_in == 0 && remaining == 0) {
            // The stream ends before its final block.
            ec = UnZip::Corrupted;
            break;
        }
    }
    if (ec == UnZip::Ok && (produced != entry.uncompressedSize || crc != entry.crc))
        ec = UnZip::Corrupted;
    if (toFile && ec == UnZip::Ok) {
        if (restoreTimestamps) {
            qint64 msecs = 0;
            if (!lastWriteTime(entry.modTime, entry.modDate, &msecs) || !target.setLastWriteTime(msecs))
                logDebug(QStringLiteral("Unable to set last modified time on file: %1").arg(outPath));
        }
        // Only an entry read completely and correctly replaces what is there.
        if (!target.commit())
            ec = UnZip::WriteFailed;
    }
    if (ec == UnZip::WriteFailed)
        logDebug(QStringLiteral("Error while writing %1").arg(outPath.isEmpty() ? name : outPath));
    else if (ec == UnZip::ReadFailed)
        logDebug(QStringLiteral("Error while reading %1").arg(name));
    if (toFile && ec != UnZip::Ok && !target.discard())
        logDebug(QStringLiteral("Unable to remove corrupted file: %1").arg(target.temporaryPath()));
    return ec;
}

UnZip::ErrorCode UnZipPrivate::extract(const QString &name, const UnZipEntryRecord &entry,
                                       const QDir &dir, UnZip::ExtractionOptions options)
{
    if (options & UnZip::VerifyOnly)
        return extractToDevice(name, entry, nullptr);

    QString relative;
    if (!safeRelativePath(name, &relative)) {
        logDebug(QStringLiteral("Refusing to extract outside the target directory: %1").arg(name));
        return UnZip::ErrorCode(UnsafeName);
    }
    const QString target = dir.absolutePath();
    const bool skipPaths = options & UnZip::SkipPaths;

    if (name.endsWith(QLatin1Char('/'))) {
        if (skipPaths || relative.isEmpty())
            return UnZip::Ok;
        const QString path = QStringLiteral("%1/%2").arg(target, relative);
        if (knownDirs.contains(path))
            return UnZip::Ok;
        if (!QDir().mkpath(path)) {
            logDebug(QStringLiteral("Unable to create directory: %1").arg(path));
            return UnZip::CreateDirFailed;
        }
        knownDirs.insert(path);
        return UnZip::Ok;
    }

    const int slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString fileName = relative.mid(slash + 1);
    if (fileName.isEmpty()) {
        logDebug(QStringLiteral("Refusing to extract outside the target directory: %1").arg(name));
        return UnZip::ErrorCode(UnsafeName);
    }
    if (!entry.isSupported())
        return UnZip::InvalidArchive;
    const QString outDir = (!skipPaths && slash > 0)
        ? QStringLiteral("%1/%2").arg(target, relative.left(slash)) : target;
    if (!(options & UnZip::NoSilentDirectoryCreation) && !knownDirs.contains(outDir)) {
        if (!QFileInfo(outDir).isDir() && !QDir().mkpath(outDir)) {
            logDebug(QStringLiteral("Unable to create output directory %1").arg(outDir));
            return UnZip::CreateDirFailed;
        }
        knownDirs.insert(outDir);
    }
    return readData(name, entry, nullptr, outDir + QLatin1Char('/') + fileName);
}

void UnZipPrivate::beginExtraction()
{
    knownDirs.clear();
    stampCached = false;
}

// Entries written together share their stamp: one conversion through the
// local time zone serves them all (within one call, as the zone may change).
bool UnZipPrivate::lastWriteTime(quint16 time, quint16 date, qint64 *msecs)
{
    const quint32 stamp = (quint32(date) << 16) | time;
    if (!stampCached || stamp != cachedStamp) {
        const QDateTime local = fromDosDateTime(time, date);
        if (!local.isValid())
            return false;
        cachedStamp = stamp;
        cachedMSecs = local.toMSecsSinceEpoch();
        stampCached = true;
    }
    *msecs = cachedMSecs;
    return true;
}

UnZip::ErrorCode UnZipPrivate::extractNamed(const QString &name, const QDir &dir,
                                            UnZip::ExtractionOptions options)
{
    const auto it = entries.constFind(name);
    if (it == entries.constEnd())
        return UnZip::FileNotFound;
    // A copy: a device destroyed from a slot must not pull the entry away.
    const UnZipEntryRecord entry = it.value();
    const int ec = extract(name, entry, dir, options);
    return ec == UnsafeName ? UnZip::Corrupted : UnZip::ErrorCode(ec);
}

UnZip::ErrorCode UnZipPrivate::extractToDevice(const QString &name, const UnZipEntryRecord &entry,
                                               QIODevice *out)
{
    if (name.endsWith(QLatin1Char('/')) && entry.uncompressedSize == 0)
        return UnZip::Ok;
    return entry.isSupported() ? readData(name, entry, out, QString()) : UnZip::InvalidArchive;
}

// --------------------------------------------------------------------- UnZip

UnZip::UnZip(bool restoreTimestamps)
    : d(new UnZipPrivate(restoreTimestamps))
{
}

UnZip::~UnZip() = default;

bool UnZip::isOpen() const
{
    return d->device != nullptr;
}

UnZip::ErrorCode UnZip::openArchive(const QString &filename)
{
    closeArchive();
    auto *file = new QFile(filename);
    if (!file->open(QIODevice::ReadOnly)) {
        logDebug(QStringLiteral("Unable to open %1 for reading").arg(filename));
        delete file;
        return OpenFailed;
    }
    const ErrorCode ec = d->openArchive(file);
    if (d->device == file) {
        d->file = file;
    } else {
        delete file;
    }
    return ec;
}

UnZip::ErrorCode UnZip::openArchive(QIODevice *device)
{
    return d->openArchive(device);
}

void UnZip::closeArchive()
{
    d->closeArchive();
}

QString UnZip::archiveComment() const
{
    return d->comment;
}

void UnZip::setPassword(const QString &pwd)
{
    d->password = pwd;
}

bool UnZip::contains(const QString &file) const
{
    return d->entries.contains(file);
}

QStringList UnZip::fileList() const
{
    return d->entries.keys();
}

QList<ZipEntry> UnZip::entryList() const
{
    QList<ZipEntry> list;
    list.reserve(d->entries.size());
    for (auto it = d->entries.constBegin(); it != d->entries.constEnd(); ++it) {
        const UnZipEntryRecord &r = it.value();
        ZipEntry e;
        e.setFilename(it.key());
        e.setComment(r.comment);
        e.setCompressedSize(r.compressedSize);
        e.setUncompressedSize(r.uncompressedSize);
        e.setCrc32(r.crc);
        e.setLastModified(fromDosDateTime(r.modTime, r.modDate));
        e.setCompression(r.method == MethodStored ? ZipEntry::NoCompression
                         : r.method == MethodDeflated ? ZipEntry::Deflated
                                                      : ZipEntry::UnknownCompression);
        e.setType(it.key().endsWith(QLatin1Char('/')) ? ZipEntry::Directory : ZipEntry::File);
        e.setEncrypted(r.flags & FlagEncrypted);
        list.append(e);
    }
    return list;
}

UnZip::ErrorCode UnZip::verifyArchive()
{
    return extractAll(QString(), VerifyOnly);
}

UnZip::ErrorCode UnZip::extractAll(const QString &dirname, ExtractionOptions options)
{
    return extractAll(QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractAll(const QDir &dir, ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    d->beginExtraction();
    bool damaged = false;
    bool wrongPassword = false;
    // A copy: a device destroyed from a slot must not pull the map away.
    const QMap<QString, UnZipEntryRecord> entries = d->entries;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        const int ec = d->extract(it.key(), it.value(), dir, options);
        if (ec == Ok)
            continue;
        if (ec == Corrupted || ec == HeaderConsistencyError) {
            qDebug("Corrupted entry");
            damaged = true;
        } else if (ec == UnsafeName || ec == InvalidArchive) {
            // Refused or unsupported: not extracted, which the result must show.
            damaged = true;
        } else if (ec == WrongPassword) {
            wrongPassword = true;
        } else {
            return ErrorCode(ec);
        }
        if (!d->device)
            return ReadFailed;
    }
    if (wrongPassword)
        return WrongPassword;
    return damaged ? PartiallyCorrupted : Ok;
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, const QString &dirname,
                                    ExtractionOptions options)
{
    return extractFile(filename, QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, const QDir &dir, ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    d->beginExtraction();
    return d->extractNamed(filename, dir, options);
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, QIODevice *device, ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    const auto it = d->entries.constFind(filename);
    if (it == d->entries.constEnd())
        return FileNotFound;
    const UnZipEntryRecord entry = it.value();
    if (options & VerifyOnly)
        return d->extract(filename, entry, QDir(), VerifyOnly);
    if (!device) {
        qDebug("Invalid device.");
        return InvalidDevice;
    }
    if (!device->isOpen() && !device->open(QIODevice::WriteOnly))
        return OpenFailed;
    return d->extractToDevice(filename, entry, device);
}

UnZip::ErrorCode UnZip::extractFiles(const QStringList &filenames, const QString &dirname,
                                     ExtractionOptions options)
{
    return extractFiles(filenames, QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractFiles(const QStringList &filenames, const QDir &dir,
                                     ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    d->beginExtraction();
    for (const QString &name : filenames) {
        if (!d->device)
            return NoOpenArchive;
        const ErrorCode ec = d->extractNamed(name, dir, options);
        if (ec != Ok && ec != FileNotFound)
            return ec;
    }
    return Ok;
}

QString UnZip::formatError(ErrorCode c) const
{
    switch (c) {
    case Ok: return tr("ZIP operation completed successfully.");
    case ZlibInit: return tr("Failed to initialize or load zlib library.");
    case ZlibError: return tr("zlib library error.");
    case OpenFailed: return tr("Unable to create or open file.");
    case PartiallyCorrupted: return tr("Partially corrupted archive. Some files might be extracted.");
    case Corrupted: return tr("Corrupted archive.");
    case WrongPassword: return tr("Wrong password.");
    case NoOpenArchive: return tr("No archive has been created yet.");
    case FileNotFound: return tr("File or directory does not exist.");
    case ReadFailed: return tr("File read error.");
    case WriteFailed: return tr("File write error.");
    case SeekFailed: return tr("File seek error.");
    case CreateDirFailed: return tr("Unable to create a directory.");
    case InvalidDevice: return tr("Invalid device.");
    case InvalidArchive: return tr("Invalid or incompatible zip archive.");
    case HeaderConsistencyError: return tr("Inconsistent headers. Archive might be corrupted.");
    default: return tr("Unknown error.");
    }
}
