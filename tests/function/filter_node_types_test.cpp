// The node type of each USB terminal type (a bridge pin's category) and the node-type names of
// the filter description's trace.
#include "function/ks_node_types.h"
#include "usb/usb_audio_cl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TerminalRange {
    USHORT first;
    USHORT last;
};
// Input, output, bidirectional, telephony, external and embedded terminal types.
const TerminalRange kTerminalRanges[] = {{0x0201, 0x0206}, {0x0301, 0x0307}, {0x0401, 0x0405},
                                         {0x0501, 0x0503}, {0x0601, 0x0607}, {0x0701, 0x0713}};

TEST(KsNodeTypeTest, EveryUsbTerminalTypeMapsOntoItsKsNodeType)
{
    const GUID tail = KSNODETYPE_SPEAKER; // the last three fields all terminal types share
    for (const TerminalRange &range : kTerminalRanges) {
        for (ULONG type = range.first; type <= range.last; ++type) {
            const GUID *node = CUSBAudioCL::GetKsNodeTypeForTerminal(USHORT(type));
            ASSERT_NE(nullptr, node) << std::hex << type;
            EXPECT_EQ(0xDFF219E0u + type, node->Data1) << std::hex << type;
            EXPECT_EQ(tail.Data2, node->Data2);
            EXPECT_EQ(tail.Data3, node->Data3);
            EXPECT_EQ(0, memcmp(tail.Data4, node->Data4, sizeof(tail.Data4)));
        }
    }
    EXPECT_EQ(KSNODETYPE_MICROPHONE, *CUSBAudioCL::GetKsNodeTypeForTerminal(0x0201));
    EXPECT_EQ(KSNODETYPE_HEADPHONES, *CUSBAudioCL::GetKsNodeTypeForTerminal(0x0302));
    EXPECT_EQ(KSNODETYPE_SPDIF_INTERFACE, *CUSBAudioCL::GetKsNodeTypeForTerminal(0x0605));
    EXPECT_EQ(KSNODETYPE_SYNTHESIZER, *CUSBAudioCL::GetKsNodeTypeForTerminal(0x0713));
}

TEST(KsNodeTypeTest, OtherTerminalTypesHaveNoNodeType)
{
    for (USHORT type : {0x0000, 0x0100, 0x0101, 0x01FF, 0x0200, 0x0207, 0x0300, 0x0308, 0x0406,
                        0x0504, 0x0608, 0x0700, 0x0714, 0x0800, 0xFFFF})
        EXPECT_EQ(nullptr, CUSBAudioCL::GetKsNodeTypeForTerminal(type)) << std::hex << type;
}

TEST(KsNodeTypeTest, NamesDropThePrefixAndKeepTheirTrailingBlanks)
{
    EXPECT_STREQ("MICROPHONE", GetKsNodeTypeName(&KSNODETYPE_MICROPHONE));
    EXPECT_STREQ("PROCESSING_MICROPHONE_ARRAY ",
                 GetKsNodeTypeName(&KSNODETYPE_PROCESSING_MICROPHONE_ARRAY));
    EXPECT_STREQ("LOW_FREQUENCY_EFFECTS_SPEAKER ",
                 GetKsNodeTypeName(&KSNODETYPE_LOW_FREQUENCY_EFFECTS_SPEAKER));
    EXPECT_STREQ("DOWN_LINE_PHONE ", GetKsNodeTypeName(&KSNODETYPE_DOWN_LINE_PHONE));
    EXPECT_STREQ("1394_DV_STREAM_SOUNDTRACK ",
                 GetKsNodeTypeName(&KSNODETYPE_1394_DV_STREAM_SOUNDTRACK));
    EXPECT_STREQ("SYNTHESIZER", GetKsNodeTypeName(&KSNODETYPE_SYNTHESIZER));
    EXPECT_STREQ("DAC ", GetKsNodeTypeName(&KSNODETYPE_DAC));
    EXPECT_STREQ("MUTE ", GetKsNodeTypeName(&KSNODETYPE_MUTE));
    EXPECT_STREQ("DEV_SPECIFIC ", GetKsNodeTypeName(&KSNODETYPE_DEV_SPECIFIC));
    EXPECT_STREQ("PEAKMETER ", GetKsNodeTypeName(&KSNODETYPE_PEAKMETER));
    EXPECT_STREQ("ACOUSTIC_ECHO_CANCEL", GetKsNodeTypeName(&KSNODETYPE_ACOUSTIC_ECHO_CANCEL));
    EXPECT_STREQ("MICROPHONE_ARRAY_PROCESSOR",
                 GetKsNodeTypeName(&KSNODETYPE_MICROPHONE_ARRAY_PROCESSOR));
}

TEST(KsNodeTypeTest, TheStreamingCategoryAndUnknownIdentifiersHaveTheirOwnNames)
{
    EXPECT_STREQ("USB streaming", GetKsNodeTypeName(&KSCATEGORY_AUDIO));
    EXPECT_STREQ("Unknown", GetKsNodeTypeName(&KSCATEGORY_RENDER));
    EXPECT_STREQ("Unknown", GetKsNodeTypeName(&KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_STREQ("Unknown", GetKsNodeTypeName(nullptr));
}

std::string Text(const GUID &g)
{
    char text[40];
    snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
             g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// What the Windows audio stack compares the description against.
TEST(KsNodeTypeTest, TheIdentifiersTheDescriptionUsesHaveTheirWindowsValues)
{
    EXPECT_EQ("6994AD04-93EF-11D0-A3CC-00A0C9223196", Text(KSCATEGORY_AUDIO));
    EXPECT_EQ("73647561-0000-0010-8000-00AA00389B71", Text(KSDATAFORMAT_TYPE_AUDIO));
    EXPECT_EQ("00000001-0000-0010-8000-00AA00389B71", Text(KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_EQ("00000003-0000-0010-8000-00AA00389B71", Text(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT));
    EXPECT_EQ("6DBA3190-67BD-11CF-A0F7-0020AFD156E4", Text(KSDATAFORMAT_SUBTYPE_ANALOG));
    EXPECT_EQ("05589F81-C356-11CE-BF01-00AA0055595A", Text(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX));
    EXPECT_EQ("0F6417D6-C318-11D0-A43F-00A0C9223196", Text(KSDATAFORMAT_SPECIFIER_NONE));
    EXPECT_EQ("507AE360-C554-11D0-8A2B-00A0C9255AC1", Text(KSNODETYPE_DAC));
    EXPECT_EQ("4D837FE0-C555-11D0-8A2B-00A0C9255AC1", Text(KSNODETYPE_ADC));
    EXPECT_EQ("02B223C0-C557-11D0-8A2B-00A0C9255AC1", Text(KSNODETYPE_MUTE));
    EXPECT_EQ("3A5ACC00-C557-11D0-8A2B-00A0C9255AC1", Text(KSNODETYPE_VOLUME));
    EXPECT_EQ("DFF21CE1-F70F-11D0-B917-00A0C9223196", Text(KSNODETYPE_SPEAKER));
    EXPECT_EQ("45FFAAA0-6E1B-11D0-BCF2-444553540000", Text(KSPROPSETID_Audio));
}

} // namespace
