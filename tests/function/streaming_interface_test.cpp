// Streaming-interface enumeration and the description of every alternate setting: data and
// feedback endpoint classification per class version, the usable-interval limits, the
// class-specific descriptors, terminal links and the render/capture choice.
#include "audio_control_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/descriptor_walker.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/usb_audio_terminal.h"

namespace function_tests {
namespace {

class StreamingInterfaceTest : public AudioFunctionTest {
protected:
    const AlternateSettingInfo &Setting(AudioStreamingInterface *stream, ULONG index)
    {
        static const AlternateSettingInfo none{};
        if (stream == nullptr || index >= stream->AlternateSettingCount) {
            ADD_FAILURE() << "no alternate setting " << index;
            return none;
        }
        return stream->AlternateSettings[index];
    }
    static UCHAR Address(const USB_ENDPOINT_DESCRIPTOR *endpoint)
    {
        return endpoint != nullptr ? endpoint->bEndpointAddress : 0;
    }
    // A Class 2.0 test function at the given speed whose render setting has these endpoints.
    static TestFunction WithEndpoints(host::UsbSpeed speed,
                                      std::vector<devices::EndpointDescriptor> endpoints)
    {
        TestFunction f = Uac2Function();
        f.speed = speed;
        f.function.streaming[0].alternates[1].endpoints = std::move(endpoints);
        return f;
    }
    bool InsideConfiguration(const void *p) const
    {
        auto begin = reinterpret_cast<const UCHAR *>(audio_->ConfigurationDescriptor);
        auto at = static_cast<const UCHAR *>(p);
        return at >= begin && at < begin + audio_->ConfigurationDescriptor->wTotalLength;
    }
};

TEST_F(StreamingInterfaceTest, Rvd3HasARenderAndACaptureInterface)
{
    using namespace devices::rvd3;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    ASSERT_EQ(2u, audio_->StreamingInterfaceCount);
    auto streams = Streams();
    ASSERT_EQ(2u, streams.size());

    EXPECT_EQ(kRenderInterface, streams[0]->InterfaceNumber);
    EXPECT_FALSE(streams[0]->IsInput);
    EXPECT_EQ(4u, streams[0]->AlternateSettingCount);
    EXPECT_EQ(kCaptureInterface, streams[1]->InterfaceNumber);
    EXPECT_TRUE(streams[1]->IsInput);
    EXPECT_EQ(2u, streams[1]->AlternateSettingCount);

    EXPECT_EQ(streams[0], audio_->RenderInterface);
    EXPECT_EQ(streams[1], audio_->CaptureInterface);
    for (AudioStreamingInterface *stream : streams) {
        EXPECT_EQ(0u, stream->CurrentAlternateSetting);
        EXPECT_EQ(0u, stream->VendorRequestValue);
    }
}

TEST_F(StreamingInterfaceTest, StreamsLinkToTheTerminalsTheirSettingsName)
{
    using namespace devices::rvd3;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    EXPECT_EQ(audio_->FindEntity(kUsbInputTerminalId), audio_->RenderInterface->Terminal);
    EXPECT_EQ(audio_->FindEntity(kUsbOutputTerminalId), audio_->CaptureInterface->Terminal);
    EXPECT_NE(nullptr, audio_->RenderInterface->Terminal->GetClockEntity());
}

TEST_F(StreamingInterfaceTest, Rvd3AlternateSettingsPointAtTheirDescriptors)
{
    using namespace devices::rvd3;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    AudioStreamingInterface *render = audio_->RenderInterface;

    const AlternateSettingInfo &idle = Setting(render, 0);
    ASSERT_NE(nullptr, idle.InterfaceDescriptor);
    EXPECT_EQ(0, idle.InterfaceDescriptor->bAlternateSetting);
    EXPECT_EQ(nullptr, idle.DataEndpoint);
    EXPECT_EQ(nullptr, idle.FeedbackEndpoint);
    EXPECT_EQ(nullptr, idle.AsGeneral);
    EXPECT_EQ(nullptr, idle.FormatType);
    EXPECT_EQ(nullptr, idle.EpGeneral);

    const UCHAR subslots[] = {0, 2, 4, 4};
    const UCHAR bits[] = {0, 16, 24, 32};
    for (ULONG i = 1; i < render->AlternateSettingCount; ++i) {
        SCOPED_TRACE(i);
        const AlternateSettingInfo &setting = Setting(render, i);
        EXPECT_EQ(i, setting.InterfaceDescriptor->bAlternateSetting);
        EXPECT_EQ(kRenderEndpoint, Address(setting.DataEndpoint));
        EXPECT_EQ(kFeedbackEndpoint, Address(setting.FeedbackEndpoint));
        ASSERT_NE(nullptr, setting.AsGeneral);
        ASSERT_NE(nullptr, setting.FormatType);
        ASSERT_NE(nullptr, setting.EpGeneral);
        EXPECT_TRUE(InsideConfiguration(setting.AsGeneral));
        EXPECT_EQ(uac::kAsGeneral, setting.AsGeneral[2]);
        EXPECT_EQ(kUsbInputTerminalId, setting.AsGeneral[3]);
        EXPECT_EQ(kChannels, setting.AsGeneral[10]);
        EXPECT_EQ(uac::kFormatType, setting.FormatType[2]);
        EXPECT_EQ(subslots[i], setting.FormatType[4]);
        EXPECT_EQ(bits[i], setting.FormatType[5]);
        EXPECT_EQ(uac::kCsEndpoint, setting.EpGeneral[1]);
        EXPECT_EQ(uac::kEpGeneral, setting.EpGeneral[2]);
    }

    const AlternateSettingInfo &capture = Setting(audio_->CaptureInterface, kCaptureAlternate);
    EXPECT_EQ(kCaptureEndpoint, Address(capture.DataEndpoint));
    EXPECT_EQ(nullptr, capture.FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, Class1SynchEndpointNamedByTheDataEndpointIsTheFeedback)
{
    using namespace devices::uac1_synch;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(devices::MakeUac1SynchEndpointDevice()));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(kRenderEndpoint, Address(setting.DataEndpoint));
    EXPECT_EQ(kSynchEndpoint, Address(setting.FeedbackEndpoint));
    ASSERT_NE(nullptr, setting.EpGeneral);
    EXPECT_EQ(devices::uac1::kEndpointSamplingFrequency, setting.EpGeneral[3] & 1);
}

TEST_F(StreamingInterfaceTest, Class1DataEndpointWithoutSynchAddressHasNoFeedback)
{
    // A 7-byte data endpoint cannot name a synch endpoint.
    TestFunction f = Uac1Function();
    devices::EndpointDescriptor &data = f.function.streaming[0].alternates[1].endpoints[0];
    data.audioClass1 = false;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(0x01, Address(setting.DataEndpoint));
    EXPECT_EQ(nullptr, setting.FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, Class1SynchEndpointMustHaveNoSynchronisationType)
{
    TestFunction f = Uac1Function();
    f.function.streaming[0].alternates[1].endpoints[1].attributes |= usb::kSyncAsynchronous;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(nullptr, Setting(audio_->RenderInterface, 1).FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, Class1SynchAddressNamingOtherEndpointGivesNoFeedback)
{
    TestFunction f = Uac1Function();
    f.function.streaming[0].alternates[1].endpoints[0].synchAddress = 0x82;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(nullptr, Setting(audio_->RenderInterface, 1).FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, Class1DataEndpointNamingItselfIsNotItsOwnFeedback)
{
    TestFunction f = Uac1Function();
    devices::EndpointDescriptor &data = f.function.streaming[0].alternates[1].endpoints[0];
    data.synchAddress = data.address;
    data.attributes = usb::kIsochronous; // no synchronisation type
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(0x01, Address(setting.DataEndpoint));
    EXPECT_EQ(nullptr, setting.FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, ImplicitFeedbackDataEndpointIsTheCaptureDataEndpoint)
{
    using namespace devices::implicit_feedback;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(devices::MakeImplicitFeedbackDevice()));
    ASSERT_NE(nullptr, audio_->CaptureInterface);
    const AlternateSettingInfo &capture = Setting(audio_->CaptureInterface, 1);
    EXPECT_EQ(kCaptureEndpoint, Address(capture.DataEndpoint));
    EXPECT_EQ(usb::kUsageImplicitFeedbackData,
              capture.DataEndpoint->bmAttributes & usb::kUsageMask);
    const AlternateSettingInfo &render = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(kRenderEndpoint, Address(render.DataEndpoint));
    EXPECT_EQ(nullptr, render.FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, FullSpeedIgnoresIsochronousEndpointsWithInterval16)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Initialize(WithEndpoints(host::UsbSpeed::Full,
                                       {devices::uac2::DataEndpoint(0x01, kAsyncData, 200, 16),
                                        devices::uac2::FeedbackEndpoint(0x81, 3, 16)})));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    // The setting is still described and counted.
    EXPECT_EQ(2u, audio_->RenderInterface->AlternateSettingCount);
    EXPECT_EQ(nullptr, setting.DataEndpoint);
    EXPECT_EQ(nullptr, setting.FeedbackEndpoint);
    EXPECT_NE(nullptr, setting.AsGeneral);
    EXPECT_EQ(nullptr, setting.EpGeneral);
}

TEST_F(StreamingInterfaceTest, FullSpeedUsesIsochronousEndpointsWithInterval15)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Initialize(WithEndpoints(host::UsbSpeed::Full,
                                       {devices::uac2::DataEndpoint(0x01, kAsyncData, 200, 15),
                                        devices::uac2::FeedbackEndpoint(0x81, 3, 15)})));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(0x01, Address(setting.DataEndpoint));
    EXPECT_EQ(0x81, Address(setting.FeedbackEndpoint));
}

TEST_F(StreamingInterfaceTest, HighSpeedLimitIsInterval5)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Initialize(WithEndpoints(host::UsbSpeed::High,
                                       {devices::uac2::DataEndpoint(0x01, kAsyncData, 512, 5),
                                        devices::uac2::DataEndpoint(0x02, kAsyncData, 512, 4),
                                        devices::uac2::FeedbackEndpoint(0x81, 4, 5),
                                        devices::uac2::FeedbackEndpoint(0x83, 4, 4)})));
    const AlternateSettingInfo &setting = Setting(audio_->RenderInterface, 1);
    EXPECT_EQ(0x02, Address(setting.DataEndpoint));
    EXPECT_EQ(0x83, Address(setting.FeedbackEndpoint));
}

