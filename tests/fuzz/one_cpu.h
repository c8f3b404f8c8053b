// Keeps a fuzz target's threads on the CPU it starts on. The threads of an input mostly hand
// work to one another: spread over CPUs, every hand-over wakes another CPU, which costs more than
// the input's own work.
// Threads started after the call inherit the mask; the interleavings a preemption gives remain.
#pragma once

#include <sched.h>

namespace fuzz {

inline void KeepToOneCpu()
{
    const int cpu = sched_getcpu();
    if (cpu < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

} // namespace fuzz
