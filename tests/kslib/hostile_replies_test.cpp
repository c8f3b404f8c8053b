// The library against a filter whose replies are malformed: lists shorter than their header,
// counts and sizes beyond the bytes returned, data ranges of odd or impossible sizes, a pin name
// without its terminator. Each is refused or cut; nothing is read or written beyond a buffer
// (the sanitizer build checks that).
#include "hostile_filter.h"
#include "win32/win32_fixture.h"

#include "ks_aud_filter.h"
#include "ks_aud_pin.h"

namespace {

using namespace kslib_tests;

class HostileReplies : public Win32Test {
protected:
    // The filter opened and listed with these replies; the pin's verdicts stay in the filter.
    std::unique_ptr<CKsAudFilter2> OpenWith(const kslib_tests::HostileReplies &replies)
    {
        replies_ = replies;
        filter_ = std::make_unique<HostileFilter>(M(), replies_);
        HRESULT status = E_FAIL;
        auto filter = std::make_unique<CKsAudFilter2>(kHostilePath, &status);
        EXPECT_EQ(S_OK, status);
        EXPECT_EQ(S_OK, filter->OpenFilter());
        listed_ = filter->ListPins();
        return filter;
    }

    void TearDown() override
    {
        filter_.reset();
        Win32Test::TearDown();
    }

    kslib_tests::HostileReplies replies_;
    std::unique_ptr<HostileFilter> filter_;
    HRESULT listed_ = E_FAIL;
};

TEST_F(HostileReplies, WellFormedRepliesGiveARenderPin)
{
    std::unique_ptr<CKsAudFilter2> filter = OpenWith(WellFormedReplies());
    EXPECT_EQ(S_OK, listed_);
    ASSERT_EQ(1u, filter->RenderSinkPins().Count());
    auto pin = static_cast<CKsAudPin *>(filter->RenderSinkPins()[0]);
    EXPECT_EQ(0, lstrcmpW(L"Render", pin->Name()));
    EXPECT_EQ(1u, pin->AudioRanges().Count());
    EXPECT_EQ(S_OK, filter->ListNodes());
    EXPECT_EQ(1u, filter->Nodes().Count());
}

TEST_F(HostileReplies, MalformedListsLeaveThePinOut)
{
    const ULONG header = sizeof(KSMULTIPLE_ITEM);
    const ULONG audio = sizeof(KSDATARANGE_AUDIO);
    std::vector<UCHAR> range = AudioRange(audio);
    std::vector<UCHAR> odd = AudioRange(audio + 1); // a second range would start 8-aligned
    std::vector<UCHAR> oddThenRange = odd;
    oddThenRange.insert(oddThenRange.end(), range.begin(), range.end());
    struct Case {
        const char *what;
        ULONG property;
        std::vector<UCHAR> reply;
    } cases[] = {
        {"header cut short", KSPROPERTY_PIN_DATARANGES, {1, 2, 3, 4}},
        {"size beyond the reply", KSPROPERTY_PIN_DATARANGES,
         MultipleItem(header + audio + 64, 1, range)},
        {"size below the header", KSPROPERTY_PIN_DATARANGES, MultipleItem(4, 1, range)},
        {"count beyond the size", KSPROPERTY_PIN_DATARANGES,
         MultipleItem(header + audio, 3, range)},
        {"range smaller than a data range", KSPROPERTY_PIN_DATARANGES,
         MultipleItem(header + 8, 1, AudioRange(8))},
        {"odd range with the next not 8-aligned in the reply", KSPROPERTY_PIN_DATARANGES,
         MultipleItem(ULONG(header + oddThenRange.size()), 2, oddThenRange)},
        {"range size beyond the list", KSPROPERTY_PIN_DATARANGES,
         MultipleItem(header + audio, 1, AudioRange(audio + 400))},
        {"interface count beyond the size", KSPROPERTY_PIN_INTERFACES,
         MultipleItem(header + sizeof(KSPIN_INTERFACE), 1000000,
                      std::vector<UCHAR>(sizeof(KSPIN_INTERFACE)))},
        {"medium count wrapping the size", KSPROPERTY_PIN_MEDIUMS,
         MultipleItem(header + sizeof(KSPIN_MEDIUM), 0x20000001,
                      std::vector<UCHAR>(sizeof(KSPIN_MEDIUM)))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        kslib_tests::HostileReplies replies = WellFormedReplies();
        replies.pin[c.property] = c.reply;
        std::unique_ptr<CKsAudFilter2> filter = OpenWith(replies);
        EXPECT_EQ(E_FAIL, listed_);
        EXPECT_EQ(0u, filter->Pins().Count());
        filter.reset();
        filter_.reset();
    }
}

TEST_F(HostileReplies, OddSizedLastRangeIsKeptWithinTheReply)
{
    // An odd size is legal for the last range; the list need not pad it.
    std::vector<UCHAR> odd = AudioRange(sizeof(KSDATARANGE_AUDIO) + 3);
    kslib_tests::HostileReplies replies = WellFormedReplies();
    replies.pin[KSPROPERTY_PIN_DATARANGES] =
        MultipleItem(ULONG(sizeof(KSMULTIPLE_ITEM) + odd.size()), 1, odd);
    std::unique_ptr<CKsAudFilter2> filter = OpenWith(replies);
    ASSERT_EQ(1u, filter->RenderSinkPins().Count());
    EXPECT_EQ(1u, static_cast<CKsAudPin *>(filter->RenderSinkPins()[0])->AudioRanges().Count());
}

TEST_F(HostileReplies, ByteCountsBeyondTheBufferAreNotTrusted)
{
    // Every list claims more than the buffer, and its header agrees with the claim.
    kslib_tests::HostileReplies replies = WellFormedReplies();
    replies.overstated = 4096;
    for (auto &reply : replies.pin)
        if (reply.first == KSPROPERTY_PIN_DATARANGES || reply.first == KSPROPERTY_PIN_INTERFACES ||
            reply.first == KSPROPERTY_PIN_MEDIUMS)
            reinterpret_cast<KSMULTIPLE_ITEM *>(reply.second.data())->Size += 4096;
    std::unique_ptr<CKsAudFilter2> filter = OpenWith(replies);
    EXPECT_EQ(E_FAIL, listed_);
    EXPECT_EQ(0u, filter->Pins().Count());
}

TEST_F(HostileReplies, NodeListWithCountBeyondItsSizeIsRefused)
{
    kslib_tests::HostileReplies replies = WellFormedReplies();
    replies.nodes =
        MultipleItem(sizeof(KSMULTIPLE_ITEM) + sizeof(GUID), 50, std::vector<UCHAR>(sizeof(GUID)));
    std::unique_ptr<CKsAudFilter2> filter = OpenWith(replies);
    EXPECT_EQ(E_FAIL, filter->ListNodes());
    EXPECT_EQ(0u, filter->Nodes().Count());
}

TEST_F(HostileReplies, UnterminatedPinNameEndsInsideItsField)
{
    kslib_tests::HostileReplies replies = WellFormedReplies();
    replies.pin[KSPROPERTY_PIN_NAME] = std::vector<UCHAR>(2000, 'A');
    std::unique_ptr<CKsAudFilter2> filter = OpenWith(replies);
    ASSERT_EQ(1u, filter->RenderSinkPins().Count());
    EXPECT_EQ(259, lstrlenW(filter->RenderSinkPins()[0]->Name()));
}

} // namespace
