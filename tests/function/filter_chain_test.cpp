// The signal chains of the filter description: insertion at both ends and next to an element
// keeps the links consistent in both directions.
#include "function/usb_audio_filter_chain.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class FilterChainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        chain_.Initialize();
        for (ULONG i = 0; i < 5; ++i)
            elements_[i] = {nullptr, i, FALSE, nullptr, nullptr};
    }

    // The chain's ids from the head, checked against the backward links and the count.
    std::string Ids() const
    {
        std::string forward;
        ULONG count = 0;
        const UsbAudioFilterElement *last = nullptr;
        for (const UsbAudioFilterElement *e = chain_.Head; e != nullptr; e = e->Next) {
            EXPECT_EQ(last, e->Previous);
            forward += std::to_string(e->Id);
            last = e;
            ++count;
        }
        EXPECT_EQ(last, chain_.Tail);
        EXPECT_EQ(count, chain_.Count);
        return forward;
    }

    UsbAudioFilterChain chain_;
    UsbAudioFilterElement elements_[5];
};

TEST_F(FilterChainTest, AnEmptyChainHasNoElements)
{
    EXPECT_EQ("", Ids());
    EXPECT_FALSE(chain_.Contains(&elements_[0]));
}

TEST_F(FilterChainTest, HeadInsertionsPrecedeAndTailInsertionsFollow)
{
    chain_.InsertHead(&elements_[1]);
    chain_.InsertTail(&elements_[2]);
    chain_.InsertHead(&elements_[0]);
    EXPECT_EQ("012", Ids());
    EXPECT_TRUE(chain_.Contains(&elements_[2]));
    EXPECT_FALSE(chain_.Contains(&elements_[3]));
}

TEST_F(FilterChainTest, InsertionsNextToAnElementGoRightAfterOrRightBeforeIt)
{
    chain_.InsertTail(&elements_[0]);
    chain_.InsertTail(&elements_[4]);
    chain_.InsertAfter(&elements_[0], &elements_[2]);
    chain_.InsertAfter(&elements_[0], &elements_[1]); // in front of the one inserted before
    chain_.InsertBefore(&elements_[4], &elements_[3]);
    EXPECT_EQ("01234", Ids());
}

TEST_F(FilterChainTest, InsertionsAtTheEndsThroughNeighboursMoveHeadAndTail)
{
    chain_.InsertHead(&elements_[1]);
    chain_.InsertBefore(&elements_[1], &elements_[0]);
    chain_.InsertAfter(&elements_[1], &elements_[2]);
    EXPECT_EQ("012", Ids());
    EXPECT_EQ(&elements_[0], chain_.Head);
    EXPECT_EQ(&elements_[2], chain_.Tail);
}

} // namespace
