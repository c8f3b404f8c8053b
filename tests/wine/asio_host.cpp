// A minimal ASIO host for Windows: finds the driver under HKLM\SOFTWARE\ASIO the way hosts do,
// creates it with CoCreateInstance, and checks that on a machine without the device init answers
// with the error message set, no channels, and a refused start. Exit code 0 when all holds; each
// check prints a line.
#include "asio_types.h"

#include <stdio.h>
#include <string.h>

namespace {

int failures = 0;

void Check(bool ok, const char *what)
{
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    failures += ok ? 0 : 1;
}

} // namespace

int main()
{
    HKEY asio = nullptr;
    Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO\\Quen_Norvane_asio", 0, KEY_READ,
                        &asio) == ERROR_SUCCESS,
          "the driver is listed under HKLM\\SOFTWARE\\ASIO");
    WCHAR text[64] = {};
    DWORD size = sizeof text - sizeof(WCHAR);
    Check(asio != nullptr &&
              RegQueryValueExW(asio, L"CLSID", nullptr, nullptr, reinterpret_cast<BYTE *>(text),
                               &size) == ERROR_SUCCESS,
          "its CLSID value reads");
    if (asio != nullptr)
        RegCloseKey(asio);
    CLSID clsid = {};
    Check(SUCCEEDED(CLSIDFromString(text, &clsid)), "the CLSID parses");
    if (failures != 0)
        return 1;

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IASIO *driver = nullptr;
    HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid,
                                       reinterpret_cast<void **>(&driver));
    Check(SUCCEEDED(created) && driver != nullptr, "CoCreateInstance makes the driver");
    if (driver != nullptr) {
        char name[33] = {};
        driver->getDriverName(name);
        printf("driver name: %s, version %ld\n", name,
               static_cast<long>(driver->getDriverVersion()));
        ASIOBool ready = driver->init(GetDesktopWindow());
        printf("init: %s\n", ready == ASIOTrue ? "ASIOTrue" : "ASIOFalse");
        char message[125] = {};
        driver->getErrorMessage(message);
        printf("error message: %s\n", message);
        Check(message[0] != 0, "the error message is set");
        LONG inputs = -1, outputs = -1;
        driver->getChannels(&inputs, &outputs);
        Check(inputs == 0 && outputs == 0, "no channels without the device");
        Check(driver->start() != ASE_OK, "start without the device is refused");
        Check(driver->Release() == 0, "the last release frees the driver");
    }
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
