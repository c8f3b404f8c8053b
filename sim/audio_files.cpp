#include "audio_files.h"

#include <algorithm>

namespace sim {
namespace {

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           std::equal(end.rbegin(), end.rend(), text.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

int Subtype(ULONG bits)
{
    return bits <= 8    ? SF_FORMAT_PCM_S8
           : bits <= 16 ? SF_FORMAT_PCM_16
           : bits <= 24 ? SF_FORMAT_PCM_24
                        : SF_FORMAT_PCM_32;
}

} // namespace

bool ReadAudioFile(const std::string &path, ULONG bits, AudioFileContents *contents,
                   std::string *error)
{
    SF_INFO info = {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        *error = "cannot read '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    contents->channels = ULONG(info.channels);
    contents->rate = ULONG(info.samplerate);
    const ULONG sampleBytes = bits / 8;
    std::vector<int> block(size_t(4096) * info.channels);
    contents->frames.clear();
    for (sf_count_t got; (got = sf_readf_int(file, block.data(), 4096)) > 0;) {
        for (sf_count_t i = 0; i < got * info.channels; ++i) {
            const unsigned value = unsigned(block[size_t(i)]);
            for (ULONG b = 0; b < sampleBytes; ++b)
                contents->frames.push_back(UCHAR(value >> (32 - 8 * sampleBytes + 8 * b)));
        }
    }
    sf_close(file);
    if (contents->frames.empty()) {
        *error = "'" + path + "' holds no audio";
        return false;
    }
    return true;
}

AudioFileWriter::~AudioFileWriter()
{
    if (file_ != nullptr)
        sf_close(file_);
}

bool AudioFileWriter::Open(const std::string &path, ULONG rate, ULONG channels, ULONG bits,
                           std::string *error)
{
    const bool flac = EndsWith(path, ".flac");
    SF_INFO info = {};
    info.samplerate = int(rate);
    info.channels = int(channels);
    info.format =
        (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | Subtype(flac ? std::min<ULONG>(bits, 24) : bits);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        *error = "cannot write '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    channels_ = channels;
    return true;
}

void AudioFileWriter::Write(const UCHAR *frames, ULONG frameCount, ULONG slotBytes)
{
    if (file_ == nullptr)
        return;
    samples_.resize(size_t(frameCount) * channels_);
    for (size_t i = 0; i < samples_.size(); ++i) {
        unsigned value = 0;
        for (ULONG b = 0; b < slotBytes; ++b)
            value |= unsigned(frames[i * slotBytes + b]) << (32 - 8 * slotBytes + 8 * b);
        samples_[i] = int(value);
    }
    sf_writef_int(file_, samples_.data(), sf_count_t(frameCount));
}

} // namespace sim
