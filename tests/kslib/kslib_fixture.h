// The KS client library in a user process of a machine that has a driver package (the port-class
// test driver unless a test names another) installed for the RV-D3's hardware id and the RV-D3
// model plugged: the driver's "Wave" filter is the KSCATEGORY_AUDIO interface the library
// enumerates and opens.
#pragma once

#include "portcls/portcls_fixture.h"
#include "win32/win32_fixture.h"

#include "dev_info.h"
#include "kernel/registry_store.h"
#include "ks_aud_pin.h"
#include "kslib/pcm_format.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

class KsLibTest : public Win32Test {
protected:
    explicit KsLibTest(host::DriverPackage package = portcls_tests::TestPackage())
        : package_(std::move(package))
    {
        portcls_tests::SetLog(&log_);
    }

    void SetUp() override
    {
        pnp_ = &host::PnpManager::Of(M());
        ASSERT_EQ(STATUS_SUCCESS, pnp_->Install(package_));
        node_ =
            host::PnpManager::ServedBy(pnp_->Plug(portcls_tests::kPort, device_), package_.service);
        ASSERT_NE(nullptr, node_);
    }

    void TearDown() override
    {
        Win32Test::TearDown(); // removes the device, whose driver still logs
        portcls_tests::SetLog(nullptr);
    }

    // Text for the library's calls. (std::wstring is not used: the host's C++ library is built
    // for a wider wchar_t.)
    static LPCWSTR Wide(const std::u16string &text)
    {
        return reinterpret_cast<LPCWSTR>(text.c_str());
    }

