#ifndef ORVELEXTLIB_UNZIP_H
#define ORVELEXTLIB_UNZIP_H

#include <orvelextlib_export.h>
#include <zip/zipentry.h>
#include <zip/zipglobal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFlags>
#include <QList>
#include <QScopedPointer>
#include <QString>
#include <QStringList>

class QIODevice;
class UnZipPrivate;

/// Reads ZIP archives from a file or a readable, seekable QIODevice: lists
/// the entries, verifies them and extracts all, some or one of them to a
/// directory or a device, decrypting traditional PKWARE encryption. Stored
/// and deflated entries of format version 2.0 are supported; others (bzip2,
/// LZMA, AES encryption, entries that need Zip64) are listed, but extracting
/// one gives InvalidArchive. An entry whose name would lead outside the target
/// directory (a ".." component, an absolute path) is refused. A file is
/// written beside its final name and replaces an existing file only when its
/// entry was read completely and correctly. Use from one thread at a time.
class ORVELEXTLIB_EXPORT UnZip
{
    Q_DECLARE_TR_FUNCTIONS(UnZip)

public:
    /// The result of every operation; formatError() gives its text.
    enum ErrorCode {
        Ok = 0,                     ///< done
        ZlibInit = 1,               ///< zlib could not be set up
        ZlibError = 2,              ///< zlib failed while inflating
        OpenFailed = 3,             ///< the archive or an output file could not be opened
        PartiallyCorrupted = 4,     ///< some entries are damaged, refused or unsupported
        Corrupted = 5,              ///< the archive or the entry is damaged
        WrongPassword = 6,          ///< the password does not decrypt the entry
        NoOpenArchive = 7,          ///< no archive is open
        FileNotFound = 8,           ///< no entry of that name
        ReadFailed = 9,             ///< reading the archive failed
        WriteFailed = 10,           ///< writing the output failed
        SeekFailed = 11,            ///< positioning in the archive failed
        CreateDirFailed = 12,       ///< an output directory could not be created
        InvalidDevice = 13,         ///< a null or sequential device
        InvalidArchive = 14,        ///< not a zip archive, or an entry this reader cannot read
        HeaderConsistencyError = 15 ///< the local header does not match the directory
    };

    /// Where extracted entries go, and whether anything is written.
    enum ExtractionOption {
        ExtractPaths = 0x01,              ///< default: keep the directory part of names
        SkipPaths = 0x02,                 ///< everything straight into the target directory
        VerifyOnly = 0x04,                ///< check the data, write nothing
        NoSilentDirectoryCreation = 0x08  ///< do not create missing output directories
    };
    /// A set of ExtractionOption values.
    Q_DECLARE_FLAGS(ExtractionOptions, ExtractionOption)

    /// `restoreTimestamps`: extracted files get the entry's time as their
    /// last-modified time (otherwise they keep the time of extraction).
    explicit UnZip(bool restoreTimestamps = true);
    /// Closes the archive.
    virtual ~UnZip();
    /// Not copyable.
    ///@{
    UnZip(const UnZip &) = delete;
    UnZip &operator=(const UnZip &) = delete;
    ///@}

    /// Whether an archive is open.
    bool isOpen() const;

    /// Opens the file read-only and reads its central directory; OpenFailed
    /// when it cannot be opened. Otherwise as openArchive(QIODevice *).
    ErrorCode openArchive(const QString &filename);
    /// Closes any open archive, then reads the central directory. The device
    /// is borrowed; one that is not open is opened read-only. It must be
    /// seekable (InvalidDevice otherwise, and for null). A damaged directory
    /// gives Corrupted or InvalidArchive and closes the archive again;
    /// PartiallyCorrupted keeps it open with the entries that could be read.
    ErrorCode openArchive(QIODevice *device);
    /// Forgets the entries and releases the device (closing it when it was
    /// opened from a file name).
    void closeArchive();

    /// The comment at the end of the archive.
    QString archiveComment() const;
    /// Used for encrypted entries.
    void setPassword(const QString &pwd);

    /// Whether the archive has an entry of that name.
    bool contains(const QString &file) const;
    /// Entry names in name order.
    QStringList fileList() const;
    /// The entries in name order, as the central directory describes them.
    QList<ZipEntry> entryList() const;

    /// Reads and checks every entry without writing anything (extractAll()
    /// with VerifyOnly).
    ErrorCode verifyArchive();

    /// Goes on past entries that are refused for their name, unsupported,
    /// corrupted or encrypted with another password, and then returns
    /// WrongPassword or PartiallyCorrupted; stops at any other error.
    ///@{
    ErrorCode extractAll(const QString &dirname, ExtractionOptions options = ExtractPaths);
    ErrorCode extractAll(const QDir &dir, ExtractionOptions options = ExtractPaths);
    ///@}

    /// Extracts one entry below the directory; FileNotFound when there is no
    /// such entry, Corrupted when its name leads outside the directory.
    ///@{
    ErrorCode extractFile(const QString &filename, const QString &dirname,
                          ExtractionOptions options = ExtractPaths);
    ErrorCode extractFile(const QString &filename, const QDir &dir,
                          ExtractionOptions options = ExtractPaths);
    ///@}
    /// Writes the entry's data to `device` (opened write-only when not open).
    ErrorCode extractFile(const QString &filename, QIODevice *device,
                          ExtractionOptions options = ExtractPaths);

    /// Extracts the named entries in list order, passing over names that are
    /// not in the archive and stopping at the first other error.
    ///@{
    ErrorCode extractFiles(const QStringList &filenames, const QString &dirname,
                           ExtractionOptions options = ExtractPaths);
    ErrorCode extractFiles(const QStringList &filenames, const QDir &dir,
                           ExtractionOptions options = ExtractPaths);
    ///@}

    /// The translated text of an error code ("Unknown error." for unknown codes).
    QString formatError(ErrorCode c) const;

private:
    QScopedPointer<UnZipPrivate> d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(UnZip::ExtractionOptions)

#endif // ORVELEXTLIB_UNZIP_H
