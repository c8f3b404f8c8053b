// The further devices: each one's descriptors walk as the device's declaration says, and its
// behaviour differs from the RV-D3's where it is meant to (full-speed feedback, Class 1.0
// requests and synch endpoint, implicit feedback, clock selection, vendor-class framing, a
// configured vendor interface).
#include "device_requests.h"

#include "devices/test_devices.h"
#include "devices/usb_constants.h"

namespace {

using namespace devices;
using namespace device_tests;

USHORT Vendor(StreamingAudioDeviceModel &m)
{
    return static_cast<USHORT>(ReadLe(m.Descriptors().device, 8, 2));
}
USHORT Product(StreamingAudioDeviceModel &m)
{
    return static_cast<USHORT>(ReadLe(m.Descriptors().device, 10, 2));
}

TEST(FullSpeedUac2Device, IsFullSpeedWithAThreeByteFeedbackEndpoint)
{
    auto model = MakeFullSpeedUac2Device();
    EXPECT_EQ(host::UsbSpeed::Full, model->Speed());
    EXPECT_EQ(fullspeed_uac2::kProductId, Product(*model));
    const Bytes &configuration = model->Descriptors().configuration;
    WalkAll(configuration);
    const auto alt2 = SettingDescriptors(configuration, fullspeed_uac2::kRenderInterface, 2);
    ASSERT_EQ(6u, alt2.size());
    EXPECT_EQ(3u, alt2[2].Byte(4)) << "3-byte subslot";
    EXPECT_EQ(97u * 2 * 3, alt2[3].Word(4)) << "96 kHz at 1 ms plus one frame";
    EXPECT_EQ(fullspeed_uac2::kFeedbackEndpoint, alt2[5].Byte(2));
    EXPECT_EQ(3u, alt2[5].Word(4));
    EXPECT_EQ(1u, alt2[5].Byte(6));
}

TEST(FullSpeedUac2Device, FeedbackIsFramesPerMillisecondIn10_14)
{
    StreamingOptions options;
    options.clockOffsetPpm = 100;
    auto model = MakeFullSpeedUac2Device(options);
    ASSERT_TRUE(Configure(*model));
    ASSERT_TRUE(SetCur(*model, fullspeed_uac2::kClockSourceId, 1, 0, Le(44100, 4)));
    ASSERT_TRUE(SelectAlternate(*model, fullspeed_uac2::kRenderInterface, 1));
    // Fill the FIFO to its target (2 ms = 88 frames) so no correction applies.
    const Bytes frames(88 * 4, 0);
    model->IsochronousOut(fullspeed_uac2::kRenderEndpoint, 0, frames.data(), 88 * 4);
    UCHAR packet[4] = {};
    ASSERT_EQ(3u, model->IsochronousIn(fullspeed_uac2::kFeedbackEndpoint, 0, packet, 4));
    const ULONG value = packet[0] | packet[1] << 8 | packet[2] << 16;
    EXPECT_EQ(static_cast<ULONG>(44.1 * 1.0001 * 16384), value) << "44.1044 frames, 10.14";
    EXPECT_EQ(model->FeedbackValue() >> 2, value);
}

TEST(Uac1SynchEndpointDevice, DataEndpointNamesItsSynchEndpoint)
{
    auto model = MakeUac1SynchEndpointDevice();
    const Bytes &configuration = model->Descriptors().configuration;
    const auto views = WalkAll(configuration);
    EXPECT_EQ(usb::kInterfaceDescriptor, views[1].type) << "no interface association";
    EXPECT_EQ(0u, model->Descriptors().device[4]) << "class defined by the interfaces";
    EXPECT_FALSE(model->Layout().audioClass2);
    for (UCHAR alt = 1; alt <= 2; ++alt) {
        const auto s = SettingDescriptors(configuration, uac1_synch::kRenderInterface, alt);
        ASSERT_EQ(6u, s.size());
        EXPECT_EQ(2u, s[2].Byte(4)) << "bNrChannels";
        EXPECT_EQ(alt == 1 ? 2u : 3u, s[2].Byte(5)) << "bSubframeSize";
        EXPECT_EQ(2u, s[2].Byte(7)) << "two rates";
        EXPECT_EQ(9u, s[3].length);
        EXPECT_EQ(0x05u, s[3].Byte(3));
        EXPECT_EQ(uac1_synch::kSynchEndpoint, s[3].Byte(8)) << "bSynchAddress";
        EXPECT_EQ(0x25u, s[4].type);
        EXPECT_EQ(0x01u, s[4].Byte(3)) << "sampling frequency control";
        EXPECT_EQ(9u, s[5].length);
        EXPECT_EQ(uac1_synch::kSynchEndpoint, s[5].Byte(2));
        EXPECT_EQ(0x01u, s[5].Byte(3)) << "isochronous, no synchronisation type";
        EXPECT_EQ(3u, s[5].Word(4));
        EXPECT_EQ(uac1_synch::kRefresh, s[5].Byte(7)) << "bRefresh";
    }
}

TEST(Uac1SynchEndpointDevice, EndpointSamplingFrequencyUsesThreeBytes)
{
    auto model = MakeUac1SynchEndpointDevice();
    ASSERT_TRUE(Configure(*model));
    EXPECT_TRUE(In(*model, 0xA2, 0x81, 0x0100, uac1_synch::kRenderEndpoint, 3).stall)
        << "the endpoint is not active in setting 0";
    ASSERT_TRUE(SelectAlternate(*model, uac1_synch::kRenderInterface, 1));
    EXPECT_EQ(Le(48000, 3), In(*model, 0xA2, 0x81, 0x0100, uac1_synch::kRenderEndpoint, 3).data);
    EXPECT_TRUE(Out(*model, 0x22, 0x01, 0x0100, uac1_synch::kRenderEndpoint, Le(44100, 3)));
    EXPECT_EQ(44100u, model->SampleRate());
    EXPECT_EQ(Le(44100, 3), In(*model, 0xA2, 0x81, 0x0100, uac1_synch::kRenderEndpoint, 3).data);
    EXPECT_FALSE(Out(*model, 0x22, 0x01, 0x0100, uac1_synch::kRenderEndpoint, Le(96000, 3)));
    EXPECT_FALSE(Out(*model, 0x22, 0x01, 0x0100, uac1_synch::kRenderEndpoint, Le(44100, 4)));
    EXPECT_EQ(Le(44100, 3), In(*model, 0xA2, 0x82, 0x0100, uac1_synch::kRenderEndpoint, 3).data)
        << "GET_MIN";
    EXPECT_TRUE(In(*model, 0xA2, 0x02, 0x0100, uac1_synch::kRenderEndpoint, 14).stall)
        << "no RANGE request in Class 1.0";
}

TEST(Uac1SynchEndpointDevice, FeatureUnitAnswersClass1Requests)
{
    auto model = MakeUac1SynchEndpointDevice();
    ASSERT_TRUE(Configure(*model));
    const USHORT unit = uac1_synch::kFeatureUnitId << 8;
    EXPECT_EQ((Bytes{0}), In(*model, 0xA1, 0x81, 0x0100, unit, 1).data) << "GET_CUR mute";
    EXPECT_TRUE(In(*model, 0xA1, 0x82, 0x0100, unit, 1).stall) << "mute has no GET_MIN";
    EXPECT_EQ(Le(0xC000, 2), In(*model, 0xA1, 0x82, 0x0201, unit, 2).data) << "GET_MIN -64 dB";
    EXPECT_EQ(Le(0, 2), In(*model, 0xA1, 0x83, 0x0201, unit, 2).data) << "GET_MAX";
    EXPECT_EQ(Le(0x0100, 2), In(*model, 0xA1, 0x84, 0x0201, unit, 2).data) << "GET_RES";
    EXPECT_TRUE(Out(*model, 0x21, 0x01, 0x0202, unit, Le(0xF600, 2)));
    EXPECT_EQ(Le(0xF600, 2), In(*model, 0xA1, 0x81, 0x0202, unit, 2).data);
    EXPECT_TRUE(In(*model, 0xA1, 0x02, 0x0202, unit, 8).stall) << "Class 2.0 RANGE is unknown";
}

TEST(Uac1SynchEndpointDevice, SynchEndpointReports10_14)
{
    auto model = MakeUac1SynchEndpointDevice();
    ASSERT_TRUE(Configure(*model));
    ASSERT_TRUE(SelectAlternate(*model, uac1_synch::kRenderInterface, 2));
    const Bytes frames(96 * 6, 0); // the 2 ms target at 48 kHz
    model->IsochronousOut(uac1_synch::kRenderEndpoint, 0, frames.data(), 96 * 6);
    UCHAR packet[3];
    ASSERT_EQ(3u, model->IsochronousIn(uac1_synch::kSynchEndpoint, 0, packet, 3));
    EXPECT_EQ((Bytes{0x00, 0x00, 0x0C}), Bytes(packet, packet + 3)) << "48.0 in 10.14";
}

TEST(ImplicitFeedbackDevice, CaptureEndpointIsTheImplicitFeedbackSource)
{
    auto model = MakeImplicitFeedbackDevice();
    const Bytes &configuration = model->Descriptors().configuration;
    WalkAll(configuration);
    const auto render = SettingDescriptors(configuration, implicit_feedback::kRenderInterface, 1);
    ASSERT_EQ(5u, render.size());
    EXPECT_EQ(1u, render[0].Byte(4)) << "one endpoint: no feedback endpoint";
    EXPECT_EQ(0x05u, render[3].Byte(3));
    const auto capture = SettingDescriptors(configuration, implicit_feedback::kCaptureInterface, 1);
    ASSERT_EQ(5u, capture.size());
    EXPECT_EQ(implicit_feedback::kCaptureEndpoint, capture[3].Byte(2));
    EXPECT_EQ(0x25u, capture[3].Byte(3)) << "asynchronous, implicit feedback data";
    EXPECT_EQ(5u, capture[1].Byte(3)) << "linked to the USB streaming output terminal";
}

TEST(ImplicitFeedbackDevice, RenderFollowingCapturePacketSizesNeitherStarvesNorOverflows)
{
    StreamingOptions options;
    options.clockOffsetPpm = 80;
    auto model = MakeImplicitFeedbackDevice(options);
    ASSERT_TRUE(Configure(*model));
    ASSERT_TRUE(SetCur(*model, implicit_feedback::kClockSourceId, 1, 0, Le(44100, 4)));
    ASSERT_TRUE(SelectAlternate(*model, implicit_feedback::kRenderInterface, 1));
    ASSERT_TRUE(SelectAlternate(*model, implicit_feedback::kCaptureInterface, 1));
    // The host primes the render FIFO with its 2 ms target, then mirrors every capture packet.
    Bytes packet(88 * 8, 0);
    model->IsochronousOut(implicit_feedback::kRenderEndpoint, 0, packet.data(), 88 * 8);
    for (ULONGLONG i = 1; i < 8000 * 20; ++i) {
        model->AdvanceTo(i);
        const ULONG length =
            model->IsochronousIn(implicit_feedback::kCaptureEndpoint, i, packet.data(), 200);
        model->IsochronousOut(implicit_feedback::kRenderEndpoint, i, packet.data(), length);
    }
    EXPECT_EQ(0u, model->Render().underruns);
    EXPECT_EQ(0u, model->Render().overruns);
    EXPECT_LE(model->Render().fifoPeak, 88u + 6);
    EXPECT_GE(model->Render().fifoLow, 88u - 6);
    EXPECT_EQ(model->Capture().framesDelivered, model->Render().framesReceived - 88);
}

TEST(ClockSelectorDevice, SelectorPicksTheClockTheDeviceRunsAt)
{
    auto model = MakeClockSelectorDevice();
    const auto control = SettingDescriptors(model->Descriptors().configuration, 0, 0);
    ASSERT_GE(control.size(), 5u);
    EXPECT_EQ(uac::kClockSelector, control[4].Subtype());
    EXPECT_EQ(clock_selector::kSelectorId, control[4].Byte(3));
    EXPECT_EQ(2u, control[4].Byte(4)) << "two input pins";
    EXPECT_EQ(clock_selector::kSource44kId, control[4].Byte(5));
    EXPECT_EQ(clock_selector::kSource48kId, control[4].Byte(6));
    EXPECT_EQ(clock_selector::kSelectorId, control[5].Byte(7)) << "the terminal's clock";

    ASSERT_TRUE(Configure(*model));
    using namespace clock_selector;
    EXPECT_EQ((Bytes{2}), GetCur(*model, kSelectorId, 1, 0, 1).data);
    EXPECT_EQ(48000u, model->SampleRate());
    EXPECT_TRUE(SetCur(*model, kSource44kId, 1, 0, Le(88200, 4))) << "not selected: no effect";
    EXPECT_EQ(48000u, model->SampleRate());
    EXPECT_TRUE(SetCur(*model, kSelectorId, 1, 0, {1}));
    EXPECT_EQ(88200u, model->SampleRate());
    EXPECT_TRUE(SetCur(*model, kSource44kId, 1, 0, Le(176400, 4)));
    EXPECT_EQ(176400u, model->SampleRate());
    EXPECT_FALSE(SetCur(*model, kSelectorId, 1, 0, {3})) << "no pin 3";
    EXPECT_FALSE(SetCur(*model, kSelectorId, 1, 0, {0}));
    EXPECT_FALSE(SetCur(*model, kSource48kId, 1, 0, Le(44100, 4))) << "not that source's rate";
    EXPECT_TRUE(GetRange(*model, kSelectorId, 1, 0, 14).stall) << "a selector has no RANGE";
    const Reply range = GetRange(*model, kSource48kId, 1, 0, 64);
    EXPECT_EQ(3u, ReadLe(range.data, 0, 2));
    EXPECT_EQ(192000u, ReadLe(range.data, 2 + 24, 4));
}

TEST(LengthPrefixedQuirkDevice, HidesItsFunctionBehindTheVendorClass)
{
    auto model = MakeLengthPrefixedQuirkDevice();
    EXPECT_EQ(0x1686u, Vendor(*model));
    EXPECT_EQ(0x00DDu, Product(*model));
    EXPECT_EQ(host::UsbSpeed::Full, model->Speed());
    const Bytes &configuration = model->Descriptors().configuration;
    const auto views = WalkAll(configuration);
    EXPECT_EQ(0xFFu, views[1].Byte(4)) << "the association names the vendor class too";
    for (const DescriptorView &v : views) {
        if (v.type == usb::kInterfaceDescriptor) {
            EXPECT_EQ(0xFFu, v.Byte(5)) << "interface " << int(v.Byte(2));
        }
    }
    ASSERT_TRUE(model->Layout().audioControlInterface.has_value());
    const auto alt1 = SettingDescriptors(configuration, length_prefixed_quirk::kRenderInterface, 1);
    EXPECT_EQ(0x09u, alt1[3].Byte(3)) << "adaptive";
    EXPECT_EQ(49u * 4 + 4, alt1[3].Word(4)) << "frames plus the length";
}

TEST(LengthPrefixedQuirkDevice, TakesFramesAfterTheirLengthAndRejectsAWrongOne)
{
    auto model = MakeLengthPrefixedQuirkDevice();
    RecordingSink sink;
    model->AttachSink(&sink);
    ASSERT_TRUE(Configure(*model));
    ASSERT_TRUE(SelectAlternate(*model, length_prefixed_quirk::kRenderInterface, 1));
    Bytes packet = Le(192, 4);
    for (int i = 0; i < 192; ++i)
        packet.push_back(static_cast<UCHAR>(i));
    model->IsochronousOut(length_prefixed_quirk::kRenderEndpoint, 0, packet.data(), 196);
    EXPECT_EQ(48u, model->RenderFifoLevel());
    packet[0] = 191;
    model->IsochronousOut(length_prefixed_quirk::kRenderEndpoint, 1, packet.data(), 196);
    EXPECT_EQ(1u, model->Render().malformedPackets);
    model->IsochronousOut(length_prefixed_quirk::kRenderEndpoint, 1, packet.data(), 3);
    EXPECT_EQ(2u, model->Render().malformedPackets);
    packet[0] = 192;
    model->IsochronousOut(length_prefixed_quirk::kRenderEndpoint, 1, packet.data(), 196);
    model->AdvanceTo(3);
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 4 + 96 * 4 / 2),
              Bytes(sink.PlayedBytes().begin(), sink.PlayedBytes().begin() + 192));
    EXPECT_EQ(96u, model->Render().framesPlayed) << "two frames of 1 ms at 48 kHz";
}

