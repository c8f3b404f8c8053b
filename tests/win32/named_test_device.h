// A test driver's one named device with a DOS name ("\\.\<name>" from user mode): creates,
// clean-ups and closes succeed, device controls go to the test's routine, and the extension holds
// what the test gives that routine. The device, its name and its driver go with the object.
#pragma once

#include <wdm.h>

#include "kernel/io_manager.h"
#include "kernel/machine.h"

#include <gtest/gtest.h>

#include <string>

class NamedTestDevice {
public:
    NamedTestDevice(host::Machine &machine, const std::u16string &name, PDRIVER_DISPATCH control,
                    ULONG extensionSize)
        : link_(u"\\??\\" + name)
    {
        driver_ = host::CreateDriverObject(machine, u"\\Driver\\" + name);
        driver_->MajorFunction[IRP_MJ_CREATE] = Succeed;
        driver_->MajorFunction[IRP_MJ_CLEANUP] = Succeed;
        driver_->MajorFunction[IRP_MJ_CLOSE] = Succeed;
        driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = control;
        std::u16string deviceName = u"\\Device\\" + name;
        UNICODE_STRING device = Counted(deviceName), link = Counted(link_);
        if (IoCreateDevice(driver_, extensionSize, &device, FILE_DEVICE_UNKNOWN, 0, FALSE,
                           &device_) != STATUS_SUCCESS ||
            IoCreateSymbolicLink(&link, &device) != STATUS_SUCCESS)
            ADD_FAILURE() << "the test device cannot be made";
        if (device_ != nullptr)
            device_->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    ~NamedTestDevice()
    {
        UNICODE_STRING link = Counted(link_);
        IoDeleteSymbolicLink(&link);
        if (device_ != nullptr)
            IoDeleteDevice(device_);
        ObDereferenceObject(driver_);
    }
    NamedTestDevice(const NamedTestDevice &) = delete;
    NamedTestDevice &operator=(const NamedTestDevice &) = delete;

    PDEVICE_OBJECT Device() const { return device_; }
    template <typename T>
    T &Extension() const
    {
        return *static_cast<T *>(device_->DeviceExtension);
    }

private:
    static NTSTATUS Succeed(PDEVICE_OBJECT, PIRP irp)
    {
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    static UNICODE_STRING Counted(std::u16string &text)
    {
        UNICODE_STRING counted;
        counted.Buffer = reinterpret_cast<PWSTR>(text.data());
        counted.Length = USHORT(text.size() * sizeof(WCHAR));
        counted.MaximumLength = counted.Length;
        return counted;
    }

    std::u16string link_;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT device_ = nullptr;
};
