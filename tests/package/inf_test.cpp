// The package's setup information against what the simulated plug and play installs for the
// RV-D3: the same hardware id, model name, service and device values, and the co-installer the
// module build names.
#include <gtest/gtest.h>

#include "driver_session.h"
#include "kernel/wide_string.h"

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

// An INF as sections of lines, comments dropped, %strings% expanded.
class Inf {
public:
    explicit Inf(const std::string &path)
    {
        std::ifstream file(path);
        std::string line, section;
        while (std::getline(file, line)) {
            line = Strip(Uncomment(line));
            if (line.empty())
                continue;
            if (line.front() == '[' && line.back() == ']')
                section = line.substr(1, line.size() - 2);
            else
                sections_[section].push_back(line);
        }
        for (const std::string &entry : sections_["Strings"]) {
            std::vector<std::string> kv = Split(entry, '=');
            if (kv.size() == 2)
                strings_[kv[0]] = Unquote(kv[1]);
        }
    }

    // The fields of each line of a section, strings expanded.
    std::vector<std::vector<std::string>> Lines(const std::string &section) const
    {
        std::vector<std::vector<std::string>> lines;
        auto found = sections_.find(section);
        if (found == sections_.end())
            return lines;
        for (const std::string &line : found->second) {
            std::vector<std::string> fields;
            for (const std::string &part : Split(line, '='))
                for (const std::string &field : Split(part, ','))
                    fields.push_back(Unquote(Expand(field)));
            lines.push_back(fields);
        }
        return lines;
    }
    // The value of `key = value` in a section.
    std::string Value(const std::string &section, const std::string &key) const
    {
        for (const auto &fields : Lines(section))
            if (fields.size() >= 2 && fields[0] == key)
                return fields[1];
        return "";
    }

private:
    static std::string Uncomment(const std::string &line)
    {
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == ';' && !quoted)
                return line.substr(0, i);
        }
        return line;
    }
    static std::string Strip(const std::string &s)
    {
        size_t begin = s.find_first_not_of(" \t\r"), end = s.find_last_not_of(" \t\r");
        return begin == std::string::npos ? "" : s.substr(begin, end - begin + 1);
    }
    static std::string Unquote(std::string s)
    {
        s = Strip(s);
        return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
    }
    // Splits at separators outside quotes, keeping empty fields.
    static std::vector<std::string> Split(const std::string &s, char separator)
    {
        std::vector<std::string> parts(1);
        bool quoted = false;
        for (char c : s) {
            if (c == '"')
                quoted = !quoted;
            if (c == separator && !quoted && (separator == ',' || parts.size() == 1))
                parts.emplace_back();
            else
                parts.back() += c;
        }
        for (std::string &part : parts)
            part = Strip(part);
        return parts;
    }
    std::string Expand(const std::string &field) const
    {
        static const std::regex token("%([^%]+)%");
        std::string out;
        auto last = field.cbegin();
        for (std::sregex_iterator it(field.begin(), field.end(), token), end; it != end; ++it) {
            out.append(last, field.cbegin() + it->position());
            auto known = strings_.find((*it)[1]);
            out += known != strings_.end() ? known->second : it->str();
            last = field.cbegin() + it->position() + it->length();
        }
        return out.append(last, field.cend());
    }

    std::map<std::string, std::vector<std::string>> sections_;
    std::map<std::string, std::string> strings_;
};

TEST(PackageInf, DescribesWhatThePlugAndPlayOfTheSimulatedPcInstalls)
{
    const Inf inf(QUEN_PACKAGE_INF);
    const host::DriverPackage package = sim::QuenAudioPackage();

    // The manufacturer and model the co-installer looks for, on the package's hardware id.
    auto manufacturer = inf.Lines("Manufacturer");
    ASSERT_EQ(manufacturer.size(), 1u);
    EXPECT_EQ(manufacturer[0][0], "Norvane_Quen");
    auto models = inf.Lines(manufacturer[0][1] + "." + manufacturer[0][2]);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_EQ(host::FromUtf8(models[0][0]), package.description);
    const std::string install = models[0][1];
    EXPECT_EQ(host::FromUtf8(models[0][2]), package.hardwareIds.at(0));

    // The service, as the simulated PC writes its key.
    auto services = inf.Lines(install + ".NT.Services");
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(host::FromUtf8(services[0][1]), package.service);
    const std::string service = services[0][3];
    EXPECT_EQ(inf.Value(service, "ServiceType"), "1");
    EXPECT_EQ(inf.Value(service, "StartType"), "3");
    EXPECT_EQ(inf.Value(service, "ErrorControl"), "1");
    EXPECT_EQ(inf.Value(service, "ServiceBinary"), "%12%\\" + host::ToUtf8(package.image));

    // The values the driver reads from the device's hardware key.
    auto hardwareValues = inf.Lines(inf.Value(install + ".NT.HW", "AddReg"));
    ASSERT_EQ(hardwareValues.size(), package.hardwareKeyValues.size());
    for (size_t i = 0; i < hardwareValues.size(); ++i) {
        const host::PackageRegistryValue &value = package.hardwareKeyValues[i];
        EXPECT_EQ(hardwareValues[i][0], "HKR");
        EXPECT_EQ(host::FromUtf8(hardwareValues[i][2]), value.name);
        ASSERT_EQ(value.data.size(), 4u);
        EXPECT_EQ(std::stoul(hardwareValues[i][4]), value.data[0] | value.data[1] << 8 |
                                                        value.data[2] << 16 |
                                                        ULONG(value.data[3]) << 24);
    }

    // The co-installer by the name its module exports.
    auto coInstaller = inf.Lines(inf.Value(install + ".NT.CoInstallers", "AddReg"));
    ASSERT_EQ(coInstaller.size(), 1u);
    EXPECT_EQ(coInstaller[0][2], "CoInstallers32");
    EXPECT_EQ(coInstaller[0][4], "zelaudiocoinst.dll,CoInstallerEntryPoint");
}

} // namespace