TEST(VendorInterfaceQuirkDevice, CarriesAVendorInterfaceWithAnInterruptEndpoint)
{
    auto model = MakeVendorInterfaceQuirkDevice();
    EXPECT_EQ(0x20B1u, Vendor(*model));
    EXPECT_EQ(0x0002u, Product(*model));
    const Bytes &configuration = model->Descriptors().configuration;
    WalkAll(configuration);
    EXPECT_EQ(3u, configuration[4]) << "bNumInterfaces";
    const auto vendor =
        SettingDescriptors(configuration, vendor_interface_quirk::kVendorInterface, 0);
    ASSERT_EQ(2u, vendor.size());
    EXPECT_EQ(0xFFu, vendor[0].Byte(5));
    EXPECT_EQ(vendor_interface_quirk::kInterruptEndpoint, vendor[1].Byte(2));
    EXPECT_EQ(0x03u, vendor[1].Byte(3)) << "interrupt";

    UCHAR buffer[8];
    EXPECT_EQ(
        host::UsbBulkResult::Kind::Stall,
        model->BulkOrInterruptIn(vendor_interface_quirk::kInterruptEndpoint, 0, buffer, 8).kind)
        << "not configured";
    ASSERT_TRUE(Configure(*model));
    EXPECT_EQ(
        host::UsbBulkResult::Kind::Nak,
        model->BulkOrInterruptIn(vendor_interface_quirk::kInterruptEndpoint, 0, buffer, 8).kind);
    EXPECT_EQ(host::UsbBulkResult::Kind::Stall, model->BulkOrInterruptIn(0x84, 0, buffer, 8).kind);
}

} // namespace
