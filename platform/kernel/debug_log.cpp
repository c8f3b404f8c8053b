#include "debug_log.h"

#include "machine.h"

#include <ntstatus.h>

#include <map>
#include <memory>

namespace host {

namespace {

ULONG LevelMask(ULONG level) { return level < 32 ? ULONG(1) << level : level; }

} // namespace

DebugLog::DebugLog()
{
    for (std::atomic<ULONG> &mask : masks_)
        mask = ~ULONG(0);
}

NTSTATUS DebugLog::SetFilterState(ULONG componentId, ULONG level, bool on)
{
    if (componentId >= kComponents)
        return STATUS_INVALID_PARAMETER_1;
    if (on)
        masks_[componentId] |= LevelMask(level);
    else
        masks_[componentId] &= ~LevelMask(level);
    return STATUS_SUCCESS;
}

bool DebugLog::Passes(ULONG componentId, ULONG level) const
{
    return componentId >= kComponents || (masks_[componentId] & LevelMask(level)) != 0;
}

void DebugLog::Write(ULONG componentId, ULONG level, std::string text)
{
    std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back({componentId, level, std::move(text)});
}

std::vector<DebugMessage> DebugLog::Messages() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

std::string DebugLog::Text() const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::string all;
    for (const DebugMessage &m : messages_)
        all += m.text;
    return all;
}

bool DebugLog::Contains(const std::string &fragment) const
{
    return Text().find(fragment) != std::string::npos;
}

DebugLog &DebugLogOf(Machine &machine) { return machine.Log(); }

} // namespace host
