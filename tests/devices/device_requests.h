// Drives a device model the way the host controller does: control transfers with a setup
// packet, isochronous packets per bus interval, and the model's clock in between.
#pragma once

#include "devices/descriptor_walker.h"
#include "usb/usb_device_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace device_tests {

using devices::Bytes;

struct Reply {
    bool stall;
    Bytes data;
};

inline Reply In(host::UsbDeviceModel &model, UCHAR requestType, UCHAR request, USHORT value,
                USHORT index, USHORT length, ULONGLONG interval = 0)
{
    Bytes buffer(length + 16u, 0xCD);
    const host::UsbControlResult r =
        model.Control({requestType, request, value, index, length}, buffer.data(), interval);
    EXPECT_LE(r.length, length) << "a reply must not exceed wLength";
    buffer.resize(r.stall ? 0 : r.length);
    return {r.stall, buffer};
}

inline bool Out(host::UsbDeviceModel &model, UCHAR requestType, UCHAR request, USHORT value,
                USHORT index, Bytes data = {}, ULONGLONG interval = 0)
{
    const host::UsbControlResult r =
        model.Control({requestType, request, value, index, static_cast<USHORT>(data.size())},
                      data.data(), interval);
    return !r.stall;
}

inline Bytes GetDescriptor(host::UsbDeviceModel &model, UCHAR type, UCHAR index, USHORT length,
                           USHORT language = 0)
{
    return In(model, 0x80, 6, static_cast<USHORT>(type << 8 | index), language, length).data;
}

inline bool Configure(host::UsbDeviceModel &model) { return Out(model, 0x00, 9, 1, 0); }

inline bool SelectAlternate(host::UsbDeviceModel &model, UCHAR interfaceNumber, UCHAR setting,
                            ULONGLONG interval = 0)
{
    return Out(model, 0x01, 11, setting, interfaceNumber, {}, interval);
}

// Audio Class 2.0 requests to an entity of the audio control interface (number 0).
inline Reply GetCur(host::UsbDeviceModel &model, UCHAR entity, UCHAR selector, UCHAR channel,
                    USHORT length, ULONGLONG interval = 0, UCHAR controlInterface = 0)
{
    return In(model, 0xA1, 0x01, static_cast<USHORT>(selector << 8 | channel),
              static_cast<USHORT>(entity << 8 | controlInterface), length, interval);
}

inline Reply GetRange(host::UsbDeviceModel &model, UCHAR entity, UCHAR selector, UCHAR channel,
                      USHORT length, UCHAR controlInterface = 0)
{
    return In(model, 0xA1, 0x02, static_cast<USHORT>(selector << 8 | channel),
              static_cast<USHORT>(entity << 8 | controlInterface), length);
}

inline bool SetCur(host::UsbDeviceModel &model, UCHAR entity, UCHAR selector, UCHAR channel,
                   Bytes value, ULONGLONG interval = 0, UCHAR controlInterface = 0)
{
    return Out(model, 0x21, 0x01, static_cast<USHORT>(selector << 8 | channel),
               static_cast<USHORT>(entity << 8 | controlInterface), std::move(value), interval);
}

inline Bytes Le(ULONGLONG value, size_t size)
{
    Bytes bytes;
    for (size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<UCHAR>(value >> (8 * i)));
    return bytes;
}

inline ULONGLONG ReadLe(const Bytes &bytes, size_t offset, size_t size)
{
    ULONGLONG value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= static_cast<ULONGLONG>(bytes.at(offset + i)) << (8 * i);
    return value;
}

// Every descriptor of a configuration, checking that the walk ends exactly at its end.
inline std::vector<devices::DescriptorView> WalkAll(const Bytes &configuration)
{
    bool complete = false;
    std::vector<devices::DescriptorView> views = devices::WalkDescriptors(configuration, &complete);
    EXPECT_TRUE(complete) << "descriptors do not add up to the configuration's length";
    return views;
}

// The descriptors of one interface's alternate setting: its interface descriptor and everything
// up to the next interface or association descriptor.
inline std::vector<devices::DescriptorView> SettingDescriptors(const Bytes &configuration,
                                                               UCHAR interfaceNumber, UCHAR setting)
{
    std::vector<devices::DescriptorView> out;
    bool inside = false;
    for (const devices::DescriptorView &view : devices::WalkDescriptors(configuration)) {
        if (view.type == 4 || view.type == 11)
            inside = view.type == 4 && view.Byte(2) == interfaceNumber && view.Byte(3) == setting;
        if (inside)
            out.push_back(view);
    }
    return out;
}

} // namespace device_tests
