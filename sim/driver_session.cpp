#include "driver_session.h"

#include "devices/rvd3_model.h"
#include "usb/usb_host_controller.h"

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr int kPort = 1;

ULONG PacketFrames(const ClientFormat &format, ULONG packetMs)
{
    return format.rate * packetMs / 1000;
}

ULONG Packets(ULONGLONG frames, ULONG packetFrames)
{
    return packetFrames == 0 ? 0 : ULONG((frames + packetFrames - 1) / packetFrames);
}

NTSTATUS Render(const ClientRun &run)
{
    const ULONG packetFrames = PacketFrames(run.renderFormat, run.packetMs);
    const ULONG blockAlign = run.renderFormat.BlockAlign();
    return run.render->Stream(false, packetFrames * blockAlign, Packets(run.frames, packetFrames),
                              run.ahead, [&](ULONG index, UCHAR *bytes, ULONG length) {
                                  const ULONGLONG first =
                                      run.renderFrameOffset + ULONGLONG(index) * packetFrames;
                                  for (ULONG f = 0; f < length / blockAlign; ++f)
                                      run.source(first + f, bytes + f * blockAlign, blockAlign);
                              });
}

NTSTATUS Capture(const ClientRun &run)
{
    const ULONG packetFrames = PacketFrames(run.captureFormat, run.packetMs);
    return run.capture->Stream(true, packetFrames * run.captureFormat.BlockAlign(),
                               Packets(run.frames, packetFrames), run.ahead,
                               [&](ULONG, UCHAR *bytes, ULONG length) {
                                   if (run.captureChecker != nullptr)
                                       run.captureChecker->Check(bytes, length);
                                   if (run.captured)
                                       run.captured(bytes, length);
                               });
}

} // namespace

host::DriverPackage QuenAudioPackage(std::optional<ULONG> dsdNativeModeSupported)
{
    host::DriverPackage package;
    package.service = u"norvane_quen_audio";
    package.image = u"norvane_quen_audio.sys";
    package.entry = DriverEntry;
    package.hardwareIds = {u"USB\\VID_2FC3&PID_D003"};
    package.description = u"Quen DSD Audio RV-D3";
    if (dsdNativeModeSupported)
        package.hardwareKeyValues = {host::PackageRegistryValue::Dword(
            u"", u"DSDNativeModeSupported", *dsdNativeModeSupported)};
    return package;
}

std::u16string HardwareId(const devices::UsbAudioDeviceModel &model)
{
    const devices::Bytes &device = model.Descriptors().device;
    char id[32] = "USB\\VID_0000&PID_0000";
    if (device.size() >= 12)
        std::snprintf(id, sizeof id, "USB\\VID_%02X%02X&PID_%02X%02X", device[9], device[8],
                      device[11], device[10]);
    return std::u16string(id, id + std::strlen(id));
}

DriverSession::DriverSession(host::Machine &machine, const host::DriverPackage &package)
    : pnp_(&host::PnpManager::Of(machine)), installed_(pnp_->Install(package))
{
}

host::DeviceNode *DriverSession::Plug(std::shared_ptr<devices::StreamingAudioDeviceModel> model)
{
    model_ = std::move(model);
    node_ = pnp_->Plug(kPort, model_);
    if (node_ == nullptr || node_->state != host::DeviceState::Started)
        return node_;
    std::vector<std::u16string> links = KsFilter::Interfaces(KSCATEGORY_AUDIO);
    if (links.size() == 1)
        KsFilter::Open(links[0], &filter_);
    return node_;
}

std::unique_lock<std::recursive_mutex> DriverSession::LockDevice() const
{
    return std::unique_lock<std::recursive_mutex>(pnp_->Usb().Lock());
}

NTSTATUS DriverSession::CreatePin(ULONG pin, const ClientFormat &format,
                                  std::unique_ptr<KsPin> *made) const
{
    if (filter_ == nullptr)
        return STATUS_DEVICE_NOT_CONNECTED;
    return filter_->CreatePin(
        pin, PcmFormat(USHORT(format.channels), format.rate, USHORT(format.bits)), made);
}

ClientRunResult StreamClient(host::Machine &machine, const ClientRun &run)
{
    ClientRunResult result;
    PKTHREAD renderThread = nullptr;
    if (run.render != nullptr)
        renderThread = machine.StartThread("render client", machine.SystemProcess(),
                                           [&] { result.render = Render(run); });
    if (run.capture != nullptr)
        result.capture = Capture(run);
    if (renderThread != nullptr) {
        KeWaitForSingleObject(renderThread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(renderThread);
    }
    return result;
}

void SleepMs(ULONG ms)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -LONGLONG(ms) * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

void WaitUntilPlayed(const DriverSession &session, const RenderChecker &checker, ULONGLONG frames,
                     ULONG limitMs)
{
    constexpr ULONG kStepMs = 100;
    for (ULONG waited = 0; waited < limitMs; waited += kStepMs) {
        {
            auto lock = session.LockDevice();
            if (checker.FramesMatched() + checker.Mismatches() >= frames)
                return;
        }
        SleepMs(kStepMs);
    }
}

} // namespace sim
