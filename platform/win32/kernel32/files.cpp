// kernel32: CreateFile on devices. A Win32 device path ("\\.\name", or a device interface path
// "\\?\...") is the object name "\??\..." (with "\??\GLOBALROOT" the namespace's root), which
// symbolic links lead to a named device; the rest of the path reaches the driver as the file
// name of its create request. File systems are not emulated.
#include "caller.h"
#include "code_pages.h"
#include "status_errors.h"

#include "kernel/io_file.h"
#include "kernel/io_manager.h"
#include "kernel/wide_string.h"

#include <winbase.h>

using namespace host::win32;

namespace {

constexpr char16_t kGlobalRoot[] = u"\\??\\GLOBALROOT";

// The object name of a Win32 device path; false for a path into a file system.
bool ObjectNameOf(const std::u16string &path, std::u16string *name)
{
    if (path.size() < 4 || path[0] != u'\\' || path[1] != u'\\' ||
        (path[2] != u'.' && path[2] != u'?') || path[3] != u'\\')
        return false;
    *name = u"\\??\\" + path.substr(4);
    const size_t root = std::char_traits<char16_t>::length(kGlobalRoot);
    if (host::EqualIgnoreCase(name->substr(0, root), kGlobalRoot))
        *name = name->substr(root);
    return true;
}

} // namespace

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile)
{
    Caller caller = CallerOf("CreateFileW");
    if (lpFileName == nullptr || hTemplateFile != nullptr || dwCreationDisposition < CREATE_NEW ||
        dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string name;
    if (!ObjectNameOf(host::ToU16(lpFileName), &name)) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       "CreateFileW on a file system path: " +
                                           host::ToUtf8(host::ToU16(lpFileName)));
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    PDEVICE_OBJECT device;
    std::u16string rest;
    NTSTATUS status = host::ReferenceDeviceByName(caller.machine.Io(), name, &device, &rest);
    if (!NT_SUCCESS(status)) {
        SetLastErrorFromStatus(status);
        return INVALID_HANDLE_VALUE;
    }
    // Every file handle also grants waiting on it and reading its attributes.
    ACCESS_MASK access = dwDesiredAccess | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    PFILE_OBJECT file = nullptr;
    status = host::OpenFileObject(device, nullptr, rest.data(), USHORT(rest.size() * sizeof(WCHAR)),
                                  access, UserMode, &file);
    ObDereferenceObject(device);
    if (!NT_SUCCESS(status)) {
        SetLastErrorFromStatus(status);
        return INVALID_HANDLE_VALUE;
    }
    if (!(dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED))
        file->Flags |= FO_SYNCHRONOUS_IO;
    HANDLE handle = caller.process.Process()->handles.Insert(file, access);
    ObDereferenceObject(file); // the handle holds it now
    SetLastError(ERROR_SUCCESS);
    return handle;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    return CreateFileW(WideArgument(lpFileName).Get(), dwDesiredAccess, dwShareMode,
                       lpSecurityAttributes, dwCreationDisposition, dwFlagsAndAttributes,
                       hTemplateFile);
}

} // extern "C"
