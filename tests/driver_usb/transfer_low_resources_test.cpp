// The transfer path under low resources: when a transfer context or an isochronous URB cannot
// be had, the request fails with STATUS_INSUFFICIENT_RESOURCES, nothing is sent, whatever was
// taken is given back, and the next request works again.
#include "transfer_test_support.h"

#include "devices/rvd3_model.h"

namespace driver_usb_tests {
namespace {

constexpr ULONG kUsbaTag = 0x41425355; // "USBA"

class TransferLowResourcesTest : public TransferTest, public ::testing::WithParamInterface<int> {};

TEST_P(TransferLowResourcesTest, FeedbackReadFailsCleanlyAndTheNextOneWorks)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    const ULONG bytes = audio_->GetFeedbackTransferBytes();
    std::vector<UCHAR> buffer(bytes, 0);
    const size_t sentBefore = Urbs().size();

    // Parameter 0 fails the context, 1 the URB after it.
    M().KernelPool().FailAllocations(kUsbaTag, size_t(GetParam()), 1);
    CallbackRecorder failed;
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES,
              audio_->RecvFeedback(buffer.data(), bytes, CallbackRecorder::Callback, &failed));
    EXPECT_EQ(sentBefore, Urbs().size());
    EXPECT_EQ(0, audio_->IoCount);

    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->RecvFeedback(buffer.data(), bytes, CallbackRecorder::Callback, &done));
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(STATUS_SUCCESS, done.Calls()[0].status);
    EXPECT_TRUE(failed.Calls().empty());
    WaitDrained();
}

INSTANTIATE_TEST_SUITE_P(ContextThenUrb, TransferLowResourcesTest, ::testing::Values(0, 1));

} // namespace
} // namespace driver_usb_tests
