#include "zipfilesystem_p.h"
#include "zipcalendar_p.h"

#include <QDir>
#include <QFileDevice>

#include <time.h>
#include <windows.h>

namespace zipfilesystem {

namespace {

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
constexpr qint64 EpochTicks = 116444736000000000LL;

// The native form of a path; long absolute paths get the "\\?\" prefix, as
// QFile gives them.
QString nativePath(const QString &path)
{
    QString native = QDir::toNativeSeparators(path);
    if (native.size() >= MAX_PATH - 12 && !native.startsWith(QLatin1String("\\\\?\\"))) {
        if (native.startsWith(QLatin1String("\\\\")))
            native = QLatin1String("\\\\?\\UNC\\") + native.mid(2);
        else if (native.size() > 2 && native.at(1) == QLatin1Char(':'))
            native = QLatin1String("\\\\?\\") + native;
    }
    return native;
}

} // namespace

int utcOffsetAt(qint64 utcSeconds)
{
    _tzset();
    const time_t t = time_t(utcSeconds);
    struct tm local;
    struct tm utc;
    // The Microsoft argument order: destination first.
    if (localtime_s(&local, &t) != 0 || gmtime_s(&utc, &t) != 0)
        return 0;
    // Both breakdowns read as if they were UTC; their distance is the offset.
    return int(zipcalendar::secondsOf(local) - zipcalendar::secondsOf(utc));
}

bool setLastWriteTime(const QString &path, const QDateTime &utc)
{
    if (!utc.isValid())
        return false;
    const QString native = nativePath(path);
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE,
                                FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const quint64 ticks = quint64(utc.toMSecsSinceEpoch() * 10000LL + EpochTicks);
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xffffffffu);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    const bool ok = SetFileTime(handle, nullptr, nullptr, &ft) != 0;
    CloseHandle(handle);
    return ok;
}

FileId fileIdOf(const QString &path)
{
    FileId id;
    // No access asked for, so that a file open elsewhere can be queried;
    // the backup flag lets a directory be opened too.
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(nativePath(path).utf16()), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info))
        id = { info.dwVolumeSerialNumber, (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
               true };
    CloseHandle(handle);
    return id;
}

FileId fileIdOf(const QFileDevice &file)
{
    return file.fileName().isEmpty() ? FileId() : fileIdOf(file.fileName());
}

bool SourceFile::open(const QString &path)
{
    close();
    const QString native = nativePath(path);
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(handle);
    m_size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    const qint64 ticks = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32)
                                | info.ftLastWriteTime.dwLowDateTime) - EpochTicks;
    // Rounded down, also before 1970.
    m_lastWrite = ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000);
    return true;
}

void SourceFile::close()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
    m_size = 0;
    m_lastWrite = 0;
}

qint64 SourceFile::read(char *data, qint64 max)
{
    if (m_handle == -1)
        return -1;
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), data, DWORD(max), &got, nullptr))
        return -1;
    return qint64(got);
}

bool TargetFile::open(const QString &path)
{
    discard();
    const QString native = nativePath(path);
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(native.utf16()));
    bool replaces = false;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // Refused as when the file was written in place: directories,
        // read-only, hidden and system files.
        if (attributes
            & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN
               | FILE_ATTRIBUTE_SYSTEM))
            return false;
        // A symbolic link is replaced, never followed.
        replaces = !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temporary = temporarySibling(path);
        HANDLE handle
            = CreateFileW(reinterpret_cast<LPCWSTR>(nativePath(temporary).utf16()), GENERIC_WRITE,
                          FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        m_handle = reinterpret_cast<qintptr>(handle);
        m_path = path;
        m_temporary = temporary;
        m_replaces = replaces;
        return true;
    }
    return false;
}

bool TargetFile::write(const char *data, qint64 size)
{
    if (m_handle == -1)
        return false;
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size, 1 << 30));
        if (!WriteFile(reinterpret_cast<HANDLE>(m_handle), data, chunk, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

bool TargetFile::setLastWriteTime(qint64 msecs)
{
    if (m_handle == -1)
        return false;
    const quint64 ticks = quint64(msecs * 10000LL + EpochTicks);
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xffffffffu);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return SetFileTime(reinterpret_cast<HANDLE>(m_handle), nullptr, nullptr, &ft) != 0;
}

bool TargetFile::commit()
{
    if (m_handle == -1)
        return false;
    // The new content is on the disk before the name moves to it, so that a
    // power loss cannot leave an empty file in place of the old one.
    const bool flushed = !m_replaces || FlushFileBuffers(reinterpret_cast<HANDLE>(m_handle)) != 0;
    // The file is closed first: an open handle keeps it from being renamed.
    if (!closeHandle() || !flushed)
        return false;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (m_replaces ? MOVEFILE_WRITE_THROUGH : 0);
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(nativePath(m_temporary).utf16()),
                     reinterpret_cast<LPCWSTR>(nativePath(m_path).utf16()), flags))
        return false;
    m_temporary.clear();
    return true;
}

bool TargetFile::discard()
{
    closeHandle();
    if (m_temporary.isEmpty())
        return true;
    if (!DeleteFileW(reinterpret_cast<LPCWSTR>(nativePath(m_temporary).utf16()))
        && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    m_temporary.clear();
    return true;
}

bool TargetFile::closeHandle()
{
    if (m_handle == -1)
        return true;
    const bool ok = CloseHandle(reinterpret_cast<HANDLE>(m_handle)) != 0;
    m_handle = -1;
    return ok;
}

} // namespace zipfilesystem
