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
    /// How the entry's data is stored.
    enum CompressionMethod {
        NoCompression = 0,     ///< stored
        Deflated = 1,          ///< deflated
        UnknownCompression = 2 ///< any other method (not extracted by UnZip)
    };
    /// What the entry is: a name ending in "/" is a directory.
    enum FileType {
        File = 0,     ///< a file
        Directory = 1 ///< a directory
    };

    /// An empty entry: no names, sizes 0, a stored file, not encrypted.
    ZipEntry() = default;

    /// The name in the archive, "/"-separated.
    ///@{
    QString filename() const { return m_filename; }
    void setFilename(const QString &name) { m_filename = name; }
    ///@}
    /// The entry's comment.
    ///@{
    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    ///@}
    /// The size of the stored data, encryption header included.
    ///@{
    quint32 compressedSize() const { return m_compressedSize; }
    void setCompressedSize(quint32 size) { m_compressedSize = size; }
    ///@}
    /// The size of the entry's content.
    ///@{
    quint32 uncompressedSize() const { return m_uncompressedSize; }
    void setUncompressedSize(quint32 size) { m_uncompressedSize = size; }
    ///@}
    /// The CRC-32 of the entry's content.
    ///@{
    quint32 crc32() const { return m_crc32; }
    void setCrc32(quint32 crc) { m_crc32 = crc; }
    ///@}
    /// Decoded from the MS-DOS fields: local wall-clock time, 2-second steps.
    ///@{
    QDateTime lastModified() const { return m_lastModified; }
    void setLastModified(const QDateTime &dt) { m_lastModified = dt; }
    ///@}
    /// How the data is stored.
    ///@{
    CompressionMethod compression() const { return m_compression; }
    void setCompression(CompressionMethod method) { m_compression = method; }
    ///@}
    /// File or directory.
    ///@{
    FileType type() const { return m_type; }
    void setType(FileType type) { m_type = type; }
    ///@}
    /// Whether the entry is encrypted (general-purpose flag bit 0).
    ///@{
    bool isEncrypted() const { return m_encrypted; }
    void setEncrypted(bool encrypted) { m_encrypted = encrypted; }
    ///@}

    /// Equal when every field is equal.
    ///@{
    bool operator==(const ZipEntry &o) const
    {
        return m_filename == o.m_filename && m_comment == o.m_comment
            && m_compressedSize == o.m_compressedSize && m_uncompressedSize == o.m_uncompressedSize
            && m_crc32 == o.m_crc32 && m_lastModified == o.m_lastModified
            && m_compression == o.m_compression && m_type == o.m_type && m_encrypted == o.m_encrypted;
    }
    bool operator!=(const ZipEntry &o) const { return !(*this == o); }
    ///@}

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
