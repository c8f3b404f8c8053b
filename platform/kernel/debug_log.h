// The machine's debugger output: every DbgPrint/DbgPrintEx message (and, later, user-mode
// OutputDebugString) lands here, where tests and the simulator read it. Windows filters
// DbgPrintEx by component and level; the log keeps everything and records both.
#pragma once

#include <ntdef.h>

#include <mutex>
#include <string>
#include <vector>

namespace host {

class Machine;

struct DebugMessage {
    ULONG componentId;
    ULONG level;
    std::string text; // UTF-8, as formatted
};

class DebugLog {
public:
    void Write(ULONG componentId, ULONG level, std::string text);

    std::vector<DebugMessage> Messages() const;
    // All messages concatenated, as a debugger would show them.
    std::string Text() const;
    bool Contains(const std::string &fragment) const;

private:
    mutable std::mutex lock_;
    std::vector<DebugMessage> messages_;
};

// The debug log of a machine.
DebugLog &DebugLogOf(Machine &machine);

} // namespace host
