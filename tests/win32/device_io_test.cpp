// Device requests from user mode: CreateFileW on a device's Win32 name, DeviceIoControl on a
// synchronous and an overlapped handle, a request the driver holds pending completed later or
// cancelled, and what a warning status leaves in the caller's buffer.
#include "named_test_device.h"
#include "win32_fixture.h"

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
        : device_(std::make_unique<NamedTestDevice>(M(), u"QuenDeviceIo", Control, sizeof(Held)))
    {
    }

    void TearDown() override
    {
        device_.reset(); // before the machine's checks
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
        PIRP irp = device_->Extension<Held>().irp;
        ASSERT_NE(nullptr, irp);
        ASSERT_NE(nullptr, IoSetCancelRoutine(irp, nullptr));
        device_->Extension<Held>().irp = nullptr;
        *static_cast<ULONG *>(irp->AssociatedIrp.SystemBuffer) = value;
        Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    }

    // An overlapped request the device holds pending, on a handle of its own.
    struct HeldRequest {
        HANDLE device = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped = {};
        ULONG value = 0;
        ~HeldRequest()
        {
            CloseHandle(overlapped.hEvent);
            CloseHandle(device);
        }
    };
    void Hold(HeldRequest *held)
    {
        held->device = OpenDevice(FILE_FLAG_OVERLAPPED);
        ASSERT_NE(INVALID_HANDLE_VALUE, held->device);
        held->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        EXPECT_FALSE(DeviceIoControl(held->device, kHold, nullptr, 0, &held->value,
                                     sizeof held->value, nullptr, &held->overlapped));
        EXPECT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    }

    std::unique_ptr<NamedTestDevice> device_;
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
    HeldRequest held;
    ASSERT_NO_FATAL_FAILURE(Hold(&held));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(held.device, &held.overlapped, &bytes, FALSE));
    EXPECT_EQ(DWORD(ERROR_IO_INCOMPLETE), GetLastError());
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(held.overlapped.hEvent, 10));

    CompleteHeld(kValue);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held.overlapped.hEvent, 0));
    EXPECT_TRUE(GetOverlappedResult(held.device, &held.overlapped, &bytes, FALSE));
    EXPECT_EQ(sizeof held.value, bytes);
    EXPECT_EQ(kValue, held.value);
}

TEST_F(DeviceIo, CancelledRequestEndsAborted)
{
    HeldRequest held;
    ASSERT_NO_FATAL_FAILURE(Hold(&held));
    OVERLAPPED other = {};
    EXPECT_FALSE(CancelIoEx(held.device, &other)) << "not a request of this handle";
    EXPECT_EQ(DWORD(ERROR_NOT_FOUND), GetLastError());
    EXPECT_TRUE(CancelIoEx(held.device, &held.overlapped));
    DWORD bytes = 7;
    EXPECT_FALSE(GetOverlappedResult(held.device, &held.overlapped, &bytes, TRUE));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), GetLastError());
    EXPECT_EQ(0u, bytes);
}

} // namespace
