#include "adapter_harness/adapter_rig.h"

#include "kernel/io_manager.h"
#include "kernel/machine.h"

namespace adapter_harness {

AdapterRig::AdapterRig(host::Machine &machine,
                       std::shared_ptr<devices::StreamingAudioDeviceModel> device)
    : machine_(machine), device_(std::move(device)),
      controller_(std::make_unique<host::UsbHostController>(machine))
{
    pdo_ = controller_->Plug(kPort, device_);
    driver_ = host::CreateDriverObject(machine_, u"\\Driver\\norvane_quen_audio");
    IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo_);
    IoAttachDeviceToDeviceStack(fdo_, pdo_);
    fdo_->Flags &= ~DO_DEVICE_INITIALIZING;
    adapter_ = new (NonPagedPoolNx, ADAPTER_POOL_TAG) CAdapterUsbAudio(nullptr);
    adapter_->AddRef();
    miniport_ = std::make_unique<FakeMiniport>(adapter_);
}

AdapterRig::~AdapterRig()
{
    miniport_->Close(false);
    miniport_->Close(true);
    adapter_->SetMiniport(nullptr);
    adapter_->Release();
    miniport_.reset();
    IoDetachDevice(pdo_);
    IoDeleteDevice(fdo_);
    ObDereferenceObject(driver_);
    controller_.reset();
}

NTSTATUS AdapterRig::Init()
{
    const NTSTATUS status = adapter_->Init(pdo_, fdo_);
    if (NT_SUCCESS(status))
        adapter_->SetMiniport(miniport_.get());
    return status;
}

void AdapterRig::Sleep(ULONGLONG ms)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -10000LL * LONGLONG(ms);
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

void AdapterRig::Play(ULONGLONG ms)
{
    for (ULONGLONG elapsed = 0; elapsed < ms; elapsed += kServiceMs) {
        miniport_->Service();
        Sleep(kServiceMs);
    }
    miniport_->Service();
}

} // namespace adapter_harness
