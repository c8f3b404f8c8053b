// Keeps a fuzz target's threads on the CPU it starts on, and lets a thread that wakes another run
// on until it waits. The threads of an input mostly hand work to one another: spread over CPUs,
// every hand-over wakes another CPU, and on one CPU a woken thread that preempts the one that
// woke it costs a second switch back; either costs more than the input's own work.
// Threads started after the calls inherit both; the interleavings a preemption at the end of a
// time slice gives remain.
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

// The batch policy: a woken thread waits for the waker to wait or for its time slice to end,
// rather than preempting it at once. Same priority as before; any user may choose it.
inline void HandOverWithoutPreemption()
{
    sched_param param = {};
    sched_setscheduler(0, SCHED_BATCH, &param);
}

} // namespace fuzz