TEST_F(StreamingInterfaceTest, FirstFeedbackEndpointIsTakenWhereverItStands)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Initialize(WithEndpoints(host::UsbSpeed::High,
                                       {devices::uac2::FeedbackEndpoint(0x81, 4, 4),
                                        devices::uac2::DataEndpoint(0x01, kAsyncData, 512, 1)})));
    const AlternateSettingInfo &setting = Setting(Streams()[0], 1);
    EXPECT_EQ(0x01, Address(setting.DataEndpoint));
    EXPECT_EQ(0x81, Address(setting.FeedbackEndpoint));
    // The direction is the first endpoint's.
    EXPECT_TRUE(Streams()[0]->IsInput);
}

TEST_F(StreamingInterfaceTest, DirectionComesFromTheFirstEndpointOfAlternateSetting1)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Initialize(WithEndpoints(host::UsbSpeed::High,
                                       {devices::uac2::DataEndpoint(0x82, kAsyncData, 512, 1)})));
    EXPECT_TRUE(Streams()[0]->IsInput);
    EXPECT_EQ(nullptr, audio_->RenderInterface);
    EXPECT_EQ(Streams()[0], audio_->CaptureInterface);
}

TEST_F(StreamingInterfaceTest, EndpointsBeyondBNumEndpointsAreNotRead)
{
    // bNumEndpoints 1: the feedback endpoint descriptor that follows belongs to no setting.
    TestFunction f = Uac2Function();
    devices::DescriptorSet set = f.Serialise();
    for (const devices::DescriptorView &view : devices::WalkDescriptors(set.configuration)) {
        if (view.type == usb::kInterfaceDescriptor && view.Byte(2) == 1 && view.Byte(3) == 1)
            set.configuration[view.offset + 4] = 1;
    }
    ASSERT_EQ(STATUS_SUCCESS, Initialize(set, host::UsbSpeed::High));
    EXPECT_EQ(0x01, Address(Setting(audio_->RenderInterface, 1).DataEndpoint));
    EXPECT_EQ(nullptr, Setting(audio_->RenderInterface, 1).FeedbackEndpoint);
}

