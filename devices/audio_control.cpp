#include "audio_control.h"

#include <algorithm>

namespace devices {

AudioControl::AudioControl(UCHAR size, bool isSigned, LONGLONG initial)
    : size_(size), signed_(isSigned), current_(initial)
{
}

AudioControl AudioControl::Boolean(bool initial)
{
    AudioControl control(1, false, initial ? 1 : 0);
    control.boolean_ = true;
    return control;
}

AudioControl &AudioControl::WithRanges(std::vector<ControlSubrange> ranges, bool snap)
{
    ranges_ = std::move(ranges);
    snap_ = snap;
    return *this;
}

AudioControl &AudioControl::ReadOnly()
{
    writable_ = false;
    return *this;
}

AudioControl &AudioControl::AlsoAccept(LONGLONG value)
{
    alsoAccepted_.push_back(value);
    return *this;
}

AudioControl &AudioControl::AcceptWhen(std::function<bool(LONGLONG)> accept)
{
    accept_ = std::move(accept);
    return *this;
}

AudioControl &AudioControl::ReadBy(std::function<LONGLONG()> read)
{
    read_ = std::move(read);
    return *this;
}

AudioControl &AudioControl::OnChange(std::function<void(LONGLONG)> changed)
{
    changed_ = std::move(changed);
    return *this;
}

AudioControl &AudioControl::AnnounceSubranges(USHORT count)
{
    announcedSubranges_ = count;
    return *this;
}

LONGLONG AudioControl::Current() const { return read_ ? read_() : current_; }

ULONG AudioControl::Encode(LONGLONG value, UCHAR *out, ULONG maxLength) const
{
    const ULONG n = std::min<ULONG>(size_, maxLength);
    for (ULONG i = 0; i < n; ++i)
        out[i] = static_cast<UCHAR>(static_cast<ULONGLONG>(value) >> (8 * i));
    return n;
}

ULONG AudioControl::ReadCur(UCHAR *out, ULONG maxLength) const
{
    return Encode(Current(), out, maxLength);
}

ULONG AudioControl::ReadRange(UCHAR *out, ULONG maxLength) const
{
    ULONG length = 0;
    auto put = [&](LONGLONG value, ULONG bytes) {
        for (ULONG i = 0; i < bytes && length < maxLength; ++i)
            out[length++] = static_cast<UCHAR>(static_cast<ULONGLONG>(value) >> (8 * i));
    };
    put(announcedSubranges_ ? announcedSubranges_ : static_cast<LONGLONG>(ranges_.size()), 2);
    for (const ControlSubrange &r : ranges_) {
        put(r.min, size_);
        put(r.max, size_);
        put(r.res, size_);
    }
    return length;
}

ULONG AudioControl::ReadFirstRangeField(int field, UCHAR *out, ULONG maxLength) const
{
    const ControlSubrange &r = ranges_.front();
    return Encode(field == 0 ? r.min : field == 1 ? r.max : r.res, out, maxLength);
}

bool AudioControl::Accepts(LONGLONG value, LONGLONG *stored) const
{
    if (accept_ && !accept_(value))
        return false;
    if (boolean_) {
        *stored = value != 0;
        return true;
    }
    if (ranges_.empty() ||
        std::find(alsoAccepted_.begin(), alsoAccepted_.end(), value) != alsoAccepted_.end()) {
        *stored = value;
        return true;
    }
    for (const ControlSubrange &r : ranges_) {
        if (value < r.min || value > r.max)
            continue;
        if (r.min == r.max) {
            *stored = value;
            return true;
        }
        if (r.res == 0)
            continue;
        const LONGLONG steps = (value - r.min + (snap_ ? r.res / 2 : 0)) / r.res;
        if (!snap_ && (value - r.min) % r.res != 0)
            continue;
        *stored = std::min(r.min + steps * r.res, r.max);
        return true;
    }
    return false;
}

bool AudioControl::WriteCur(const UCHAR *in, ULONG length)
{
    if (!writable_ || read_ || length != size_)
        return false;
    ULONGLONG raw = 0;
    for (ULONG i = 0; i < length; ++i)
        raw |= static_cast<ULONGLONG>(in[i]) << (8 * i);
    LONGLONG value = static_cast<LONGLONG>(raw);
    const unsigned bits = 8 * size_;
    if (signed_ && (raw >> (bits - 1)) & 1)
        value -= LONGLONG(1) << bits;
    LONGLONG stored;
    if (!Accepts(value, &stored))
        return false;
    const bool changed = stored != current_;
    current_ = stored;
    if (changed && changed_)
        changed_(stored);
    return true;
}

} // namespace devices
