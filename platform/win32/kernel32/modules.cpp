// kernel32: the loader's entry points over the calling process's module list.
#include "caller.h"
#include "code_pages.h"
#include "module_loader.h"
#include "status_errors.h"

#include "kernel/wide_string.h"

#include <winbase.h>

#include <algorithm>

using namespace host::win32;

namespace {

// The Win32 result of a loader call: the value on success, else the last error and `failed`.
template <class T>
T Result(DWORD error, T value, T failed)
{
    if (error == ERROR_SUCCESS)
        return value;
    SetLastError(error);
    return failed;
}

// GetModuleFileName's copy: truncated to the buffer (terminated even then), returning the
// characters copied, or the buffer size with ERROR_INSUFFICIENT_BUFFER when it was too small.
template <class Char>
DWORD CopyFileName(const std::basic_string<Char> &path, Char *buffer, DWORD size)
{
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    DWORD copied = DWORD(std::min<size_t>(path.size(), size - 1));
    std::copy_n(path.begin(), copied, buffer);
    buffer[copied] = 0;
    if (path.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return copied;
}

// GetModuleFileName in either character set: `text` turns the path into the caller's characters.
template <class Char, class Text>
DWORD ModuleFileName(HMODULE module, Char *buffer, DWORD size, Text text)
{
    Caller caller = CallerOf("GetModuleFileName");
    std::u16string path;
    DWORD error = caller.process.Modules().FileName(module, &path);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return 0;
    }
    return CopyFileName(text(path), buffer, size);
}

std::u16string NameArgument(LPCWSTR name) { return name != nullptr ? host::ToU16(name) : u""; }

} // namespace

extern "C" {

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags)
{
    Caller caller = CallerOf("LoadLibraryExW");
    if (lpLibFileName == nullptr || *lpLibFileName == 0 || hFile != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Search-path flags only narrow where a module is looked for; loading as data is not
    // emulated.
    if (dwFlags & LOAD_LIBRARY_AS_DATAFILE) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HMODULE module = nullptr;
    DWORD error = caller.process.Modules().Load(host::ToU16(lpLibFileName), &module);
    return Result<HMODULE>(error, module, nullptr);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    return LoadLibraryExW(lpLibFileName, nullptr, 0);
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    return LoadLibraryExW(WideArgument(lpLibFileName).Get(), nullptr, 0);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    Caller caller = CallerOf("FreeLibrary");
    return Result<BOOL>(caller.process.Modules().Free(hLibModule), TRUE, FALSE);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    Caller caller = CallerOf("GetProcAddress");
    FARPROC address = nullptr;
    DWORD error = caller.process.Modules().Export(hModule, lpProcName, &address);
    return Result<FARPROC>(error, address, nullptr);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    Caller caller = CallerOf("GetModuleHandleW");
    HMODULE module = nullptr;
    DWORD error = caller.process.Modules().Find(NameArgument(lpModuleName), &module);
    return Result<HMODULE>(error, module, nullptr);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    return GetModuleHandleW(WideArgument(lpModuleName).Get());
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE *phModule)
{
    Caller caller = CallerOf("GetModuleHandleExW");
    if (phModule == nullptr || (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN &&
                                dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    ModuleList &modules = caller.process.Modules();
    HMODULE module = nullptr;
    DWORD error = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                      ? modules.FindByAddress(lpModuleName, &module)
                      : modules.Find(NameArgument(lpModuleName), &module);
    // Unless told otherwise the handle counts as a load, as LoadLibrary's would.
    if (error == ERROR_SUCCESS && (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN))
        error = modules.Pin(module);
    else if (error == ERROR_SUCCESS && !(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
        std::u16string path;
        error = modules.FileName(module, &path);
        if (error == ERROR_SUCCESS)
            error = modules.Load(path, &module);
    }
    *phModule = error == ERROR_SUCCESS ? module : nullptr;
    return Result<BOOL>(error, TRUE, FALSE);
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    return ModuleFileName(hModule, reinterpret_cast<char16_t *>(lpFilename), nSize,
                          [](const std::u16string &path) { return path; });
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    return ModuleFileName(hModule, lpFilename, nSize, WideToAnsi);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule)
{
    Caller caller = CallerOf("DisableThreadLibraryCalls");
    return Result<BOOL>(caller.process.Modules().DisableThreadCalls(hLibModule), TRUE, FALSE);
}

} // extern "C"
