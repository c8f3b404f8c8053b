// Property requests on the wave filter, its nodes and its pins: the port's own sets, the
// miniport's automation tables, and what the dispatcher answers for verbs, unknown sets and ids,
// size queries and short buffers; and a user-mode request, whose buffers are probed and
// captured.
#include "portcls_fixture.h"

#include <cstring>

namespace portcls_tests {
namespace {

struct Reply {
    NTSTATUS status;
    ULONG information;
    std::vector<UCHAR> value;
};

// A property request of `flags` with `instance` after its KSPROPERTY (KSNODEPROPERTY for a
// node) and a value buffer of `valueSize` (holding `value` for a set).
Reply Ask(sim::KsObjectHandle &object, const GUID &set, ULONG id, ULONG flags,
          std::vector<UCHAR> instance, ULONG valueSize, std::vector<UCHAR> value = {},
          ULONG node = ULONG(-1))
{
    std::vector<UCHAR> request(node == ULONG(-1) ? sizeof(KSPROPERTY) : sizeof(KSNODEPROPERTY));
    auto property = reinterpret_cast<PKSPROPERTY>(request.data());
    property->Set = set;
    property->Id = id;
    property->Flags = flags;
    if (node != ULONG(-1)) {
        property->Flags |= KSPROPERTY_TYPE_TOPOLOGY;
        reinterpret_cast<PKSNODEPROPERTY>(request.data())->NodeId = node;
    }
    request.insert(request.end(), instance.begin(), instance.end());
    value.resize(valueSize);
    Reply reply{STATUS_SUCCESS, 0, value};
    reply.status =
        object.Property(*reinterpret_cast<PKSPROPERTY>(request.data()), ULONG(request.size()),
                        valueSize ? reply.value.data() : nullptr, valueSize, &reply.information);
    return reply;
}

std::vector<UCHAR> Ulong(ULONG value)
{
    std::vector<UCHAR> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

ULONG AsUlong(const std::vector<UCHAR> &bytes)
{
    ULONG value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    return value;
}

// KSP_PIN's instance part: the pin id and its reserved ULONG.
std::vector<UCHAR> Pin(ULONG pin)
{
    std::vector<UCHAR> bytes = Ulong(pin);
    bytes.resize(8);
    return bytes;
}

constexpr ULONG kGet = KSPROPERTY_TYPE_GET;
constexpr ULONG kSet = KSPROPERTY_TYPE_SET;
constexpr ULONG kBasic = KSPROPERTY_TYPE_BASICSUPPORT;

class PropertyDispatchTest : public OpenFilterTest {};

TEST_F(PropertyDispatchTest, VerbsSetsIdsAndSizesOfTheFilterSets)
{
    const GUID unknownSet = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    struct Case {
        const char *name;
        const GUID *set;
        ULONG id;
        ULONG flags;
        std::vector<UCHAR> instance;
        ULONG valueSize;
        NTSTATUS status;
        ULONG information;
    } cases[] = {
        {"pin count", &KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, kGet, {}, 4, STATUS_SUCCESS, 4},
        {"size query",
         &KSPROPSETID_Pin,
         KSPROPERTY_PIN_CTYPES,
         kGet,
         {},
         0,
         STATUS_BUFFER_OVERFLOW,
         4},
        {"short value",
         &KSPROPSETID_Pin,
         KSPROPERTY_PIN_CTYPES,
         kGet,
         {},
         2,
         STATUS_BUFFER_TOO_SMALL,
         0},
        {"data flow", &KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, kGet, Pin(kCapturePin), 4,
         STATUS_SUCCESS, 4},
        {"no such pin", &KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, kGet, Pin(9), 4,
         STATUS_INVALID_PARAMETER, 0},
        {"no pin id",
         &KSPROPSETID_Pin,
         KSPROPERTY_PIN_DATAFLOW,
         kGet,
         {},
         4,
         STATUS_INVALID_BUFFER_SIZE,
         0},
        {"unknown set", &unknownSet, 0, kGet, {}, 4, STATUS_PROPSET_NOT_FOUND, 0},
        {"unknown id", &KSPROPSETID_Pin, 99, kGet, Pin(0), 4, STATUS_NOT_FOUND, 0},
        {"two verbs",
         &KSPROPSETID_Pin,
         KSPROPERTY_PIN_CTYPES,
         kGet | kSet,
         {},
         4,
         STATUS_INVALID_PARAMETER,
         0},
        {"no verb", &KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0, {}, 4, STATUS_INVALID_PARAMETER, 0},
        {"undeclared set of a port item",
         &KSPROPSETID_Pin,
         KSPROPERTY_PIN_CTYPES,
         kSet,
         {},
         4,
         STATUS_INVALID_DEVICE_REQUEST,
         0},
        {"undeclared set of a miniport item",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kSet,
         {},
         72,
         STATUS_INVALID_DEVICE_REQUEST,
         0},
        {"miniport size query",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kGet,
         {},
         0,
         STATUS_BUFFER_OVERFLOW,
         72},
        {"miniport get",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kGet,
         {},
         72,
         STATUS_SUCCESS,
         72},
        {"basic support for the item: description",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kBasic,
         {},
         40,
         STATUS_SUCCESS,
         40},
        {"basic support for the item: access flags",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kBasic,
         {},
         4,
         STATUS_SUCCESS,
         4},
        {"basic support size query",
         &KSPROPSETID_General,
         KSPROPERTY_GENERAL_COMPONENTID,
         kBasic,
         {},
         0,
         STATUS_BUFFER_OVERFLOW,
         40},
        {"set support",
         &KSPROPSETID_Topology,
         0,
         KSPROPERTY_TYPE_SETSUPPORT,
         {},
         0,
         STATUS_SUCCESS,
         0},
        {"set support of an unknown set",
         &unknownSet,
         0,
         KSPROPERTY_TYPE_SETSUPPORT,
         {},
         0,
         STATUS_PROPSET_NOT_FOUND,
         0},
    };
    for (const Case &test : cases) {
        Reply reply = Ask(*filter_, *test.set, test.id, test.flags, test.instance, test.valueSize);
        EXPECT_EQ(test.status, reply.status) << test.name;
        EXPECT_EQ(test.information, reply.information) << test.name;
    }
    EXPECT_EQ(ULONG(kPinCount),
              AsUlong(Ask(*filter_, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, kGet, {}, 4).value));
    EXPECT_EQ(
        ULONG(KSPIN_DATAFLOW_OUT),
        AsUlong(Ask(*filter_, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, kGet, Pin(kCapturePin), 4)
                    .value));
    EXPECT_EQ(
        ULONG(KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_BASICSUPPORT),
        AsUlong(Ask(*filter_, KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID, kBasic, {}, 4)
                    .value));
}

// KSMULTIPLE_ITEM values: nothing (the size), a ULONG (the size), the header, everything.
TEST_F(PropertyDispatchTest, ListValuesAnswerEverySizeAsKsDoes)
{
    const ULONG total = sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO);
    auto ranges = [&](ULONG size) {
        return Ask(*filter_, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, kGet, Pin(kRenderPin),
                   size);
    };
    Reply query = ranges(0);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, query.status);
    EXPECT_EQ(total, query.information);
    EXPECT_EQ(total, AsUlong(ranges(4).value));
    Reply header = ranges(8);
    EXPECT_EQ(STATUS_SUCCESS, header.status);
    EXPECT_EQ(1u, AsUlong(std::vector<UCHAR>(header.value.begin() + 4, header.value.end())));
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, ranges(total - 1).status);
    Reply all = ranges(total);
    ASSERT_EQ(STATUS_SUCCESS, all.status);
    KSDATARANGE_AUDIO range;
    std::memcpy(&range, all.value.data() + sizeof(KSMULTIPLE_ITEM), sizeof range);
    EXPECT_EQ(kMaxRate, range.MaximumSampleFrequency);

