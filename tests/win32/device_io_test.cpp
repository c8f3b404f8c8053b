// Device requests from user mode: CreateFileW on a device's Win32 name, DeviceIoControl on a
// synchronous and an overlapped handle, a request the driver holds pending completed later or
// cancelled, and what a warning status leaves in the caller's buffer.
#include <wdm.h>

#include "win32_fixture.h"

#include "kernel/io_manager.h"

#include <winioctl.h>

namespace {

constexpr DWORD kAnswer = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kPartial = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kHold = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kWrite = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_BUFFERED, FILE_WRITE_ACCESS);
constexpr ULONG kValue = 0x5eed;

// The device: kAnswer returns kValue; kPartial the first four bytes of eight with
// STATUS_BUFFER_OVERFLOW; kHold keeps the request pending, cancelable, until the test ends it.
struct Held {
    PIRP irp = nullptr;
};

void CancelHeld(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    static_cast<Held *>(device->DeviceExtension)->irp = nullptr;
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Open(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

NTSTATUS Control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    auto buffer = static_cast<ULONG *>(irp->AssociatedIrp.SystemBuffer);
    ULONG room = location->Parameters.DeviceIoControl.OutputBufferLength;
    switch (location->Parameters.DeviceIoControl.IoControlCode) {
    case kAnswer:
    case kWrite:
        if (room < sizeof(ULONG))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        *buffer = kValue;
        return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    case kPartial:
        if (room < sizeof(ULONG))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        *buffer = kValue;
        return Complete(irp, STATUS_BUFFER_OVERFLOW, sizeof(ULONG));
    case kHold:
        IoMarkIrpPending(irp);
        static_cast<Held *>(device->DeviceExtension)->irp = irp;
        IoSetCancelRoutine(irp, CancelHeld);
        return STATUS_PENDING;
    default: return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

class DeviceIo : public Win32Test {
protected:
    DeviceIo()
    {
        driver_ = host::CreateDriverObject(M(), u"\\Driver\\QuenDeviceIo");
        driver_->MajorFunction[IRP_MJ_CREATE] = Open;
        driver_->MajorFunction[IRP_MJ_CLEANUP] = Open;
        driver_->MajorFunction[IRP_MJ_CLOSE] = Open;
        driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Control;
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, L"\\Device\\QuenDeviceIo");
        RtlInitUnicodeString(&link, L"\\??\\QuenDeviceIo");
        EXPECT_EQ(STATUS_SUCCESS, IoCreateDevice(driver_, sizeof(Held), &name, FILE_DEVICE_UNKNOWN,
                                                 0, FALSE, &device_));
        device_->Flags &= ~DO_DEVICE_INITIALIZING;
        EXPECT_EQ(STATUS_SUCCESS, IoCreateSymbolicLink(&link, &name));
    }

    void TearDown() override
    {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, L"\\??\\QuenDeviceIo");
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(device_);
        ObDereferenceObject(driver_);
        Win32Test::TearDown();
    }

    HANDLE OpenDevice(DWORD flags, DWORD access = GENERIC_READ | GENERIC_WRITE)
    {
        return CreateFileW(L"\\\\.\\QuenDeviceIo", access, 0, nullptr, OPEN_EXISTING, flags,
                           nullptr);
    }

    // The request the device holds, completed by the device as its hardware would.
    void CompleteHeld(ULONG value)
    {
        PIRP irp = static_cast<Held *>(device_->DeviceExtension)->irp;
        ASSERT_NE(nullptr, irp);
        ASSERT_NE(nullptr, IoSetCancelRoutine(irp, nullptr));
        static_cast<Held *>(device_->DeviceExtension)->irp = nullptr;
        *static_cast<ULONG *>(irp->AssociatedIrp.SystemBuffer) = value;
        Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    }

    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT device_ = nullptr;
};

TEST_F(DeviceIo, DeviceNamesOpenAndUnknownNamesFail)
{
    struct Case {
        LPCWSTR path;
        DWORD error;
    } cases[] = {
        {L"\\\\.\\QuenDeviceIo", ERROR_SUCCESS},
        {L"\\\\?\\GLOBALROOT\\Device\\QuenDeviceIo", ERROR_SUCCESS},
        {L"\\\\.\\QuenNoSuchDevice", ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases) {
        HANDLE handle = CreateFileW(c.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(c.error == ERROR_SUCCESS, handle != INVALID_HANDLE_VALUE);
        if (handle != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(handle));
        }
    }
}

TEST_F(DeviceIo, SynchronousRequestsReturnTheirDataAndWarnings)
{
    HANDLE device = OpenDevice(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    ULONG value = 0;
    DWORD bytes = 0;
    EXPECT_TRUE(
        DeviceIoControl(device, kAnswer, nullptr, 0, &value, sizeof value, &bytes, nullptr));
    EXPECT_EQ(kValue, value);
    EXPECT_EQ(sizeof value, bytes);
    // A warning fails the call with ERROR_MORE_DATA, but the data and its size arrive.
    value = 0;
    bytes = 0;
    EXPECT_FALSE(
        DeviceIoControl(device, kPartial, nullptr, 0, &value, sizeof value, &bytes, nullptr));
    EXPECT_EQ(DWORD(ERROR_MORE_DATA), GetLastError());
    EXPECT_EQ(kValue, value);
    EXPECT_EQ(sizeof value, bytes);
    // An error copies nothing back.
    bytes = 7;
    EXPECT_FALSE(DeviceIoControl(device, kAnswer, nullptr, 0, &value, 2, &bytes, nullptr));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(0u, bytes);
    CloseHandle(device);

    // A code that needs write access is refused on a handle opened for reading.
    HANDLE reader = OpenDevice(0, GENERIC_READ);
    EXPECT_FALSE(
        DeviceIoControl(reader, kWrite, nullptr, 0, &value, sizeof value, &bytes, nullptr));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(reader);
}

TEST_F(DeviceIo, PendingOverlappedRequestCompletesToItsEvent)
{
    HANDLE device = OpenDevice(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONG value = 0;
    DWORD bytes = 0;
    EXPECT_FALSE(
        DeviceIoControl(device, kHold, nullptr, 0, &value, sizeof value, nullptr, &overlapped));
    EXPECT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &bytes, FALSE));
    EXPECT_EQ(DWORD(ERROR_IO_INCOMPLETE), GetLastError());
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(overlapped.hEvent, 10));

    CompleteHeld(kValue);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, 0));
    EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &bytes, FALSE));
    EXPECT_EQ(sizeof value, bytes);
    EXPECT_EQ(kValue, value);
    CloseHandle(overlapped.hEvent);
    CloseHandle(device);
}

TEST_F(DeviceIo, CancelledRequestEndsAborted)
{
    HANDLE device = OpenDevice(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONG value = 0;
    DWORD bytes = 0;
    EXPECT_FALSE(
        DeviceIoControl(device, kHold, nullptr, 0, &value, sizeof value, nullptr, &overlapped));
    OVERLAPPED other = {};
    EXPECT_FALSE(CancelIoEx(device, &other)) << "not a request of this handle";
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), GetLastError());
    EXPECT_TRUE(CancelIoEx(device, &overlapped));
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &bytes, TRUE));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), GetLastError());
    EXPECT_EQ(0u, bytes);
    CloseHandle(overlapped.hEvent);
    CloseHandle(device);
}

} // namespace
