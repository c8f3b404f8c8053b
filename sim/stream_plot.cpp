#include "stream_plot.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

struct Series {
    std::vector<PLFLT> x;
    std::vector<PLFLT> y;
    PLFLT low = 0;
    PLFLT high = 1;
};

Series Take(const std::vector<StreamSample> &samples, double StreamSample::*field)
{
    Series s;
    for (const StreamSample &sample : samples) {
        s.x.push_back(sample.seconds);
        s.y.push_back(sample.*field);
    }
    const auto [low, high] = std::minmax_element(s.y.begin(), s.y.end());
    const PLFLT margin = std::max((*high - *low) * 0.1, 1e-3);
    s.low = *low - margin;
    s.high = *high + margin;
    return s;
}

void Panel(const Series &s, const char *label, const char *title, PLFLT end)
{
    plenv(0, end, s.low, s.high, 0, 0);
    pllab("simulated time (s)", label, title);
    plline(PLINT(s.x.size()), s.x.data(), s.y.data());
}

} // namespace

bool WriteStreamPlot(const std::string &path, const std::string &title,
                     const std::vector<StreamSample> &samples, std::string *error)
{
    if (samples.size() < 2) {
        *error = "too short a run to plot";
        return false;
    }
    FILE *probe = std::fopen(path.c_str(), "wb");
    if (probe == nullptr) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    std::fclose(probe);
    plsdev("pngcairo");
    plsfnam(path.c_str());
    plsetopt("geometry", "1000x700");
    plssub(1, 2);
    plinit();
    const PLFLT end = samples.back().seconds;
    Panel(Take(samples, &StreamSample::feedback), "frames per interval",
          (title + ": feedback value").c_str(), end);
    Panel(Take(samples, &StreamSample::fifoFrames), "frames", "device FIFO level", end);
    plend();
    return true;
}

} // namespace sim
