// The Windows services behind SysUtils: kernel32, the IP helper, WMI through
// COM, the process token, and the programs "shutdown", "nircmdc" and
// "cmd.exe". The clock and the time zone are set through Win32 calls.

#include "sysplatform_p.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <iphlpapi.h>
#include <objbase.h>
#include <wbemidl.h>
#include <windows.h>

namespace {

constexpr DWORD InitialIfTableBytes = 864;
constexpr DWORD ReadOnlyVolumeFlag = 0x80000; // FILE_READ_ONLY_VOLUME
constexpr DWORD SoftwareLoopbackType = 24; // IF_TYPE_SOFTWARE_LOOPBACK

MEMORYSTATUSEX memoryStatus()
{
    MEMORYSTATUSEX status {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        status.ullTotalPhys = 0;
        status.ullAvailPhys = 0;
    }
    return status;
}

// Releases a COM interface when it leaves scope.
template<typename T> struct ComPtr
{
    T *p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ~ComPtr()
    {
        if (p)
            p->Release();
    }
};

struct Bstr
{
    BSTR value;
    explicit Bstr(const wchar_t *text)
        : value(SysAllocString(text))
    {
    }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(value); }
};

HRESULT readTemperature(LONG *pTemperature)
{
    if (!pTemperature) {
        qWarning("pTemperature == NULL");
        return E_INVALIDARG;
    }
    *pTemperature = 0;

    const HRESULT init = CoInitialize(NULL);
    if (FAILED(init))
        qWarning() << "CoInitialize(NULL) " << init;
    struct ComScope
    {
        bool initialised;
        ~ComScope()
        {
            if (initialised)
                CoUninitialize();
        }
    } comScope { SUCCEEDED(init) };

    HRESULT hr = CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE, NULL);
    if (FAILED(hr))
        qWarning() << "INVALID CoInitializeSecurity " << hr;

    ComPtr<IWbemLocator> locator;
    hr = CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                          reinterpret_cast<void **>(&locator.p));
    if (FAILED(hr)) {
        qWarning() << "INVALID CoCreateInstance" << hr;
        return hr;
    }

    ComPtr<IWbemServices> services;
    const Bstr nameSpace(L"Root\\CIMV2");
    hr = locator.p->ConnectServer(nameSpace.value, NULL, NULL, NULL, 0, NULL, NULL, &services.p);
    if (FAILED(hr)) {
        qWarning() << "INVALID pLocator->ConnectServer" << hr;
        return hr;
    }

    ComPtr<IEnumWbemClassObject> objects;
    const Bstr language(L"WQL");
    const Bstr query(L"SELECT CurrentReading FROM CIM_TemperatureSensor");
    hr = services.p->ExecQuery(language.value, query.value,
                               WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, NULL,
                               &objects.p);
    if (FAILED(hr)) {
        qWarning() << "INVALID pServices->ExecQuery" << hr;
        return hr;
    }

    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    hr = objects.p->Next(WBEM_INFINITE, 1, &object.p, &returned);
    if (FAILED(hr) || returned == 0) {
        qWarning() << "INVALID pObject->Get" << hr;
        return FAILED(hr) ? hr : HRESULT(WBEM_S_FALSE);
    }

    VARIANT reading;
    VariantInit(&reading);
    hr = object.p->Get(L"CurrentReading", 0, &reading, NULL, NULL);
    if (FAILED(hr)) {
        qWarning() << "INVALID pObject->Get" << hr;
        return hr;
    }
    if (SUCCEEDED(VariantChangeType(&reading, &reading, 0, VT_I4)))
        *pTemperature = reading.lVal;
    VariantClear(&reading);
    return S_OK;
}

bool enableTimeZonePrivilege()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges {};
    bool enabled = false;
    if (LookupPrivilegeValueW(NULL, L"SeTimeZonePrivilege", &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        enabled = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, NULL, NULL)
            != FALSE;
    }
    CloseHandle(token);
    return enabled;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

LONG WINAPI exitOnUnhandledException(EXCEPTION_POINTERS *)
{
    std::_Exit(2);
}

} // namespace

namespace SysPlatform {

qint64 uptimeMs()
{
    using TickCount64 = ULONGLONG(WINAPI *)();
    static const TickCount64 tickCount64 = [] {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        return kernel ? reinterpret_cast<TickCount64>(
                   reinterpret_cast<void *>(GetProcAddress(kernel, "GetTickCount64")))
                      : nullptr;
    }();
    return tickCount64 ? qint64(tickCount64()) : qint64(GetTickCount());
}

qint64 totalMemory()
{
    return qint64(memoryStatus().ullTotalPhys);
}

qint64 availableMemory()
{
    return qint64(memoryStatus().ullAvailPhys);
}

bool diskSpace(const QString &path, qint64 &availableBytes, qint64 &totalBytes)
{
    wchar_t buffer[260] = {};
    const QString limited = path.left(259);
    limited.toWCharArray(buffer);
    ULARGE_INTEGER available {};
    ULARGE_INTEGER total {};
    ULARGE_INTEGER totalFree {};
    if (!GetDiskFreeSpaceExW(buffer, &available, &total, &totalFree))
        return false;
    availableBytes = qint64(available.QuadPart);
    totalBytes = qint64(total.QuadPart);
    return true;
}

bool volumeWritable(const QString &path)
{
    const QString absolute = QDir::fromNativeSeparators(QFileInfo(path).absoluteFilePath());
    const int colon = absolute.indexOf(QLatin1Char(':'));
    const QString root
        = colon >= 0 ? absolute.left(colon + 1) + QLatin1Char('\\') : QStringLiteral("\\");
    const std::wstring rootText = root.toStdWString();
    DWORD flags = 0;
    if (!GetVolumeInformationW(rootText.c_str(), NULL, 0, NULL, NULL, &flags, NULL, 0))
        return true;
    return (flags & ReadOnlyVolumeFlag) == 0;
}

bool networkTraffic(qint64 &inBytes, qint64 &outBytes)
{
    ULONG size = InitialIfTableBytes;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer)
        return false;
    DWORD result = GetIfTable(reinterpret_cast<MIB_IFTABLE *>(buffer.get()), &size, FALSE);
    // The table may grow between two calls; a few rounds are enough.
    for (int round = 0; result == ERROR_INSUFFICIENT_BUFFER && round < 4; ++round) {
        buffer.reset(new (std::nothrow) char[size]);
        if (!buffer)
            return false;
        result = GetIfTable(reinterpret_cast<MIB_IFTABLE *>(buffer.get()), &size, FALSE);
    }
    if (result != NO_ERROR)
        return false;
    const auto *table = reinterpret_cast<const MIB_IFTABLE *>(buffer.get());
    inBytes = 0;
    outBytes = 0;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IFROW &row = table->table[i];
        if (row.dwType == SoftwareLoopbackType)
            continue;
        inBytes += row.dwInOctets;
        outBytes += row.dwOutOctets;
    }
    return true;
}

