#include "usb_composite_functions.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

constexpr UCHAR kAudioClass = 0x01;
constexpr UCHAR kAudioControl = 0x01;
constexpr UCHAR kAudioStreaming = 0x02;
constexpr UCHAR kMidiStreaming = 0x03;

struct Descriptor {
    const UCHAR *bytes;
    UCHAR length;
    UCHAR type;
};

// The descriptors after the configuration header, or false if one is malformed.
bool Walk(const UCHAR *configuration, ULONG total, std::vector<Descriptor> *out)
{
    ULONG at = configuration[0];
    while (at < total) {
        if (total - at < 2 || configuration[at] < 2 || configuration[at] > total - at)
            return false;
        out->push_back({configuration + at, configuration[at], configuration[at + 1]});
        at += configuration[at];
    }
    return true;
}

bool Contains(const std::vector<UCHAR> &list, UCHAR value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

struct Interface {
    UCHAR number, cls, subClass, protocol;
};

std::vector<UCHAR> FunctionConfiguration(const UCHAR *configuration,
                                         const std::vector<Descriptor> &descriptors,
                                         const UsbCompositeFunction &function)
{
    std::vector<UCHAR> out(configuration, configuration + sizeof(USB_CONFIGURATION_DESCRIPTOR));
    bool belongs = false; // what precedes the first interface is the configuration's own
    for (const Descriptor &d : descriptors) {
        if (d.type == USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE &&
            d.length >= sizeof(USB_INTERFACE_ASSOCIATION_DESCRIPTOR))
            belongs = d.bytes[2] == function.firstInterface;
        else if (d.type == USB_INTERFACE_DESCRIPTOR_TYPE &&
                 d.length >= sizeof(USB_INTERFACE_DESCRIPTOR))
            belongs = Contains(function.interfaces, d.bytes[2]);
        if (belongs)
            out.insert(out.end(), d.bytes, d.bytes + d.length);
    }
    auto header = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(out.data());
    const USHORT total = USHORT(out.size());
    std::memcpy(&header->wTotalLength, &total, sizeof total);
    header->bNumInterfaces = UCHAR(function.interfaces.size());
    return out;
}

} // namespace

bool SplitIntoFunctions(const UCHAR *configuration, ULONG length,
                        std::vector<UsbCompositeFunction> *functions)
{
    functions->clear();
    if (configuration == nullptr || length < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        configuration[0] < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        configuration[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE)
        return false;
    USHORT total;
    std::memcpy(&total, configuration + 2, sizeof total);
    if (total > length || total < configuration[0])
        return false;
    std::vector<Descriptor> descriptors;
    if (!Walk(configuration, total, &descriptors))
        return false;

    std::vector<Interface> interfaces; // alternate setting 0 of each, in order
    std::vector<const UCHAR *> associations;
    for (const Descriptor &d : descriptors) {
        if (d.type == USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE &&
            d.length >= sizeof(USB_INTERFACE_ASSOCIATION_DESCRIPTOR))
            associations.push_back(d.bytes);
        else if (d.type == USB_INTERFACE_DESCRIPTOR_TYPE &&
                 d.length >= sizeof(USB_INTERFACE_DESCRIPTOR) && d.bytes[3] == 0 &&
                 std::none_of(interfaces.begin(), interfaces.end(),
                              [&](const Interface &i) { return i.number == d.bytes[2]; }))
            interfaces.push_back({d.bytes[2], d.bytes[5], d.bytes[6], d.bytes[7]});
    }

    std::vector<UsbCompositeFunction> found;
    std::vector<UCHAR> taken;
    auto take = [&](UsbCompositeFunction &function, UCHAR number) {
        if (Contains(taken, number))
            return false;
        taken.push_back(number);
        function.interfaces.push_back(number);
        return true;
    };
    for (const UCHAR *iad : associations) {
        UsbCompositeFunction function;
        function.firstInterface = iad[2];
        function.functionClass = iad[4];
        function.functionSubClass = iad[5];
        function.functionProtocol = iad[6];
        for (const Interface &i : interfaces)
            if (i.number >= iad[2] && i.number - iad[2] < iad[3] && !take(function, i.number))
                return false;
        if (!function.interfaces.empty())
            found.push_back(std::move(function));
    }
    for (size_t n = 0; n < interfaces.size(); ++n) {
        const Interface &i = interfaces[n];
        if (Contains(taken, i.number))
            continue;
        UsbCompositeFunction function;
        function.firstInterface = i.number;
        function.functionClass = i.cls;
        function.functionSubClass = i.subClass;
        function.functionProtocol = i.protocol;
        take(function, i.number);
        if (associations.empty() && i.cls == kAudioClass && i.subClass == kAudioControl)
            for (size_t m = n + 1; m < interfaces.size() && interfaces[m].cls == kAudioClass &&
                                   (interfaces[m].subClass == kAudioStreaming ||
                                    interfaces[m].subClass == kMidiStreaming);
                 ++m)
                take(function, interfaces[m].number);
        found.push_back(std::move(function));
    }
    std::sort(found.begin(), found.end(),
              [](const UsbCompositeFunction &a, const UsbCompositeFunction &b) {
                  return a.firstInterface < b.firstInterface;
              });
    for (UsbCompositeFunction &function : found)
        function.configuration = FunctionConfiguration(configuration, descriptors, function);
    *functions = std::move(found);
    return true;
}

} // namespace host
