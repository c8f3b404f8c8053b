// A Windows build's PE32+ image read as bytes: its headers, sections, data directories, and the
// export and import tables. Reads past the end give 0 or an empty string.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

inline std::string LowerCase(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class PeImage {
public:
    // False when the file is missing.
    bool Load(const std::string &path)
    {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return false;
        bytes_.assign(std::istreambuf_iterator<char>(file), {});
        pe_ = U32(0x3C);
        optional_ = pe_ + 24;
        const uint32_t count = U16(pe_ + 6);
        const size_t table = optional_ + U16(pe_ + 20);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t s = table + 40 * i;
            sections_.push_back(
                {U32(s + 12), U32(s + 8), U32(s + 20), (U32(s + 36) & 0x20000000) != 0});
        }
        return true;
    }

    bool IsPe() const
    {
        return pe_ + 4 <= bytes_.size() && std::memcmp(&bytes_[pe_], "PE\0\0", 4) == 0;
    }
    uint32_t Machine() const { return U16(pe_ + 4); }
    uint32_t Magic() const { return U16(optional_); }
    uint32_t Subsystem() const { return U16(optional_ + 68); }
    uint32_t EntryPoint() const { return U32(optional_ + 16); }
    bool InCode(uint32_t rva) const
    {
        for (const Section &s : sections_)
            if (s.code && rva >= s.rva && rva < s.rva + s.size)
                return true;
        return false;
    }
    uint32_t Directory(int index) const { return U32(optional_ + 112 + 8 * index); }
    uint32_t DirectorySize(int index) const { return U32(optional_ + 116 + 8 * index); }

    // The export table's module name and exported names.
    std::string ExportName() const
    {
        return DirectorySize(0) != 0 ? String(U32(Offset(Directory(0)) + 12)) : "";
    }
    // Exported functions, named or by ordinal only.
    uint32_t ExportedFunctions() const
    {
        return DirectorySize(0) != 0 ? U32(Offset(Directory(0)) + 20) : 0;
    }
    std::set<std::string> Exports() const
    {
        std::set<std::string> names;
        if (DirectorySize(0) == 0)
            return names;
        const size_t table = Offset(Directory(0));
        const size_t pointers = Offset(U32(table + 32));
        for (uint32_t i = 0; i < U32(table + 24); ++i)
            names.insert(String(U32(pointers + 4 * i)));
        return names;
    }
    // Module name (lower case) -> imported names; an import by ordinal shows as "#ordinal".
    std::map<std::string, std::vector<std::string>> Imports() const
    {
        std::map<std::string, std::vector<std::string>> imports;
        if (DirectorySize(1) == 0)
            return imports;
        for (size_t d = Offset(Directory(1)); d + 20 <= bytes_.size() && U32(d + 12) != 0;
             d += 20) {
            const std::string module = LowerCase(String(U32(d + 12)));
            const uint32_t thunks = U32(d) != 0 ? U32(d) : U32(d + 16);
            auto &names = imports[module];
            for (size_t t = Offset(thunks);
                 t + 8 <= bytes_.size() && (U32(t) != 0 || U32(t + 4) != 0); t += 8)
                names.push_back((U32(t + 4) & 0x80000000u) ? "#" + std::to_string(U16(t))
                                                           : String(U32(t) + 2));
        }
        return imports;
    }

private:
    struct Section {
        uint32_t rva, size, raw;
        bool code;
    };
    uint32_t U16(size_t at) const
    {
        return at + 2 <= bytes_.size() ? bytes_[at] | bytes_[at + 1] << 8 : 0;
    }
    uint32_t U32(size_t at) const
    {
        return at + 4 <= bytes_.size() ? U16(at) | U16(at + 2) << 16 : 0;
    }
    size_t Offset(uint32_t rva) const
    {
        for (const Section &s : sections_)
            if (rva >= s.rva && rva < s.rva + s.size)
                return s.raw + (rva - s.rva);
        return bytes_.size();
    }
    std::string String(uint32_t rva) const
    {
        const size_t at = Offset(rva);
        if (at >= bytes_.size())
            return "";
        const char *text = reinterpret_cast<const char *>(&bytes_[at]);
        return std::string(text, strnlen(text, bytes_.size() - at));
    }

    std::vector<uint8_t> bytes_;
    size_t pe_ = 0;
    size_t optional_ = 0;
    std::vector<Section> sections_;
};
