// The functional device object port class makes for an adapter (PcAddAdapterDevice) and what it
// does with the requests the device receives: the start request calls the adapter's start
// routine with the device's resource list; subdevices registered on it (PcRegisterSubdevice)
// get device interfaces and receive the creates their reference strings name; the adapter's
// power management (PcRegisterAdapterPowerManagement) hears of power changes; stop and remove
// take the subdevices down again.
//
// Choices where the documentation is silent:
// - A query-stop or query-remove is refused (STATUS_DEVICE_BUSY) while a filter or pin is open.
// - Stop removes the subdevices and the power registration, as port class's "remove subdevices"
//   rebalance does; the next start builds them again through the adapter's start routine.
// - Creates fail while the device is not started (STATUS_INVALID_DEVICE_STATE), and after a
//   surprise removal (STATUS_DEVICE_NOT_CONNECTED).
#pragma once

#include "port_subdevice.h"

#include <string>
#include <vector>

namespace host {

class PortClassDevice {
public:
    PortClassDevice(PDEVICE_OBJECT fdo, PDEVICE_OBJECT pdo, PDEVICE_OBJECT lower,
                    PCPFNSTARTDEVICE startDevice, ULONG maxSubdevices);
    ~PortClassDevice();

    // The port class device of a functional device object, or null (reported) for any other.
    static PortClassDevice *Of(PDEVICE_OBJECT device, const char *entryPoint);
    // The extension slot that points at it.
    static void Attach(PDEVICE_OBJECT fdo, PortClassDevice *device);

    NTSTATUS Dispatch(PIRP irp);
    NTSTATUS RegisterSubdevice(const std::u16string &name, PUNKNOWN unknown);
    NTSTATUS RegisterPowerManagement(PUNKNOWN unknown);
    // Ports initialised on this device (IPort::Init), so that stopping or removing the device
    // also releases the miniports of ports that were never registered.
    void PortInitialised(PortSubdevice *port);
    void PortDestroyed(PortSubdevice *port);
    PDEVICE_OBJECT Pdo() const { return pdo_; }

private:
    enum class State { Added, Started, StopPending, Stopped, RemovePending, SurpriseRemoved };
    struct Subdevice {
        std::u16string name;
        PortSubdevice *port; // referenced through its PortUnknown
        std::vector<std::u16string> links;
    };

    NTSTATUS Create(PIRP irp);
    NTSTATUS Pnp(PIRP irp);
    NTSTATUS Power(PIRP irp);
    NTSTATUS SetDevicePower(PIRP irp, DEVICE_POWER_STATE state);
    NTSTATUS Start(PIRP irp);
    // Sends the request down and waits for it; the caller completes it.
    NTSTATUS ForwardAndWait(PIRP irp);
    // Passes the request down for good (its result is the lower driver's).
    NTSTATUS PassDown(PIRP irp);
    bool FilesOpen();
    void RemoveSubdevices();
    void SetInterfaces(bool enable);

    PDEVICE_OBJECT fdo_;
    PDEVICE_OBJECT pdo_;
    PDEVICE_OBJECT lower_;
    PCPFNSTARTDEVICE startDevice_;
    ULONG maxSubdevices_;
    State state_ = State::Added;
    State stateBeforeQuery_ = State::Added;
    KMUTEX lock_; // subdevices and state, at PASSIVE_LEVEL
    std::vector<Subdevice> subdevices_;
    std::vector<PortSubdevice *> initialisedPorts_; // not referenced
    PADAPTERPOWERMANAGEMENT adapterPower_ = nullptr;
    DEVICE_POWER_STATE devicePower_ = PowerDeviceD0;
    DEVICE_POWER_STATE deviceStateFor_[PowerSystemMaximum];
};

} // namespace host
