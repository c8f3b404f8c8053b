#include "debug_log.h"

#include "machine.h"

#include <map>
#include <memory>

namespace host {

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
