#ifndef ORVELEXTLIB_UNZIP_P_H
#define ORVELEXTLIB_UNZIP_P_H

#include "unzip.h"
#include "zipcommon_p.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSet>

#include <zlib.h>

class QFile;
class QFileDevice;

/// One entry as the central directory describes it.
struct UnZipEntryRecord
{
    QByteArray rawName;
    quint64 headerOffset = 0;
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint16 modTime = 0;
    quint16 modDate = 0;
    quint32 crc = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
    QString comment;

    /// Stored or deflated, of format version 2.0 at most: what can be read.
    /// Others are listed but not extracted.
    bool isSupported() const;
};

class UnZipPrivate
{
public:
    explicit UnZipPrivate(bool restoreTimestamps);
    ~UnZipPrivate();

    UnZip::ErrorCode openArchive(QIODevice *dev);
    void closeArchive();
    /// Called by every public extraction call: what the last one learnt
    /// about the file system may no longer hold.
    void beginExtraction();
    UnZip::ErrorCode extractNamed(const QString &name, const QDir &dir, UnZip::ExtractionOptions options);
    UnZip::ErrorCode extract(const QString &name, const UnZipEntryRecord &entry, const QDir &dir,
                             UnZip::ExtractionOptions options);
    /// The entry's data to `out`; a null `out` only checks it.
    UnZip::ErrorCode extractToDevice(const QString &name, const UnZipEntryRecord &entry,
                                     QIODevice *out);

    bool restoreTimestamps;
    QIODevice *device = nullptr;
    QFile *file = nullptr;          // owned when opened from a file name
    QString password;
    QString comment;
    QMap<QString, UnZipEntryRecord> entries;
    quint64 directoryOffset = 0;
    quint64 directorySize = 0;
    QByteArray inputBuffer;
    QByteArray outputBuffer;

private:
    UnZip::ErrorCode parseDirectory();
    UnZip::ErrorCode readData(const QString &name, const UnZipEntryRecord &entry, QIODevice *out,
                              const QString &outPath);
    bool readAt(quint64 offset, char *data, qint64 size);
    bool lastWriteTime(quint16 time, quint16 date, qint64 *msecs);

    quint64 deviceSize = 0;
    qint64 devicePos = -1;          // where the next read continues, -1 unknown
    QSet<QString> knownDirs;        // made or seen during the current extraction call
    quint32 cachedStamp = 0;        // MS-DOS date and time, and the moment they name
    qint64 cachedMSecs = 0;
    bool stampCached = false;
    z_stream zs;
    bool zsReady = false;
    QMetaObject::Connection deviceWatch;
};

#endif // ORVELEXTLIB_UNZIP_P_H
