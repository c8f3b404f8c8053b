// File objects: the create, cleanup and close requests the I/O manager sends for them, and
// IoGetRelatedDeviceObject. Each request is a thread request of the calling thread (the I/O
// manager completes and frees it), sent to the top of the file's device stack.
#include "io_file.h"

#include "io_manager.h"
#include "machine.h"
#include "wide_string.h"

#include <cstring>
#include <vector>

using host::VerifierCheck;

namespace {

struct FileObjectBody {
    FILE_OBJECT file;        // first: the body pointer is the PFILE_OBJECT
    std::vector<WCHAR> name; // FileName's bytes, rounded up to whole characters
    KPROCESSOR_MODE mode = KernelMode;
    bool opened = false; // the driver completed IRP_MJ_CREATE with success

    ~FileObjectBody();
};

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device)
{
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device);
    ObDereferenceObject(top); // the device object itself keeps it alive
    return top;
}

// Sends one file request synchronously and returns its final status.
NTSTATUS SendFileRequest(PFILE_OBJECT file, UCHAR major, KPROCESSOR_MODE mode, ULONG flags)
{
    PDEVICE_OBJECT target = TopOfStack(file->DeviceObject);
    PIRP irp = IoAllocateIrp(target->StackSize, FALSE);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status = {};
    irp->Flags = IRP_SYNCHRONOUS_API | flags;
    irp->RequestorMode = mode;
    irp->UserIosb = &status;
    irp->UserEvent = &done;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    irp->Tail.Overlay.OriginalFileObject = file;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = major;
    location->FileObject = file;
    if (major == IRP_MJ_CREATE)
        location->Parameters.Create.Options = ULONG(FILE_OPEN) << 24; // disposition in the top byte
    NTSTATUS result = IoCallDriver(target, irp);
    if (result == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        result = status.Status;
    }
    return result;
}

FileObjectBody::~FileObjectBody()
{
    if (opened) {
        SendFileRequest(&file, IRP_MJ_CLOSE, mode, IRP_CLOSE_OPERATION);
        host::CurrentIo("IRP_MJ_CLOSE").FileClosed(file.DeviceObject);
    }
    if (file.RelatedFileObject != nullptr)
        ObDereferenceObject(file.RelatedFileObject);
    ObDereferenceObject(file.DeviceObject);
}

// The last handle of a file closed: its driver cleans up (cancels what the file has pending).
void SendCleanup(host::ObjectHeader *header)
{
    auto body = static_cast<FileObjectBody *>(header->Body());
    if (body->opened)
        SendFileRequest(&body->file, IRP_MJ_CLEANUP, body->mode, 0);
}

} // namespace

NTSTATUS host::OpenFileObject(PDEVICE_OBJECT device, PFILE_OBJECT related, const void *name,
                              USHORT nameBytes, ACCESS_MASK access, KPROCESSOR_MODE mode,
                              PFILE_OBJECT *file)
{
    PKTHREAD thread = CurrentThread("IRP_MJ_CREATE");
    *file = nullptr;
    if (thread->irql != PASSIVE_LEVEL)
        thread->machine->Io().Report(VerifierCheck::Irql, "a file opened at IRQL %u", thread->irql);
    auto body = CreateObject<FileObjectBody>(*thread->machine, *IoFileObjectType, "");
    HeaderOfObject(body)->lastHandleClosed = SendCleanup;
    body->mode = mode;
    body->name.resize((nameBytes + sizeof(WCHAR) - 1) / sizeof(WCHAR));
    if (nameBytes != 0)
        std::memcpy(body->name.data(), name, nameBytes);
    FILE_OBJECT &f = body->file;
    f.Type = IO_TYPE_FILE;
    f.Size = sizeof(FILE_OBJECT);
    ObReferenceObject(device);
    f.DeviceObject = device;
    if (related != nullptr) {
        ObReferenceObject(related);
        f.RelatedFileObject = related;
    }
    f.FileName.Buffer = body->name.empty() ? nullptr : body->name.data();
    f.FileName.Length = nameBytes;
    f.FileName.MaximumLength = USHORT(body->name.size() * sizeof(WCHAR));
    f.ReadAccess = (access & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0;
    f.WriteAccess = (access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)) != 0;
    KeInitializeEvent(&f.Lock, SynchronizationEvent, FALSE);
    KeInitializeEvent(&f.Event, NotificationEvent, FALSE);
    InitializeListHead(&f.IrpList);

    NTSTATUS status = SendFileRequest(&f, IRP_MJ_CREATE, mode, IRP_CREATE_OPERATION);
    if (!NT_SUCCESS(status)) {
        ObDereferenceObject(&f);
        return status;
    }
    body->opened = true;
    thread->machine->Io().FileOpened(device);
    *file = &f;
    return status;
}

extern "C" PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT FileObject)
{
    return TopOfStack(FileObject->DeviceObject);
}
