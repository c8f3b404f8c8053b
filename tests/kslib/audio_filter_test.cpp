// The KS client library on the port-class test filter, from a user process: enumeration through
// SetupAPI, the filter's pins and their ranges, a pin made for a format and walked through its
// states, positions, node properties, and a pin left open by a killed process.
#include "kslib_fixture.h"

#include "user_device_report.h"

#include <cstring>

namespace {

using portcls_tests::kMaxBits;
using portcls_tests::kMaxChannels;
using portcls_tests::kMaxRate;
using portcls_tests::kMinBits;
using portcls_tests::kMinRate;

using AudioFilter = KsLibTest;

TEST_F(AudioFilter, ListsTheCommunicatingPinsWithTheirAudioRanges)
{
    std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
    ASSERT_NE(nullptr, filter);
    EXPECT_EQ(S_OK, filter->ListNodes());
    ASSERT_EQ(ULONG(portcls_tests::kNodeCount), filter->Nodes().Count());
    EXPECT_TRUE(IsEqualGUID(KSNODETYPE_VOLUME, filter->Nodes()[0].type));
    EXPECT_TRUE(IsEqualGUID(KSNODETYPE_MUTE, filter->Nodes()[1].type));
    // The bridge pins communicate with nothing and are left out.
    ASSERT_EQ(2u, filter->Pins().Count());
    ASSERT_EQ(1u, filter->RenderSinkPins().Count());
    ASSERT_EQ(1u, filter->CaptureSinkPins().Count());
    struct Expected {
        CKsPin *pin;
        ULONG id;
        KSPIN_DATAFLOW flow;
    } cases[] = {
        {filter->RenderSinkPins()[0], portcls_tests::kRenderPin, KSPIN_DATAFLOW_IN},
        {filter->CaptureSinkPins()[0], portcls_tests::kCapturePin, KSPIN_DATAFLOW_OUT},
    };
    for (const Expected &c : cases) {
        auto pin = static_cast<CKsAudPin *>(c.pin);
        EXPECT_EQ(c.id, pin->PinId());
        EXPECT_EQ(c.flow, pin->DataFlow());
        EXPECT_EQ(KSPIN_COMMUNICATION_SINK, pin->Communication());
        EXPECT_EQ(1u, pin->Instances().PossibleCount);
        ASSERT_EQ(1u, pin->AudioRanges().Count());
        const KSDATARANGE_AUDIO &range = pin->AudioRanges()[0];
        EXPECT_EQ(kMaxChannels, range.MaximumChannels);
        EXPECT_EQ(kMinBits, range.MinimumBitsPerSample);
        EXPECT_EQ(kMaxBits, range.MaximumBitsPerSample);
        EXPECT_EQ(kMinRate, range.MinimumSampleFrequency);
        EXPECT_EQ(kMaxRate, range.MaximumSampleFrequency);
        WAVEFORMATEX fits = Pcm(2, kMaxRate, 24), tooFast = Pcm(2, 96000, 16);
        EXPECT_TRUE(pin->AcceptsFormat(&fits));
        EXPECT_FALSE(pin->AcceptsFormat(&tooFast));
    }
}

TEST_F(AudioFilter, InterfaceComesAndGoesWithItsDevice)
{
    std::vector<std::u16string> paths = AudioInterfacePaths();
    ASSERT_EQ(1u, paths.size());
    pnp_->Unplug(*node_);
    EXPECT_TRUE(AudioInterfacePaths().empty()) << "no longer present";
    HANDLE gone = CreateFileW(Wide(paths[0]), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, gone);
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    node_ = pnp_->Plug(portcls_tests::kPort, std::make_shared<devices::Rvd3Model>());
    ASSERT_NE(nullptr, node_);
    std::vector<std::u16string> back = AudioInterfacePaths();
    ASSERT_EQ(1u, back.size());
    EXPECT_EQ(paths[0], back[0]) << "the same interface, back";
}

TEST_F(AudioFilter, DeviceListFindsTheDeviceByHardwareIdAndSelectsByInstanceId)
{
    CDevInfo unsupported;
    EXPECT_FALSE(unsupported.EnumFilters()) << "the device's own ids are not interface 0's";

    CDevInfo devices;
    const ActiveDeviceEntry *entry = OnlyDeviceEntry(&devices);
    ASSERT_NE(nullptr, entry);
    LPCWSTR instanceId = Wide(node_->instanceId);
    EXPECT_EQ(0, lstrcmpiW(instanceId, entry->instanceId));
    EXPECT_EQ(0u, entry->CurrentSelect);
    for (const FormatRange &range : {entry->renderRange, entry->captureRange}) {
        EXPECT_EQ(kMaxChannels, range.channels);
        EXPECT_EQ(kMinBits, range.minimumBits);
        EXPECT_EQ(kMaxBits, range.maximumBits);
        EXPECT_EQ(kMinRate, range.minimumRate);
        EXPECT_EQ(kMaxRate, range.maximumRate);
    }

    EXPECT_FALSE(devices.setCurrentSelectedByDeviceInstanceId(L"USB\\VID_0000&PID_0000\\9"));
    EXPECT_EQ(nullptr, devices.getCurrentSelected());
    ASSERT_TRUE(devices.setCurrentSelectedByDeviceInstanceId(instanceId));
    ASSERT_NE(nullptr, devices.getCurrentSelected());
    EXPECT_EQ(1u, devices.entryAt(0)->CurrentSelect);
    WCHAR selected[128];
    ASSERT_TRUE(devices.getSelectedInstanceId(selected, ARRAYSIZE(selected)));
    EXPECT_EQ(0, lstrcmpiW(instanceId, selected));
}

TEST_F(AudioFilter, CapturePinWalksItsStatesAndItsPositionMoves)
{
    std::unique_ptr<CKsAudFilter2> filter;
    CKsAudPin *pin = OpenStreamPin(&filter, true);
    ASSERT_NE(nullptr, pin);
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(pin->Handle()));
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(S_OK, pin->ChangeState(state));
        KSSTATE read = KSSTATE_STOP;
        EXPECT_EQ(S_OK, pin->ReadState(&read));
        EXPECT_EQ(state, read);
    }
    Sleep(50);
    KSAUDIO_POSITION position = {};
    ULONG returned = 0;
    EXPECT_EQ(S_OK, pin->QueryProperty(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, &position,
                                       sizeof position, nullptr, 0, &returned));
    EXPECT_EQ(sizeof position, returned);
    EXPECT_GT(position.PlayOffset, 0u);
    // A second instance of a one-instance pin is refused.
    HRESULT status = E_FAIL;
    CKsAudFilter2 other(filter->DevicePath(), &status);
    ASSERT_EQ(S_OK, other.OpenFilter());
    ASSERT_EQ(S_OK, other.ListPins());
    EXPECT_EQ(nullptr, other.OpenCapturePinFor(pin->CurrentFormat()));

    EXPECT_EQ(S_OK, pin->ClosePin());
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->Handle()));
    std::vector<std::string> events = log_.TakeEvents();
    EXPECT_NE(std::find(events.begin(), events.end(), "capture state 3"), events.end());
    EXPECT_EQ("capture state 0", events.back());
}

