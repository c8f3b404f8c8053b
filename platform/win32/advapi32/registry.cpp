// advapi32: the registry calls, over the machine's one registry store (the one the kernel's Zw*
// calls see). Keys are opened as key objects with handles in the caller's process, checked for
// the rights they were opened with. HKEY_CURRENT_USER is the logged-on user's hive and
// HKEY_CLASSES_ROOT the machine's class registrations (the per-user merge is not emulated).
// Values are stored byte for byte: a string written without its terminator reads back so.
#include "caller.h"
#include "code_pages.h"
#include "status_errors.h"
#include "user_threads.h"

#include "kernel/object_manager.h"
#include "kernel/registry_key_reference.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <winreg.h>

#include <algorithm>
#include <cstring>

using host::KeyReference;
using host::RegistryKey;
using namespace host::win32;

namespace {

// The kernel path of a predefined key, or null for a value that is not one.
const char16_t *PredefinedKeyPath(HKEY key)
{
    static const std::u16string currentUser = host::RegistryStore::CurrentUserPath();
    if (key == HKEY_LOCAL_MACHINE)
        return u"\\REGISTRY\\MACHINE";
    if (key == HKEY_CURRENT_USER)
        return currentUser.c_str();
    if (key == HKEY_CLASSES_ROOT)
        return u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes";
    if (key == HKEY_USERS)
        return u"\\REGISTRY\\USER";
    if (key == HKEY_CURRENT_CONFIG)
        return u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
    return nullptr;
}

// The store key behind an HKEY (a predefined key, or a handle with the rights asked for), kept
// referenced while it is used.
class OpenKey {
public:
    LSTATUS Resolve(Caller &caller, HKEY hKey, ACCESS_MASK access)
    {
        NTSTATUS status;
        if (const char16_t *path = PredefinedKeyPath(hKey)) {
            status = caller.machine.Registry().OpenKey(nullptr, path, &key_);
        } else if (hKey == HKEY_PERFORMANCE_DATA) {
            caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                           "HKEY_PERFORMANCE_DATA");
            return ERROR_INVALID_HANDLE;
        } else {
            status = reference_.Reference(hKey, access, "advapi32 registry");
            if (NT_SUCCESS(status))
                key_ = reference_->Key();
        }
        return LSTATUS(ErrorFromStatus(status));
    }
    const RegistryKey &Key() const { return key_; }

private:
    KeyReference reference_;
    RegistryKey key_;
};

std::u16string Text(LPCWSTR s) { return s != nullptr ? host::ToU16(s) : std::u16string(); }

// A relative key path: a leading backslash is a syntax error, as for the native call.
LSTATUS CheckSubKey(const std::u16string &path)
{
    return !path.empty() && path.front() == u'\\' ? ERROR_BAD_PATHNAME : ERROR_SUCCESS;
}

