// The driver's USB layer on the emulated stack: a machine with a USB host controller, a device
// model plugged into it (behind a request log), and the driver's function device object attached
// on top of the device's PDO, so that the CUSBAudioCL under test sends its requests to the PDO
// as it does on Windows. The test's thread is attached and runs at PASSIVE_LEVEL.
#pragma once

#include "kernel/kernel_fixture.h"
#include "kernel/io_manager.h"
#include "request_log.h"
#include "usb/usb_audio_cl.h"
#include "usb/usb_host_controller.h"

#include <memory>

namespace driver_usb_tests {

constexpr int kPort = 1;

class DriverUsbTest : public KernelTest {
protected:
    explicit DriverUsbTest(const host::MachineOptions &options = host::MachineOptions())
        : KernelTest(options)
    {
        controller_ = std::make_unique<host::UsbHostController>(M());
    }

    void TearDown() override
    {
        audio_.reset(); // gives back the driver's IRPs and pool before the stack goes
        if (fdo_ != nullptr) {
            IoDetachDevice(lower_);
            IoDeleteDevice(fdo_);
        }
        if (driver_ != nullptr)
            ObDereferenceObject(driver_);
        controller_.reset();
        KernelTest::TearDown();
    }

    // Plugs the model and builds the device stack with a fresh, uninitialised CUSBAudioCL.
    void Plug(std::shared_ptr<host::UsbDeviceModel> model)
    {
        log_ = std::make_shared<RequestLog>(std::move(model));
        pdo_ = controller_->Plug(kPort, log_);
        ASSERT_NE(nullptr, pdo_);
        driver_ = host::CreateDriverObject(M(), u"\\Driver\\norvane_quen_audio");
        ASSERT_EQ(STATUS_SUCCESS,
                  IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo_));
        lower_ = IoAttachDeviceToDeviceStack(fdo_, pdo_);
        ASSERT_EQ(pdo_, lower_);
        fdo_->Flags &= ~DO_DEVICE_INITIALIZING;
        audio_ = std::make_unique<CUSBAudioCL>();
    }

    // The USB half of device start only (descriptors, bus interface, IRPs).
    NTSTATUS InitializeUsb(ULONG irps = 0) { return audio_->CUSBCL::Initialize(lower_, irps); }
    // Device start as the adapter runs it: the audio function model, then the configuration.
    NTSTATUS Start(ULONG irps = 0)
    {
        NTSTATUS status = audio_->Initialize(lower_, irps);
        return NT_SUCCESS(status) ? audio_->SelectConfiguration() : status;
    }

    host::UsbFaultScript &Faults() { return controller_->Faults(kPort); }

    // Lets virtual time pass.
    void Sleep(ULONGLONG ms)
    {
        LARGE_INTEGER interval = RelativeMs(LONGLONG(ms));
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }

    std::unique_ptr<host::UsbHostController> controller_;
    std::shared_ptr<RequestLog> log_;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
    PDEVICE_OBJECT fdo_ = nullptr;
    PDEVICE_OBJECT lower_ = nullptr;
    std::unique_ptr<CUSBAudioCL> audio_;
};

} // namespace driver_usb_tests
