// Pin creation on the wave filter: the create request's KSPIN_CONNECT and KSDATAFORMAT checked
// against the pins, their ranges and instance limits before the miniport sees them; and the
// state walk a connection-state request makes.
#include "portcls_fixture.h"

#include <cstring>
#include <functional>

namespace portcls_tests {
namespace {

// A pin create relative to the filter with exactly these parameter bytes after the name.
NTSTATUS CreateRaw(sim::KsFilter &filter, const std::vector<UCHAR> &parameters, HANDLE *pin)
{
    static const WCHAR kPin[] = KSSTRING_Pin;
    std::vector<UCHAR> name(sizeof kPin + parameters.size() + 1);
    std::memcpy(name.data(), kPin, sizeof kPin);
    name[sizeof kPin - 2] = '\\'; // the terminator's place holds the separator
    std::memcpy(name.data() + sizeof kPin, parameters.data(), parameters.size());
    UNICODE_STRING objectName;
    objectName.Buffer = reinterpret_cast<PWCHAR>(name.data());
    objectName.Length = USHORT(sizeof kPin + parameters.size());
    objectName.MaximumLength = USHORT(name.size());
    return sim::OpenKsObject(filter.Handle(), objectName, pin);
}

// A valid render pin request: KSPIN_CONNECT, then a 48 kHz 16-bit stereo format.
std::vector<UCHAR> ValidRequest()
{
    return sim::PinConnectRequest(kRenderPin, sim::PcmFormat(2, kMaxRate, 16));
}

PKSPIN_CONNECT Connect(std::vector<UCHAR> &bytes)
{
    return reinterpret_cast<PKSPIN_CONNECT>(bytes.data());
}
PKSDATAFORMAT_WAVEFORMATEX Format(std::vector<UCHAR> &bytes)
{
    return reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(bytes.data() + sizeof(KSPIN_CONNECT));
}

struct HostileCase {
    const char *name;
    std::function<void(std::vector<UCHAR> &)> damage;
    NTSTATUS expected;
};

const HostileCase kCases[] = {
    {"shorter than a connection and a format",
     [](std::vector<UCHAR> &b) { b.resize(sizeof(KSPIN_CONNECT) + 40); },
     STATUS_INVALID_BUFFER_SIZE},
    {"format size beyond the request",
     [](std::vector<UCHAR> &b) { Format(b)->DataFormat.FormatSize += 8; },
     STATUS_INVALID_BUFFER_SIZE},
    {"format size below a KSDATAFORMAT",
     [](std::vector<UCHAR> &b) { Format(b)->DataFormat.FormatSize = 32; },
     STATUS_INVALID_BUFFER_SIZE},
    {"no such pin", [](std::vector<UCHAR> &b) { Connect(b)->PinId = kPinCount; },
     STATUS_INVALID_PARAMETER},
    {"a bridge pin", [](std::vector<UCHAR> &b) { Connect(b)->PinId = kSpeakerPin; },
     STATUS_INVALID_DEVICE_REQUEST},
    {"a connection to another pin",
     [](std::vector<UCHAR> &b) { Connect(b)->PinToHandle = HANDLE(ULONG_PTR(0x40)); },
     STATUS_NOT_SUPPORTED},
    {"looped streaming interface",
     [](std::vector<UCHAR> &b) {
         Connect(b)->Interface.Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
     },
     STATUS_NO_MATCH},
    {"another medium", [](std::vector<UCHAR> &b) { Connect(b)->Medium.Set = GUID_NULL; },
     STATUS_NO_MATCH},
    {"another major format",
     [](std::vector<UCHAR> &b) { Format(b)->DataFormat.MajorFormat = KSDATAFORMAT_SPECIFIER_NONE; },
     STATUS_NO_MATCH},
    {"the DirectSound specifier",
     [](std::vector<UCHAR> &b) { Format(b)->DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_DSOUND; },
     STATUS_NO_MATCH},
    {"three channels", [](std::vector<UCHAR> &b) { Format(b)->WaveFormatEx.nChannels = 3; },
     STATUS_NO_MATCH},
    {"96 kHz", [](std::vector<UCHAR> &b) { Format(b)->WaveFormatEx.nSamplesPerSec = 96000; },
     STATUS_NO_MATCH},
    {"32 bits", [](std::vector<UCHAR> &b) { Format(b)->WaveFormatEx.wBitsPerSample = 32; },
     STATUS_NO_MATCH},
    {"extra format bytes beyond the format",
     [](std::vector<UCHAR> &b) { Format(b)->WaveFormatEx.cbSize = 100; }, STATUS_NO_MATCH},
};

class PinCreationTest : public PortClsTest {};

TEST_F(PinCreationTest, HostileConnectionsAreRefusedBeforeTheMiniportSeesThem)
{
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    ASSERT_NE(nullptr, filter);
    for (const HostileCase &test : kCases) {
        std::vector<UCHAR> request = ValidRequest();
        test.damage(request);
        HANDLE pin = nullptr;
        EXPECT_EQ(test.expected, CreateRaw(*filter, request, &pin)) << test.name;
    }
    for (const std::string &event : log_.TakeEvents())
        EXPECT_EQ(std::string::npos, event.find("new stream")) << event;

    HANDLE pin = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, CreateRaw(*filter, ValidRequest(), &pin));
    HANDLE second = nullptr;
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES, CreateRaw(*filter, ValidRequest(), &second))
        << "one instance";
    ZwClose(pin);
    ASSERT_EQ(STATUS_SUCCESS, CreateRaw(*filter, ValidRequest(), &pin)) << "the instance is free";
    ZwClose(pin);
}

TEST_F(PinCreationTest, ThePortAsksForTenMillisecondNotifications)
{
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    log_.TakeEvents();
    std::unique_ptr<sim::KsPin> pin = CreatePin(*filter);
    EXPECT_EQ(
        (std::vector<std::string>{"stream format 48000", "new stream 0", "notification ms 10"}),
        log_.TakeEvents());
}

// The stream accepts neighbouring steps only; the port walks every state in between.
TEST_F(PinCreationTest, StateRequestsWalkEveryIntermediateState)
{
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    std::unique_ptr<sim::KsPin> pin = CreatePin(*filter);
    log_.TakeEvents();
    struct Walk {
        KSSTATE to;
        std::vector<std::string> steps;
    } walks[] = {
        {KSSTATE_ACQUIRE, {"render state 1"}},
        {KSSTATE_RUN, {"render state 2", "render state 3"}},
        {KSSTATE_STOP, {"render state 2", "render state 1", "render state 0"}},
        {KSSTATE_PAUSE, {"render state 1", "render state 2"}},
    };
    for (const Walk &walk : walks) {
        EXPECT_EQ(STATUS_SUCCESS, pin->SetState(walk.to));
        EXPECT_EQ(walk.steps, log_.TakeEvents()) << "to " << walk.to;
        KSSTATE state;
        EXPECT_EQ(STATUS_SUCCESS, pin->State(&state));
        EXPECT_EQ(walk.to, state);
    }
    EXPECT_EQ(STATUS_INVALID_PARAMETER, pin->SetState(KSSTATE(7)));
    pin.reset(); // closing walks the rest down
    EXPECT_EQ((std::vector<std::string>{"render state 1", "render state 0"}), log_.TakeEvents());
}

} // namespace
} // namespace portcls_tests
