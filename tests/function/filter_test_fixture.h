// The filter description on the emulated stack: the audio function model built from a device
// model, then CUSBAudioCL::BuildFilter into a description the fixture owns and frees before the
// machine goes. Helpers read the extended pin and node records and print the connections in a
// compact form ("pin 0>node 2 node 2>node 1 ...").
#pragma once

#include "function/audio_control_fixture.h"

#include "function/usb_audio_data_ranges.h"
#include "function/usb_audio_filter.h"

#include <string>

namespace function_tests {

class FilterTest : public AudioFunctionTest {
protected:
    void TearDown() override
    {
        FreeFilterDescription(&filter_);
        AudioFunctionTest::TearDown();
    }

    // Device start up to the filter description, as the adapter runs it: Initialize and
    // SelectConfiguration must succeed; the status is BuildFilter's.
    NTSTATUS Build(std::shared_ptr<host::UsbDeviceModel> model)
    {
        NTSTATUS status = Start(std::move(model));
        EXPECT_EQ(STATUS_SUCCESS, status);
        return NT_SUCCESS(status) ? audio_->BuildFilter(&filter_) : status;
    }
    NTSTATUS Build(const TestFunction &f)
    {
        return Build(std::make_shared<devices::RawDescriptorModel>(f.speed, f.Serialise()));
    }

    const UsbAudioPinDescriptor &Pin(ULONG id) const
    {
        return reinterpret_cast<const UsbAudioPinDescriptor *>(filter_.Pins)[id];
    }
    const KSPIN_DESCRIPTOR &KsPin(ULONG id) const { return Pin(id).PcPin.KsPinDescriptor; }
    const UsbAudioNodeDescriptor &Node(ULONG id) const
    {
        return reinterpret_cast<const UsbAudioNodeDescriptor *>(filter_.Nodes)[id];
    }
    GUID NodeType(ULONG id) const { return *Node(id).PcNode.Type; }
    UCHAR NodeEntityId(ULONG id) const { return Node(id).Element.Entity->GetId(); }

    static std::string End(ULONG node, ULONG nodePin)
    {
        return node == PCFILTER_NODE ? "pin " + std::to_string(nodePin)
                                     : "node " + std::to_string(node);
    }

    // Every connection as "from>to", separated by blanks; node pins are checked on the way
    // (a node is left through pin 0 and entered through pin 1).
    std::string Connections() const
    {
        std::string text;
        for (ULONG i = 0; i < filter_.ConnectionCount; ++i) {
            const PCCONNECTION_DESCRIPTOR &c = filter_.Connections[i];
            if (c.FromNode != PCFILTER_NODE) {
                EXPECT_EQ(0u, c.FromNodePin) << "connection " << i;
            }
            if (c.ToNode != PCFILTER_NODE) {
                EXPECT_EQ(1u, c.ToNodePin) << "connection " << i;
            }
            text += (text.empty() ? "" : " ") + End(c.FromNode, c.FromNodePin) + ">" +
                    End(c.ToNode, c.ToNodePin);
        }
        return text;
    }

    PCFILTER_DESCRIPTOR filter_ = {};
};

// Class 2.0 entities of a capture path: a terminal of the given type (IT 4) -> feature unit 5
// (master volume) -> USB streaming OT 6, all on clock 10.
inline std::vector<devices::Descriptor> Uac2CapturePath(USHORT inputType)
{
    return {
        devices::uac2::InputTerminal(4, inputType, kClockId, 2, kStereo),
        devices::uac2::FeatureUnit(5, 4, {devices::uac2::ControlBits(1, kReadWrite), 0, 0}),
        devices::uac2::OutputTerminal(6, uac::kTerminalUsbStreaming, 5, kClockId),
    };
}

// Capture streaming interface for USB streaming OT 6: 24-bit stereo on IN endpoint 0x82.
inline devices::Interface Uac2CaptureInterface()
{
    devices::AlternateSetting setting = devices::uac2::PcmSetting(6, 2, kStereo, 4, 24);
    setting.endpoints = {devices::uac2::DataEndpoint(0x82, kAsyncData, 512, 1)};
    devices::Interface capture;
    capture.alternates = {devices::StreamingAlternate(devices::AudioClass::Uac2), setting};
    return capture;
}

} // namespace function_tests