TEST_F(StreamingInterfaceTest, AlternateSettingsAfterAGapAreNotCounted)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(devices::MakeDescriptorVariant(
                                             devices::DescriptorVariant::AlternateSettingGap),
                                         host::UsbSpeed::High));
    EXPECT_EQ(2u, audio_->RenderInterface->AlternateSettingCount);
}

TEST_F(StreamingInterfaceTest, VendorClassAlternateSettingEndsTheCount)
{
    TestFunction f = Uac2Function();
    devices::AlternateSetting vendor = Uac2Render(4, 32);
    vendor.interfaceClass = 0xFF;
    f.function.streaming[0].alternates.push_back(vendor);
    f.function.streaming[0].alternates.push_back(Uac2Render(4, 32));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(2u, audio_->RenderInterface->AlternateSettingCount);
}

TEST_F(StreamingInterfaceTest, InterfaceWithoutAlternateSetting1RefusesTheFunction)
{
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Initialize(devices::MakeDescriptorVariant(
                             devices::DescriptorVariant::StreamingWithoutAlternate1),
                         host::UsbSpeed::High));
    EXPECT_EQ(0u, audio_->StreamingInterfaceCount);
}

TEST_F(StreamingInterfaceTest, AlternateSetting1WithoutEndpointsRefusesTheFunction)
{
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(WithEndpoints(host::UsbSpeed::High, {})));
}

