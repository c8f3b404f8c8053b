// Sample conversion between an ASIO channel buffer (one channel, contiguous samples of the
// host's ASIO sample type) and one channel of the device's interleaved frames (little-endian
// samples of 1 to 4 bytes, a frame stride apart). The rules are pure byte placement: a
// narrower target keeps the top bytes of the source, a wider one gets the source at its top
// and zero bytes below; no dither, rounding, clipping or byte swap.
#pragma once

#include "quen_driver_platform.h"

// The ASIO sample types the driver knows by name (the ASIOSampleType numbering).
#define ASIO_SAMPLE_TYPE_INT16_LSB 16
#define ASIO_SAMPLE_TYPE_INT24_LSB 17
#define ASIO_SAMPLE_TYPE_INT32_LSB 18
#define ASIO_SAMPLE_TYPE_FLOAT32_LSB 19
#define ASIO_SAMPLE_TYPE_FLOAT64_LSB 20
// The one-bit DSD sample types, whose silence is 0xAA.
#define ASIO_SAMPLE_TYPE_DSD_INT8_LSB1 32
#define ASIO_SAMPLE_TYPE_DSD_INT8_MSB1 33
// Types 0 to 41 exist; anything above is no ASIO sample type.
#define ASIO_SAMPLE_TYPE_COUNT 42

// Device samples are 1 to 4 bytes wide.
#define ASIO_DEVICE_SAMPLE_BYTES_MAX 4

// One converter: Count samples from Source to Destination. Render reads Source contiguously and
// writes Destination Stride bytes apart; capture reads Source Stride bytes apart and writes
// Destination contiguously.
typedef void (*PASIO_SAMPLE_CONVERTER)(const UCHAR *Source, PUCHAR Destination, ULONG Count,
                                       ULONG Stride);

// Bytes per sample of an ASIO sample type; 0 for types without a size.
ULONG AsioSampleSize(ULONG SampleType);

// Whether the type is one of the one-bit DSD byte streams.
BOOLEAN AsioIsDsdSampleType(ULONG SampleType);

// The ASIO samples one device sample carries: four DSD bytes in a 4-byte device sample, else one.
ULONG AsioSamplesPerDeviceSample(ULONG SampleType, ULONG DeviceBytes);

// The converter for one direction (Capture: device to ASIO), device sample width in bytes and
// ASIO sample type. Widths and types outside the table get the direction's default, which moves
// nothing and logs.
PASIO_SAMPLE_CONVERTER AsioSampleConverter(BOOLEAN Capture, ULONG DeviceBytes, ULONG SampleType);
