// The volume and mute properties of the RV-D3's feature-unit nodes, as a KS client sends them:
// values convert between KS and the audio class and stay within what the device announced, mute
// acts on the master channel, and basic support replies have the size the buffer allows.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"

#include <vector>

namespace {

using namespace adapter_harness;
using namespace devices::rvd3;

class NodePropertyTest : public AdapterTest {
protected:
    void SetUp() override { Start(std::make_shared<devices::Rvd3Model>()); }

    ULONG NodeOfType(const GUID &type)
    {
        const PPCFILTER_DESCRIPTOR filter = Adapter().GetFilterDescriptor();
        for (ULONG id = 0; id < filter->NodeCount; ++id) {
            const auto node = reinterpret_cast<const PCNODE_DESCRIPTOR *>(
                reinterpret_cast<const UCHAR *>(filter->Nodes) + id * filter->NodeSize);
            if (node->Type != nullptr && IsEqualGUIDAligned(*node->Type, type))
                return id;
        }
        ADD_FAILURE() << "no such node";
        return ULONG(-1);
    }
    // One request to the adapter's node handler; the value buffer is `value`, resized to the
    // reply.
    NTSTATUS Request(ULONG node, ULONG property, ULONG verb, LONG channel,
                     std::vector<UCHAR> *value)
    {
        PCPROPERTY_ITEM item = {&KSPROPSETID_Audio, property, verb, nullptr};
        PCPROPERTY_REQUEST request = {};
        request.Node = node;
        request.PropertyItem = &item;
        request.Verb = verb;
        request.InstanceSize = sizeof(channel);
        request.Instance = &channel;
        request.ValueSize = ULONG(value->size());
        request.Value = value->empty() ? nullptr : value->data();
        const NTSTATUS status = Adapter().PropertyHandler_Node(&request);
        value->resize(request.ValueSize);
        return status;
    }
    NTSTATUS SetLong(ULONG node, ULONG property, LONG channel, LONG v)
    {
        std::vector<UCHAR> value(sizeof(LONG));
        memcpy(value.data(), &v, sizeof(v));
        return Request(node, property, KSPROPERTY_TYPE_SET, channel, &value);
    }
    LONG GetLong(ULONG node, ULONG property, LONG channel)
    {
        std::vector<UCHAR> value(sizeof(LONG));
        EXPECT_EQ(STATUS_SUCCESS, Request(node, property, KSPROPERTY_TYPE_GET, channel, &value));
        LONG v = 0;
        memcpy(&v, value.data(), sizeof(v));
        return v;
    }
    template <typename Read>
    auto Device(Read &&read)
    {
        return rig_->WithDevice([&](devices::StreamingAudioDeviceModel &d) {
            return read(static_cast<devices::Rvd3Model &>(d));
        });
    }
};

struct VolumeCase {
    LONG ks;
    SHORT device; // after the device rounds to its 0.5 dB steps
    LONG readBack;
};

class VolumeTest : public NodePropertyTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeTest, SetsTheDeviceWithinItsRange)
{
    const VolumeCase &c = GetParam();
    const ULONG node = NodeOfType(KSNODETYPE_VOLUME);
    ASSERT_EQ(STATUS_SUCCESS, SetLong(node, KSPROPERTY_AUDIO_VOLUMELEVEL, 1, c.ks));
    EXPECT_EQ(c.device, Device([](devices::Rvd3Model &d) { return d.Volume(2); }));
    EXPECT_EQ(c.readBack, GetLong(node, KSPROPERTY_AUDIO_VOLUMELEVEL, 1));
}

INSTANTIATE_TEST_SUITE_P(
    KsValues, VolumeTest,
    ::testing::Values(VolumeCase{-6 * 65536, -6 * 256, -6 * 65536},
                      VolumeCase{LONG(0x80000000), SHORT(-0x8000), LONG(0x80000000)},
                      VolumeCase{0x7FFFFFFF, kVolumeMax, kVolumeMax * 256},
                      VolumeCase{LONG(0x80000001), kVolumeMin, kVolumeMin * 256}));

TEST_F(NodePropertyTest, VolumeChannelsAddressTheUnitsChannels)
{
    const ULONG node = NodeOfType(KSNODETYPE_VOLUME);
    ASSERT_EQ(STATUS_SUCCESS, SetLong(node, KSPROPERTY_AUDIO_VOLUMELEVEL, -1, -10 * 65536));
    EXPECT_EQ(-10 * 256, Device([](devices::Rvd3Model &d) { return d.Volume(1); }));
    EXPECT_EQ(-10 * 256, Device([](devices::Rvd3Model &d) { return d.Volume(2); }));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SetLong(node, KSPROPERTY_AUDIO_VOLUMELEVEL, 2, 0));
    std::vector<UCHAR> value(sizeof(LONG));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              Request(node, KSPROPERTY_AUDIO_VOLUMELEVEL, KSPROPERTY_TYPE_GET, -1, &value));
}

TEST_F(NodePropertyTest, MuteActsOnTheMasterChannelWithAnyTrueValue)
{
    const ULONG node = NodeOfType(KSNODETYPE_MUTE);
    ASSERT_EQ(STATUS_SUCCESS, SetLong(node, KSPROPERTY_AUDIO_MUTE, 1, 0x100));
    EXPECT_TRUE(Device([](devices::Rvd3Model &d) { return d.Muted(); }));
    EXPECT_EQ(TRUE, GetLong(node, KSPROPERTY_AUDIO_MUTE, -1));
    ASSERT_EQ(STATUS_SUCCESS, SetLong(node, KSPROPERTY_AUDIO_MUTE, 0, 0));
    EXPECT_FALSE(Device([](devices::Rvd3Model &d) { return d.Muted(); }));
}