TEST_F(StreamingInterfaceTest, FailedDescriptionKeepsTheInterfacesBefore)
{
    // Interface 2 (capture) has no alternate setting 1.
    TestFunction f = Uac2Function();
    devices::Interface broken;
    broken.alternates = {devices::StreamingAlternate(devices::AudioClass::Uac2)};
    f.function.streaming.push_back(broken);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
    ASSERT_EQ(1u, audio_->StreamingInterfaceCount);
    EXPECT_EQ(1, Streams()[0]->InterfaceNumber);
}

TEST_F(StreamingInterfaceTest, InterfacesMustFollowTheControlInterfaceWithoutGaps)
{
    // Interface 2 is renumbered 3: it is not found, and enumeration ends after interface 1.
    TestFunction f = Uac2Function();
    devices::Interface capture;
    devices::AlternateSetting in = Uac2Render(4, 24);
    in.endpoints = {devices::uac2::DataEndpoint(0x82, kAsyncData, 512, 1)};
    capture.alternates = {devices::StreamingAlternate(devices::AudioClass::Uac2), in};
    f.function.streaming.push_back(capture);
    devices::DescriptorSet set = f.Serialise();
    for (const devices::DescriptorView &view : devices::WalkDescriptors(set.configuration)) {
        if (view.type == usb::kInterfaceDescriptor && view.Byte(2) == 2)
            set.configuration[view.offset + 2] = 3;
    }
    ASSERT_EQ(STATUS_SUCCESS, Initialize(set, host::UsbSpeed::High));
    EXPECT_EQ(1u, audio_->StreamingInterfaceCount);
    EXPECT_EQ(nullptr, audio_->CaptureInterface);
}

TEST_F(StreamingInterfaceTest, FirstInterfaceOfEachDirectionIsChosen)
{
    TestFunction f = Uac2Function();
    f.function.streaming.push_back(f.function.streaming[0]); // a second render interface
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    ASSERT_EQ(2u, audio_->StreamingInterfaceCount);
    EXPECT_EQ(Streams()[0], audio_->RenderInterface);
    EXPECT_EQ(nullptr, audio_->CaptureInterface);
}

TEST_F(StreamingInterfaceTest, MissingAsGeneralInAlternateSetting1RefusesTheFunction)
{
    TestFunction f = Uac2Function();
    auto &cs = f.function.streaming[0].alternates[1].classSpecific;
    cs.erase(cs.begin());
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(StreamingInterfaceTest, TerminalLinkNamingNoEntityRefusesTheFunction)
{
    TestFunction f = Uac2Function();
    f.function.streaming[0].alternates[1].classSpecific[0] =
        devices::uac2::AsGeneral(77, uac::kFormatTypeI, uac::kUac2FormatPcm, 2, kStereo);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(StreamingInterfaceTest, TerminalLinkMustNameATerminal)
{
    // bTerminalLink names the feature unit, which has no clock for the stream.
    TestFunction f = Uac2Function();
    f.function.streaming[0].alternates[1].classSpecific[0] = devices::uac2::AsGeneral(
        kFeatureUnitId, uac::kFormatTypeI, uac::kUac2FormatPcm, 2, kStereo);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(StreamingInterfaceTest, FunctionWithoutStreamingInterfacesStarts)
{
    TestFunction f = Uac2Function();
    f.function.streaming.clear();
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(0u, audio_->StreamingInterfaceCount);
    EXPECT_EQ(nullptr, audio_->RenderInterface);
    EXPECT_EQ(nullptr, audio_->CaptureInterface);
}

} // namespace
} // namespace function_tests