qint32 cpuTemperature()
{
    LONG temperature = 0;
    if (FAILED(readTemperature(&temperature)))
        return 0;
    return qint32(temperature);
}

qint32 hddTemperature()
{
    return 0;
}

QString machineSerial()
{
    return QString();
}

void setSystemTime(const QDate &utcDate, const QTime &utcTime)
{
    SYSTEMTIME time {};
    time.wYear = WORD(utcDate.year());
    time.wMonth = WORD(utcDate.month());
    time.wDayOfWeek = WORD(utcDate.dayOfWeek() % 7); // Sunday is 0
    time.wDay = WORD(utcDate.day());
    time.wHour = WORD(utcTime.hour());
    time.wMinute = WORD(utcTime.minute());
    time.wSecond = WORD(utcTime.second());
    time.wMilliseconds = 0;
    SetSystemTime(&time);
}

bool changeTimeZone(qint32 offsetHours)
{
    enableTimeZonePrivilege();

    TIME_ZONE_INFORMATION current {};
    const DWORD state = GetTimeZoneInformation(&current);
    if (state == TIME_ZONE_ID_UNKNOWN || state == TIME_ZONE_ID_STANDARD) {
        qDebug().noquote() << quoted(QString::fromWCharArray(current.StandardName));
    } else if (state == TIME_ZONE_ID_DAYLIGHT) {
        qDebug().noquote() << quoted(QString::fromWCharArray(current.DaylightName));
    } else {
        qCritical("TIMEZONE LOADING ERROR");
        return false;
    }

    TIME_ZONE_INFORMATION zone;
    ZeroMemory(&zone, sizeof zone);
    zone.Bias = -60 * offsetHours;
    wcsncpy(zone.StandardName, L"Custom Standard Zone", 31);
    zone.StandardDate = current.StandardDate;
    wcsncpy(zone.DaylightName, L"Custom Daylight Zone", 31);
    if (!SetTimeZoneInformation(&zone)) {
        qCritical("TIMEZONE SAVING ERROR");
        return false;
    }

    TIME_ZONE_INFORMATION readBack {};
    if (GetTimeZoneInformation(&readBack) > TIME_ZONE_ID_DAYLIGHT) {
        qCritical("TIMEZONE SAVING ERROR");
        return false;
    }
    return readBack.Bias == zone.Bias;
}

Command powerOff()
{
    return { QStringLiteral("shutdown"),
             { QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-t"),
               QStringLiteral("1") } };
}

Command powerOffFallback()
{
    return { QStringLiteral("nircmdc"), { QStringLiteral("exitwin"), QStringLiteral("poweroff") } };
}

Command reboot()
{
    return { QStringLiteral("shutdown"),
             { QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("-t"),
               QStringLiteral("1") } };
}

Command rebootFallback()
{
    return { QStringLiteral("nircmdc"), { QStringLiteral("exitwin"), QStringLiteral("reboot") } };
}

Command monitor(bool on)
{
    return { QStringLiteral("nircmdc.exe"),
             { QStringLiteral("monitor"), on ? QStringLiteral("on") : QStringLiteral("off") } };
}

Command screenshot(const QString &nativeFilePath)
{
    return { QStringLiteral("%1/nircmdc.exe")
                 .arg(QDir::fromNativeSeparators(QCoreApplication::applicationDirPath())),
             { QStringLiteral("savescreenshot"), nativeFilePath } };
}

const SpoolScript &spoolScript()
{
    static const SpoolScript script {
        { QStringLiteral("echo off"), QStringLiteral("net stop spooler"),
          QStringLiteral("del /Q %systemroot%\\system32\\spool\\printers\\*.shd"),
          QStringLiteral("del /Q %systemroot%\\system32\\spool\\printers\\*.spl"),
          QStringLiteral("net start spooler") },
        QStringLiteral("\r\n"),
        QByteArrayLiteral("Windows-1251"),
        QStringLiteral("%1\\cleanspool.cmd"),
        { QStringLiteral("cmd.exe"), { QStringLiteral("/C") } }
    };
    return script;
}

void installCrashFilter()
{
    SetUnhandledExceptionFilter(exitOnUnhandledException);
}

} // namespace SysPlatform
