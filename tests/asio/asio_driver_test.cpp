// The driver as a host meets it before streaming: its registration, activation by class id, its
// identity, channels, buffer sizes, rates and channel names, and the buffer requests it refuses.
#include "asio_host_fixture.h"

#include "kernel/registry_store.h"
#include "system_modules.h"

namespace asio_tests {
namespace {

// {00020400-0000-0000-C000-000000000046}
const IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

const std::u16string kClassKey = u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\CLSID\\"
                                 u"{6D2F8B14-A3C9-4E57-9B0D-7E41C58A2F63}";
const std::u16string kAsioKey = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ASIO\\Quen_Norvane_asio";

// A REG_SZ as stored: its text with the terminator.
std::u16string Text(const std::u16string &value) { return value + std::u16string(1, u'\0'); }

class AsioDriver : public AsioHostTest {
protected:
    std::u16string StoredText(const std::u16string &key, const std::u16string &name)
    {
        auto value = M().Registry().GetValue(key, name);
        return value ? host::FromUtf16Bytes(value->data) : u"<missing>";
    }
};

TEST_F(AsioDriver, RegistrationWritesAndRemovesExactlyTheComAndAsioKeys)
{
    EXPECT_EQ(Text(u"Quen_Norvane_asio"), StoredText(kClassKey, u""));
    EXPECT_EQ(Text(host::ToU16(kModulePath)), StoredText(kClassKey + u"\\InprocServer32", u""));
    EXPECT_EQ(Text(u"Apartment"), StoredText(kClassKey + u"\\InprocServer32", u"ThreadingModel"));
    EXPECT_EQ(Text(u"{6D2F8B14-A3C9-4E57-9B0D-7E41C58A2F63}"), StoredText(kAsioKey, u"CLSID"));
    EXPECT_EQ(Text(u"Quen_Norvane_asio"), StoredText(kAsioKey, u"Description"));

    // Registering again from the same place leaves the class keys alone; an extra value there
    // survives, while the ASIO key is written afresh.
    const std::vector<UCHAR> mark = {1, 0, 0, 0};
    ASSERT_EQ(STATUS_SUCCESS, M().Registry().SetValue(kClassKey, u"Mark", REG_DWORD, mark));
    ASSERT_EQ(STATUS_SUCCESS, M().Registry().SetValue(kAsioKey, u"Mark", REG_DWORD, mark));
    ASSERT_EQ(S_OK, Register(false));
    EXPECT_TRUE(M().Registry().GetValue(kClassKey, u"Mark"));
    EXPECT_FALSE(M().Registry().GetValue(kAsioKey, u"Mark"));

    // From another path the class keys are replaced.
    const std::u16string moved = u"C:\\Other\\quen_asio.dll";
    Win32().InstallFile(moved, QUEN_ASIO_MODULE_FILE);
    ASSERT_EQ(S_OK, host::win32::RegisterServer(Win32(), moved, false));
    EXPECT_FALSE(M().Registry().GetValue(kClassKey, u"Mark"));
    EXPECT_EQ(Text(moved), StoredText(kClassKey + u"\\InprocServer32", u""));

    ASSERT_EQ(S_OK, Register(true));
    EXPECT_FALSE(M().Registry().KeyExists(kClassKey));
    EXPECT_FALSE(M().Registry().KeyExists(kAsioKey));
    EXPECT_TRUE(M().Registry().KeyExists(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ASIO"));
    AsioHost host;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, host.Load());
}

TEST_F(AsioDriver, OneObjectPerProcessAndTheServerStaysWhileItLives)
{
    AsioHost &host = Host();
    IASIO *second = nullptr;
    EXPECT_EQ(E_OUTOFMEMORY,
              CoCreateInstance(CLSID_ZelAsioDriver, nullptr, CLSCTX_INPROC_SERVER,
                               CLSID_ZelAsioDriver, reinterpret_cast<void **>(&second)));
    EXPECT_EQ(nullptr, second);
    HMODULE module = GetModuleHandleW(kModulePath);
    ASSERT_NE(nullptr, module);
    using CanUnload = HRESULT(STDAPICALLTYPE *)();
    auto canUnload =
        host::win32::FunctionFrom<CanUnload>(GetProcAddress(module, "DllCanUnloadNow"));
    EXPECT_EQ(S_FALSE, canUnload());
    IUnknown *unknown = nullptr;
    ASSERT_EQ(S_OK, host->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)));
    unknown->Release();
    host.Unload();
    EXPECT_EQ(S_OK, canUnload());
    IClassFactory *factory = nullptr;
    EXPECT_EQ(E_NOINTERFACE, CoGetClassObject(CLSID_ZelAsioDriver, CLSCTX_INPROC_SERVER, nullptr,
                                              kIidDispatch, reinterpret_cast<void **>(&factory)));
    ASSERT_EQ(S_OK, host.Load());
}

TEST_F(AsioDriver, ControlPanelStartsTheRecordedProgramWithoutWaiting)
{
    AsioHost &host = Host();
    int runs = 0;
    const WCHAR path[] = L"C:\\Windows\\System32\\quen_asiocpl.exe";
    Win32().InstallProgram(host::ToU16(path), [&runs] { return DWORD(++runs); });
    EXPECT_EQ(ASE_OK, host->controlPanel()); // nothing recorded yet
    HKEY key = nullptr;
    // Where the package's installer records it.
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvane_Quen\\Quen RV-D3 Setup", 0,
                              nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"ControlPanel", 0, REG_SZ,
                                            reinterpret_cast<const BYTE *>(path), sizeof path));
    RegCloseKey(key);
    EXPECT_EQ(ASE_OK, host->controlPanel());
    Sleep(10);
    EXPECT_EQ(1, runs);
}

