// Win32 threads: the start-up frame every CreateThread thread and process main thread runs in
// (suspension, DLL_THREAD_ATTACH/DETACH, ExitThread, the end of the process with its last thread),
// and how threads end when their process does.
//
// A host thread cannot be killed. A thread of a process that is ending is asked to end
// (RequestThreadTermination): every user-mode wait it makes returns at once, and the Win32 wait
// that sees this unwinds the thread to its start-up frame (ThreadExit). While that unwinding runs
// (destructors of the thread's own objects), further waits simply fail.
#pragma once

#include "process_record.h"

#include <functional>
#include <string>

namespace host::win32 {

// Starts a Win32 thread in the process; `main` makes it the process's main thread (returning
// from it ends the process). Returns the thread object with a reference for the caller.
PKTHREAD StartUserThread(ProcessRecord &process, const std::string &name, bool suspended, bool main,
                         std::function<DWORD()> body);

// ExitThread / ExitProcess / TerminateProcess of the caller's own process, from inside: ends the
// calling thread (a thread a test attached cannot be ended: a verifier report, and it returns).
void EndCallingThread(const char *entryPoint, DWORD exitCode);

// A user-mode wait of the calling thread returned STATUS_THREAD_IS_TERMINATING: the thread's
// outstanding device requests are cancelled and waited for (their buffers may be on its stack),
// then it unwinds unless that is already under way (or the thread cannot be unwound), in which
// case the wait fails.
void ThreadTerminating();

// Asks every thread of the process but the caller to end and waits for the started ones.
void EndOtherThreads(ProcessRecord &process);

} // namespace host::win32
