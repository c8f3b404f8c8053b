// The request side every emulated audio device shares. A control transfer goes first to the
// standard handler (descriptors with wLength truncation, configuration, alternate settings,
// status and features), then to the class switch keyed by (entity or endpoint, control
// selector, channel) which answers through the registered AudioControl objects in the layout of
// the function's class version, then to the model's vendor requests. Anything unknown stalls.
#pragma once

#include "audio_control.h"
#include "descriptor_walker.h"
#include "usb/usb_device_model.h"

#include <deque>
#include <map>

namespace devices {

class UsbAudioDeviceModel : public host::UsbDeviceModel {
public:
    UsbAudioDeviceModel(const UsbAudioDeviceModel &) = delete;
    UsbAudioDeviceModel &operator=(const UsbAudioDeviceModel &) = delete;

    host::UsbSpeed Speed() const override { return speed_; }
    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override;

    const DescriptorSet &Descriptors() const { return descriptors_; }
    const ConfigurationLayout &Layout() const { return layout_; }
    UCHAR ActiveConfiguration() const { return configuration_; }
    UCHAR AlternateSetting(UCHAR interfaceNumber) const;
    // Whether the endpoint (address with its direction bit) belongs to a current setting.
    bool EndpointActive(UCHAR address) const { return active_[EndpointSlot(address)]; }
    ULONG BusIntervalsPerSecond() const { return speed_ == host::UsbSpeed::High ? 8000 : 1000; }

    // The control that answers class requests for (entity, selector, channel), or null.
    AudioControl *FindEntityControl(UCHAR entity, UCHAR selector, UCHAR channel);
    const AudioControl *FindEntityControl(UCHAR entity, UCHAR selector, UCHAR channel) const;
    AudioControl *FindEndpointControl(UCHAR endpoint, UCHAR selector);

protected:
    UsbAudioDeviceModel(host::UsbSpeed speed, DescriptorSet descriptors);

    AudioControl &AddEntityControl(UCHAR entity, UCHAR selector, UCHAR channel,
                                   AudioControl control);
    AudioControl &AddEndpointControl(UCHAR endpoint, UCHAR selector, AudioControl control);

    // An interface has just been put into an alternate setting: by SET_INTERFACE, or into
    // setting 0 by SET_CONFIGURATION (also when the configuration is left).
    virtual void OnAlternateSetting(UCHAR interfaceNumber, UCHAR alternateSetting) = 0;
    // Vendor requests; the default stalls.
    virtual host::UsbControlResult VendorRequest(const host::UsbSetupPacket &setup, UCHAR *data);

    // The bus interval of the request being handled (or the latest one seen).
    ULONGLONG RequestInterval() const { return requestInterval_; }

private:
    struct ControlEntry {
        UCHAR recipient; // interface (entity controls) or endpoint
        UCHAR id;        // entity id or endpoint address
        UCHAR selector;
        UCHAR channel;
        AudioControl control;
    };

    static size_t EndpointSlot(UCHAR address) { return (address & 0x0F) | (address >> 3 & 0x10); }

    host::UsbControlResult StandardRequest(const host::UsbSetupPacket &setup, UCHAR *data);
    host::UsbControlResult GetDescriptor(const host::UsbSetupPacket &setup, UCHAR *data);
    host::UsbControlResult SetConfiguration(USHORT value);
    host::UsbControlResult SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting);
    host::UsbControlResult Feature(const host::UsbSetupPacket &setup, bool set);
    host::UsbControlResult ClassRequest(const host::UsbSetupPacket &setup, UCHAR *data);
    const AudioControl *Find(UCHAR recipient, UCHAR id, UCHAR selector, UCHAR channel) const;
    AudioControl *Find(UCHAR recipient, UCHAR id, UCHAR selector, UCHAR channel);
    bool InterfaceExists(UCHAR interfaceNumber) const;
    void RefreshActiveEndpoints();

    const host::UsbSpeed speed_;
    const DescriptorSet descriptors_;
    const ConfigurationLayout layout_; // points into descriptors_.configuration
    std::deque<ControlEntry> controls_;
    std::map<UCHAR, UCHAR> alternates_; // interface number -> current setting, while configured
    bool active_[32] = {};
    bool halted_[32] = {};
    UCHAR configuration_ = 0;
    bool remoteWakeup_ = false;
    ULONGLONG requestInterval_ = 0;
};

} // namespace devices
