// An ASIO host in a simulated user process, using only what a real host uses: the driver's entry
// under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, CoCreateInstance with the class id as interface id, the
// IASIO vtable and the four callbacks. At every switch it reads the input halves into a checker
// of the device's ramp and fills the output halves with the next frames of the source (PCM) or
// the next DSD bytes, and counts what a host would notice: switches out of order, positions and
// time stamps that do not follow, reset requests.
#pragma once

#include "asio_types.h"

#include <mmsystem.h>
#include <objbase.h>
#include <windows.h>

#include "stream_patterns.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace asio_tests {

// The DSD byte a host sends as byte `index` of channel `channel`.
inline UCHAR DsdByte(ULONG channel, ULONGLONG index)
{
    return UCHAR((index * 0x9E3779B1u) >> 13) ^ UCHAR(index) ^ UCHAR(0x5B * channel);
}

class AsioHost {
public:
    AsioHost() { current_ = this; }
    ~AsioHost()
    {
        Unload();
        current_ = nullptr;
    }

    // The driver's class id from its ASIO entry, then the object by that id; S_OK or why not.
    HRESULT Load()
    {
        HKEY key = nullptr;
        WCHAR text[64] = {};
        DWORD size = sizeof text - sizeof(WCHAR);
        CLSID clsid;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO\\Quen_Norvane_asio", 0, KEY_READ,
                          &key) != ERROR_SUCCESS)
            return REGDB_E_CLASSNOTREG;
        LSTATUS status = RegQueryValueExW(key, L"CLSID", nullptr, nullptr,
                                          reinterpret_cast<BYTE *>(text), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || FAILED(CLSIDFromString(text, &clsid)))
            return REGDB_E_CLASSNOTREG;
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid,
                                reinterpret_cast<void **>(&driver_));
    }

    void Unload()
    {
        if (driver_ != nullptr)
            driver_->Release();
        driver_ = nullptr;
    }

    IASIO *operator->() const { return driver_; }
    IASIO *Driver() const { return driver_; }

    // `inputs` and `outputs` channels from 0, inputs first; the result of createBuffers.
    ASIOError Create(ULONG inputs, ULONG outputs, LONG bufferSize)
    {
        infos_.assign(inputs + outputs, ASIOBufferInfo{});
        for (ULONG i = 0; i < inputs + outputs; ++i) {
            infos_[i].isInput = i < inputs ? ASIOTrue : ASIOFalse;
            infos_[i].channelNum = LONG(i < inputs ? i : i - inputs);
        }
        inputs_ = inputs;
        bufferSize_ = ULONG(bufferSize);
        ASIOSampleRate rate = 0;
        driver_->getSampleRate(&rate);
        rate_ = ULONG(rate);
        input_.Reset({2, 32, rate_}, {2, 4, 24});
        return driver_->createBuffers(infos_.data(), LONG(infos_.size()), bufferSize, &callbacks_);
    }

    void *Buffer(ULONG info, ULONG half) const { return infos_[info].buffers[half]; }

    // How the host behaves.
    bool timeInfo = true;
    bool callOutputReady = true;
    bool dsd = false;
    // Round trip: the output is silent but for a full-scale sample on channel 0 at this frame,
    // and the input frame at which it comes back is noted.
    ULONGLONG impulseFrame = ~0ull;
    ULONGLONG impulseHeardAt = ~0ull;

    // What it saw.
    std::atomic<ULONGLONG> switches{0};
    std::atomic<ULONG> resets{0};
    std::atomic<ULONG> timeInfoAsked{0};
    ULONGLONG wrongIndex = 0;    // not alternating from 0
    ULONGLONG wrongPosition = 0; // not 0, 0, then one buffer more at each switch
    ULONGLONG wrongStamp = 0;    // not the time of the switch
    ULONGLONG framesSent = 0;
    ULONGLONG lastPosition = 0;
    sim::CaptureChecker input_;

