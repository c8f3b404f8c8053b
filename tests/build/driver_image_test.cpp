// The Windows build's images: the kernel driver, a PE32+ x64 native-subsystem image whose entry
// point lies in its code, that exports nothing and imports only what the kernel modules' .def
// files list (module by module, name by name); the user-mode modules, exporting what their own
// .def files list.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include <dirent.h>

namespace {

// Module name (lower case) -> the names its .def file exports.
std::map<std::string, std::set<std::string>> DefFiles(const std::string &folder)
{
    std::map<std::string, std::set<std::string>> modules;
    DIR *dir = opendir(folder.c_str());
    for (dirent *entry; dir != nullptr && (entry = readdir(dir)) != nullptr;) {
        const std::string name = entry->d_name;
        if (name.size() < 5 || name.substr(name.size() - 4) != ".def")
            continue;
        std::ifstream file(folder + "/" + name);
        std::string line, module;
        bool exports = false;
        while (std::getline(file, line)) {
            line.erase(0, line.find_first_not_of(" \t"));
            if (line.empty() || line[0] == ';')
                continue;
            if (line.rfind("LIBRARY ", 0) == 0)
                module = LowerCase(line.substr(8));
            else if (line == "EXPORTS")
                exports = true;
            else if (exports)
                modules[module].insert(line.substr(0, line.find_first_of(" \t@")));
        }
    }
    if (dir != nullptr)
        closedir(dir);
    return modules;
}

class DriverImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!image_.Load(QUEN_DRIVER_IMAGE))
            GTEST_SKIP() << QUEN_DRIVER_IMAGE << " is not built (the Windows build makes it)";
    }

    PeImage image_;
};

TEST_F(DriverImageTest, IsANativeX64ImageEnteredInItsCode)
{
    ASSERT_TRUE(image_.IsPe());
    EXPECT_EQ(0x8664u, image_.Machine()) << "machine";
    EXPECT_EQ(0x20Bu, image_.Magic()) << "PE32+";
    EXPECT_EQ(1u, image_.Subsystem()) << "subsystem native";
    EXPECT_TRUE(image_.InCode(image_.EntryPoint()))
        << "entry point 0x" << std::hex << image_.EntryPoint();
    EXPECT_TRUE(image_.Exports().empty()) << "exported names";
}

TEST_F(DriverImageTest, ImportsOnlyWhatTheKernelModulesDefFilesList)
{
    const auto modules = DefFiles(QUEN_KERNEL_IMPORTS_DIR);
    ASSERT_FALSE(modules.empty());
    size_t imported = 0;
    for (const auto &[module, names] : image_.Imports()) {
        const auto known = modules.find(module);
        ASSERT_NE(modules.end(), known) << module << " has no .def file";
        for (const std::string &name : names) {
            EXPECT_NE('#', name[0]) << module << ": import by ordinal";
            EXPECT_TRUE(known->second.count(name)) << module << "!" << name;
            ++imported;
        }
    }
    EXPECT_GT(imported, 50u);
}

// The user-mode modules: x64, exporting exactly what their .def files list under their own module
// names; the control panel a program of the GUI subsystem.
TEST(UserModuleImages, ExportExactlyTheirDefFiles)
{
    const struct {
        const char *image;
        const char *folder;
        const char *module; // the export table's name; empty for a program
    } modules[] = {
        {"quen_asio.dll", "asio", "quen_asio.dll"},
        {"zelaudiocoinst.dll", "coinst", "zelaudiocoinst.dll"},
        {"quen_asiocpl.exe", "panel", ""},
    };
    for (const auto &m : modules) {
        SCOPED_TRACE(m.image);
        PeImage image;
        if (!image.Load(std::string(QUEN_WINDOWS_BUILD) + "/" + m.image))
            GTEST_SKIP() << m.image << " is not built (the Windows build makes it)";
        ASSERT_TRUE(image.IsPe());
        EXPECT_EQ(0x8664u, image.Machine());
        if (m.module[0] == 0) {
            EXPECT_EQ(2u, image.Subsystem()) << "subsystem Windows GUI";
        }
        std::set<std::string> expected;
        for (const auto &[name, exports] : DefFiles(std::string(QUEN_SOURCE_DIR) + "/" + m.folder))
            expected.insert(exports.begin(), exports.end());
        EXPECT_EQ(image.Exports(), expected);
        EXPECT_EQ(image.ExportedFunctions(), expected.size()) << "every export has a name";
        EXPECT_EQ(image.ExportName(), m.module);
    }
}

} // namespace
