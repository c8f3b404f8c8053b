// A PNG of a run, drawn with PLplot: the feedback value and the device FIFO's level over time.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct StreamSample {
    double seconds;
    double feedback;   // frames per bus interval
    double fifoFrames; // the device's render FIFO
};

// False, with the reason in *error, when the file cannot be written.
bool WriteStreamPlot(const std::string &path, const std::string &title,
                     const std::vector<StreamSample> &samples, std::string *error);

} // namespace sim