private:
    void OnSwitch(LONG index, const ASIOTime *time)
    {
        const ULONGLONG k = switches;
        wrongIndex += ULONG(index) != (k & 1) ? 1 : 0;
        ASIOSamples position;
        ASIOTimeStamp stamp;
        if (time != nullptr) {
            position = time->timeInfo.samplePosition;
            stamp = time->timeInfo.systemTime;
        } else {
            driver_->getSamplePosition(&position, &stamp);
        }
        lastPosition = (ULONGLONG(position.hi) << 32) | position.lo;
        wrongPosition += lastPosition != (k < 2 ? 0 : (k - 1) * bufferSize_) ? 1 : 0;
        const ULONGLONG now = ULONGLONG(timeGetTime()) * 1000000;
        wrongStamp += ((ULONGLONG(stamp.hi) << 32) | stamp.lo) != now ? 1 : 0;
        if (inputs_ > 0)
            ReadInputs(ULONG(index));
        FillOutputs(ULONG(index));
        if (callOutputReady)
            driver_->outputReady();
        ++switches;
    }

    void ReadInputs(ULONG half)
    {
        if (impulseFrame != ~0ull) {
            const auto *input = static_cast<const LONG *>(infos_[0].buffers[half]);
            for (ULONG i = 0; i < bufferSize_ && impulseHeardAt == ~0ull; ++i) {
                if (input[i] != 0)
                    impulseHeardAt = framesReceived_ + i;
            }
            framesReceived_ += bufferSize_;
            return;
        }
        std::vector<UCHAR> frames(8 * bufferSize_);
        for (ULONG i = 0; i < bufferSize_; ++i) {
            for (ULONG k = 0; k < 2; ++k)
                std::memcpy(&frames[8 * i + 4 * k],
                            static_cast<const UCHAR *>(infos_[k].buffers[half]) + 4 * i, 4);
        }
        input_.Check(frames.data(), ULONG(frames.size()));
    }

    void FillOutputs(ULONG half)
    {
        const ULONG samples = dsd ? bufferSize_ / 8 : bufferSize_;
        UCHAR bytes[8];
        for (ULONG i = 0; i < samples; ++i, ++framesSent) {
            sim::SourceFrame(framesSent, bytes, sizeof bytes);
            if (impulseFrame != ~0ull) {
                const LONG sample = framesSent == impulseFrame ? 0x7FFFFF00 : 0;
                std::memcpy(bytes, &sample, 4);
                std::memcpy(bytes + 4, &sample, 4);
            }
            for (ULONG k = 0; k + inputs_ < infos_.size(); ++k) {
                auto *target = static_cast<UCHAR *>(infos_[inputs_ + k].buffers[half]);
                if (dsd)
                    target[i] = DsdByte(k, framesSent);
                else
                    std::memcpy(target + 4 * i, bytes + 4 * (k & 1), 4);
            }
        }
    }

    static void BufferSwitch(LONG index, ASIOBool) { current_->OnSwitch(index, nullptr); }
    static void SampleRateDidChange(ASIOSampleRate) {}
    static LONG Message(LONG selector, LONG, void *, double *)
    {
        if (selector == kAsioSupportsTimeInfo) {
            ++current_->timeInfoAsked;
            return current_->timeInfo ? 1 : 0;
        }
        if (selector == kAsioResetRequest) {
            ++current_->resets;
            return 1;
        }
        return 0;
    }
    static ASIOTime *BufferSwitchTimeInfo(ASIOTime *time, LONG index, ASIOBool)
    {
        current_->OnSwitch(index, time);
        return time;
    }

    static inline AsioHost *current_ = nullptr;
    IASIO *driver_ = nullptr;
    ASIOCallbacks callbacks_ = {BufferSwitch, SampleRateDidChange, Message, BufferSwitchTimeInfo};
    std::vector<ASIOBufferInfo> infos_;
    ULONG inputs_ = 0;
    ULONGLONG framesReceived_ = 0;
    ULONG bufferSize_ = 0;
    ULONG rate_ = 0;
};

} // namespace asio_tests
