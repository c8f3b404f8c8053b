// A kernel-mode KS client, as an audio engine uses a WaveCyclic filter: it finds the filter by
// its device interface, opens it, asks for its pins (count, data flow, communication, data
// ranges), intersects a range into a format, creates a pin with it, moves the pin through its
// states, and streams: a few packets of 10 ms each kept queued ahead with
// IOCTL_KS_WRITE_STREAM (a source fills them) or IOCTL_KS_READ_STREAM (a sink takes them).
// Every call runs on the calling emulated thread at PASSIVE_LEVEL.
#pragma once

#include <ntddk.h>
#include <ks.h>
#include <ksmedia.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class KsPin;

// One KS object open by handle (kernel handle), with its file object referenced.
class KsObjectHandle {
public:
    ~KsObjectHandle();
    KsObjectHandle(const KsObjectHandle &) = delete;
    KsObjectHandle &operator=(const KsObjectHandle &) = delete;

    HANDLE Handle() const { return handle_; }
    PFILE_OBJECT File() const { return file_; }
    // IOCTL_KS_PROPERTY: the property (and any instance bytes after it) in, the value out.
    NTSTATUS Property(const KSPROPERTY &property, ULONG propertySize, void *value, ULONG valueSize,
                      ULONG *returned = nullptr);

protected:
    KsObjectHandle() = default;
    NTSTATUS Attach(HANDLE handle);
    // Makes the object of an opened handle (which it then owns, also on failure).
    template <class T>
    static NTSTATUS Adopt(HANDLE handle, std::unique_ptr<T> *object)
    {
        std::unique_ptr<T> made(new T());
        NTSTATUS status = made->Attach(handle);
        if (NT_SUCCESS(status))
            *object = std::move(made);
        return status;
    }

private:
    HANDLE handle_ = nullptr;
    PFILE_OBJECT file_ = nullptr;
};

class KsFilter : public KsObjectHandle {
public:
    // The enabled interfaces of a category.
    static std::vector<std::u16string> Interfaces(const GUID &category);
    static NTSTATUS Open(const std::u16string &link, std::unique_ptr<KsFilter> *filter);

    // A KSPROPSETID_Pin property of one pin (a ULONG-sized value).
    NTSTATUS PinValue(ULONG pin, ULONG id, ULONG *value);
    NTSTATUS PinCount(ULONG *count);
    // The pin's data ranges, each as its bytes.
    NTSTATUS DataRanges(ULONG pin, std::vector<std::vector<UCHAR>> *ranges);
    // KSPROPERTY_PIN_DATAINTERSECTION of one client range: the format it gives.
    NTSTATUS Intersect(ULONG pin, const std::vector<UCHAR> &range, std::vector<UCHAR> *format);
    NTSTATUS CreatePin(ULONG pin, const std::vector<UCHAR> &format, std::unique_ptr<KsPin> *made);
};

class KsPin : public KsObjectHandle {
public:
    NTSTATUS SetState(KSSTATE state);
    NTSTATUS State(KSSTATE *state);
    NTSTATUS Position(KSAUDIO_POSITION *position);

    // Streams `packets` packets of `packetBytes` each, keeping `ahead` of them queued: a render
    // pin's packets are filled by `fill` before they go out, a capture pin's are handed to
    // `fill` once they come back. Returns the first failure of a packet, or STATUS_SUCCESS.
    using PacketFunction = std::function<void(ULONG index, UCHAR *bytes, ULONG length)>;
    NTSTATUS Stream(bool capture, ULONG packetBytes, ULONG packets, ULONG ahead,
                    const PacketFunction &fill);

private:
    friend class KsFilter;
};

// Opens a KS object by name, relative to `root` when it is given, as a kernel-mode client does
// (ZwCreateFile, kernel handle). The name's bytes go to the driver as they are.
NTSTATUS OpenKsObject(HANDLE root, const UNICODE_STRING &name, HANDLE *handle);

// A pin create request's parameters: a standard streaming KSPIN_CONNECT, then the format.
std::vector<UCHAR> PinConnectRequest(ULONG pin, const std::vector<UCHAR> &format);

// A WAVEFORMATEX PCM format with its KSDATAFORMAT header (KSDATAFORMAT_WAVEFORMATEX).
std::vector<UCHAR> PcmFormat(USHORT channels, ULONG rate, USHORT bits);
// A KSDATARANGE_AUDIO for PCM.
std::vector<UCHAR> PcmRange(ULONG channels, ULONG minBits, ULONG maxBits, ULONG minRate,
                            ULONG maxRate);

} // namespace sim
