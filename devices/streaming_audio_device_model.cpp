#include "streaming_audio_device_model.h"

#include "usb_constants.h"

#include <algorithm>

namespace devices {

namespace {

ULONG MaxRenderFrameBytes(const StreamingPaths &paths)
{
    ULONG largest = 1;
    if (paths.render) {
        for (const AlternateFormat &a : paths.render->alternates)
            largest = std::max<ULONG>(largest, static_cast<ULONG>(a.channels) * a.subslotBytes);
    }
    return largest;
}

const AlternateFormat *FindAlternate(const std::vector<AlternateFormat> &alternates,
                                     UCHAR alternateSetting)
{
    for (const AlternateFormat &a : alternates) {
        if (a.alternateSetting == alternateSetting)
            return &a;
    }
    return nullptr;
}

// Steering toward the target fill: one frame of error moves the rate by 2 / (intervals per
// second) frames per interval, a time constant of half a second; never more than an eighth of
// a frame per interval, so the report stays well within one frame of the clock's rate.
constexpr LONGLONG kMaxCorrection16 = 0x2000;

// The volume value that means silence (minus infinity) in both class versions.
constexpr LONGLONG kVolumeSilence = -0x8000;

} // namespace

StreamingAudioDeviceModel::StreamingAudioDeviceModel(host::UsbSpeed speed,
                                                     DescriptorSet descriptors,
                                                     StreamingPaths paths,
                                                     const StreamingOptions &options,
                                                     ULONG initialRate)
    : UsbAudioDeviceModel(speed, std::move(descriptors)), paths_(std::move(paths)),
      options_(options), clock_(BusIntervalsPerSecond()),
      render_(options.fifoFrames, MaxRenderFrameBytes(paths_)),
      capture_(options.captureBacklogFrames)
{
    clock_.SetRate(initialRate);
    clock_.SetOffsetPpm(options.clockOffsetPpm);
    render_.AttachSink(&tap_);
}

std::vector<ControlSubrange>
StreamingAudioDeviceModel::DiscreteRanges(const std::vector<ULONG> &rates)
{
    std::vector<ControlSubrange> ranges;
    for (ULONG rate : rates)
        ranges.push_back({rate, rate, 0});
    return ranges;
}

void StreamingAudioDeviceModel::SetSampleRate(ULONG rateHz)
{
    if (rateHz == clock_.Rate())
        return;
    clock_.SetRate(rateHz);
    validAt_ =
        Now() + static_cast<ULONGLONG>(options_.clockLockMs) * BusIntervalsPerSecond() / 1000;
    if (paths_.render && render_.Active())
        StartRender(AlternateSetting(paths_.render->interfaceNumber));
    if (paths_.capture && capture_.Active())
        StartCapture(AlternateSetting(paths_.capture->interfaceNumber));
}

void StreamingAudioDeviceModel::SetRenderNativeDsd(bool nativeDsd)
{
    if (nativeDsd == nativeDsd_)
        return;
    nativeDsd_ = nativeDsd;
    if (paths_.render && render_.Active())
        StartRender(AlternateSetting(paths_.render->interfaceNumber));
}

void StreamingAudioDeviceModel::StartRender(UCHAR alternateSetting)
{
    const AlternateFormat *a = FindAlternate(paths_.render->alternates, alternateSetting);
    if (!a) {
        render_.Stop();
        return;
    }
    PlaybackFormat format;
    format.sampleRate = clock_.Rate();
    format.channels = a->channels;
    format.subslotBytes = a->subslotBytes;
    format.bitResolution = a->bitResolution;
    format.nativeDsd = nativeDsd_;
    const ULONGLONG target =
        static_cast<ULONGLONG>(options_.targetFillUs) * clock_.Rate() / 1000000;
    render_.Start(format, static_cast<ULONG>(target));
}

void StreamingAudioDeviceModel::StartCapture(UCHAR alternateSetting)
{
    const AlternateFormat *a = FindAlternate(paths_.capture->alternates, alternateSetting);
    if (!a) {
        capture_.Stop();
        return;
    }
    capture_.Start({a->channels, a->subslotBytes, a->bitResolution});
}

void StreamingAudioDeviceModel::OnAlternateSetting(UCHAR interfaceNumber, UCHAR alternateSetting)
{
    if (paths_.render && interfaceNumber == paths_.render->interfaceNumber)
        StartRender(alternateSetting);
    if (paths_.capture && interfaceNumber == paths_.capture->interfaceNumber)
        StartCapture(alternateSetting);
}

void StreamingAudioDeviceModel::AdvanceTo(ULONGLONG interval)
{
    if (interval <= advancedTo_)
        return;
    const ULONGLONG from = std::max(advancedTo_, validAt_);
    advancedTo_ = interval;
    if (interval <= from)
        return;
    const ULONGLONG frames = clock_.Advance(interval - from);
    render_.Play(frames);
    capture_.Produce(frames);
}

void StreamingAudioDeviceModel::ReceiveRenderPacket(const UCHAR *data, ULONG length)
{
    if (paths_.render->framing == PacketFraming::Plain) {
        render_.Receive(data, length);
        return;
    }
    if (length < 4) {
        render_.CountMalformedPacket();
        return;
    }
    const ULONG payload =
        data[0] | data[1] << 8 | data[2] << 16 | static_cast<ULONG>(data[3]) << 24;
    if (payload != length - 4) {
        render_.CountMalformedPacket();
        return;
    }
    render_.Receive(data + 4, payload);
}

void StreamingAudioDeviceModel::IsochronousOut(UCHAR endpointAddress, ULONGLONG, const UCHAR *data,
                                               ULONG length)
{
    if (paths_.render && endpointAddress == paths_.render->dataEndpoint &&
        EndpointActive(endpointAddress))
        ReceiveRenderPacket(data, length);
}

ULONG StreamingAudioDeviceModel::FeedbackValue() const
{
    const LONGLONG nominal = clock_.FramesPerInterval16();
    if (!render_.Active())
        return static_cast<ULONG>(nominal);
    const LONGLONG error = static_cast<LONGLONG>(render_.TargetFrames()) - render_.Level();
    const LONGLONG correction = std::clamp<LONGLONG>(error * 2 * 65536 / BusIntervalsPerSecond(),
                                                     -kMaxCorrection16, kMaxCorrection16);
    return static_cast<ULONG>(std::max<LONGLONG>(nominal + correction, 0));
}

ULONG StreamingAudioDeviceModel::IsochronousIn(UCHAR endpointAddress, ULONGLONG, UCHAR *data,
                                               ULONG maxLength)
{
    if (!EndpointActive(endpointAddress))
        return 0;
    if (paths_.capture && endpointAddress == paths_.capture->dataEndpoint)
        return capture_.Fill(data, maxLength);
    if (!paths_.render || endpointAddress != paths_.render->feedbackEndpoint)
        return 0;
    ULONG value = FeedbackValue();
    ULONG length = 4;
    if (paths_.render->feedbackFormat == FeedbackFormat::Samples10_14) {
        value >>= 2;
        length = 3;
    }
    length = std::min(length, maxLength);
    for (ULONG i = 0; i < length; ++i)
        data[i] = static_cast<UCHAR>(value >> (8 * i));
    return length;
}

AudioControl &StreamingAudioDeviceModel::AddClockFrequencyControl(UCHAR clockId,
                                                                  const std::vector<ULONG> &rates,
                                                                  ULONG initialRate)
{
    return AddEntityControl(
        clockId, uac::kClockFrequencyControl, 0,
        AudioControl(4, false, initialRate)
            .WithRanges(DiscreteRanges(rates))
            .OnChange([this](LONGLONG rate) { SetSampleRate(static_cast<ULONG>(rate)); }));
}

void StreamingAudioDeviceModel::AddClockValidityControl(UCHAR clockId)
{
    AddEntityControl(clockId, uac::kClockValidityControl, 0,
                     AudioControl(1, false, 1).ReadBy([this] { return ClockValid() ? 1 : 0; }));
}

void StreamingAudioDeviceModel::AddEndpointFrequencyControl(UCHAR endpoint,
                                                            std::vector<ControlSubrange> rates)
{
    AddEndpointControl(
        endpoint, uac::kEndpointSamplingFrequencyControl,
        AudioControl(3, false, clock_.Rate())
            .WithRanges(std::move(rates))
            .OnChange([this](LONGLONG rate) { SetSampleRate(static_cast<ULONG>(rate)); }));
}

void StreamingAudioDeviceModel::AddMuteControl(UCHAR unitId, UCHAR channel)
{
    AddEntityControl(unitId, uac::kMuteControl, channel, AudioControl::Boolean(false));
}

void StreamingAudioDeviceModel::AddVolumeControl(UCHAR unitId, UCHAR channel,
                                                 const ControlSubrange &range)
{
    AddEntityControl(
        unitId, uac::kVolumeControl, channel,
        AudioControl(2, true, range.max).WithRanges({range}, true).AlsoAccept(kVolumeSilence));
}

} // namespace devices
