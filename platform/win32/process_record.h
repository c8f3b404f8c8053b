// The Win32 state of one user process: its threads as Win32 sees them (suspension, priority, COM
// apartment, MMCSS task), its loaded modules, its COM servers, and how it is ending.
#pragma once

#include "kernel/emulated_thread.h"
#include "kernel/process.h"

#include <windef.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host::win32 {

class ComServers;
class DeviceInfoSet;
class ModuleList;
class Subsystem;
class UserRequests;

struct ThreadRecord {
    explicit ThreadRecord(PKTHREAD thread);
    ~ThreadRecord(); // drops the reference on the thread
    ThreadRecord(const ThreadRecord &) = delete;
    ThreadRecord &operator=(const ThreadRecord &) = delete;

    PKTHREAD thread;
    // Made by CreateThread or as a process's main thread, so it can be ended from outside (a
    // thread a test attached to the process cannot).
    bool started = false;
    KEVENT resumed; // a CREATE_SUSPENDED thread waits here until its suspend count is 0
    ULONG suspendCount = 0;
    int priority = 0; // THREAD_PRIORITY_*
    ULONG comInitializations = 0;
    DWORD comModel = 0;      // COINIT_* of the first CoInitializeEx
    ULONG_PTR mmcssTask = 0; // the handle AvSetMmThreadCharacteristics returned, or 0
    DWORD mmcssTaskIndex = 0;
};

class ProcessRecord {
public:
    ProcessRecord(Subsystem &owner, PKPROCESS process, const std::u16string &imagePath);
    ~ProcessRecord();
    ProcessRecord(const ProcessRecord &) = delete;
    ProcessRecord &operator=(const ProcessRecord &) = delete;

    Subsystem &Owner() { return owner_; }
    PKPROCESS Process() { return process_; }
    const std::u16string &ImagePath() const { return imagePath_; }
    ModuleList &Modules() { return *modules_; }
    ComServers &Com() { return *com_; }
    // The requests its threads have sent to devices and that are not complete yet.
    UserRequests &Requests() { return *requests_; }

    // Guards the thread records and the exit state.
    std::mutex &Lock() { return lock_; }
    // The record of a thread of this process, made on first use; lock held.
    ThreadRecord &ThreadLocked(PKTHREAD thread);
    ThreadRecord *FindThreadLocked(PKTHREAD thread);
    // Forgets a thread that has ended; true if it was the process's last (no started thread
    // left, and `othersLive`, asked under the lock, finds no thread a test attached either).
    bool RemoveThread(PKTHREAD thread, const std::function<bool()> &othersLive);
    // Every started thread other than `except`, referenced (the caller dereferences them).
    std::vector<PKTHREAD> StartedThreads(PKTHREAD except);

    // The first call decides how the process ends: with which code, whether its DLLs get
    // DLL_PROCESS_DETACH (ExitProcess) or not (TerminateProcess), and which of its own threads
    // (if any) finishes the exit. Later calls change nothing and return false.
    bool BeginExit(DWORD exitCode, PKTHREAD exitingThread, bool detachDlls);
    bool Exiting();
    PKTHREAD ExitingThread();
    bool DetachDllsOnExit();

    // SetupAPI's device information sets of the process, by handle.
    PVOID AddDeviceInfoSet(std::unique_ptr<DeviceInfoSet> set);
    DeviceInfoSet *FindDeviceInfoSet(PVOID handle);
    bool RemoveDeviceInfoSet(PVOID handle);

    // The process's own handle to a predefined registry key (made by `open` on first use), as
    // advapi32 keeps one per key. Returns a Win32 error.
    DWORD PredefinedKey(ULONG_PTR key, const std::function<DWORD(HANDLE *)> &open, HANDLE *handle);

private:
    Subsystem &owner_;
    PKPROCESS process_;
    std::u16string imagePath_;
    std::unique_ptr<ModuleList> modules_;
    std::unique_ptr<ComServers> com_;
    std::shared_ptr<UserRequests> requests_;
    std::mutex lock_;
    std::map<PKTHREAD, std::unique_ptr<ThreadRecord>> threads_;
    bool exiting_ = false;
    PKTHREAD exitingThread_ = nullptr;
    bool detachDlls_ = false;
    std::map<ULONG_PTR, HANDLE> predefinedKeys_;
    std::map<PVOID, std::unique_ptr<DeviceInfoSet>> deviceInfoSets_;
};

} // namespace host::win32