    Reply nodes = Ask(*filter_, KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, kGet, {}, 40);
    ASSERT_EQ(STATUS_SUCCESS, nodes.status);
    GUID second;
    std::memcpy(&second, nodes.value.data() + 8 + sizeof(GUID), sizeof second);
    EXPECT_TRUE(IsEqualGUID(KSNODETYPE_MUTE, second));
    Reply connections =
        Ask(*filter_, KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, kGet, {}, 0);
    EXPECT_EQ(8u + 4 * sizeof(KSTOPOLOGY_CONNECTION), connections.information);
}

TEST_F(PropertyDispatchTest, IntersectionGoesToTheMiniportForEachClientRange)
{
    std::vector<UCHAR> format;
    ASSERT_EQ(STATUS_SUCCESS,
              filter_->Intersect(kRenderPin, sim::PcmRange(8, 8, 32, 8000, 192000), &format));
    ASSERT_EQ(sizeof(KSDATAFORMAT_WAVEFORMATEX), format.size());
    auto wave = &reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(format.data())->WaveFormatEx;
    EXPECT_EQ(kMaxRate, wave->nSamplesPerSec);
    EXPECT_EQ(kMaxBits, wave->wBitsPerSample);
    EXPECT_EQ(2, wave->nChannels);
    EXPECT_EQ(STATUS_NO_MATCH,
              filter_->Intersect(kRenderPin, sim::PcmRange(2, 16, 16, 96000, 192000), &format));

    // A client range whose size runs past the request is refused before the miniport reads it.
    std::vector<UCHAR> broken = sim::PcmRange(2, 16, 16, 44100, 48000);
    reinterpret_cast<PKSDATARANGE>(broken.data())->FormatSize = 400;
    EXPECT_EQ(STATUS_INVALID_BUFFER_SIZE, filter_->Intersect(kRenderPin, broken, &format));
}

