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
    /// The result of every operation; formatError() gives its text.
    enum ErrorCode {
        Ok = 0,            ///< done
        ZlibInit = 1,      ///< zlib could not be set up
        ZlibError = 2,     ///< zlib failed while compressing
        FileExists = 3,    ///< the archive file exists and overwriting was not allowed
        OpenFailed = 4,    ///< the archive or an added file could not be opened
        NoOpenArchive = 5, ///< no archive has been created
        FileNotFound = 6,  ///< a path to add is missing or unreadable; an empty archive name
        ReadFailed = 7,    ///< reading an added file failed
        WriteFailed = 8,   ///< writing the archive failed
        SeekFailed = 9,    ///< positioning in the archive failed
        FileTooLarge = 10  ///< an entry or the archive does not fit the 32-bit fields
    };

    /// How hard entries are compressed. Files of 59 bytes or less are always
    /// stored.
    enum CompressionLevel {
        Store = 0, ///< no compression
        Deflate1 = 1, ///< zlib levels 1 (fastest) to 9 (smallest)
        Deflate2, Deflate3, Deflate4, Deflate5, Deflate6, Deflate7, Deflate8, Deflate9,
        AutoCPU = 10,  ///< level 5
        AutoMIME = 11, ///< by file type (extension table)
        AutoFull = 12  ///< by file type (extension table)
    };

    /// The directory part of stored names (one of the first three, IgnoreRoot
    /// with AbsolutePaths) and the handling of bad and repeated files.
    enum CompressionOption {
        RelativePaths = 0x01,      ///< the name of the file's own directory, then the file name
        AbsolutePaths = 0x02,      ///< the directory path (less any leading "/") in front as well
        IgnorePaths = 0x04,        ///< the bare file name
        IgnoreRoot = 0x08,         ///< with AbsolutePaths: only the file's own directory
        SkipBadFiles = 0x20,       ///< skip missing or unreadable files instead of failing
        CheckForDuplicates = 0x40  ///< skip a file already added earlier in the same call
    };
    /// A set of CompressionOption values.
    Q_DECLARE_FLAGS(CompressionOptions, CompressionOption)

    /// A writer without an archive.
    Zip();
    /// Closes an open archive (closeArchive()).
    virtual ~Zip();
    /// Not copyable.
    ///@{
    Zip(const Zip &) = delete;
    Zip &operator=(const Zip &) = delete;
    ///@}

    /// Whether an archive is being written.
    bool isOpen() const;

    /// The password of the entries added from now on (traditional PKWARE
    /// encryption); empty for none.
    ///@{
    void setPassword(const QString &pwd);
    void clearPassword();
    QString password() const;
    ///@}

    /// Closes any open archive, then creates `file` (FileNotFound for an
    /// empty name, FileExists when it exists and `overwrite` is false,
    /// OpenFailed when it cannot be opened). The file is removed again when
    /// creating or closing the archive fails.
    ErrorCode createArchive(const QString &file, bool overwrite = true);
    /// The device is borrowed; one that is not open is opened write-only.
    /// A null device or one that cannot be opened gives OpenFailed. On a
    /// sequential device or one open for appending (an archive after a
    /// self-extractor stub) the sizes follow each entry's data.
    ErrorCode createArchive(QIODevice *device);

    /// The comment written at the end of the archive by closeArchive().
    ///@{
    QString archiveComment() const;
    void setArchiveComment(const QString &comment);
    ///@}

    /// Adds one file: an empty path adds nothing and gives Ok; otherwise as
    /// addFiles() with a list of one. Without options, RelativePaths.
    ///@{
    ErrorCode addFile(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFile(const QString &path, const QString &root, CompressionOptions options,
                      CompressionLevel level = AutoFull);
    ///@}

    /// Adds files (and directories, recursively): each stored name is `root`
    /// (trimmed), the directory part chosen by the options, then the file
    /// name. A missing or unreadable path gives FileNotFound unless
    /// SkipBadFiles. `addedFiles`, when given, receives the number of entries
    /// written. The archive file being written is never added, under any name.
    /// NoOpenArchive without an archive. Without options, RelativePaths.
    ///@{
    ErrorCode addFiles(const QStringList &paths, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addFiles(const QStringList &paths, const QString &root, CompressionOptions options,
                       CompressionLevel level = AutoFull, int *addedFiles = nullptr);
    ///@}

    /// Adds a directory tree under its own name (RelativePaths without
    /// options); a path that is not a directory gives FileNotFound, or Ok
    /// with SkipBadFiles.
    ///@{
    ErrorCode addDirectory(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionLevel level = AutoFull);
    ErrorCode addDirectory(const QString &path, const QString &root, CompressionOptions options,
                           CompressionLevel level = AutoFull, int *addedFiles = nullptr);
    ///@}

    /// Adds what a directory holds, without the directory's own name
    /// (addDirectory() with IgnorePaths).
    ///@{
    ErrorCode addDirectoryContents(const QString &path, CompressionLevel level = AutoFull);
    ErrorCode addDirectoryContents(const QString &path, const QString &root,
                                   CompressionLevel level = AutoFull);
    ///@}

    /// Writes the central directory and the end record and closes the archive;
    /// a file given as the device is flushed. An archive created from a file
    /// name that fails here is removed.
    ErrorCode closeArchive();

    /// The translated text of an error code ("Unknown error." for
    /// FileExists and unknown codes).
    QString formatError(ErrorCode c) const;

private:
    QScopedPointer<ZipPrivate> d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Zip::CompressionOptions)

#endif // ORVELEXTLIB_ZIP_H
