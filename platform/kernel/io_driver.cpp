// Driver objects, as the I/O manager prepares them for DriverEntry.
#include "io_manager.h"
#include "machine.h"
#include "wide_string.h"

#include <vector>

namespace {

struct DriverObjectBody {
    DRIVER_OBJECT driver; // first: the body pointer is the PDRIVER_OBJECT
    DRIVER_EXTENSION extension;
    std::vector<WCHAR> name; // DriverName's characters
};

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP Irp)
{
    Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

} // namespace

PDRIVER_OBJECT host::CreateDriverObject(Machine &machine, const std::u16string &name)
{
    auto body = CreateObject<DriverObjectBody>(machine, TypeDriver, ToUtf8(name));
    body->name.resize(name.size());
    CopyToWide(name, body->name.data());
    DRIVER_OBJECT &driver = body->driver;
    driver.Type = IO_TYPE_DRIVER;
    driver.Size = sizeof(DRIVER_OBJECT);
    driver.DriverExtension = &body->extension;
    body->extension.DriverObject = &driver;
    driver.DriverName.Buffer = body->name.data();
    driver.DriverName.Length = USHORT(body->name.size() * sizeof(WCHAR));
    driver.DriverName.MaximumLength = driver.DriverName.Length;
    for (PDRIVER_DISPATCH &dispatch : driver.MajorFunction)
        dispatch = InvalidDeviceRequest;
    return &driver;
}
