// The audio function model on the emulated stack: a device model plugged behind the request log,
// the driver's CUSBAudioCL on top of its PDO, and helpers to look at what Initialize built. Test
// functions are made with the descriptor builder: a Class 2.0 playback path (clock 10, IT 1 ->
// FU 2 -> OT 3, render interface 1 with 24-bit stereo and explicit feedback) and its Class 1.0
// counterpart, which the tests then change one thing in.
#pragma once

#include "driver_usb/driver_usb_fixture.h"
#include "usb/usb_fault_script.h"

#include "devices/audio_class_descriptors.h"
#include "devices/raw_descriptor_model.h"
#include "devices/usb_constants.h"

#include "function/audio_streaming_interface.h"
#include "function/usb_audio_entity.h"

#include <memory>
#include <string>
#include <vector>

namespace function_tests {

namespace uac = devices::uac;
namespace usb = devices::usb;

constexpr UCHAR kClockId = 10;
constexpr UCHAR kInputTerminalId = 1;
constexpr UCHAR kFeatureUnitId = 2;
constexpr UCHAR kOutputTerminalId = 3;
constexpr ULONG kStereo = 0x3;
constexpr UCHAR kAsyncData = usb::kIsochronous | usb::kSyncAsynchronous | usb::kUsageData;
constexpr UCHAR kReadWrite = 3;

// A device made of a descriptor set, as a test changes it.
struct TestFunction {
    devices::DeviceDescriptor device;
    devices::StringTable strings;
    devices::AudioFunction function;
    std::vector<devices::Interface> otherInterfaces;
    host::UsbSpeed speed = host::UsbSpeed::High;

    devices::DescriptorSet Serialise() const
    {
        devices::Configuration configuration;
        configuration.functions = {function};
        configuration.interfaces = otherInterfaces;
        return {devices::SerialiseDevice(device), devices::SerialiseConfiguration(configuration),
                strings.Serialise()};
    }
};

inline devices::AlternateSetting Uac2Render(UCHAR subslot, UCHAR bits, UCHAR interval = 1)
{
    devices::AlternateSetting setting =
        devices::uac2::PcmSetting(kInputTerminalId, 2, kStereo, subslot, bits);
    setting.endpoints = {devices::uac2::DataEndpoint(0x01, kAsyncData, 512, interval),
                         devices::uac2::FeedbackEndpoint(0x81, 4, 4)};
    return setting;
}

inline TestFunction Uac2Function(const std::string &controlName = "Test Control")
{
    TestFunction f;
    f.device.idVendor = 0x2FC3;
    f.device.idProduct = 0xF0F0;
    f.function.control.iInterface = f.strings.Add(controlName);
    const UCHAR clockControls =
        UCHAR(devices::uac2::ControlBits(0, kReadWrite) | devices::uac2::ControlBits(1, 1));
    f.function.control.entities = {
        devices::uac2::ClockSource(kClockId, devices::uac2::kClockInternalProgrammable,
                                   clockControls),
        devices::uac2::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming, kClockId, 2,
                                     kStereo),
        devices::uac2::FeatureUnit(kFeatureUnitId, kInputTerminalId,
                                   {devices::uac2::ControlBits(0, kReadWrite),
                                    devices::uac2::ControlBits(1, kReadWrite),
                                    devices::uac2::ControlBits(1, kReadWrite)}),
        devices::uac2::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, kFeatureUnitId,
                                      kClockId),
    };
    devices::Interface render;
    render.alternates = {devices::StreamingAlternate(devices::AudioClass::Uac2), Uac2Render(4, 24)};
    f.function.streaming = {render};
    return f;
}

inline devices::AlternateSetting Uac1Render(const std::vector<ULONG> &rates = {44100, 48000})
{
    devices::AlternateSetting setting =
        devices::uac1::PcmSetting(kInputTerminalId, 2, 2, 16, rates);
    setting.endpoints = {devices::uac1::DataEndpoint(0x01, kAsyncData, 200, 0x81,
                                                     devices::uac1::kEndpointSamplingFrequency),
                         devices::uac1::SynchEndpoint(0x81, 2)};
    return setting;
}