TEST_F(PropertyDispatchTest, NodePropertiesReachTheNodesTablesWithTheirChannel)
{
    auto volume = [&](ULONG flags, LONG channel, ULONG size, std::vector<UCHAR> value = {}) {
        std::vector<UCHAR> instance = Ulong(ULONG(channel));
        instance.resize(8);
        return Ask(*filter_, KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, flags, instance, size,
                   value, kVolumeNode);
    };
    EXPECT_EQ(STATUS_SUCCESS, volume(kSet, 1, 4, Ulong(ULONG(-5))).status);
    EXPECT_EQ(-5, log_.volume[1]);
    Reply get = volume(kGet, 1, 4);
    EXPECT_EQ(STATUS_SUCCESS, get.status);
    EXPECT_EQ(ULONG(-5), AsUlong(get.value));
    Reply query = volume(kGet, 0, 0);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, query.status);
    EXPECT_EQ(4u, query.information);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, volume(kGet, 5, 4).status); // the handler's own check
    EXPECT_EQ(40u, volume(kBasic, 0, 40).information);              // the handler's own answer

    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              Ask(*filter_, KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, kGet, {}, 4, {}, 7).status)
        << "no such node";
    EXPECT_EQ(STATUS_PROPSET_NOT_FOUND,
              Ask(*filter_, KSPROPSETID_Pin, 0, kGet, {}, 4, {}, kMuteNode).status)
        << "a node has only its own table";
}

TEST_F(PropertyDispatchTest, PinPropertiesServeStateFormatAndPosition)
{
    std::unique_ptr<sim::KsPin> pin = CreatePin(*filter_);
    Reply format = Ask(*pin, KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, kGet, {}, 0);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, format.status);
    EXPECT_EQ(sizeof(KSDATAFORMAT_WAVEFORMATEX), format.information);
    // A new format outside the pin's range is refused; one inside goes to the stream.
    EXPECT_EQ(STATUS_NO_MATCH, Ask(*pin, KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT,
                                   kSet, {}, 82, sim::PcmFormat(2, 96000, 16))
                                   .status);
    EXPECT_EQ(STATUS_SUCCESS, Ask(*pin, KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT,
                                  kSet, {}, 82, sim::PcmFormat(2, kMinRate, 16))
                                  .status);
    KSAUDIO_POSITION position;
    EXPECT_EQ(STATUS_SUCCESS, pin->Position(&position));
    EXPECT_EQ(0u, position.PlayOffset);
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST,
              Ask(*pin, KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, kSet, {}, 16).status);
}

// A user-mode request's buffers are probed: one naming kernel memory is refused; good ones are
// captured and the answer copied back.
TEST_F(PropertyDispatchTest, AUserModeRequestIsProbedAndCaptured)
{
    KSPROPERTY property = {};
    property.Set = KSPROPSETID_Pin;
    property.Id = KSPROPERTY_PIN_CTYPES;
    property.Flags = KSPROPERTY_TYPE_GET;
    ULONG count = 0;
    ULONG returned = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              KsSynchronousIoControlDevice(filter_->File(), UserMode, IOCTL_KS_PROPERTY, &property,
                                           sizeof property, &count, sizeof count, &returned));
    EXPECT_EQ(ULONG(kPinCount), count);
    EXPECT_EQ(4u, returned);

    auto kernel = static_cast<PULONG>(ExAllocatePoolWithTag(NonPagedPoolNx, 4, 'tseT'));
    EXPECT_EQ(STATUS_ACCESS_VIOLATION,
              KsSynchronousIoControlDevice(filter_->File(), UserMode, IOCTL_KS_PROPERTY, &property,
                                           sizeof property, kernel, 4, &returned));
    ExFreePoolWithTag(kernel, 'tseT');
}

} // namespace
} // namespace portcls_tests
