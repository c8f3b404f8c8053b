// Objects and handles: per-process handle tables, type and access checks, and leak reports.
#include "kernel_fixture.h"

#include "kernel/io_file.h"
#include "kernel/io_manager.h"
#include "kernel/object_manager.h"

namespace {

class ObjectManagerTest : public KernelTest {
protected:
    // An event object, as a user-mode CreateEvent makes one, with one handle in `process`.
    HANDLE NewEventHandle(PKPROCESS process, ACCESS_MASK access, PKEVENT *event)
    {
        *event = host::CreateObject<KEVENT>(M(), *ExEventObjectType, "");
        KeInitializeEvent(*event, NotificationEvent, FALSE);
        HANDLE h = process->handles.Insert(*event, access);
        ObDereferenceObject(*event); // the handle keeps it alive
        return h;
    }
};

TEST_F(ObjectManagerTest, UserHandleIsReferencedWithItsGrantedAccess)
{
    PKPROCESS app = M().CreateProcess("asio-host.exe");
    host::ThreadAttachment user(M(), "app thread", true, app);
    PKEVENT event;
    HANDLE h = NewEventHandle(app, SYNCHRONIZE | EVENT_MODIFY_STATE, &event);

    PVOID object = nullptr;
    OBJECT_HANDLE_INFORMATION info;
    ASSERT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(h, EVENT_MODIFY_STATE, *ExEventObjectType,
                                                        UserMode, &object, &info));
    EXPECT_EQ(event, object);
    EXPECT_EQ(ACCESS_MASK(SYNCHRONIZE | EVENT_MODIFY_STATE), info.GrantedAccess);
    ObDereferenceObject(object);

    EXPECT_EQ(STATUS_ACCESS_DENIED,
              ObReferenceObjectByHandle(h, EVENT_QUERY_STATE | DELETE, *ExEventObjectType, UserMode,
                                        &object, nullptr));
    EXPECT_EQ(nullptr, object);
    // Kernel-mode callers are not access-checked.
    ASSERT_EQ(STATUS_SUCCESS, ObReferenceObjectByHandle(h, EVENT_ALL_ACCESS, *ExEventObjectType,
                                                        KernelMode, &object, nullptr));
    ObDereferenceObject(object);
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
              ObReferenceObjectByHandle(h, 0, *PsThreadType, KernelMode, &object, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(h));
    EXPECT_EQ(STATUS_INVALID_HANDLE, ZwClose(h));
    EXPECT_EQ(STATUS_INVALID_HANDLE,
              ObReferenceObjectByHandle(h, 0, nullptr, KernelMode, &object, nullptr));
}

TEST_F(ObjectManagerTest, HandlesArePerProcessAndKernelHandlesAreNotUsersToName)
{
    PKPROCESS a = M().CreateProcess("a.exe");
    PKPROCESS b = M().CreateProcess("b.exe");
    PKEVENT eventA;
    HANDLE inA = NewEventHandle(a, EVENT_ALL_ACCESS, &eventA);
    PKEVENT kernelEvent;
    HANDLE kernel = NewEventHandle(M().SystemProcess(), EVENT_ALL_ACCESS, &kernelEvent);
    EXPECT_TRUE(host::IsKernelHandle(kernel));
    {
        host::ThreadAttachment inB(M(), "b thread", true, b);
        PVOID object = nullptr;
        EXPECT_EQ(STATUS_INVALID_HANDLE,
                  ObReferenceObjectByHandle(inA, 0, nullptr, UserMode, &object, nullptr));
        EXPECT_EQ(STATUS_INVALID_HANDLE,
                  ObReferenceObjectByHandle(kernel, 0, nullptr, UserMode, &object, nullptr));
        ASSERT_EQ(STATUS_SUCCESS,
                  ObReferenceObjectByHandle(kernel, 0, nullptr, KernelMode, &object, nullptr));
        EXPECT_EQ(kernelEvent, object);
        ObDereferenceObject(object);
    }
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(kernel));
    M().EndProcess(a);
    M().EndProcess(b);
}

TEST_F(ObjectManagerTest, EndingAProcessClosesItsHandlesAndReleasesTheObjects)
{
    PKPROCESS app = M().CreateProcess("app.exe");
    PKEVENT event;
    NewEventHandle(app, EVENT_ALL_ACCESS, &event);
    ObReferenceObject(event); // a driver's reference outlives the process's handle
    M().EndProcess(app);
    EXPECT_EQ(0, KeReadStateEvent(event));
    ObDereferenceObject(event);
}

TEST(ObjectLeakTest, ReferencesAndKernelHandlesLeftAtTeardownAreReportedThenFreed)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "test");
        PKEVENT leaked = host::CreateObject<KEVENT>(machine, *ExEventObjectType, "leaked");
        KeInitializeEvent(leaked, NotificationEvent, FALSE);
        PKEVENT handled = host::CreateObject<KEVENT>(machine, *ExEventObjectType, "handled");
        machine.SystemProcess()->handles.Insert(handled, EVENT_ALL_ACCESS);
        ObDereferenceObject(handled);
        // A device's destructor drops its reference on its driver: neither is touched after
        // it is freed.
        PDRIVER_OBJECT driver = host::CreateDriverObject(machine, u"\\Driver\\leaky");
        PDEVICE_OBJECT device = nullptr;
        ASSERT_EQ(STATUS_SUCCESS,
                  IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device));
        // A file left open is freed without a close request to a driver that is gone.
        driver->MajorFunction[IRP_MJ_CREATE] = [](PDEVICE_OBJECT, PIRP irp) {
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        };
        PFILE_OBJECT file = nullptr;
        ASSERT_EQ(STATUS_SUCCESS, host::OpenFileObject(device, nullptr, nullptr, 0, FILE_READ_DATA,
                                                       KernelMode, &file));
    }
    machine.PowerOff();
    auto leaks = machine.Checks().Take(host::VerifierCheck::ObjectLeak);
    ASSERT_EQ(2u, leaks.size());
    EXPECT_NE(std::string::npos, leaks[0].message.find("'handled'"));
    EXPECT_NE(std::string::npos, leaks[1].message.find("'leaked'"));
    EXPECT_NE(std::string::npos, leaks[1].message.find("'\\Driver\\leaky'"));
    EXPECT_EQ(nullptr, machine.LiveObjects()) << "reported, then freed";
}

} // namespace
