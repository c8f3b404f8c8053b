// WAV and FLAC files for quen-sim, through libsndfile: a file to play, read as client frames, and
// what the DAC received or the client recorded, written as it arrives.
#pragma once

#include <ntdef.h>

#include <sndfile.h>

#include <string>
#include <vector>

namespace sim {

struct AudioFileContents {
    ULONG channels = 0;
    ULONG rate = 0;
    std::vector<UCHAR> frames; // little-endian PCM samples of the bits asked for
};

// Reads a whole file as `bits`-bit PCM samples. False, with the reason in *error, when it
// cannot be read.
bool ReadAudioFile(const std::string &path, ULONG bits, AudioFileContents *contents,
                   std::string *error);

// A file written frame by frame: WAV, or FLAC when the name ends in ".flac" (at most 24 bits).
class AudioFileWriter {
public:
    AudioFileWriter() = default;
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter &) = delete;
    AudioFileWriter &operator=(const AudioFileWriter &) = delete;

    bool Open(const std::string &path, ULONG rate, ULONG channels, ULONG bits, std::string *error);
    bool IsOpen() const { return file_ != nullptr; }
    // Appends `frameCount` frames whose samples are `slotBytes` little-endian bytes each, the
    // sample at the top of its slot.
    void Write(const UCHAR *frames, ULONG frameCount, ULONG slotBytes);

private:
    SNDFILE *file_ = nullptr;
    ULONG channels_ = 0;
    std::vector<int> samples_;
};

} // namespace sim
