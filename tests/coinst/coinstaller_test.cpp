// The co-installer as Windows setup calls it: the simulated device installer offers the RV-D3 the
// package's driver and competing ones, and installs the one with the best rank once the
// co-installer has seen DIF_SELECTBESTCOMPATDRV. Its trace is read through an enabled session.
#include "win32/win32_fixture.h"

#include "event_tracing.h"
#include "setupapi/device_installer.h"
#include "system_modules.h"

#include "../../coinst/coinst_trace.h"

#include <cstring>

namespace {

using host::win32::DeviceInstallation;
using host::win32::InstallOutcome;
using host::win32::OfferedDriver;

constexpr WCHAR kModulePath[] = L"C:\\Windows\\System32\\zelaudiocoinst.dll";
constexpr DWORD kWorst = 0xFFFFFFFF;

const std::u16string kRvd3Id = u"USB\\VID_2FC3&PID_D003&REV_0100&MI_00";
const std::u16string kRvd3Model = u"USB\\VID_2FC3&PID_D003&MI_00";
const std::u16string kAudioClass = u"USB\\Class_01&SubClass_00&Prot_20";

FILETIME Date(int year, unsigned month, unsigned day)
{
    // Days from 1601-01-01 to the civil date.
    year -= month <= 2;
    int era = year / 400;
    unsigned yearOfEra = unsigned(year - era * 400);
    unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    ULONGLONG days = ULONGLONG(era * 146097 + int(dayOfEra)) - 584694;
    ULONGLONG time = days * 86400ULL * 10000000ULL;
    return {DWORD(time), DWORD(time >> 32)};
}

OfferedDriver Driver(const char *manufacturer, const char *description,
                     std::vector<std::u16string> modelIds, int year = 2026)
{
    return {description,       manufacturer,          "Provider",
            Date(year, 11, 2), 0x0001000200030004ULL, std::move(modelIds)};
}

const OfferedDriver kPackage =
    Driver("Norvane_Quen", "Quen DSD Audio RV-D3", {kRvd3Model, kAudioClass});
// The system's class driver, newer than the package and matched by the device's class id.
const OfferedDriver kSystem = Driver("Microsoft", "USB Audio 2.0", {kAudioClass}, 2027);
// Another vendor's driver matched by the device's own id.
const OfferedDriver kOther = Driver("Other Audio", "Quen DSD Audio RV-D3", {kRvd3Id});

class Coinstaller : public Win32Test {
protected:
    void SetUp() override
    {
        Win32().InstallFile(host::ToU16(kModulePath), QUEN_COINST_MODULE_FILE);
        Win32().Tracing().Enable(kCoinstTraceGuid, 5, 0xFFFFFFFF);
    }

    InstallOutcome Install(std::vector<OfferedDriver> drivers, bool withCoinstaller = true)
    {
        DeviceInstallation installation;
        installation.instanceId = u"USB\\VID_2FC3&PID_D003&MI_00\\6&1a2b3c4d&0&0000";
        installation.hardwareIds = {kRvd3Id, kRvd3Model};
        installation.compatibleIds = {kAudioClass, u"USB\\Class_01&SubClass_00", u"USB\\Class_01"};
        installation.drivers = std::move(drivers);
        if (withCoinstaller)
            installation.coInstallers = {host::ToU16(kModulePath)};
        return host::win32::InstallDevice(installation);
    }

    typedef DWORD(CALLBACK *CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA,
                                              PCOINSTALLER_CONTEXT_DATA);
    CoInstallerEntry LoadEntry(HMODULE *module)
    {
        *module = LoadLibraryW(kModulePath);
        EXPECT_NE(*module, nullptr);
        return host::win32::FunctionFrom<CoInstallerEntry>(
            GetProcAddress(*module, "CoInstallerEntryPoint"));
    }

