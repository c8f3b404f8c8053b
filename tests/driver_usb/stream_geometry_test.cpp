// Packet geometry and nominal feedback of a stream: service interval, bytes per frame, nominal
// packet, the whole-samples flag and the bytes an endpoint carries per millisecond.
#include <gtest/gtest.h>

#include "usb/stream_geometry.h"

namespace {

USB_ENDPOINT_DESCRIPTOR Endpoint(USHORT maxPacketSize, UCHAR interval)
{
    USB_ENDPOINT_DESCRIPTOR endpoint = {};
    endpoint.bLength = sizeof(endpoint);
    endpoint.bDescriptorType = USB_ENDPOINT_DESCRIPTOR_TYPE;
    endpoint.bEndpointAddress = 0x01;
    endpoint.bmAttributes = USB_ENDPOINT_TYPE_ISOCHRONOUS;
    endpoint.wMaxPacketSize = maxPacketSize;
    endpoint.bInterval = interval;
    return endpoint;
}

TEST(StreamGeometry, HighSpeedEveryMicroframeAt48kHzCarriesWholeSamples)
{
    const USB_ENDPOINT_DESCRIPTOR endpoint = Endpoint(0x0400, 1);
    StreamGeometry g;
    ComputeStreamGeometry(&endpoint, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(1u, g.ServiceInterval);
    EXPECT_EQ(8u, g.BytesPerFrame);
    EXPECT_EQ(6u, g.SamplesPerPacket);
    EXPECT_EQ(48u, g.BytesPerPacket);
    EXPECT_TRUE(g.WholeSamples);
}

TEST(StreamGeometry, FractionalRateRoundsDownAndClearsWholeSamples)
{
    const USB_ENDPOINT_DESCRIPTOR endpoint = Endpoint(0x0400, 1);
    StreamGeometry g;
    ComputeStreamGeometry(&endpoint, TRUE, 2, 32, 44100, &g);
    EXPECT_EQ(5u, g.SamplesPerPacket);
    EXPECT_EQ(40u, g.BytesPerPacket);
    EXPECT_FALSE(g.WholeSamples);
}

TEST(StreamGeometry, HighBandwidthTransactionsMultiplyTheBytesPerMillisecond)
{
    StreamGeometry g;
    const USB_ENDPOINT_DESCRIPTOR one = Endpoint(0x0400, 1);
    ComputeStreamGeometry(&one, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(8u * 1024, g.MaxBytesPerMs);
    const USB_ENDPOINT_DESCRIPTOR two = Endpoint(0x0C00, 1);
    ComputeStreamGeometry(&two, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(2u * 8 * 1024, g.MaxBytesPerMs);
    const USB_ENDPOINT_DESCRIPTOR three = Endpoint(0x1400, 1);
    ComputeStreamGeometry(&three, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(3u * 8 * 1024, g.MaxBytesPerMs);
}

TEST(StreamGeometry, ServiceIntervalFollowsBInterval)
{
    StreamGeometry g;
    const USB_ENDPOINT_DESCRIPTOR every2 = Endpoint(0x0400, 2);
    ComputeStreamGeometry(&every2, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(2u, g.ServiceInterval);
    EXPECT_EQ(12u, g.SamplesPerPacket);
    EXPECT_EQ(4u * 1024, g.MaxBytesPerMs);
    const USB_ENDPOINT_DESCRIPTOR every8 = Endpoint(0x0400, 4);
    ComputeStreamGeometry(&every8, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(8u, g.ServiceInterval);
    EXPECT_EQ(1024u, g.MaxBytesPerMs);
}

TEST(StreamGeometry, FullSpeedCountsPerFrame)
{
    const USB_ENDPOINT_DESCRIPTOR endpoint = Endpoint(392, 1);
    StreamGeometry g;
    ComputeStreamGeometry(&endpoint, FALSE, 2, 32, 44100, &g);
    EXPECT_EQ(1u, g.ServiceInterval);
    EXPECT_EQ(44u, g.SamplesPerPacket);
    EXPECT_EQ(352u, g.BytesPerPacket);
    EXPECT_FALSE(g.WholeSamples);
    EXPECT_EQ(392u, g.MaxBytesPerMs);
}

TEST(StreamGeometry, ZeroFormatHasNoGeometry)
{
    const USB_ENDPOINT_DESCRIPTOR endpoint = Endpoint(0x0400, 3);
    StreamGeometry g;
    ComputeStreamGeometry(&endpoint, TRUE, 0, 32, 48000, &g);
    EXPECT_EQ(1u, g.ServiceInterval);
    EXPECT_EQ(0u, g.BytesPerFrame);
    EXPECT_EQ(0u, g.BytesPerPacket);
    EXPECT_EQ(0u, g.MaxBytesPerMs);
    ComputeStreamGeometry(nullptr, TRUE, 2, 32, 48000, &g);
    EXPECT_EQ(0u, g.BytesPerPacket);
}

TEST(StreamGeometry, HostileIntervalAndRateStayDefined)
{
    const USB_ENDPOINT_DESCRIPTOR endpoint = Endpoint(0xFFFF, 255);
    StreamGeometry g;
    ComputeStreamGeometry(&endpoint, FALSE, 255, 2040, 0xFFFFFFFF, &g);
    EXPECT_EQ(1u << 15, g.ServiceInterval);
    EXPECT_EQ(MAXULONG, g.BytesPerPacket); // saturated, not wrapped
    EXPECT_EQ(0x7FFu, g.MaxBytesPerMs);
}

TEST(NominalFeedback, HighSpeedRenderCountsPerServiceInterval)
{
    // 44100 x 65536 / 1000 / 8: about 5.5125 samples per microframe.
    EXPECT_EQ(361267u, NominalFeedback(44100, TRUE, FALSE, 1));
    EXPECT_EQ(44100u * 65536 / 1000 / 4, NominalFeedback(44100, TRUE, FALSE, 2));
    EXPECT_EQ(44100u * 65536 / 1000, NominalFeedback(44100, TRUE, FALSE, 8));
    EXPECT_EQ(44100u * 65536 / 1000, NominalFeedback(44100, TRUE, FALSE, 16));
}

TEST(NominalFeedback, HighSpeedCapturePerMicroframeAndFullSpeedPerFrame)
{
    EXPECT_EQ(48000u * 65536 / 1000 / 8, NominalFeedback(48000, TRUE, TRUE, 4));
    EXPECT_EQ(48000u * 65536 / 1000, NominalFeedback(48000, FALSE, FALSE, 1));
    EXPECT_EQ(48000u * 65536 / 1000, NominalFeedback(48000, FALSE, TRUE, 1));
}

} // namespace
