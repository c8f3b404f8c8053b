// The texts the reports are made of: status names, packet sizes and endpoint timing.
#include <gtest/gtest.h>

#include "ntstatus_text.h"
#include "usb_audio_names.h"

#include <ntddk.h>

namespace {

TEST(ReportTextsTest, StatusesShowTheirNameAndHex)
{
    EXPECT_EQ("STATUS_NOT_SUPPORTED (0xC00000BB)", sim::NtStatusText(STATUS_NOT_SUPPORTED));
    EXPECT_EQ("STATUS_SUCCESS (0x00000000)", sim::NtStatusText(STATUS_SUCCESS));
    EXPECT_EQ("0xC0DE0001", sim::NtStatusText(NTSTATUS(0xC0DE0001)));
    EXPECT_EQ(nullptr, sim::NtStatusName(NTSTATUS(0xC0DE0001)));
}

TEST(ReportTextsTest, MaxPacketSizeShowsHighBandwidthTransactions)
{
    EXPECT_EQ("392 bytes", sim::MaxPacketText(392));
    EXPECT_EQ("2 x 1024 bytes (high bandwidth, 2048 per microframe)", sim::MaxPacketText(0x0C00));
    EXPECT_EQ("3 x 1024 bytes (high bandwidth, 3072 per microframe)", sim::MaxPacketText(0x1400));
}

TEST(ReportTextsTest, PeriodicIntervalsAreMicroframesAtHighSpeedAndFramesAtFullSpeed)
{
    const UCHAR iso = 0x05, interrupt = 0x03, bulk = 0x02;
    EXPECT_EQ("every 125 us (bInterval 1)", sim::EndpointIntervalText(iso, 1, true));
    EXPECT_EQ("every 1 ms (bInterval 4)", sim::EndpointIntervalText(iso, 4, true));
    EXPECT_EQ("every 8 ms (bInterval 4)", sim::EndpointIntervalText(iso, 4, false));
    EXPECT_EQ("every 32 ms (bInterval 32)", sim::EndpointIntervalText(interrupt, 32, false));
    EXPECT_EQ("every 4 ms (bInterval 6)", sim::EndpointIntervalText(interrupt, 6, true));
    EXPECT_EQ("bInterval 0", sim::EndpointIntervalText(bulk, 0, true));
    EXPECT_EQ("bInterval 0 (invalid: must be 1 to 16)", sim::EndpointIntervalText(iso, 0, true));
    EXPECT_EQ("bInterval 17 (invalid: must be 1 to 16)", sim::EndpointIntervalText(iso, 17, false));
}

TEST(ReportTextsTest, AudioNumbersHaveTheirNames)
{
    EXPECT_EQ("USB streaming", sim::TerminalTypeName(0x0101));
    EXPECT_EQ("speaker", sim::TerminalTypeName(0x0301));
    EXPECT_EQ("terminal type 0x0999", sim::TerminalTypeName(0x0999));
    EXPECT_EQ("PCM+raw data (DSD)", sim::Class2FormatsName(0x80000001));
    EXPECT_EQ("none", sim::Class2FormatsName(0));
    EXPECT_EQ("format tag 0x2001", sim::Class1FormatTagName(0x2001));
    EXPECT_STREQ("volume", sim::FeatureControlName(1));
    EXPECT_STREQ("reserved", sim::FeatureControlName(40));
    EXPECT_STREQ("implicit feedback data", sim::UsageTypeName(0x25));
}

} // namespace
