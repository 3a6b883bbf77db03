#ifndef ORVELEXTLIB_ZIP_P_H
#define ORVELEXTLIB_ZIP_P_H

#include "zip.h"
#include "zipcommon_p.h"
#include "zipfilesystem_p.h"

#include <QByteArray>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <zlib.h>

class QFile;

/// One entry as the central directory will describe it.
struct ZipEntryRecord
{
    QByteArray name;      // encoded as stored
    quint64 headerOffset = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint16 modTime = 0;
    quint16 modDate = 0;
    quint32 crc = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
};

class ZipPrivate
{
public:
    ZipPrivate();
    ~ZipPrivate();

    /// A file or directory to be written and the name it is stored under.
    struct Item
    {
        QFileInfo info;
        QString name;
    };

    Zip::ErrorCode createArchive(QIODevice *dev);
    Zip::ErrorCode addFiles(const QStringList &paths, const QString &root,
                            Zip::CompressionOptions options, Zip::CompressionLevel level,
                            int *addedFiles);
    Zip::ErrorCode closeArchive();
    void forgetDevice();

    QIODevice *device = nullptr;
    QFile *file = nullptr;          // owned when the archive was created from a file name
    zipfilesystem::FileId archiveId; // of the archive when it is written to a file
    QVector<ZipEntryRecord> entries;
    QHash<QByteArray, int> entryIndex;
    QString password;
    QString comment;
    QByteArray readBuffer;
    QByteArray outputBuffer;
    quint64 flushedOffset = 0;      // bytes handed to the device so far
    bool seekable = false;          // whether written bytes can be reached again
    int outputFill = 0;             // bytes waiting in the output buffer

private:
    quint64 position() const { return flushedOffset + quint64(outputFill); }
    bool flushOutput();
    bool writeOut(const char *data, qint64 size);
    Zip::ErrorCode rollBack(quint64 headerOffset);
    Zip::ErrorCode collect(const QFileInfo &info, const QString &name, bool topLevel,
                           Zip::CompressionOptions options, QVector<Item> *items,
                           QHash<QString, bool> *seen);
    Zip::ErrorCode writeDirectory(const Item &item, int utcOffset);
    Zip::ErrorCode writeFile(const Item &item, Zip::CompressionLevel level, int utcOffset);
    Zip::ErrorCode deflateBlock(int flush, quint64 *produced, zipcommon::CipherKeys *keys);
    void addRecord(const ZipEntryRecord &record);

    z_stream zs;
    bool zsReady = false;
    int zsLevel = -1;
    QMetaObject::Connection deviceWatch;
};

#endif // ORVELEXTLIB_ZIP_P_H