inline TestFunction Uac1Function()
{
    TestFunction f;
    f.speed = host::UsbSpeed::Full;
    f.device.bcdUSB = 0x0110;
    f.device.deviceClass = f.device.deviceSubClass = f.device.deviceProtocol = 0;
    f.device.idVendor = 0x2FC3;
    f.device.idProduct = 0xF0F1;
    f.function.audioClass = devices::AudioClass::Uac1;
    f.function.association = false;
    f.function.control.iInterface = f.strings.Add("Test Control");
    f.function.control.entities = {
        devices::uac1::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming, 2, kStereo),
        devices::uac1::FeatureUnit(
            kFeatureUnitId, kInputTerminalId, 1,
            {devices::uac1::kMuteBit, devices::uac1::kVolumeBit, devices::uac1::kVolumeBit}),
        devices::uac1::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, kFeatureUnitId),
    };
    devices::Interface render;
    render.alternates = {devices::StreamingAlternate(devices::AudioClass::Uac1), Uac1Render()};
    f.function.streaming = {render};
    return f;
}

// A class-specific audio control descriptor from raw fields (subtype first).
inline devices::Descriptor RawEntity(std::vector<UCHAR> fields)
{
    return {uac::kCsInterface, devices::Bytes(fields.begin(), fields.end())};
}

// A device whose answers to matching device-to-host requests are cut to `keep` bytes.
class ShortReplyDevice : public host::UsbDeviceModel {
public:
    ShortReplyDevice(std::shared_ptr<host::UsbDeviceModel> inner, host::UsbControlMatch match,
                     ULONG keep)
        : inner_(std::move(inner)), match_(match), keep_(keep)
    {
    }

    host::UsbSpeed Speed() const override { return inner_->Speed(); }
    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override
    {
        host::UsbControlResult result = inner_->Control(setup, data, interval);
        if (!result.stall && (setup.bmRequestType & 0x80) != 0 && match_.Matches(setup) &&
            result.length > keep_)
            result.length = keep_;
        return result;
    }
    void IsochronousOut(UCHAR endpoint, ULONGLONG interval, const UCHAR *data,
                        ULONG length) override
    {
        inner_->IsochronousOut(endpoint, interval, data, length);
    }
    ULONG IsochronousIn(UCHAR endpoint, ULONGLONG interval, UCHAR *data, ULONG maxLength) override
    {
        return inner_->IsochronousIn(endpoint, interval, data, maxLength);
    }
    void AdvanceTo(ULONGLONG interval) override { inner_->AdvanceTo(interval); }
    void Connected(host::UsbDevicePort &port) override { inner_->Connected(port); }
    void Disconnected() override { inner_->Disconnected(); }

private:
    std::shared_ptr<host::UsbDeviceModel> inner_;
    host::UsbControlMatch match_;
    ULONG keep_;
};

class AudioFunctionTest : public driver_usb_tests::DriverUsbTest {
protected:
    // Plugs the model and builds the audio function model.
    NTSTATUS Initialize(std::shared_ptr<host::UsbDeviceModel> model)
    {
        Plug(std::move(model));
        if (audio_ == nullptr)
            return STATUS_UNSUCCESSFUL;
        return audio_->Initialize(lower_, 0);
    }
    NTSTATUS Initialize(const devices::DescriptorSet &set, host::UsbSpeed speed)
    {
        return Initialize(std::make_shared<devices::RawDescriptorModel>(speed, set));
    }
    NTSTATUS Initialize(const TestFunction &f) { return Initialize(f.Serialise(), f.speed); }

    // Initialize, then the configuration, as device start runs them.
    NTSTATUS Start(std::shared_ptr<host::UsbDeviceModel> model)
    {
        NTSTATUS status = Initialize(std::move(model));
        return NT_SUCCESS(status) ? audio_->SelectConfiguration() : status;
    }

    std::vector<CUSBAudioEntity *> Entities() const
    {
        std::vector<CUSBAudioEntity *> list;
        for (CUSBAudioEntity *e = audio_->EntityList; e != nullptr; e = e->Next)
            list.push_back(e);
        return list;
    }

    // The entities' diagnostic names in list order, e.g. "ClockSource(10) IT(1)".
    std::string EntityNames() const
    {
        std::string names;
        for (CUSBAudioEntity *e : Entities()) {
            char name[32];
            e->GetName(name, sizeof(name));
            names += (names.empty() ? "" : " ") + std::string(name);
        }
        return names;
    }

    std::vector<AudioStreamingInterface *> Streams() const
    {
        std::vector<AudioStreamingInterface *> list;
        for (AudioStreamingInterface *s = audio_->StreamingInterfaceList; s != nullptr; s = s->Next)
            list.push_back(s);
        return list;
    }

    // Class requests sent to the device from log position `from` on.
    size_t ClassRequestsSince(size_t from) const
    {
        size_t count = 0;
        for (const auto &request : log_->Since(from))
            count += (request.setup.bmRequestType & 0x60) == 0x20;
        return count;
    }
};

} // namespace function_tests
