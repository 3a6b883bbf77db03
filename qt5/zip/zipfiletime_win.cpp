#include "zipfiletime_p.h"

#include <QDir>

#include <windows.h>

namespace zipfiletime {

bool setLastWriteTime(const QString &path, const QDateTime &utc)
{
    if (!utc.isValid())
        return false;
    const QString native = QDir::toNativeSeparators(path);
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE,
                                FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // FILETIME counts 100 ns steps since 1601-01-01 UTC.
    const quint64 ticks = quint64(utc.toMSecsSinceEpoch() + 11644473600000LL) * 10000ULL;
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xffffffffu);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    const bool ok = SetFileTime(handle, nullptr, nullptr, &ft) != 0;
    CloseHandle(handle);
    return ok;
}

} // namespace zipfiletime
