// Bulk and interrupt transfers: an interrupt IN that waits for the device to have data, a bulk
// OUT, and a stall that halts the pipe until it is reset.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class BulkAndInterruptTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration());
    }

    std::unique_ptr<UrbBuffer> Transfer(UCHAR endpoint, std::vector<UCHAR> &buffer)
    {
        auto urb = std::make_unique<UrbBuffer>(sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER));
        UsbBuildInterruptOrBulkTransferRequest(
            urb->Get(), sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), Pipe(endpoint).PipeHandle,
            buffer.data(), nullptr, ULONG(buffer.size()),
            (endpoint & 0x80 ? USBD_TRANSFER_DIRECTION_IN : 0) | USBD_SHORT_TRANSFER_OK, nullptr);
        return urb;
    }
};

TEST_F(BulkAndInterruptTest, InterruptInWaitsUntilTheDeviceHasData)
{
    std::vector<UCHAR> buffer(6);
    auto urb = Transfer(kStatusEndpoint, buffer);
    PendingUrb &pending = SubmitAsync(urb->Get());
    Sleep(10);
    EXPECT_FALSE(pending.completed);

    ULONGLONG ready = controller_->CurrentInterval(kPort) + 20;
    model_->PostStatus({0x00, 0x01, 0x02}, ready);
    EXPECT_EQ(STATUS_SUCCESS, Wait(pending));
    EXPECT_EQ(3u, (*urb)->UrbBulkOrInterruptTransfer.TransferBufferLength);
    EXPECT_EQ(0x02, buffer[2]);
    std::vector<LoggedPacket> polled = model_->Packets(kStatusEndpoint);
    ASSERT_EQ(1u, polled.size());
    // Served at the endpoint's first polling opportunity (every 8 microframes) from then on.
    EXPECT_EQ((ready + 7) / 8 * 8, polled[0].interval);
}

TEST_F(BulkAndInterruptTest, BulkOutDeliversItsData)
{
    std::vector<UCHAR> buffer(100, 0x3c);
    auto urb = Transfer(kBulkEndpoint, buffer);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    EXPECT_EQ(100u, (*urb)->UrbBulkOrInterruptTransfer.TransferBufferLength);
    std::vector<LoggedPacket> sent = model_->Packets(kBulkEndpoint);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(buffer, sent[0].data);
}

TEST_F(BulkAndInterruptTest, StallHaltsThePipeUntilItIsReset)
{
    model_->StallBulk(true);
    std::vector<UCHAR> buffer(10, 0x11);
    auto stalled = Transfer(kBulkEndpoint, buffer);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(stalled->Get()));
    EXPECT_EQ(USBD_STATUS_STALL_PID, (*stalled)->UrbHeader.Status);

    model_->StallBulk(false);
    auto waiting = Transfer(kBulkEndpoint, buffer);
    PendingUrb &pending = SubmitAsync(waiting->Get());
    Sleep(5);
    EXPECT_FALSE(pending.completed); // the halted pipe holds it

    UrbBuffer reset(sizeof(struct _URB_PIPE_REQUEST));
    reset->UrbPipeRequest.Hdr.Length = sizeof(struct _URB_PIPE_REQUEST);
    reset->UrbPipeRequest.Hdr.Function = URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL;
    reset->UrbPipeRequest.PipeHandle = Pipe(kBulkEndpoint).PipeHandle;
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(reset.Get()));
    EXPECT_EQ(STATUS_SUCCESS, Wait(pending));
    EXPECT_EQ(1u, model_->Packets(kBulkEndpoint).size());
}

TEST_F(BulkAndInterruptTest, BulkTransferOnAnIsochronousPipeIsRefused)
{
    ASSERT_EQ(STATUS_SUCCESS, SelectInterface(1, 1));
    std::vector<UCHAR> buffer(10);
    auto urb = Transfer(kBulkEndpoint, buffer);
    (*urb)->UrbBulkOrInterruptTransfer.PipeHandle = Pipe(kDataEndpoint).PipeHandle;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
}

} // namespace
} // namespace usb_tests
