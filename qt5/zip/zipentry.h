#ifndef ORVELEXTLIB_ZIPENTRY_H
#define ORVELEXTLIB_ZIPENTRY_H

#include <orvelextlib_export.h>

#include <QDateTime>
#include <QMetaType>
#include <QString>

/// One entry of an archive as UnZip::entryList() reports it.
class ORVELEXTLIB_EXPORT ZipEntry
{
public:
    enum CompressionMethod { NoCompression = 0, Deflated = 1, UnknownCompression = 2 };
    enum FileType { File = 0, Directory = 1 };

    ZipEntry() = default;

    QString filename() const { return m_filename; }
    void setFilename(const QString &name) { m_filename = name; }
    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    quint32 compressedSize() const { return m_compressedSize; }
    void setCompressedSize(quint32 size) { m_compressedSize = size; }
    quint32 uncompressedSize() const { return m_uncompressedSize; }
    void setUncompressedSize(quint32 size) { m_uncompressedSize = size; }
    quint32 crc32() const { return m_crc32; }
    void setCrc32(quint32 crc) { m_crc32 = crc; }
    /// Decoded from the MS-DOS fields: local wall-clock time, 2-second steps.
    QDateTime lastModified() const { return m_lastModified; }
    void setLastModified(const QDateTime &dt) { m_lastModified = dt; }
    CompressionMethod compression() const { return m_compression; }
    void setCompression(CompressionMethod method) { m_compression = method; }
    FileType type() const { return m_type; }
    void setType(FileType type) { m_type = type; }
    bool isEncrypted() const { return m_encrypted; }
    void setEncrypted(bool encrypted) { m_encrypted = encrypted; }

    bool operator==(const ZipEntry &o) const
    {
        return m_filename == o.m_filename && m_comment == o.m_comment
            && m_compressedSize == o.m_compressedSize && m_uncompressedSize == o.m_uncompressedSize
            && m_crc32 == o.m_crc32 && m_lastModified == o.m_lastModified
            && m_compression == o.m_compression && m_type == o.m_type && m_encrypted == o.m_encrypted;
    }
    bool operator!=(const ZipEntry &o) const { return !(*this == o); }

private:
    QString m_filename;
    QString m_comment;
    quint32 m_compressedSize = 0;
    quint32 m_uncompressedSize = 0;
    quint32 m_crc32 = 0;
    QDateTime m_lastModified;
    CompressionMethod m_compression = NoCompression;
    FileType m_type = File;
    bool m_encrypted = false;
};

Q_DECLARE_METATYPE(ZipEntry)

#endif // ORVELEXTLIB_ZIPENTRY_H
