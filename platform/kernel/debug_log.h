// The machine's debugger output: every DbgPrint/DbgPrintEx message (and, later, user-mode
// OutputDebugString) lands here, where tests and the simulator read it. Windows filters
// DbgPrintEx by a mask per component; here every mask starts with all levels on, so the log
// keeps everything (and records component and level) until DbgSetDebugFilterState turns some off.
#pragma once

#include <ntdef.h>

#include <array>
#include <atomic>
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
    DebugLog();
    void Write(ULONG componentId, ULONG level, std::string text);

    std::vector<DebugMessage> Messages() const;
    // All messages concatenated, as a debugger would show them.
    std::string Text() const;
    bool Contains(const std::string &fragment) const;

    // The component filter masks: Level 0-31 names one bit, a larger Level is a mask of bits.
    // A component id beyond the table is refused (STATUS_INVALID_PARAMETER_1).
    NTSTATUS SetFilterState(ULONG componentId, ULONG level, bool on);
    // Whether a message of the component and level gets through (ids beyond the table do).
    bool Passes(ULONG componentId, ULONG level) const;

private:
    static constexpr size_t kComponents = 102; // the DPFLTR_TYPE ids this machine knows
    std::array<std::atomic<ULONG>, kComponents> masks_;
    mutable std::mutex lock_;
    std::vector<DebugMessage> messages_;
};

// The debug log of a machine.
DebugLog &DebugLogOf(Machine &machine);

} // namespace host