LSTATUS OpenHandle(Caller &caller, const RegistryKey &key, REGSAM samDesired, PHKEY result)
{
    ACCESS_MASK access;
    NTSTATUS status = host::KeyAccessFromRequest(samDesired, &access);
    HANDLE handle = nullptr;
    if (NT_SUCCESS(status))
        status = host::OpenKeyHandle(caller.machine, key, access, false, &handle);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    *result = static_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies value data out as RegQueryValueEx does: a size query without a buffer, ERROR_MORE_DATA
// with the size needed when the buffer is too small.
LSTATUS CopyValueData(const std::vector<UCHAR> &data, LPBYTE buffer, LPDWORD size)
{
    if (size == nullptr)
        return ERROR_SUCCESS;
    DWORD available = *size;
    *size = DWORD(data.size());
    if (buffer == nullptr)
        return ERROR_SUCCESS;
    if (available < data.size())
        return ERROR_MORE_DATA;
    if (!data.empty()) // an empty value's data pointer may be null
        std::memcpy(buffer, data.data(), data.size());
    return ERROR_SUCCESS;
}

// A name out into a character buffer whose size counts the terminator; on success the size
// becomes the length without it.
template <class Char, class Text>
LSTATUS CopyName(const Text &name, Char *buffer, LPDWORD characters)
{
    if (buffer == nullptr || characters == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (*characters <= name.size())
        return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    *characters = DWORD(name.size());
    return ERROR_SUCCESS;
}

// UTF-16 string data as the ANSI calls see it, and back.
std::vector<UCHAR> StringDataToAnsi(const std::vector<UCHAR> &data)
{
    std::string ansi = WideToAnsi(host::FromUtf16Bytes(data));
    return std::vector<UCHAR>(ansi.begin(), ansi.end());
}

std::vector<UCHAR> StringDataFromAnsi(const BYTE *data, DWORD size)
{
    std::u16string wide;
    for (DWORD i = 0; i < size; ++i)
        wide += AnsiCharToWide(data[i]);
    return host::ToUtf16Bytes(wide);
}

LSTATUS QueryValue(HKEY hKey, const std::u16string &name, LPDWORD lpReserved, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData, bool ansi)
{
    Caller caller = CallerOf("RegQueryValueEx");
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
        return ERROR_INVALID_PARAMETER;
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_QUERY_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryValue value;
    NTSTATUS status = caller.machine.Registry().QueryValue(key.Key(), name, &value);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    if (lpType != nullptr)
        *lpType = value.type;
    if (ansi && IsStringType(value.type))
        value.data = StringDataToAnsi(value.data);
    return CopyValueData(value.data, lpData, lpcbData);
}

LSTATUS SetValue(HKEY hKey, const std::u16string &name, DWORD dwType, const BYTE *lpData,
                 DWORD cbData, bool ansi)
{
    Caller caller = CallerOf("RegSetValueEx");
    if (lpData == nullptr && cbData != 0)
        return ERROR_NOACCESS;
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_SET_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    std::vector<UCHAR> data(lpData, lpData + cbData);
    if (ansi && IsStringType(dwType))
        data = StringDataFromAnsi(lpData, cbData);
    return LSTATUS(ErrorFromStatus(
        caller.machine.Registry().SetValue(key.Key(), name, dwType, data.data(), data.size())));
}

void StoreTime(LONGLONG time, PFILETIME to)
{
    if (to == nullptr)
        return;
    to->dwLowDateTime = DWORD(time);
    to->dwHighDateTime = DWORD(ULONGLONG(time) >> 32);
}

// RegEnumKeyEx in either character set: `text` turns a name into the caller's characters.
template <class Char, class Text>
LSTATUS EnumerateKey(HKEY hKey, DWORD index, Char *name, LPDWORD nameSize, LPDWORD reserved,
                     Char *className, LPDWORD classSize, PFILETIME lastWriteTime, Text text)
{
    Caller caller = CallerOf("RegEnumKeyEx");
    if (reserved != nullptr)
        return ERROR_INVALID_PARAMETER;
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_ENUMERATE_SUB_KEYS);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryKeyInfo info;
    NTSTATUS status = caller.machine.Registry().EnumerateKey(key.Key(), index, &info);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    error = CopyName(text(info.name), name, nameSize);
    if (error == ERROR_SUCCESS && className != nullptr)
        error = CopyName(text(info.className), className, classSize);
    if (error == ERROR_SUCCESS)
        StoreTime(info.lastWriteTime, lastWriteTime);
    return error;
}

LSTATUS DeleteKey(const char *entryPoint, HKEY hKey, LPCWSTR lpSubKey, bool tree)
{
    Caller caller = CallerOf(entryPoint);
    OpenKey parent;
    LSTATUS error = parent.Resolve(caller, hKey, tree ? KEY_ENUMERATE_SUB_KEYS : 0);
    std::u16string path = Text(lpSubKey);
    if (error == ERROR_SUCCESS)
        error = CheckSubKey(path);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryStore &store = caller.machine.Registry();
    RegistryKey key;
    NTSTATUS status = store.OpenKey(parent.Key(), path, &key);
    if (NT_SUCCESS(status))
        status = tree ? store.DeleteTree(key) : store.DeleteKey(key);
    return LSTATUS(ErrorFromStatus(status));
}

} // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult)
{
    Caller caller = CallerOf("RegOpenKeyExW");
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (ulOptions & REG_OPTION_OPEN_LINK) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "RegOpenKeyExW with REG_OPTION_OPEN_LINK");
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey base;
    LSTATUS error = base.Resolve(caller, hKey, 0);
    std::u16string path = Text(lpSubKey);
    if (error == ERROR_SUCCESS)
        error = CheckSubKey(path);
    if (error != ERROR_SUCCESS)
        return error;
    RegistryKey key;
    NTSTATUS status = caller.machine.Registry().OpenKey(base.Key(), path, &key);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    return OpenHandle(caller, key, samDesired, phkResult);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult)
{
    return RegOpenKeyExW(hKey, WideArgument(lpSubKey).Get(), ulOptions, samDesired, phkResult);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    Caller caller = CallerOf("RegCreateKeyExW");
    if (phkResult == nullptr || lpSubKey == nullptr || (dwOptions & ~REG_LEGAL_OPTION) != 0)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (dwOptions & (REG_OPTION_CREATE_LINK | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK)) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "RegCreateKeyExW with links or backup-restore options");
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey base;
    LSTATUS error = base.Resolve(caller, hKey, KEY_CREATE_SUB_KEY);
    std::u16string path = Text(lpSubKey);
    if (error == ERROR_SUCCESS)
        error = CheckSubKey(path);
    if (error != ERROR_SUCCESS)
        return error;
    // Every missing key on the path is made.
    RegistryKey key;
    ULONG disposition;
    NTSTATUS status = caller.machine.Registry().CreateKey(base.Key(), path, true, Text(lpClass),
                                                          &key, &disposition);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    error = OpenHandle(caller, key, samDesired, phkResult);
    if (error == ERROR_SUCCESS && lpdwDisposition != nullptr)
        *lpdwDisposition = disposition;
    return error;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    WideArgument className(lpClass);
    return RegCreateKeyExW(hKey, WideArgument(lpSubKey).Get(), Reserved, className.GetWritable(),
                           dwOptions, samDesired, lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    Caller caller = CallerOf("RegCloseKey");
    if (PredefinedKeyPath(hKey) != nullptr)
        return ERROR_SUCCESS;
    if (hKey == nullptr || host::IsKernelHandle(hKey))
        return ERROR_INVALID_HANDLE;
    return LSTATUS(ErrorFromStatus(caller.process.Process()->handles.Close(hKey)));
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    return QueryValue(hKey, Text(lpValueName), lpReserved, lpType, lpData, lpcbData, false);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    return QueryValue(hKey, AnsiToWide(lpValueName), lpReserved, lpType, lpData, lpcbData, true);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE *lpData, DWORD cbData)
{
    return SetValue(hKey, Text(lpValueName), dwType, lpData, cbData, false);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE *lpData, DWORD cbData)
{
    return SetValue(hKey, AnsiToWide(lpValueName), dwType, lpData, cbData, true);
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    Caller caller = CallerOf("RegDeleteValueW");
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_SET_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    return LSTATUS(
        ErrorFromStatus(caller.machine.Registry().DeleteValue(key.Key(), Text(lpValueName))));
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime)
{
    return EnumerateKey(hKey, dwIndex, reinterpret_cast<char16_t *>(lpName), lpcchName, lpReserved,
                        reinterpret_cast<char16_t *>(lpClass), lpcchClass, lpftLastWriteTime,
                        [](const std::u16string &name) { return name; });
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime)
{
    return EnumerateKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                        lpftLastWriteTime, WideToAnsi);
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    Caller caller = CallerOf("RegEnumValueW");
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
        return ERROR_INVALID_PARAMETER;
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_QUERY_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryValue value;
    NTSTATUS status = caller.machine.Registry().EnumerateValue(key.Key(), dwIndex, &value);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    error = CopyName(value.name, reinterpret_cast<char16_t *>(lpValueName), lpcchValueName);
    if (error != ERROR_SUCCESS)
        return error;
    if (lpType != nullptr)
        *lpType = value.type;
    return CopyValueData(value.data, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    Caller caller = CallerOf("RegQueryInfoKeyW");
    if (lpReserved != nullptr)
        return ERROR_INVALID_PARAMETER;
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_QUERY_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryKeyInfo info;
    NTSTATUS status = caller.machine.Registry().QueryKey(key.Key(), &info);
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    if (lpClass != nullptr) {
        error = CopyName(info.className, reinterpret_cast<char16_t *>(lpClass), lpcchClass);
        if (error != ERROR_SUCCESS)
            return error;
    }
    // The name lengths are in characters, without terminators.
    auto set = [](LPDWORD out, DWORD value) {
        if (out != nullptr)
            *out = value;
    };
    set(lpcSubKeys, info.subKeys);
    set(lpcbMaxSubKeyLen, info.maxSubKeyNameBytes / sizeof(WCHAR));
    set(lpcbMaxClassLen, info.maxClassBytes / sizeof(WCHAR));
    set(lpcValues, info.values);
    set(lpcbMaxValueNameLen, info.maxValueNameBytes / sizeof(WCHAR));
    set(lpcbMaxValueLen, info.maxValueDataBytes);
    set(lpcbSecurityDescriptor, 0);
    StoreTime(info.lastWriteTime, lpftLastWriteTime);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (lpSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    return DeleteKey("RegDeleteKeyW", hKey, lpSubKey, false);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (lpSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    return DeleteKey("RegDeleteKeyA", hKey, WideArgument(lpSubKey).Get(), false);
}

LSTATUS WINAPI RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD)
{
    if (lpSubKey == nullptr || (samDesired & KEY_WOW64_RES) == KEY_WOW64_RES)
        return ERROR_INVALID_PARAMETER;
    return DeleteKey("RegDeleteKeyExW", hKey, lpSubKey, false);
}

LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (lpSubKey != nullptr)
        return DeleteKey("RegDeleteTreeW", hKey, lpSubKey, true);
    // Without a subkey: every subkey and every value of the key go; the key stays.
    Caller caller = CallerOf("RegDeleteTreeW");
    OpenKey key;
    LSTATUS error = key.Resolve(caller, hKey, KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE);
    if (error != ERROR_SUCCESS)
        return error;
    host::RegistryStore &store = caller.machine.Registry();
    host::RegistryKeyInfo info;
    while (NT_SUCCESS(store.EnumerateKey(key.Key(), 0, &info))) {
        RegistryKey child;
        NTSTATUS status = store.OpenKey(key.Key(), info.name, &child);
        if (NT_SUCCESS(status))
            status = store.DeleteTree(child);
        if (!NT_SUCCESS(status))
            return LSTATUS(ErrorFromStatus(status));
    }
    host::RegistryValue value;
    while (NT_SUCCESS(store.EnumerateValue(key.Key(), 0, &value))) {
        NTSTATUS status = store.DeleteValue(key.Key(), value.name);
        if (!NT_SUCCESS(status))
            return LSTATUS(ErrorFromStatus(status));
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegFlushKey(HKEY hKey)
{
    Caller caller = CallerOf("RegFlushKey");
    OpenKey key;
    return key.Resolve(caller, hKey, 0);
}

LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                       HANDLE hEvent, BOOL fAsynchronous)
{
    Caller caller = CallerOf("RegNotifyChangeKeyValue");
    DWORD filter = dwNotifyFilter & ~REG_NOTIFY_THREAD_AGNOSTIC;
    if (filter == 0 || (dwNotifyFilter & ~REG_LEGAL_CHANGE_FILTER) != 0 ||
        (fAsynchronous && hEvent == nullptr))
        return ERROR_INVALID_PARAMETER;
    // A predefined key is watched through the process's own handle to it, as advapi32 keeps one.
    HKEY watched = hKey;
    if (PredefinedKeyPath(hKey) != nullptr) {
        LSTATUS error = caller.process.PredefinedKey(
            reinterpret_cast<ULONG_PTR>(hKey),
            [hKey](HANDLE *opened) {
                HKEY key;
                LSTATUS result = RegOpenKeyExW(hKey, nullptr, 0, KEY_ALL_ACCESS, &key);
                *opened = key;
                return result;
            },
            reinterpret_cast<HANDLE *>(&watched));
        if (error != ERROR_SUCCESS)
            return error;
    }
    KeyReference key;
    NTSTATUS status = key.Reference(watched, KEY_NOTIFY, "RegNotifyChangeKeyValue");
    if (!NT_SUCCESS(status))
        return LSTATUS(ErrorFromStatus(status));
    // The event is signalled at the first matching change from now on, or when the key is
    // closed; a synchronous call waits on an event of its own.
    PKEVENT signal;
    if (fAsynchronous) {
        HandleReference event;
        status = event.Reference(hEvent, EVENT_MODIFY_STATE, *ExEventObjectType);
        if (!NT_SUCCESS(status))
            return LSTATUS(ErrorFromStatus(status));
        signal = event.As<KEVENT>();
        ObfReferenceObject(signal);
    } else {
        signal = host::CreateObject<KEVENT>(caller.machine, *ExEventObjectType, "");
        KeInitializeEvent(signal, NotificationEvent, FALSE);
    }
    // The notification holds a reference of its own until it fires.
    ObfReferenceObject(signal);
    key->NotifyChange(bWatchSubtree != FALSE, filter, [signal] {
        KeSetEvent(signal, IO_NO_INCREMENT, FALSE);
        ObfDereferenceObject(signal);
    });
    if (fAsynchronous) {
        ObfDereferenceObject(signal);
        return ERROR_SUCCESS;
    }
    status = KeWaitForSingleObject(signal, UserRequest, UserMode, FALSE, nullptr);
    ObfDereferenceObject(signal);
    if (status == STATUS_THREAD_IS_TERMINATING)
        ThreadTerminating();
    return status == STATUS_WAIT_0 ? ERROR_SUCCESS : LSTATUS(ErrorFromStatus(status));
}

} // extern "C"
