// The host threads that run emulated threads. A program that boots one machine after another (a
// fuzzer boots one per input) would otherwise create and join a host thread, with the
// sanitizers' per-thread set-up and teardown, for every emulated thread of every machine. A host
// thread that has run one body parks and takes the next; every body starts on a host thread of
// its own at once, never behind another.
#pragma once

#include <functional>
#include <future>

namespace host {

// Runs `body` on a parked host thread, or on a new one if none is parked. The future is ready
// once the body has returned and its host thread has let go of everything it ran.
std::future<void> RunOnHostThread(std::function<void()> body);

} // namespace host
