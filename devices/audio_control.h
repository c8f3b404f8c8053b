// One audio class control as a device sees it: a selector of one entity (or endpoint) on one
// channel, with its current value, the subranges it reports and accepts, and the byte layouts
// of the requests of both class versions (Audio Class 2.0 CUR and RANGE; Audio Class 1.0
// GET_CUR/MIN/MAX/RES and SET_CUR).
#pragma once

#include <ntdef.h>

#include <functional>
#include <vector>

namespace devices {

struct ControlSubrange {
    LONGLONG min;
    LONGLONG max;
    LONGLONG res;
};

class AudioControl {
public:
    // A control of `size` bytes (1 to 4), signed or unsigned, starting at `initial`.
    AudioControl(UCHAR size, bool isSigned, LONGLONG initial);
    // A one-byte on/off control (mute): any non-zero value written reads back as 1.
    static AudioControl Boolean(bool initial);

    // Subranges reported by RANGE (and GET_MIN/MAX/RES from the first one). When present, a
    // value is accepted only inside a subrange: exactly on a step when the control is exact,
    // rounded to the nearest step when it snaps.
    AudioControl &WithRanges(std::vector<ControlSubrange> ranges, bool snap = false);
    AudioControl &ReadOnly();
    // A value outside the subranges that is accepted as it is (volume's "silence", 0x8000).
    AudioControl &AlsoAccept(LONGLONG value);
    // Further validation of written values (false stalls the request).
    AudioControl &AcceptWhen(std::function<bool(LONGLONG)> accept);
    // The value is computed on every read instead of stored.
    AudioControl &ReadBy(std::function<LONGLONG()> read);
    // Called after a host write changed the stored value.
    AudioControl &OnChange(std::function<void(LONGLONG)> changed);
    // A device fault: RANGE announces this many subranges whatever it carries.
    AudioControl &AnnounceSubranges(USHORT count);

    UCHAR Size() const { return size_; }
    LONGLONG Current() const;
    bool HasRanges() const { return !ranges_.empty(); }

    // Device-to-host replies; each writes at most maxLength bytes and returns the count.
    ULONG ReadCur(UCHAR *out, ULONG maxLength) const;
    ULONG ReadRange(UCHAR *out, ULONG maxLength) const; // wNumSubRanges, then MIN, MAX, RES
    ULONG ReadFirstRangeField(int field, UCHAR *out, ULONG maxLength) const; // 0 MIN, 1 MAX, 2 RES

    // A host write of CUR; false means the request stalls (wrong length, read-only control,
    // value not accepted).
    bool WriteCur(const UCHAR *in, ULONG length);

private:
    ULONG Encode(LONGLONG value, UCHAR *out, ULONG maxLength) const;
    bool Accepts(LONGLONG value, LONGLONG *stored) const;

    UCHAR size_;
    bool signed_;
    bool boolean_ = false;
    bool writable_ = true;
    bool snap_ = false;
    LONGLONG current_;
    std::vector<ControlSubrange> ranges_;
    std::vector<LONGLONG> alsoAccepted_;
    USHORT announcedSubranges_ = 0;
    std::function<bool(LONGLONG)> accept_;
    std::function<LONGLONG()> read_;
    std::function<void(LONGLONG)> changed_;
};

} // namespace devices