    std::vector<host::win32::TraceMessageRecord> Trace(USHORT number)
    {
        std::vector<host::win32::TraceMessageRecord> found;
        for (const auto &m : Win32().Tracing().Messages(kCoinstTraceGuid))
            if (m.number == number)
                found.push_back(m);
        return found;
    }
    template <class Record>
    Record RecordOf(const host::win32::TraceMessageRecord &message)
    {
        Record record{};
        EXPECT_EQ(message.arguments.size(), 1u);
        EXPECT_EQ(message.arguments[0].size(), sizeof record);
        std::memcpy(&record, message.arguments[0].data(), sizeof record);
        return record;
    }
};

TEST_F(Coinstaller, RanksThePackagesDriverFirstOnlyWhenTheListHoldsIt)
{
    const OfferedDriver otherModel = Driver("Norvane_Quen", "Quen DSD Audio RV-D5", {kRvd3Model});
    const OfferedDriver wrongCase = Driver("norvane_quen", "Quen DSD Audio RV-D3", {kRvd3Id});
    struct Case {
        const char *name;
        std::vector<OfferedDriver> drivers;
        std::vector<bool> demoted; // per offered driver
        size_t selected;
    } cases[] = {
        {"package and the class driver", {kSystem, kPackage}, {true, false}, 1},
        {"package behind a better hardware-id match", {kOther, kPackage}, {true, false}, 1},
        {"other models of the package's manufacturer", {otherModel, kPackage}, {true, false}, 1},
        {"no driver of the package", {kSystem, kOther}, {false, false}, 1},
        {"manufacturer differing in case only", {wrongCase, kSystem}, {false, false}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        InstallOutcome plain = Install(c.drivers, false);
        InstallOutcome outcome = Install(c.drivers);
        EXPECT_EQ(outcome.error, DWORD(NO_ERROR));
        ASSERT_TRUE(outcome.selected);
        EXPECT_EQ(*outcome.selected, c.selected);
        for (size_t i = 0; i < c.drivers.size(); ++i) {
            ASSERT_TRUE(outcome.ranks[i] && plain.ranks[i]);
            EXPECT_EQ(*outcome.ranks[i], c.demoted[i] ? kWorst : *plain.ranks[i]) << i;
        }
    }
}

TEST_F(Coinstaller, AnswersEveryRequestWithoutChangingAnythingElse)
{
    InstallOutcome outcome = Install({kSystem, kPackage});
    std::vector<host::win32::TraceMessageRecord> requests = Trace(kTraceRequest);
    ASSERT_EQ(requests.size(), outcome.requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(RecordOf<CoinstTraceRequest>(requests[i]).installFunction, outcome.requests[i]);
    EXPECT_EQ(Trace(kTraceDemoted).size(), 1u);
    EXPECT_EQ(Trace(kTraceKept).size(), 1u);

    // Called directly, as a class installer would for codes setup does not send here.
    HMODULE module;
    CoInstallerEntry entry = LoadEntry(&module);
    for (DI_FUNCTION code : {DI_FUNCTION(DIF_SELECTDEVICE), DI_FUNCTION(DIF_REMOVE),
                             DI_FUNCTION(DIF_FINISHINSTALL_ACTION), DI_FUNCTION(0x7777)})
        EXPECT_EQ(entry(code, nullptr, nullptr, nullptr), DWORD(NO_ERROR));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(Coinstaller, TracesEachDriverWithItsDateVersionAndRank)
{
    Install({kPackage});
    std::vector<host::win32::TraceMessageRecord> drivers = Trace(kTraceDriver);
    ASSERT_EQ(drivers.size(), 2u); // the detection walk and the demotion walk
    CoinstTraceDriver driver = RecordOf<CoinstTraceDriver>(drivers[0]);
    EXPECT_STREQ(driver.description, "Quen DSD Audio RV-D3");
    EXPECT_STREQ(driver.manufacturer, "Norvane_Quen");
    EXPECT_STREQ(driver.date, "Monday, November 2, 2026");
    EXPECT_STREQ(driver.time, "12:00:00 AM");
    EXPECT_EQ(driver.version[0], 1);
    EXPECT_EQ(driver.version[3], 4);
    CoinstTraceRank match = RecordOf<CoinstTraceRank>(Trace(kTraceMatch).at(0));
    EXPECT_EQ(match.rank, 0x0DFF0001u); // signed, no feature score, second hardware id
}

// Hostile calls: a bad set handle, a device record of the wrong size, an unterminated name. Each
// ends the walk with a trace line and the installation goes on.
TEST_F(Coinstaller, RefusesMalformedRequestsAndKeepsInstalling)
{
    HMODULE module;
    CoInstallerEntry entry = LoadEntry(&module);
    const GUID anyClass = {
        0x65e8773d, 0x8f56, 0x11d0, {0xa3, 0xb9, 0, 0xa0, 0xc9, 0x22, 0x31, 0x96}};
    HDEVINFO set = SetupDiGetClassDevsW(&anyClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA shortData = {};
    shortData.cbSize = 8;
    int bogus = 0;
    EXPECT_EQ(entry(DIF_SELECTBESTCOMPATDRV, &bogus, nullptr, nullptr), DWORD(NO_ERROR));
    EXPECT_EQ(entry(DIF_SELECTBESTCOMPATDRV, set, &shortData, nullptr), DWORD(NO_ERROR));
    std::vector<host::win32::TraceMessageRecord> failures = Trace(kTraceWalkFailed);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(RecordOf<CoinstTraceFailure>(failures[0]).error, DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RecordOf<CoinstTraceFailure>(failures[1]).error, DWORD(ERROR_INVALID_USER_BUFFER));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_TRUE(FreeLibrary(module));

    OfferedDriver unterminated = kPackage;
    unterminated.description.assign(LINE_LEN + 20, 'Q');
    InstallOutcome outcome = Install({unterminated, kSystem});
    EXPECT_EQ(outcome.error, DWORD(NO_ERROR));
    EXPECT_NE(*outcome.ranks[1], kWorst);
}

} // namespace
