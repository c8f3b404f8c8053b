// The performance parameters read from the machine's registry: defaults, limits and the bits
// that say what was corrected, for both pairs.
#include "kernel/kernel_fixture.h"

#include "asio/performance_parameters.h"

namespace {

class PerformanceParametersTest : public KernelTest {
protected:
    void CreateKey()
    {
        ASSERT_EQ(STATUS_SUCCESS,
                  RtlCreateRegistryKey(RTL_REGISTRY_ABSOLUTE,
                                       const_cast<PWSTR>(L"\\Registry\\Machine\\SOFTWARE\\ZEL")));
        ASSERT_EQ(STATUS_SUCCESS,
                  RtlCreateRegistryKey(RTL_REGISTRY_ABSOLUTE, const_cast<PWSTR>(kKey)));
    }
    void Write(PCWSTR name, ULONG value)
    {
        ASSERT_EQ(STATUS_SUCCESS, RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kKey, name,
                                                        REG_DWORD, &value, sizeof(value)));
    }
    static constexpr PCWSTR kKey = L"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance";

    ULONG first_ = 0xCCCC;
    ULONG second_ = 0xCCCC;
};

TEST_F(PerformanceParametersTest, MissingKeyGivesTheDefaultsOfBothPairs)
{
    EXPECT_EQ(PERFORMANCE_KEY_UNREADABLE,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(4u, first_);
    EXPECT_EQ(8u, second_);
    EXPECT_EQ(PERFORMANCE_KEY_UNREADABLE,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_CAPTURE, &first_, &second_, 1));
    EXPECT_EQ(1u, first_);
    EXPECT_EQ(8u, second_);
}

TEST_F(PerformanceParametersTest, StoredValuesInRangeAreTakenAsTheyAre)
{
    CreateKey();
    Write(L"param1", 2);
    Write(L"param2", 12);
    Write(L"param3", 5);
    Write(L"param4", 1);
    EXPECT_EQ(0, ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(2u, first_);
    EXPECT_EQ(12u, second_);
    EXPECT_EQ(0, ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_CAPTURE, &first_, &second_, 1));
    EXPECT_EQ(5u, first_);
    EXPECT_EQ(1u, second_);
}

TEST_F(PerformanceParametersTest, MissingValuesTakeTheirDefaultsWithoutABit)
{
    CreateKey();
    Write(L"param2", 3);
    EXPECT_EQ(0, ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(4u, first_);
    EXPECT_EQ(3u, second_);
}

TEST_F(PerformanceParametersTest, FirstValueAboveFiveIsLimited)
{
    CreateKey();
    Write(L"param1", 9);
    EXPECT_EQ(PERFORMANCE_FIRST_ABOVE_LIMIT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(5u, first_);
    EXPECT_EQ(8u, second_);
}

TEST_F(PerformanceParametersTest, ZeroValuesTakeTheFirstDefault)
{
    CreateKey();
    Write(L"param1", 0);
    Write(L"param2", 0);
    EXPECT_EQ(PERFORMANCE_FIRST_ZERO | PERFORMANCE_SECOND_ZERO,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(4u, first_);
    EXPECT_EQ(4u, second_); // the first value's default, not 8
}

TEST_F(PerformanceParametersTest, SecondValueAboveTwentyIsLimited)
{
    CreateKey();
    Write(L"param4", 100);
    EXPECT_EQ(PERFORMANCE_SECOND_ABOVE_LIMIT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_CAPTURE, &first_, &second_, 1));
    EXPECT_EQ(1u, first_);
    EXPECT_EQ(20u, second_);
}

TEST_F(PerformanceParametersTest, CorrectionsOfBothValuesCombine)
{
    CreateKey();
    Write(L"param3", 0);
    Write(L"param4", 21);
    EXPECT_EQ(PERFORMANCE_FIRST_ZERO | PERFORMANCE_SECOND_ABOVE_LIMIT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_CAPTURE, &first_, &second_, 1));
    EXPECT_EQ(1u, first_);
    EXPECT_EQ(20u, second_);
}

TEST_F(PerformanceParametersTest, ValueOfAnotherTypeIsNotWrittenOverTheResult)
{
    CreateKey();
    const UCHAR binary[16] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kKey, L"param1", REG_BINARY,
                                    const_cast<UCHAR *>(binary), sizeof(binary)));
    EXPECT_EQ(PERFORMANCE_KEY_UNREADABLE,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 4));
    EXPECT_EQ(4u, first_);
    EXPECT_EQ(8u, second_);
}

TEST_F(PerformanceParametersTest, MissingOutputOrBadDefaultWritesNothing)
{
    EXPECT_EQ(PERFORMANCE_MISSING_OUTPUT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, nullptr, &second_, 4));
    EXPECT_EQ(PERFORMANCE_MISSING_OUTPUT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, nullptr, 4));
    EXPECT_EQ(PERFORMANCE_BAD_FIRST_DEFAULT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 0));
    EXPECT_EQ(PERFORMANCE_BAD_FIRST_DEFAULT,
              ReadPerformanceParameterPair(PERFORMANCE_DIRECTION_RENDER, &first_, &second_, 6));
    EXPECT_EQ(0xCCCCu, first_);
    EXPECT_EQ(0xCCCCu, second_);
}

TEST_F(PerformanceParametersTest, RecordGetsEachDirectionsPair)
{
    CreateKey();
    Write(L"param1", 3);
    Write(L"param4", 30);
    PERFORMANCE_PARAMETERS parameters = {};
    EXPECT_EQ(0, ReadPerformanceParameters(PERFORMANCE_DIRECTION_RENDER, &parameters));
    EXPECT_EQ(PERFORMANCE_SECOND_ABOVE_LIMIT,
              ReadPerformanceParameters(PERFORMANCE_DIRECTION_CAPTURE, &parameters));
    EXPECT_EQ(3u, parameters.RenderFramesPerTransfer);
    EXPECT_EQ(8u, parameters.RenderTransfersInFlight);
    EXPECT_EQ(1u, parameters.CaptureFramesPerTransfer);
    EXPECT_EQ(20u, parameters.CaptureTransfersInFlight);
}

} // namespace
