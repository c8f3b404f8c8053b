// The simulated device installer and the driver lists it hands co-installers: identifier scores,
// the SetupAPI calls on the lists with their size checks, the request sequence, post-processing,
// a co-installer's error, and the choice among equal ranks.
#include "win32_fixture.h"

#include "setupapi/device_installer.h"
#include "system_modules.h"
#include "test_module/test_module.h"

#include <functional>

namespace {

using host::win32::DeviceInstallation;
using host::win32::InstallOutcome;

constexpr WCHAR kModulePath[] = L"C:\\Program Files\\Quen Test\\quen_test_module.dll";

// What the test module's co-installer does, set per test.
std::function<DWORD(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA)> handler;

DWORD CALLBACK Forward(DI_FUNCTION request, HDEVINFO set, PSP_DEVINFO_DATA device,
                       PCOINSTALLER_CONTEXT_DATA context)
{
    return handler(request, set, device, context);
}

class DeviceInstaller : public Win32Test {
protected:
    void SetUp() override
    {
        Win32().InstallFile(host::ToU16(kModulePath), QUEN_TEST_MODULE_FILE);
        module_ = LoadLibraryW(kModulePath);
        ASSERT_NE(module_, nullptr);
        host::win32::FunctionFrom<TestModuleSetCoInstallerFunction>(
            GetProcAddress(module_, "TestModuleSetCoInstaller"))(Forward);
    }
    void TearDown() override
    {
        handler = nullptr;
        FreeLibrary(module_);
        Win32Test::TearDown();
    }

    static host::win32::OfferedDriver Driver(const char *description, std::u16string id,
                                             DWORD day = 1, DWORDLONG version = 1)
    {
        return {description, "Maker", "Provider", {day, 0x01D00000}, version, {std::move(id)}};
    }
    InstallOutcome Install(std::vector<host::win32::OfferedDriver> drivers)
    {
        DeviceInstallation installation{u"USB\\VID_1&PID_2\\1",
                                        {u"USB\\VID_1&PID_2&REV_3", u"USB\\VID_1&PID_2"},
                                        {u"USB\\Class_01"},
                                        std::move(drivers),
                                        {host::ToU16(kModulePath)}};
        return host::win32::InstallDevice(installation);
    }

