// Device start under low resources: whichever of the driver's allocations fails, start fails
// with STATUS_INSUFFICIENT_RESOURCES (or STATUS_NOT_SUPPORTED where an entity could not be
// allocated: the scan then ends early and the links that entity would have served fail), or
// gets by without it, and nothing leaks or is freed twice; the fixture fails the test on any
// verifier report, pool leaks at teardown included.
#include "function/filter_test_fixture.h"

#include "devices/rvd3_model.h"

namespace function_tests {
namespace {

constexpr ULONG kUsbaTag = 0x41425355; // "USBA"

class LowResourcesTest : public FilterTest, public ::testing::WithParamInterface<int> {};

TEST_P(LowResourcesTest, DeviceStartFailsCleanlyWhereverAnAllocationFails)
{
    M().KernelPool().FailAllocations(kUsbaTag, size_t(GetParam()), 1);
    NTSTATUS status = Start(std::make_shared<devices::Rvd3Model>());
    if (NT_SUCCESS(status))
        status = audio_->BuildFilter(&filter_);
    EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INSUFFICIENT_RESOURCES ||
                status == STATUS_NOT_SUPPORTED)
        << "status 0x" << std::hex << ULONG(status);
}

// The RV-D3's start makes a few dozen tagged allocations; the sweep goes past the last one.
INSTANTIATE_TEST_SUITE_P(EveryAllocation, LowResourcesTest, ::testing::Range(0, 80));

} // namespace
} // namespace function_tests
