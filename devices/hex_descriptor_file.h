// Descriptor dumps as hex text: bytes written as two hex digits separated by blanks or line
// breaks (one descriptor per line by convention). Used to replay real devices' descriptors.
#pragma once

#include "descriptor_builder.h"

#include <string>

namespace devices {

// Parses hex text. On a token that is not exactly two hex digits it returns false and says
// where in *error.
bool ParseHexBytes(const std::string &text, Bytes *bytes, std::string *error);

// Reads and parses one file.
bool LoadHexFile(const std::string &path, Bytes *bytes, std::string *error);

// Loads NAME.dev.hex and NAME.cfg.hex from `directory` (device and configuration descriptor).
// The set gets only a language list as strings: the dumps carry no string descriptors.
bool LoadDescriptorDump(const std::string &directory, const std::string &name, DescriptorSet *set,
                        std::string *error);

} // namespace devices