TEST_F(NodePropertyTest, RequestsForOtherNodesOrPropertiesAreRefused)
{
    std::vector<UCHAR> value(sizeof(LONG));
    EXPECT_EQ(STATUS_UNSUCCESSFUL,
              Request(ULONG(-1), KSPROPERTY_AUDIO_MUTE, KSPROPERTY_TYPE_GET, 0, &value));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              Request(Adapter().GetFilterDescriptor()->NodeCount, KSPROPERTY_AUDIO_MUTE,
                      KSPROPERTY_TYPE_GET, 0, &value));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, Request(NodeOfType(KSNODETYPE_DAC), KSPROPERTY_AUDIO_MUTE,
                                                KSPROPERTY_TYPE_GET, 0, &value));
    EXPECT_EQ(STATUS_UNSUCCESSFUL, Request(NodeOfType(KSNODETYPE_DAC), KSPROPERTY_AUDIO_MUTE,
                                           KSPROPERTY_TYPE_BASICSUPPORT, 0, &value));
    value.clear();
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, Request(NodeOfType(KSNODETYPE_MUTE), KSPROPERTY_AUDIO_MUTE,
                                              KSPROPERTY_TYPE_GET, 0, &value));
    EXPECT_EQ(sizeof(LONG), value.size());
}

struct BasicSupportCase {
    ULONG property;
    ULONG length;
    NTSTATUS status;
    ULONG replySize;
};

class BasicSupportTest : public NodePropertyTest,
                         public ::testing::WithParamInterface<BasicSupportCase> {};

TEST_P(BasicSupportTest, RepliesAsMuchAsTheBufferHolds)
{
    const BasicSupportCase &c = GetParam();
    const bool volume = c.property == KSPROPERTY_AUDIO_VOLUMELEVEL;
    std::vector<UCHAR> value(c.length, 0xEE);
    EXPECT_EQ(c.status, Request(NodeOfType(volume ? KSNODETYPE_VOLUME : KSNODETYPE_MUTE),
                                c.property, KSPROPERTY_TYPE_BASICSUPPORT, 0, &value));
    ASSERT_EQ(c.replySize, value.size());
    if (c.replySize == sizeof(ULONG)) {
        EXPECT_EQ(ULONG(0x203), *reinterpret_cast<PULONG>(value.data()));
    }
    if (c.replySize < sizeof(KSPROPERTY_DESCRIPTION))
        return;
    const auto description = reinterpret_cast<const KSPROPERTY_DESCRIPTION *>(value.data());
    EXPECT_EQ(0x203u, description->AccessFlags);
    EXPECT_EQ(volume ? 88u : 60u, description->DescriptionSize);
    EXPECT_EQ(ULONG(volume ? 3 : 11), description->PropTypeSet.Id);
    if (c.replySize == sizeof(KSPROPERTY_DESCRIPTION))
        return;
    const auto members = reinterpret_cast<const KSPROPERTY_MEMBERSHEADER *>(description + 1);
    EXPECT_EQ(2u, members->MembersCount);
    if (volume) {
        const auto steps = reinterpret_cast<const KSPROPERTY_STEPPING_LONG *>(members + 1);
        EXPECT_EQ(kVolumeMin * 256, steps[1].Bounds.SignedMinimum);
        EXPECT_EQ(kVolumeMax * 256, steps[1].Bounds.SignedMaximum);
        EXPECT_EQ(ULONG(kVolumeStep * 256), steps[1].SteppingDelta);
    } else {
        // Nothing of the caller's buffer goes back unwritten.
        EXPECT_EQ(std::vector<UCHAR>(4, 0), std::vector<UCHAR>(value.end() - 4, value.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, BasicSupportTest,
    ::testing::Values(BasicSupportCase{KSPROPERTY_AUDIO_VOLUMELEVEL, 3, STATUS_BUFFER_TOO_SMALL, 0},
                      BasicSupportCase{KSPROPERTY_AUDIO_VOLUMELEVEL, 4, STATUS_SUCCESS, 4},
                      BasicSupportCase{KSPROPERTY_AUDIO_VOLUMELEVEL, 39, STATUS_SUCCESS, 4},
                      BasicSupportCase{KSPROPERTY_AUDIO_VOLUMELEVEL, 87, STATUS_SUCCESS, 40},
                      BasicSupportCase{KSPROPERTY_AUDIO_VOLUMELEVEL, 200, STATUS_SUCCESS, 88},
                      BasicSupportCase{KSPROPERTY_AUDIO_MUTE, 0, STATUS_BUFFER_TOO_SMALL, 0},
                      BasicSupportCase{KSPROPERTY_AUDIO_MUTE, 40, STATUS_SUCCESS, 40},
                      BasicSupportCase{KSPROPERTY_AUDIO_MUTE, 59, STATUS_SUCCESS, 40},
                      BasicSupportCase{KSPROPERTY_AUDIO_MUTE, 60, STATUS_SUCCESS, 60}));

} // namespace
