#ifndef ORVELEXTLIB_UNZIP_H
#define ORVELEXTLIB_UNZIP_H

#include <orvelextlib_export.h>
#include <zip/zipentry.h>
#include <zip/zipglobal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFlags>
#include <QScopedPointer>
#include <QList>
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
    enum ErrorCode {
        Ok = 0,
        ZlibInit = 1,
        ZlibError = 2,
        OpenFailed = 3,
        PartiallyCorrupted = 4,
        Corrupted = 5,
        WrongPassword = 6,
        NoOpenArchive = 7,
        FileNotFound = 8,
        ReadFailed = 9,
        WriteFailed = 10,
        SeekFailed = 11,
        CreateDirFailed = 12,
        InvalidDevice = 13,
        InvalidArchive = 14,
        HeaderConsistencyError = 15
    };

    enum ExtractionOption {
        ExtractPaths = 0x01,              ///< default: keep the directory part of names
        SkipPaths = 0x02,                 ///< everything straight into the target directory
        VerifyOnly = 0x04,                ///< check the data, write nothing
        NoSilentDirectoryCreation = 0x08  ///< do not create missing output directories
    };
    Q_DECLARE_FLAGS(ExtractionOptions, ExtractionOption)

    /// `restoreTimestamps`: extracted files get the entry's time as their
    /// last-modified time (otherwise they keep the time of extraction).
    explicit UnZip(bool restoreTimestamps = true);
    virtual ~UnZip();
    UnZip(const UnZip &) = delete;
    UnZip &operator=(const UnZip &) = delete;

    bool isOpen() const;

    ErrorCode openArchive(const QString &filename);
    /// The device is borrowed; one that is not open is opened read-only. It
    /// must be seekable.
    ErrorCode openArchive(QIODevice *device);
    void closeArchive();

    QString archiveComment() const;
    /// Used for encrypted entries.
    void setPassword(const QString &pwd);

    bool contains(const QString &file) const;
    /// Entry names in name order.
    QStringList fileList() const;
    QList<ZipEntry> entryList() const;

    ErrorCode verifyArchive();

    /// Goes on past entries that are refused for their name, unsupported,
    /// corrupted or encrypted with another password, and then returns
    /// WrongPassword or PartiallyCorrupted; stops at any other error.
    ErrorCode extractAll(const QString &dirname, ExtractionOptions options = ExtractPaths);
    ErrorCode extractAll(const QDir &dir, ExtractionOptions options = ExtractPaths);

    ErrorCode extractFile(const QString &filename, const QString &dirname,
                          ExtractionOptions options = ExtractPaths);
    ErrorCode extractFile(const QString &filename, const QDir &dir,
                          ExtractionOptions options = ExtractPaths);
    /// Writes the entry's data to `device` (opened write-only when not open).
    ErrorCode extractFile(const QString &filename, QIODevice *device,
                          ExtractionOptions options = ExtractPaths);

    ErrorCode extractFiles(const QStringList &filenames, const QString &dirname,
                           ExtractionOptions options = ExtractPaths);
    ErrorCode extractFiles(const QStringList &filenames, const QDir &dir,
                           ExtractionOptions options = ExtractPaths);

    QString formatError(ErrorCode c) const;

private:
    QScopedPointer<UnZipPrivate> d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(UnZip::ExtractionOptions)

#endif // ORVELEXTLIB_UNZIP_H