// A settings key left without some of its values gets them with their defaults at init; what it
// has stays.
TEST_F(AsioDriver, MissingSettingsAreWrittenWithTheirDefaults)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Norvane_Quen\\Quen RV-D3", 0, nullptr,
                              0, KEY_WRITE, nullptr, &key, nullptr));
    const DWORD rate = 96000;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"sampling_rate", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE *>(&rate), sizeof rate));
    RegCloseKey(key);
    AsioHost &host = Host();
    ASIOSampleRate current = 0;
    ASSERT_EQ(ASE_OK, host->getSampleRate(&current));
    EXPECT_EQ(96000.0, current);
    EXPECT_EQ(2048u, StoredDword(L"buffer_size"));
    EXPECT_EQ(96000u, StoredDword(L"sampling_rate"));
}

TEST_F(AsioDriver, InitReportsTheDeviceAndItsDefaults)
{
    AsioHost &host = Host();
    char name[32] = {};
    host->getDriverName(name);
    EXPECT_STREQ("Quen_Norvane_asio", name);
    EXPECT_EQ(1, host->getDriverVersion());
    char message[124] = "untouched";
    host->getErrorMessage(message);
    EXPECT_STREQ("", message);
    EXPECT_EQ(ASIOFalse, host->init(nullptr));
    host->getErrorMessage(message);
    EXPECT_STREQ("ASIO driver was initialized before this time.\n", message);

    LONG in = 0, out = 0;
    ASSERT_EQ(ASE_OK, host->getChannels(&in, &out));
    EXPECT_EQ(2, in);
    EXPECT_EQ(2, out);
    LONG minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(ASE_OK, host->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(2048, minimum);
    EXPECT_EQ(2048, maximum);
    EXPECT_EQ(2048, preferred);
    EXPECT_EQ(0, granularity);
    ASSERT_EQ(ASE_OK, host->getLatencies(&in, &out));
    EXPECT_GE(in, 2048) << "latencies are sample frames";
    EXPECT_GE(out, 2048);
    ASIOClockSource clocks[2] = {};
    LONG count = 2;
    ASSERT_EQ(ASE_OK, host->getClockSources(clocks, &count));
    EXPECT_EQ(1, count);
    EXPECT_STREQ("Internal", clocks[0].name);
    EXPECT_EQ(ASIOTrue, clocks[0].isCurrentSource);
    ASIOSampleRate rate = 0;
    ASSERT_EQ(ASE_OK, host->getSampleRate(&rate));
    EXPECT_EQ(44100.0, rate);

    // The device is remembered as the selected one, its id stored with the terminator.
    EXPECT_EQ(Text(session_->Node()->instanceId), host::FromUtf16Bytes(Stored(L"selected")));
}

struct RateCase {
    double rate;
    ASIOError can;
};

// Every rate of the driver's table inside the RV-D3's range, and what is outside it.
TEST_F(AsioDriver, EveryRateOfTheDeviceIsAcceptedAndStored)
{
    const RateCase cases[] = {
        {32000, ASE_NoClock}, {44100, ASE_OK},      {48000, ASE_OK},      {88200, ASE_OK},
        {96000, ASE_OK},      {176400, ASE_OK},     {192000, ASE_OK},     {352800, ASE_OK},
        {384000, ASE_OK},     {22050, ASE_NoClock}, {50000, ASE_NoClock}, {2822400, ASE_NoClock},
    };
    AsioHost &host = Host();
    for (const RateCase &c : cases) {
        SCOPED_TRACE(c.rate);
        EXPECT_EQ(c.can, host->canSampleRate(c.rate));
        EXPECT_EQ(c.can, host->setSampleRate(c.rate));
        if (c.can != ASE_OK)
            continue;
        ASIOSampleRate now = 0;
        ASSERT_EQ(ASE_OK, host->getSampleRate(&now));
        EXPECT_EQ(c.rate, now);
        EXPECT_EQ(DWORD(c.rate), StoredDword(L"sampling_rate"));
    }
    EXPECT_EQ(ASE_InvalidMode, host->setSampleRate(0));
}

TEST_F(AsioDriver, ChannelsAreNamedAfterTheDevice)
{
    AsioHost &host = Host();
    ASIOChannelInfo info = {};
    info.channel = 1;
    info.isInput = ASIOFalse;
    ASSERT_EQ(ASE_OK, host->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTInt32LSB, info.type);
    EXPECT_EQ(ASIOFalse, info.isActive);
    const std::string name = info.name;
    EXPECT_EQ(" Out 02", name.substr(name.size() - 7)) << name;
    EXPECT_LT(name.size(), 32u);
    info.channel = 2;
    EXPECT_EQ(ASE_InvalidParameter, host->getChannelInfo(&info));
    info.channel = 0;
    info.isInput = ASIOTrue;
    ASSERT_EQ(ASE_OK, host->getChannelInfo(&info));
    EXPECT_NE(nullptr, std::strstr(info.name, " In 01")) << info.name;
}

struct RefusalCase {
    const char *what;
    ULONG inputs, outputs;
    LONG bufferSize;
    ASIOError result;
};

// Buffer requests the driver refuses leave no pin open and ask the host for nothing.
TEST_F(AsioDriver, RefusedBufferRequestsLeaveNothingOpen)
{
    const RefusalCase cases[] = {
        {"63 samples", 0, 2, 63, ASE_InvalidMode},
        {"7681 samples", 0, 2, 7681, ASE_InvalidMode},
        {"more channels than the device has", 2, 3, 256, ASE_InvalidParameter},
    };
    AsioHost &host = Host();
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result, host.Create(c.inputs, c.outputs, c.bufferSize));
    }
    EXPECT_EQ(0u, host.resets.load());
    // The same output twice.
    ASIOBufferInfo twice[2] = {{ASIOFalse, 0, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks = {};
    EXPECT_EQ(ASE_InvalidMode, host->createBuffers(twice, 2, 256, &callbacks));
    EXPECT_EQ(ASE_NotPresent, host->start());
    EXPECT_EQ(ASE_NotPresent, host->disposeBuffers());
    // The extremes are accepted; a second request while buffers exist is refused and the first
    // buffers stay.
    ASSERT_EQ(ASE_OK, host.Create(2, 2, 64));
    void *first = host.Buffer(2, 0);
    EXPECT_EQ(ASE_InvalidMode, host->createBuffers(twice, 2, 256, &callbacks));
    EXPECT_EQ(first, host.Buffer(2, 0));
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    EXPECT_EQ(ASE_OK, host.Create(0, 2, 7680));
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
}

} // namespace
} // namespace asio_tests
