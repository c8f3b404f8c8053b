// The standard request handler every model shares: descriptors with wLength truncation,
// configuration and alternate settings, status and features, and stalls for whatever is not
// a valid request in the device's state.
#include "device_requests.h"

#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "devices/usb_constants.h"

namespace {

using namespace devices;
using namespace device_tests;

class StandardRequests : public ::testing::Test {
protected:
    Rvd3Model model_;
};

TEST_F(StandardRequests, DeviceDescriptorIsTruncatedToWLength)
{
    const Bytes first8 = GetDescriptor(model_, 1, 0, 8);
    ASSERT_EQ(8u, first8.size());
    EXPECT_EQ(18u, first8[0]);
    const Bytes whole = GetDescriptor(model_, 1, 0, 64);
    ASSERT_EQ(18u, whole.size());
    EXPECT_EQ(rvd3::kVendorId, ReadLe(whole, 8, 2));
    EXPECT_EQ(rvd3::kProductId, ReadLe(whole, 10, 2));
}

TEST_F(StandardRequests, ConfigurationIsReadHeaderFirstThenWhole)
{
    const Bytes header = GetDescriptor(model_, 2, 0, 9);
    ASSERT_EQ(9u, header.size());
    const size_t total = ReadLe(header, 2, 2);
    const Bytes whole = GetDescriptor(model_, 2, 0, static_cast<USHORT>(total));
    EXPECT_EQ(total, whole.size());
    EXPECT_EQ(model_.Descriptors().configuration, whole);
    EXPECT_TRUE(In(model_, 0x80, 6, 0x0201, 0, 9).stall) << "only configuration 0 exists";
}

TEST_F(StandardRequests, StringsAreServedInEnglishOnly)
{
    const Bytes languages = GetDescriptor(model_, 3, 0, 255);
    EXPECT_EQ((Bytes{4, 3, 0x09, 0x04}), languages);
    const Bytes product = GetDescriptor(model_, 3, 2, 255, 0x0409);
    ASSERT_GE(product.size(), 4u);
    EXPECT_EQ('R', product[2]);
    EXPECT_TRUE(In(model_, 0x80, 6, 0x0302, 0x0407, 255).stall) << "German is not offered";
    EXPECT_TRUE(In(model_, 0x80, 6, 0x0364, 0x0409, 255).stall) << "no string 100";
}

TEST_F(StandardRequests, DeviceQualifierOnlyFromAHighSpeedDevice)
{
    const Bytes qualifier = GetDescriptor(model_, 6, 0, 10);
    ASSERT_EQ(10u, qualifier.size());
    EXPECT_EQ(6u, qualifier[1]);
    EXPECT_EQ(1u, qualifier[8]) << "bNumConfigurations";
    auto fullSpeed = MakeFullSpeedUac2Device();
    EXPECT_TRUE(In(*fullSpeed, 0x80, 6, 0x0600, 0, 10).stall);
}

TEST_F(StandardRequests, UnknownDescriptorTypeAndWrongDirectionStall)
{
    EXPECT_TRUE(In(model_, 0x80, 6, 0x0900, 0, 9).stall);
    EXPECT_TRUE(In(model_, 0x81, 6, 0x0100, 0, 18).stall) << "GET_DESCRIPTOR to an interface";
    EXPECT_FALSE(Out(model_, 0x80, 9, 1, 0)) << "SET_CONFIGURATION must be host-to-device";
}

TEST_F(StandardRequests, SetConfigurationPutsEveryInterfaceInSettingZero)
{
    EXPECT_EQ(0u, model_.ActiveConfiguration());
    EXPECT_EQ((Bytes{0}), In(model_, 0x80, 8, 0, 0, 1).data);
    ASSERT_TRUE(Configure(model_));
    EXPECT_EQ((Bytes{1}), In(model_, 0x80, 8, 0, 0, 1).data);
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, rvd3::kAlternate24Bit));
    ASSERT_TRUE(Configure(model_));
    EXPECT_EQ(0u, model_.AlternateSetting(rvd3::kRenderInterface));
    EXPECT_FALSE(model_.EndpointActive(rvd3::kRenderEndpoint));
    EXPECT_FALSE(Out(model_, 0x00, 9, 2, 0)) << "configuration 2 does not exist";
    EXPECT_TRUE(Out(model_, 0x00, 9, 0, 0));
    EXPECT_EQ(0u, model_.ActiveConfiguration());
}

TEST_F(StandardRequests, SetInterfaceActivatesTheSettingsEndpoints)
{
    EXPECT_FALSE(SelectAlternate(model_, rvd3::kRenderInterface, 1)) << "not configured yet";
    ASSERT_TRUE(Configure(model_));
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, rvd3::kAlternate32Bit));
    EXPECT_TRUE(model_.EndpointActive(rvd3::kRenderEndpoint));
    EXPECT_TRUE(model_.EndpointActive(rvd3::kFeedbackEndpoint));
    EXPECT_FALSE(model_.EndpointActive(rvd3::kCaptureEndpoint));
    EXPECT_EQ((Bytes{rvd3::kAlternate32Bit}),
              In(model_, 0x81, 10, 0, rvd3::kRenderInterface, 1).data);
    EXPECT_FALSE(SelectAlternate(model_, rvd3::kRenderInterface, 4)) << "no setting 4";
    EXPECT_FALSE(SelectAlternate(model_, 7, 0)) << "no interface 7";
    EXPECT_TRUE(In(model_, 0x81, 10, 0, 7, 1).stall);
    EXPECT_EQ(rvd3::kAlternate32Bit, model_.AlternateSetting(rvd3::kRenderInterface));
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, 0));
    EXPECT_FALSE(model_.EndpointActive(rvd3::kRenderEndpoint));
}

