// The verdict on a request a client sent to the USB stack.
#pragma once

#include <usb.h>

#include <string>
#include <utility>

namespace host {

// The verdict on a request a client sent: accepted, or the USBD status it fails with. A misuse
// is a rule the real stack enforces (or bug-checks on): the verifier reports it too.
struct UsbRequestCheck {
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    std::string misuse;

    static UsbRequestCheck Ok() { return {}; }
    static UsbRequestCheck Fail(USBD_STATUS status) { return {status, std::string()}; }
    static UsbRequestCheck Misuse(USBD_STATUS status, std::string text)
    {
        return {status, std::move(text)};
    }
    bool Accepted() const { return status == USBD_STATUS_SUCCESS; }
};

} // namespace host
