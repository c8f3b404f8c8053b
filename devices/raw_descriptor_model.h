// A device that replays descriptor bytes it is given (a real device's dump, or a deliberately
// broken set) and answers class requests with plausible defaults found by walking its own
// audio control descriptors: every clock source has a sampling frequency (CUR, RANGE of the
// common rates, 48 kHz at first) and a validity control that reads true; every clock selector
// a selector on pin 1; every feature unit the mute and volume controls its bmaControls
// announce; in Audio Class 1.0 every streaming data endpoint a sampling frequency control over
// the rates its format lists. The first OUT and the first IN streaming interface stream as
// asynchronous render and capture paths, with the feedback endpoint the descriptors name.
#pragma once

#include "streaming_audio_device_model.h"

#include <map>

namespace devices {

class RawDescriptorModel : public StreamingAudioDeviceModel {
public:
    RawDescriptorModel(host::UsbSpeed speed, const DescriptorSet &descriptors,
                       const StreamingOptions &options = StreamingOptions());

    // The streaming the descriptors describe, as the model runs it.
    struct StreamingDescription {
        StreamingPaths paths;
        std::map<UCHAR, std::vector<ControlSubrange>> endpointRates; // Audio Class 1.0
        ULONG initialRate = 48000;
    };
    static StreamingDescription DescribeStreaming(const DescriptorSet &descriptors);

private:
    RawDescriptorModel(host::UsbSpeed speed, const DescriptorSet &descriptors,
                       const StreamingOptions &options, const StreamingDescription &description);
    void AddDefaultEntityControls();
};

} // namespace devices