// The stream headers a user process writes are the driver's to read: the data they point at
// reaches the device.
TEST_F(AudioFilter, RenderPinPlaysWhatAUserProcessWrites)
{
    std::unique_ptr<CKsAudFilter2> filter;
    CKsAudPin *pin = OpenStreamPin(&filter, false);
    ASSERT_NE(nullptr, pin);
    std::vector<UCHAR> data(pin->CurrentFormat()->nAvgBytesPerSec / 100); // 10 ms
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = UCHAR(i % 251 + 1);
    ASSERT_TRUE(PlayThroughPin(pin, data, ULONG(data.size())));
    Sleep(100); // taken into the stream's buffer; now played
    EXPECT_EQ(S_OK, pin->ClosePin());
    std::lock_guard<std::mutex> guard(log_.lock);
    auto first = std::find(log_.played.begin(), log_.played.end(), UCHAR(1));
    ASSERT_GE(size_t(log_.played.end() - first), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), first));
}

TEST_F(AudioFilter, VolumeAndMuteAreSetThroughTheirNodes)
{
    std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
    ASSERT_NE(nullptr, filter);
    LONG volume = -6 * 65536; // -6 dB in 1/65536 dB
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_VOLUMELEVEL, portcls_tests::kVolumeNode,
                                1, KSPROPERTY_TYPE_SET, &volume));
    EXPECT_EQ(volume, log_.volume[1]);
    LONG read = 0;
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_VOLUMELEVEL, portcls_tests::kVolumeNode,
                                1, KSPROPERTY_TYPE_GET, &read));
    EXPECT_EQ(volume, read);
    LONG mute = TRUE;
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_MUTE, portcls_tests::kMuteNode, 0,
                                KSPROPERTY_TYPE_SET, &mute));
    EXPECT_EQ(TRUE, log_.mute);
    EXPECT_TRUE(
        FAILED(NodeRequest(*filter, KSPROPERTY_AUDIO_MUTE, 7, 0, KSPROPERTY_TYPE_GET, &mute)))
        << "no such node";
}

TEST_F(AudioFilter, PinLeftOpenByAKilledProcessIsClosedAndItsStreamStopped)
{
    KillPlayerHoldingTheRenderPin();
    EXPECT_EQ("render state 0", log_.TakeEvents().back());

    // The pin's one instance is free again.
    std::unique_ptr<CKsAudFilter2> filter;
    EXPECT_NE(nullptr, OpenStreamPin(&filter, false));
}

TEST_F(AudioFilter, DeviceReportShowsTheFilterAsUserModeSeesIt)
{
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    ASSERT_EQ(1u, sim::PrintUserModeDevices(out));
    std::fclose(out);
    const std::string report(text, size);
    std::free(text);
    for (const char *line : {
             "\\\\?\\USB#VID_2FC3&PID_D003#1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\Wave\n",
             "  device: \"Quen Test Wave Device\", instance USB\\VID_2FC3&PID_D003\\1\n",
             "    pin 0: render \"",
             "      up to 2 ch, 16 to 24 bits, 44100 to 48000 Hz\n",
             "    pin 3: capture \"",
         })
        EXPECT_NE(std::string::npos, report.find(line)) << line << "\nin:\n" << report;
}

} // namespace
