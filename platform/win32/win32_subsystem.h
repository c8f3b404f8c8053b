// The Win32 subsystem of one machine: user mode as the deliverables see it. It keeps the named
// objects of the logged-on user's session, the Win32 state of every user process (threads,
// loaded modules, COM), the windows and message queues of the session's desktop with the device
// notifications sent to them, the event-tracing providers and sessions, and the part of the
// simulated disk the loader reads. The machine owns it (a service made on first use) and tells it
// about every process that ends.
#pragma once

#include "kernel/machine.h"

#include <windef.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace host::win32 {

class DeviceBroadcasts;
class EventTracing;
class NamedObjects;
class ProcessRecord;
class WindowManager;

class Subsystem : public MachineService {
public:
    explicit Subsystem(Machine &machine);
    ~Subsystem() override;
    Subsystem(const Subsystem &) = delete;
    Subsystem &operator=(const Subsystem &) = delete;

    // The machine's subsystem, made on first use.
    static Subsystem &Of(Machine &machine);

    Machine &Owner() { return machine_; }
    NamedObjects &Names() { return *names_; }
    WindowManager &Windows() { return *windows_; }
    EventTracing &Tracing() { return *tracing_; }
    // Shared with the PnP manager, which tells it of interface changes while it exists.
    const std::shared_ptr<DeviceBroadcasts> &Broadcasts() { return broadcasts_; }
    // What a wait on an object that is not a dispatcher object waits for: always signalled.
    PKEVENT AlwaysSignalled() { return &alwaysSignalled_; }

    // The Win32 state of a process, made on first use.
    ProcessRecord &Process(PKPROCESS process);

    // Starts a user process whose main thread runs `main`; returning from it is ExitProcess with
    // the value returned. The image path is what GetModuleFileName(NULL) reports. Returns the
    // process object with a reference for the caller.
    PKPROCESS StartProcess(const std::string &name, const std::u16string &imagePath,
                           std::function<DWORD()> main, bool is32Bit = false,
                           PKTHREAD *mainThread = nullptr);

    // Ends a process from outside it (TerminateProcess): its threads end, its handles close in
    // its own context. The calling thread must not belong to the process.
    void Terminate(PKPROCESS process, DWORD exitCode);

    // The simulated disk as far as the loader reads it: a Windows path and the host file behind
    // it (for a module: a shared library built for the host).
    void InstallFile(const std::u16string &windowsPath, const std::string &hostPath);
    std::optional<std::string> HostFileOf(const std::u16string &windowsPath);
    // A program on the simulated disk, which CreateProcessW starts with `main` as its main thread.
    void InstallProgram(const std::u16string &windowsPath, std::function<DWORD()> main);
    std::optional<std::function<DWORD()>> ProgramAt(const std::u16string &windowsPath);
    // Installed files whose name (the last path component) matches, case-insensitively.
    std::vector<std::u16string> InstalledFilesNamed(const std::u16string &fileName);

    // The device node number (DEVINST) of a device instance: the same for as long as the machine
    // runs.
    DWORD DeviceNodeNumber(const std::u16string &instanceId);

    // Makes a system module unloadable, as on a system where it is missing.
    void HideSystemModule(const std::u16string &name);
    bool SystemModuleHidden(const std::u16string &name);

    void ProcessEnding(PKPROCESS process) override;
    void ProcessEnded(PKPROCESS process) override;

private:
    Machine &machine_;
    std::unique_ptr<NamedObjects> names_;
    std::unique_ptr<WindowManager> windows_;
    std::unique_ptr<EventTracing> tracing_;
    std::shared_ptr<DeviceBroadcasts> broadcasts_;
    KEVENT alwaysSignalled_;
    std::mutex lock_;
    std::map<PKPROCESS, std::unique_ptr<ProcessRecord>> processes_;
    std::map<std::u16string, std::pair<std::u16string, std::string>> files_; // by upper-case path
    std::set<std::u16string> hiddenModules_;                                 // upper case
    std::map<std::u16string, std::function<DWORD()>> programs_;              // by upper-case path
    std::map<std::u16string, DWORD> deviceNodes_;                            // by upper-case id
};

} // namespace host::win32