    HMODULE module_ = nullptr;
};

TEST_F(DeviceInstaller, ScoresTheBestMatchOfAModelEntry)
{
    const std::vector<std::u16string> hardware = {u"HW0", u"HW1"}, compatible = {u"C0", u"C1"};
    struct Case {
        std::vector<std::u16string> model;
        std::optional<DWORD> score;
    } cases[] = {
        {{u"hw0"}, 0x0000},           {{u"HW1"}, 0x0001},
        {{u"X", u"HW1"}, 0x1001},     {{u"C1"}, 0x2001},
        {{u"X", u"C0"}, 0x3000},      {{u"C0", u"HW1"}, 0x1001},
        {{u"X", u"Y"}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(host::win32::IdentifierScore(hardware, compatible, c.model), c.score)
            << host::ToUtf8(c.model.back());
}

TEST_F(DeviceInstaller, DriverListCallsCheckTheirStructures)
{
    std::vector<DWORD> errors;
    handler = [&errors](DI_FUNCTION request, HDEVINFO set, PSP_DEVINFO_DATA device,
                        PCOINSTALLER_CONTEXT_DATA) -> DWORD {
        if (request != DIF_SELECTBESTCOMPATDRV)
            return NO_ERROR;
        auto fails = [&errors](BOOL ok) { errors.push_back(ok ? 0 : GetLastError()); };
        SP_DRVINFO_DATA_V2_A driver = {};
        SP_DRVINFO_DATA_V1_A older = {};
        older.cbSize = sizeof older;
        fails(SetupDiEnumDriverInfoA(set, device, SPDIT_COMPATDRIVER, 0, &driver));
        driver.cbSize = sizeof driver;
        fails(SetupDiEnumDriverInfoA(set, device, SPDIT_COMPATDRIVER, 2, &driver));
        fails(SetupDiEnumDriverInfoA(set, nullptr, SPDIT_CLASSDRIVER, 0, &driver));
        fails(SetupDiEnumDriverInfoA(set, device, 7, 0, &driver));
        fails(SetupDiEnumDriverInfoA(set, device, SPDIT_COMPATDRIVER, 0,
                                     reinterpret_cast<PSP_DRVINFO_DATA_A>(&older)));
        fails(SetupDiEnumDriverInfoA(set, device, SPDIT_COMPATDRIVER, 1, &driver));
        SP_DRVINSTALL_PARAMS params = {};
        fails(SetupDiGetDriverInstallParamsA(set, device, &driver, &params));
        params.cbSize = sizeof params;
        // Found by its names when the index is not given.
        driver.Reserved = 0;
        fails(SetupDiGetDriverInstallParamsA(set, device, &driver, &params));
        params.Rank = 0x42;
        fails(SetupDiSetDriverInstallParamsA(set, device, &driver, &params));
        driver.Reserved = 9;
        fails(SetupDiSetDriverInstallParamsA(set, device, &driver, &params));
        SP_DEVINSTALL_PARAMS_A deviceParams = {};
        deviceParams.cbSize = 100;
        fails(SetupDiGetDeviceInstallParamsA(set, device, &deviceParams));
        return NO_ERROR;
    };
    InstallOutcome outcome = Install(
        {Driver("first", u"USB\\VID_1&PID_2"), Driver("second", u"USB\\VID_1&PID_2&REV_3")});
    std::vector<DWORD> expected = {ERROR_INVALID_USER_BUFFER,
                                   ERROR_NO_MORE_ITEMS,
                                   ERROR_NO_MORE_ITEMS,
                                   ERROR_INVALID_PARAMETER,
                                   0,
                                   0,
                                   ERROR_INVALID_USER_BUFFER,
                                   0,
                                   0,
                                   ERROR_INVALID_PARAMETER,
                                   ERROR_INVALID_USER_BUFFER};
    EXPECT_EQ(errors, expected);
    // The second driver (better by its match) now ranks 0x42 and still wins.
    EXPECT_EQ(outcome.ranks[1], 0x42u);
    EXPECT_EQ(outcome.selected, 1u);
}

TEST_F(DeviceInstaller, RunsTheRequestsWithPostProcessingAndStopsAtAnError)
{
    std::vector<std::pair<DI_FUNCTION, DWORD>> post;
    handler = [&post](DI_FUNCTION request, HDEVINFO, PSP_DEVINFO_DATA,
                      PCOINSTALLER_CONTEXT_DATA context) -> DWORD {
        if (context->PostProcessing) {
            post.emplace_back(request, context->InstallResult);
            return context->InstallResult;
        }
        if (request == DIF_INSTALLDEVICE)
            return ERROR_ACCESS_DENIED;
        return request == DIF_SELECTBESTCOMPATDRV ? ERROR_DI_POSTPROCESSING_REQUIRED : NO_ERROR;
    };
    InstallOutcome outcome = Install(
        {Driver("old", u"USB\\VID_1&PID_2", 1, 9), Driver("new", u"USB\\VID_1&PID_2", 2, 1)});
    EXPECT_EQ(outcome.error, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(outcome.selected);
    std::vector<DI_FUNCTION> requests = {DIF_SELECTBESTCOMPATDRV, DIF_ALLOW_INSTALL,
                                         DIF_INSTALLDEVICEFILES,  DIF_REGISTER_COINSTALLERS,
                                         DIF_INSTALLINTERFACES,   DIF_INSTALLDEVICE,
                                         DIF_DESTROYPRIVATEDATA};
    EXPECT_EQ(outcome.requests, requests);
    ASSERT_EQ(post.size(), 1u);
    EXPECT_EQ(post[0].first, DI_FUNCTION(DIF_SELECTBESTCOMPATDRV));
    EXPECT_EQ(post[0].second, DWORD(NO_ERROR));

    handler = [](DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA) -> DWORD {
        return NO_ERROR;
    };
    // Equal ranks: the newer date wins over the higher version.
    EXPECT_EQ(Install({Driver("old", u"USB\\VID_1&PID_2", 1, 9),
                       Driver("new", u"USB\\VID_1&PID_2", 2, 1)})
                  .selected,
              1u);
    EXPECT_EQ(Install({Driver("none", u"PCI\\VEN_1")}).error, DWORD(ERROR_NO_COMPAT_DRIVERS));
}

} // namespace