TEST_F(StandardRequests, GetStatusReportsPowerInterfaceAndHalt)
{
    ASSERT_TRUE(Configure(model_));
    EXPECT_EQ((Bytes{0, 0}), In(model_, 0x80, 0, 0, 0, 2).data) << "bus powered, no wakeup";
    EXPECT_EQ((Bytes{0, 0}), In(model_, 0x81, 0, 0, rvd3::kRenderInterface, 2).data);
    EXPECT_TRUE(In(model_, 0x81, 0, 0, 9, 2).stall);
    EXPECT_EQ((Bytes{0, 0}), In(model_, 0x82, 0, 0, 0x00, 2).data) << "endpoint 0";
    EXPECT_TRUE(In(model_, 0x82, 0, 0, rvd3::kRenderEndpoint, 2).stall) << "not in setting 0";

    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, 1));
    EXPECT_TRUE(Out(model_, 0x02, 3, 0, rvd3::kFeedbackEndpoint)) << "SET_FEATURE(ENDPOINT_HALT)";
    EXPECT_EQ((Bytes{1, 0}), In(model_, 0x82, 0, 0, rvd3::kFeedbackEndpoint, 2).data);
    EXPECT_TRUE(Out(model_, 0x02, 1, 0, rvd3::kFeedbackEndpoint)) << "CLEAR_FEATURE";
    EXPECT_EQ((Bytes{0, 0}), In(model_, 0x82, 0, 0, rvd3::kFeedbackEndpoint, 2).data);

    EXPECT_TRUE(Out(model_, 0x02, 3, 0, rvd3::kFeedbackEndpoint));
    ASSERT_TRUE(SelectAlternate(model_, rvd3::kRenderInterface, 1));
    EXPECT_EQ((Bytes{0, 0}), In(model_, 0x82, 0, 0, rvd3::kFeedbackEndpoint, 2).data)
        << "selecting a setting resets its endpoints";
}

TEST_F(StandardRequests, FeaturesTheDeviceDoesNotHaveStall)
{
    ASSERT_TRUE(Configure(model_));
    EXPECT_FALSE(Out(model_, 0x00, 3, usb::kDeviceRemoteWakeup, 0)) << "no remote wakeup";
    EXPECT_FALSE(Out(model_, 0x02, 1, 0, rvd3::kCaptureEndpoint)) << "endpoint not active";
    EXPECT_FALSE(Out(model_, 0x02, 1, 5, rvd3::kRenderEndpoint)) << "unknown feature";
    EXPECT_FALSE(Out(model_, 0x00, 0x30, 0, 0)) << "unknown request";
}

TEST_F(StandardRequests, ClassRequestsStallUntilConfiguredAndForUnknownTargets)
{
    EXPECT_TRUE(GetCur(model_, rvd3::kClockSourceId, 1, 0, 4).stall);
    ASSERT_TRUE(Configure(model_));
    EXPECT_FALSE(GetCur(model_, rvd3::kClockSourceId, 1, 0, 4).stall);
    EXPECT_TRUE(GetCur(model_, 0x33, 1, 0, 4).stall) << "no entity 0x33";
    EXPECT_TRUE(GetCur(model_, rvd3::kClockSourceId, 3, 0, 4).stall) << "no selector 3";
    EXPECT_TRUE(GetCur(model_, rvd3::kClockSourceId, 1, 0, 4, 0, rvd3::kRenderInterface).stall)
        << "entities live on the audio control interface";
    EXPECT_TRUE(In(model_, 0xA1, 0x03, 0x0100, rvd3::kClockSourceId << 8, 4).stall) << "MEM";
    EXPECT_TRUE(In(model_, 0xA2, 0x01, 0x0100, rvd3::kRenderEndpoint, 3).stall)
        << "no endpoint controls";
}

TEST_F(StandardRequests, UnknownVendorRequestsStall)
{
    ASSERT_TRUE(Configure(model_));
    EXPECT_FALSE(Out(model_, 0x41, 1, 0, rvd3::kRenderInterface));
    EXPECT_FALSE(Out(model_, 0x40, 0, 1, 0));
    RawDescriptorModel raw(host::UsbSpeed::High, model_.Descriptors());
    ASSERT_TRUE(Configure(raw));
    EXPECT_FALSE(Out(raw, rvd3::kDsdModeRequestType, 0, 1, rvd3::kRenderInterface))
        << "only the RV-D3 knows the native DSD switch";
}

} // namespace
