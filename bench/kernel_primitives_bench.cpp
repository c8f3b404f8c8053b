// Cost of the kernel emulation's basic operations: an uncontended event set/wait round trip
// between two emulated threads, and a spin-lock acquire/release.
#include <benchmark/benchmark.h>

#include "kernel/machine.h"

namespace {

struct PingPong {
    KEVENT ping;
    KEVENT pong;
    volatile LONG stop = 0;
};

void EventRoundTrip(benchmark::State &state)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "bench");
        PingPong pp;
        KeInitializeEvent(&pp.ping, SynchronizationEvent, FALSE);
        KeInitializeEvent(&pp.pong, SynchronizationEvent, FALSE);
        PKTHREAD echo = machine.StartThread("echo", machine.SystemProcess(), [&pp] {
            for (;;) {
                KeWaitForSingleObject(&pp.ping, Executive, KernelMode, FALSE, nullptr);
                if (pp.stop)
                    return;
                KeSetEvent(&pp.pong, 0, FALSE);
            }
        });
        for (auto _ : state) {
            KeSetEvent(&pp.ping, 0, FALSE);
            KeWaitForSingleObject(&pp.pong, Executive, KernelMode, FALSE, nullptr);
        }
        pp.stop = 1;
        KeSetEvent(&pp.ping, 0, FALSE);
        KeWaitForSingleObject(echo, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(echo);
    }
    machine.PowerOff();
}
BENCHMARK(EventRoundTrip)->UseRealTime();

void SpinLockAcquireRelease(benchmark::State &state)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "bench");
        KSPIN_LOCK lock;
        KeInitializeSpinLock(&lock);
        for (auto _ : state) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            KeReleaseSpinLock(&lock, old);
        }
        KLOCK_QUEUE_HANDLE handle;
        KeAcquireInStackQueuedSpinLock(&lock, &handle);
        KeReleaseInStackQueuedSpinLock(&handle);
    }
    machine.PowerOff();
}
BENCHMARK(SpinLockAcquireRelease);

} // namespace

BENCHMARK_MAIN();
