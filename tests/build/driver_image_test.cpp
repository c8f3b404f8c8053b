// The Windows build's kernel driver image: a PE32+ x64 native-subsystem image whose entry point
// lies in its code, that exports nothing and imports only what the kernel modules' .def files
// list (module by module, name by name). And the ASIO driver's library, which exports the four
// COM entry points and nothing else.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U16(const Bytes &b, size_t at) { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0; }
uint32_t U32(const Bytes &b, size_t at)
{
    return at + 4 <= b.size() ? U16(b, at) | U16(b, at + 2) << 16 : 0;
}

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

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
            if (line.empty() || line[0] == ';')
                continue;
            if (line.rfind("LIBRARY ", 0) == 0)
                module = Lower(line.substr(8));
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

struct Section {
    uint32_t rva, size, raw;
    bool code;
};

class DriverImageTest : public ::testing::Test {
protected:
    virtual const char *ImagePath() const { return QUEN_DRIVER_IMAGE; }

    void SetUp() override
    {
        std::ifstream file(ImagePath(), std::ios::binary);
        if (!file)
            GTEST_SKIP() << ImagePath() << " is not built (the Windows build makes it)";
        image_.assign(std::istreambuf_iterator<char>(file), {});
        pe_ = U32(image_, 0x3C);
        optional_ = pe_ + 24;
        const uint32_t count = U16(image_, pe_ + 6);
        const size_t table = optional_ + U16(image_, pe_ + 20);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t s = table + 40 * i;
            sections_.push_back({U32(image_, s + 12), U32(image_, s + 8), U32(image_, s + 20),
                                 (U32(image_, s + 36) & 0x20000000) != 0});
        }
    }
    size_t Offset(uint32_t rva) const
    {
        for (const Section &s : sections_)
            if (rva >= s.rva && rva < s.rva + s.size)
                return s.raw + (rva - s.rva);
        return image_.size();
    }
    std::string String(uint32_t rva) const
    {
        const size_t at = Offset(rva);
        return at < image_.size() ? std::string(reinterpret_cast<const char *>(&image_[at])) : "";
    }
    uint32_t Directory(int index) const { return U32(image_, optional_ + 112 + 8 * index); }
    uint32_t DirectorySize(int index) const { return U32(image_, optional_ + 116 + 8 * index); }

    Bytes image_;
    size_t pe_ = 0;
    size_t optional_ = 0;
    std::vector<Section> sections_;
};

TEST_F(DriverImageTest, IsANativeX64ImageEnteredInItsCode)
{
    ASSERT_EQ(0, std::memcmp(&image_[pe_], "PE\0\0", 4));
    EXPECT_EQ(0x8664u, U16(image_, pe_ + 4)) << "machine";
    EXPECT_EQ(0x20Bu, U16(image_, optional_)) << "PE32+";
    EXPECT_EQ(1u, U16(image_, optional_ + 68)) << "subsystem native";
    const uint32_t entry = U32(image_, optional_ + 16);
    bool inCode = false;
    for (const Section &s : sections_)
        inCode |= s.code && entry >= s.rva && entry < s.rva + s.size;
    EXPECT_TRUE(inCode) << "entry point 0x" << std::hex << entry;
    if (DirectorySize(0) != 0) { // the linker may leave an empty export table
        EXPECT_EQ(0u, U32(image_, Offset(Directory(0)) + 20)) << "exported functions";
        EXPECT_EQ(0u, U32(image_, Offset(Directory(0)) + 24)) << "exported names";
    }
}

TEST_F(DriverImageTest, ImportsOnlyWhatTheKernelModulesDefFilesList)
{
    const auto modules = DefFiles(QUEN_KERNEL_IMPORTS_DIR);
    ASSERT_FALSE(modules.empty());
    size_t imported = 0;
    for (size_t d = Offset(Directory(1)); U32(image_, d + 12) != 0; d += 20) {
        const std::string module = Lower(String(U32(image_, d + 12)));
        const auto known = modules.find(module);
        ASSERT_NE(modules.end(), known) << module << " has no .def file";
        const uint32_t thunks = U32(image_, d) != 0 ? U32(image_, d) : U32(image_, d + 16);
        for (size_t t = Offset(thunks); U32(image_, t) != 0 || U32(image_, t + 4) != 0; t += 8) {
            ASSERT_EQ(0u, U32(image_, t + 4) & 0x80000000u) << module << ": import by ordinal";
            const std::string name = String(U32(image_, t) + 2);
            EXPECT_TRUE(known->second.count(name)) << module << "!" << name;
            ++imported;
        }
    }
    EXPECT_GT(imported, 50u);
}

class AsioLibraryImageTest : public DriverImageTest {
protected:
    const char *ImagePath() const override { return QUEN_ASIO_IMAGE; }
};

TEST_F(AsioLibraryImageTest, ExportsExactlyTheFourComEntryPoints)
{
    ASSERT_NE(0u, DirectorySize(0));
    const size_t directory = Offset(Directory(0));
    const uint32_t names = U32(image_, directory + 24);
    std::set<std::string> exported;
    for (uint32_t i = 0; i < names; ++i)
        exported.insert(String(U32(image_, Offset(U32(image_, directory + 32)) + 4 * i)));
    EXPECT_EQ(U32(image_, directory + 20), names) << "every export has a name";
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              exported);
}

} // namespace