    // The paths of the present KSCATEGORY_AUDIO interfaces, as SetupAPI reports them.
    static std::vector<std::u16string> AudioInterfacePaths()
    {
        std::vector<std::u16string> paths;
        HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return paths;
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, i, &data);
             ++i) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
            std::vector<BYTE> detail(needed);
            auto d = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data());
            d->cbSize = sizeof *d;
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, d, needed, nullptr, nullptr))
                paths.emplace_back(reinterpret_cast<const char16_t *>(d->DevicePath),
                                   size_t(lstrlenW(d->DevicePath)));
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    // The device's audio filter, opened and with its pins listed.
    std::unique_ptr<CKsAudFilter2> OpenFilter()
    {
        std::vector<std::u16string> paths = AudioInterfacePaths();
        EXPECT_EQ(1u, paths.size());
        if (paths.empty())
            return nullptr;
        HRESULT status = E_FAIL;
        auto filter = std::make_unique<CKsAudFilter2>(Wide(paths[0]), &status);
        EXPECT_EQ(S_OK, status);
        EXPECT_EQ(S_OK, filter->OpenFilter());
        EXPECT_EQ(S_OK, filter->ListPins());
        return filter;
    }

    // The device's filter with its render or capture pin made for 48 kHz 16-bit stereo; null if
    // the pin cannot be made.
    CKsAudPin *OpenStreamPin(std::unique_ptr<CKsAudFilter2> *filter, bool capture)
    {
        *filter = OpenFilter();
        if (*filter == nullptr)
            return nullptr;
        WAVEFORMATEX format = Pcm(2, portcls_tests::kMaxRate, 16);
        CKsAudPin *pin =
            capture ? (*filter)->OpenCapturePinFor(&format) : (*filter)->OpenRenderPinFor(&format);
        EXPECT_NE(nullptr, pin);
        return pin;
    }

    // Writes `data` to a render pin in packets of `packetBytes`, all queued while the pin is
    // paused, then runs it; true when every packet was pending until then and taken whole.
    static bool PlayThroughPin(CKsAudPin *pin, std::vector<UCHAR> &data, ULONG packetBytes)
    {
        struct Packet {
            KSSTREAM_HEADER header = {};
            OVERLAPPED overlapped = {};
            bool pending = false;
        };
        std::vector<Packet> packets((data.size() + packetBytes - 1) / packetBytes);
        if (FAILED(pin->ChangeState(KSSTATE_PAUSE))) // a stopped pin takes no data
            return false;
        bool taken = true;
        for (size_t i = 0; i < packets.size(); ++i) {
            Packet &packet = packets[i];
            packet.header.Size = sizeof packet.header;
            packet.header.Data = data.data() + i * packetBytes;
            packet.header.FrameExtent = packet.header.DataUsed =
                ULONG(std::min<size_t>(packetBytes, data.size() - i * packetBytes));
            packet.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            packet.pending =
                !DeviceIoControl(pin->Handle(), IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header,
                                 sizeof packet.header, nullptr, &packet.overlapped) &&
                GetLastError() == ERROR_IO_PENDING;
            taken = taken && packet.pending;
        }
        taken = SUCCEEDED(pin->ChangeState(KSSTATE_RUN)) && taken;
        for (Packet &packet : packets) {
            if (packet.pending &&
                WaitForSingleObject(packet.overlapped.hEvent, 5000) != WAIT_OBJECT_0) {
                CancelIoEx(pin->Handle(), &packet.overlapped); // the header must outlive it
                WaitForSingleObject(packet.overlapped.hEvent, INFINITE);
            }
            DWORD bytes = 0;
            taken = packet.pending &&
                    GetOverlappedResult(pin->Handle(), &packet.overlapped, &bytes, FALSE) && taken;
            CloseHandle(packet.overlapped.hEvent);
        }
        return taken;
    }

    // A GET or SET of one LONG on a channel of a filter's node.
    static HRESULT NodeRequest(CKsAudFilter2 &filter, ULONG id, ULONG node, ULONG channel,
                               ULONG flags, LONG *value)
    {
        KSNODEPROPERTY_AUDIO_CHANNEL property = {};
        property.NodeProperty.Property.Set = KSPROPSETID_Audio;
        property.NodeProperty.Property.Id = id;
        property.NodeProperty.Property.Flags = flags | KSPROPERTY_TYPE_TOPOLOGY;
        property.NodeProperty.NodeId = node;
        property.Channel = LONG(channel);
        ULONG returned = 0;
        return filter.IssueIoctl(filter.Handle(), IOCTL_KS_PROPERTY, &property, sizeof property,
                                 value, sizeof *value, &returned);
    }

    // A player process opens the render pin, runs it and is killed with the pin still open.
    void KillPlayerHoldingTheRenderPin()
    {
        static std::u16string path;
        // Never deleted: only the process's end may close what it opened (and the memory of a
        // simulated process is the host's). The list itself outlives the program's static
        // destructors, so what it holds stays reachable.
        static auto *abandoned = new std::vector<CKsAudFilter2 *>;
        path = AudioInterfacePaths().at(0);
        HANDLE running = CreateEventW(nullptr, TRUE, FALSE, L"quen.kslib.running");
        PKPROCESS process = Start("player", [] {
            HRESULT status = E_FAIL;
            auto filter = new CKsAudFilter2(Wide(path), &status);
            abandoned->push_back(filter);
            WAVEFORMATEX format = Pcm(2, portcls_tests::kMaxRate, 16);
            CKsAudPin *pin = nullptr;
            if (SUCCEEDED(filter->OpenFilter()) && SUCCEEDED(filter->ListPins()))
                pin = filter->OpenRenderPinFor(&format);
            if (pin == nullptr || FAILED(pin->ChangeState(KSSTATE_RUN)))
                return DWORD(1);
            HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quen.kslib.running");
            SetEvent(event);
            Sleep(INFINITE);
            return DWORD(0);
        });
        EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(running, 1000));
        Sleep(20);
        Win32().Terminate(process, 9);
        EXPECT_EQ(9u, Join(process));
        CloseHandle(running);
    }

    // A package that names the device id (the test driver's) serves the whole composite device,
    // which then carries its own ids rather than its audio function's; the test gives it the id
    // the generic parent gives the function.
    void GiveInterfaceZeroId()
    {
        std::u16string id = u"USB\\VID_2FC3&PID_D003&MI_00";
        id.push_back(0);
        id.push_back(0);
        host::RegistryStore &registry = M().Registry();
        std::u16string key =
            u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + node_->instanceId;
        ASSERT_EQ(STATUS_SUCCESS,
                  registry.SetValue(
                      key, u"HardwareID", REG_MULTI_SZ,
                      std::vector<UCHAR>(reinterpret_cast<const UCHAR *>(id.data()),
                                         reinterpret_cast<const UCHAR *>(id.data() + id.size()))));
    }

    // The device list's one entry, or null.
    const ActiveDeviceEntry *OnlyDeviceEntry(CDevInfo *devices)
    {
        EXPECT_TRUE(devices->makeActiveDeviceList());
        EXPECT_EQ(1u, devices->FilterCount());
        return devices->FilterCount() == 1 ? devices->entryAt(0) : nullptr;
    }

    host::DriverPackage package_;
    portcls_tests::TestLog log_;
    std::shared_ptr<devices::Rvd3Model> device_ = std::make_shared<devices::Rvd3Model>();
    host::PnpManager *pnp_ = nullptr;
    host::DeviceNode *node_ = nullptr;
};
