#ifndef ORVELEXTLIB_ZIP_H
#define ORVELEXTLIB_ZIP_H

#include <orvelextlib_export.h>
#include <zip/zipglobal.h>

#include <QCoreApplication>
#include <QFlags>
#include <QScopedPointer>
#include <QString>
#include <QStringList>

class QIODevice;
class ZipPrivate;

/// Writes ZIP archives (PKWARE application note) to a file or any writable
/// QIODevice: files, directory trees and directory contents, stored or raw
/// deflated, optionally with traditional PKWARE encryption, then the central
/// directory and the archive comment on closeArchive(). Entry names that are
/// not plain ASCII are written as UTF-8 (flag bit 11). Entries and archives
/// must fit the 32-bit fields of the format (4 GiB, 65535 entries); what does
/// not fit is refused with FileTooLarge. Use from one thread at a time.
class ORVELEXTLIB_EXPORT Zip
{
    Q_DECLARE_TR_FUNCTIONS(Zip)

public:
    enum ErrorCode {
        Ok = 0,
        ZlibInit = 1,
        ZlibError = 2,
        FileExists = 3,
        OpenFailed = 4,
        NoOpenArchive = 5,
        FileNotFound = 6,
        ReadFailed = 7,
        WriteFailed = 8,
        SeekFailed = 9,
        FileTooLarge = 10
    };

    enum CompressionLevel {
        Store = 0,
        Deflate1 = 1, Deflate2, Deflate3, Deflate4, Deflate5, Deflate6, Deflate7, Deflate8, Deflate9,
        AutoCPU = 10,  ///< level 5
        AutoMIME = 11, ///< by file type (extension table)
        AutoFull = 12  ///< by file type (extension table)
    };

    enum CompressionOption {
        RelativePaths = 0x01,      ///< the name of the file's own directory, then the file name
        AbsolutePaths = 0x02,      ///< the directory path (less any leading "/") in front as well
        IgnorePaths = 0x04,        ///< the bare file name
        IgnoreRoot = 0x08,         ///< with AbsolutePaths: only the file's own directory
        SkipBadFiles = 0x20,       ///< skip missing or unreadable files instead of failing
        CheckForDuplicates = 0x40  ///< skip a file already added earlier in the same call
    };
    Q_DECLARE_FLAGS(CompressionOptions, CompressionOption)

    Zip();
    virtual ~Zip();
    Zip(const Zip &) = delete;
    Zip &operator=(const Zip &) = delete;

    bool isOpen() const;

    void setPassword(const QString &pwd);
    void clearPassword();
    QString password() const;

    ErrorCode createArchive(const QString &file, bool overwrite = true);
    /// The device is borrowed; one that is not open is opened write-only.
    ErrorCode createArchive(QIODevice *device);

    QString archiveComment() const;
    void setArchiveComment(const QString &comment);

    ErrorCode addFile(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionOptions options,
                      CompressionLevel level = AutoFull);

    ErrorCode addFiles(const QStringList &paths, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionOptions options,
                       CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    ErrorCode addDirectory(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionOptions options,
                           CompressionLevel level = AutoFull, int *addedFiles = nullptr);

    ErrorCode addDirectoryContents(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectoryContents(const QString &path, const QString &root,
                                   CompressionLevel level = AutoFull);

    /// Writes the central directory and the end record and closes the archive.
    /// An archive created from a file name that fails here is removed.
    ErrorCode closeArchive();

    QString formatError(ErrorCode c) const;

private:
    QScopedPointer<ZipPrivate> d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Zip::CompressionOptions)

#endif // ORVELEXTLIB_ZIP_H
