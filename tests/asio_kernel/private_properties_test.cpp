// The private property set from a user process: the channel buffers mapped into the host's
// process and nowhere else, malformed and hostile requests refused with nothing kept, and the
// buffers gone with the process that asked for them.
#include "asio_kernel_fixture.h"

namespace asio_kernel_tests {
namespace {

constexpr ULONG kSet = KSPROPERTY_TYPE_SET;
constexpr ULONG kGet = KSPROPERTY_TYPE_GET;
constexpr ULONG kInt32 = 18;
constexpr ULONG kDsd = 33;

class PrivateProperties : public AsioKernelTest {
protected:
    // The reply to a GET of the buffers for `count` channels.
    std::vector<ASIO_CHANNEL_BUFFER> Buffers(HANDLE pin, ULONG count, DWORD *error)
    {
        std::vector<ASIO_CHANNEL_BUFFER> entries(count);
        *error = Send(pin, KSPROPERTY_ASIO_BUFFERS, kGet, {}, entries.data(),
                      ULONG(count * sizeof(ASIO_CHANNEL_BUFFER)))
                     .error;
        return entries;
    }
};

TEST_F(PrivateProperties, BuffersAreZeroedHalvesBehindTheHeaderInTheHostsProcess)
{
    CKsAudPin *pin = OpenPin(false);
    ASSERT_NE(nullptr, pin);
    const Bytes request = BufferRequest(2, 512, {kInt32, 0, kInt32, 1, 0, 0});
    ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet, request, nullptr, 0).error);
    DWORD error = 0;
    std::vector<ASIO_CHANNEL_BUFFER> entries = Buffers(pin->Handle(), 2, &error);
    ASSERT_EQ(0u, error);
    auto base = static_cast<ULONG_PTR>(entries[0].UserHalf[0]) - sizeof(ASIO_SHARED_HEADER);
    EXPECT_EQ(0u, base % 4096) << "the block is whole pages of its own";
    for (ULONG i = 0; i < 2; ++i) {
        // Packed fields are copied out before they are compared.
        EXPECT_EQ(i, ULONG(entries[i].ChannelIndex));
        EXPECT_EQ(kInt32, ULONG(entries[i].SampleType));
        EXPECT_EQ(256u, ULONG(entries[i].HalfSamples));
        EXPECT_EQ(0u, ULONGLONG(entries[i].KernelHalf[0] | entries[i].KernelHalf[1]));
        EXPECT_EQ(ULONGLONG(base + 16 + 2048 * i), ULONGLONG(entries[i].UserHalf[0]));
        EXPECT_EQ(ULONGLONG(base + 16 + 2048 * i + 1024), ULONGLONG(entries[i].UserHalf[1]));
    }
    const auto *block = reinterpret_cast<const UCHAR *>(base);
    EXPECT_EQ(Bytes(4096, 0), Bytes(block, block + 4096)) << "header, halves and slack zeroed";
    // The host's writes land in the shared block; the next GET silences them again.
    auto *half = reinterpret_cast<UCHAR *>(entries[1].UserHalf[1]);
    std::memset(half, 0x5A, 1024);
    Buffers(pin->Handle(), 2, &error);
    EXPECT_EQ(Bytes(1024, 0), Bytes(half, half + 1024));
    EXPECT_EQ(ERROR_INVALID_FUNCTION,
              Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet, request, nullptr, 0).error)
        << "buffers are set up once";
}

TEST_F(PrivateProperties, DsdHalvesStartSilent)
{
    CKsAudPin *pin = OpenPin(true);
    ASSERT_NE(nullptr, pin);
    ASSERT_EQ(0u, Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet,
                       BufferRequest(1, 4096, {kDsd, 0}), nullptr, 0)
                      .error);
    DWORD error = 0;
    const ASIO_CHANNEL_BUFFER entry = Buffers(pin->Handle(), 1, &error)[0];
    ASSERT_EQ(0u, error);
    const auto *half = reinterpret_cast<const UCHAR *>(entry.UserHalf[0]);
    EXPECT_EQ(Bytes(4096, 0xAA), Bytes(half, half + 4096));
}

struct HostileBuffers {
    const char *name;
    Bytes instance;
};

class HostileBufferRequest : public PrivateProperties,
                             public ::testing::WithParamInterface<HostileBuffers> {};

// Each is refused, and the pin is left without buffers.
TEST_P(HostileBufferRequest, IsRefusedAndKeepsNothing)
{
    CKsAudPin *pin = OpenPin(false);
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(
        ERROR_INVALID_FUNCTION,
        Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet, GetParam().instance, nullptr, 0).error);
    DWORD error = 0;
    Buffers(pin->Handle(), 1, &error);
    EXPECT_EQ(ERROR_INVALID_FUNCTION, error);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, HostileBufferRequest,
    ::testing::Values(
        HostileBuffers{"NoInstance", {}}, HostileBuffers{"FifteenBytes", Bytes(15, 0)},
        HostileBuffers{"NoChannel", BufferRequest(0, 512, {kInt32, 0})},
        HostileBuffers{"CountWrapsTheSizeCheck", BufferRequest(0x20000001, 512, {kInt32, 0})},
        HostileBuffers{"TwoChannelsInSixteenBytes", BufferRequest(2, 512, {kInt32, 0})},
        HostileBuffers{"MoreChannelsThanTheFrame",
                       BufferRequest(3, 512, {kInt32, 0, kInt32, 1, kInt32, 1})},
        HostileBuffers{"IndexPastTheFrame", BufferRequest(1, 512, {kInt32, 2})},
        HostileBuffers{"IndexAllOnes", BufferRequest(1, 512, {kInt32, 0xFFFFFFFF})},
        HostileBuffers{"TypePastTheTable", BufferRequest(1, 512, {42, 0})},
        HostileBuffers{"TypeAllOnes", BufferRequest(1, 512, {0xFFFFFFFF, 0})},
        HostileBuffers{"MixedTypes", BufferRequest(2, 512, {kInt32, 0, kDsd, 1})},
        HostileBuffers{"NoSamples", BufferRequest(1, 0, {kInt32, 0})},
        HostileBuffers{"OneSample", BufferRequest(1, 1, {kInt32, 0})},
        HostileBuffers{"OddSamples", BufferRequest(1, 513, {kInt32, 0})},
        HostileBuffers{"SizeWrapsTo16", BufferRequest(1, 0x40000000, {kInt32, 0})},
        HostileBuffers{"SumWrapsTo16", BufferRequest(2, 0x20000000, {kInt32, 0, kInt32, 1})},
        HostileBuffers{"HalfLargerThanTheRing", BufferRequest(1, 0x80000000, {kInt32, 0})}),
    [](const ::testing::TestParamInfo<HostileBuffers> &info) { return info.param.name; });

TEST_F(PrivateProperties, EventAndOutputRequestsKeepToTheirRules)
{
    CKsAudPin *render = OpenPin(false);
    CKsAudPin *capture = OpenPin(true);
    ASSERT_NE(nullptr, render);
    ASSERT_NE(nullptr, capture);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE other = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE pin = render->Handle();
    ULONG value = 0;
    struct Case {
        const char *what;
        HANDLE target;
        ULONG id, flags;
        Bytes instance;
        DWORD error;
    } cases[] = {
        {"ready before buffers",
         pin,
         KSPROPERTY_ASIO_OUTPUT_READY,
         kSet,
         {},
         ERROR_INVALID_FUNCTION},
        // The capture pin does not carry the render-only ids: KS does not find them.
        {"ready on capture",
         capture->Handle(),
         KSPROPERTY_ASIO_OUTPUT_READY,
         kSet,
         {},
         ERROR_NOT_FOUND},
        {"delay on capture", capture->Handle(), KSPROPERTY_ASIO_OUTPUT_DELAY, kSet, Bytes(4, 0),
         ERROR_NOT_FOUND},
        {"delay without a value",
         pin,
         KSPROPERTY_ASIO_OUTPUT_DELAY,
         kSet,
         {},
         ERROR_INVALID_FUNCTION},
        {"delay", pin, KSPROPERTY_ASIO_OUTPUT_DELAY, kSet, Bytes(4, 0), 0},
        {"null handle", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet, Bytes(8, 0),
         ERROR_INVALID_FUNCTION},
        {"short handle", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet, Bytes(4, 1),
         ERROR_INVALID_FUNCTION},
        {"a file, not an event", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet,
         HandleBytes(filter_->Handle()), ERROR_INVALID_HANDLE},
        {"read of register", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kGet, HandleBytes(event),
         ERROR_INVALID_FUNCTION},
        {"unregister of none", pin, KSPROPERTY_ASIO_UNREGISTER_EVENT, kSet, HandleBytes(event),
         ERROR_INVALID_FUNCTION},
        {"register", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet, HandleBytes(event), 0},
        {"register twice", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet, HandleBytes(other),
         ERROR_INVALID_FUNCTION},
        {"unregister another", pin, KSPROPERTY_ASIO_UNREGISTER_EVENT, kSet, HandleBytes(other),
         ERROR_INVALID_FUNCTION},
        {"unregister", pin, KSPROPERTY_ASIO_UNREGISTER_EVENT, kSet, HandleBytes(event), 0},
        {"register again", pin, KSPROPERTY_ASIO_REGISTER_EVENT, kSet, HandleBytes(other), 0},
        {"unknown id", pin, 5, kSet, {}, ERROR_NOT_FOUND},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.error, Send(c.target, c.id, c.flags, c.instance, &value, sizeof value).error)
            << c.what;
    }
    // The filter's DSD mode takes exactly a USHORT of 0 or 1.
    const HANDLE filter = filter_->Handle();
    USHORT mode = 0;
    UCHAR wide[3] = {};
    EXPECT_EQ(0u, Send(filter, KSPROPERTY_ASIO_DSD_NATIVE_MODE, kSet, {}, &mode, 2).error);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              Send(filter, KSPROPERTY_ASIO_DSD_NATIVE_MODE, kSet, {}, wide, 3).error);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              Send(filter, KSPROPERTY_ASIO_DSD_NATIVE_MODE, kSet, {}, wide, 1).error);
    mode = 2;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              Send(filter, KSPROPERTY_ASIO_DSD_NATIVE_MODE, kSet, {}, &mode, 2).error);
    CloseHandle(other);
    CloseHandle(event);
}

// A 32-bit host gets 28-byte entries whose addresses it can use, and registers its event with a
// 4-byte handle.
TEST_F(PrivateProperties, A32BitHostGetsShortEntriesAndHandles)
{
    filter_.reset();
    PKPROCESS host = Win32().StartProcess(
        "wow64 host", u"C:\\Program Files (x86)\\Quen Test\\wow64 host.exe",
        [] {
            std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
            WAVEFORMATEX format = Pcm(2, 48000, 32);
            CKsAudPin *pin = filter != nullptr ? filter->OpenRenderPinFor(&format) : nullptr;
            if (pin == nullptr) {
                return DWORD(1);
            }
            if (Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet,
                     BufferRequest(2, 512, {kInt32, 0, kInt32, 1}), nullptr, 0)
                    .error != 0) {
                return DWORD(2);
            }
            ASIO_CHANNEL_BUFFER32 entries[2];
            const Reply reply =
                Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kGet, {}, entries, sizeof entries);
            if (reply.error != 0 || reply.returned != sizeof entries) {
                return DWORD(3);
            }
            const ULONG gap = ULONG(entries[1].UserHalf[0]) - ULONG(entries[0].UserHalf[0]);
            auto *half = reinterpret_cast<UCHAR *>(ULONG_PTR(ULONG(entries[1].UserHalf[1])));
            half[1023] = 0x5A; // the last byte of the last half is the client's to write
            const ULONG handle = ULONG(ULONG_PTR(CreateEventW(nullptr, FALSE, FALSE, nullptr)));
            Bytes instance(4);
            std::memcpy(instance.data(), &handle, 4);
            const DWORD registered =
                Send(pin->Handle(), KSPROPERTY_ASIO_REGISTER_EVENT, kSet, instance, nullptr, 0)
                    .error;
            return gap == 2048 && registered == 0 ? DWORD(0) : DWORD(4);
        },
        true);
    EXPECT_EQ(0u, Join(host));
}

// A host that ends without closing anything loses its pins, buffers and event reference: the
// pins can be made again, and the machine ends with nothing left over.
TEST_F(PrivateProperties, ProcessExitReleasesBuffersAndEvent)
{
    filter_.reset();
    PKPROCESS host = Start("asio host", [] {
        std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
        WAVEFORMATEX format = Pcm(2, 48000, 32);
        CKsAudPin *pin = filter != nullptr ? filter->OpenRenderPinFor(&format) : nullptr;
        if (pin == nullptr) {
            return DWORD(1);
        }
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        const Reply buffers = Send(pin->Handle(), KSPROPERTY_ASIO_BUFFERS, kSet,
                                   BufferRequest(2, 512, {kInt32, 0, kInt32, 1}), nullptr, 0);
        const Reply registered = Send(pin->Handle(), KSPROPERTY_ASIO_REGISTER_EVENT, kSet,
                                      HandleBytes(event), nullptr, 0);
        ExitProcess(buffers.error == 0 && registered.error == 0 ? 0 : 2);
        return DWORD(3);
    });
    EXPECT_EQ(0u, Join(host));
    filter_ = OpenFilter();
    ASSERT_NE(nullptr, filter_);
    EXPECT_NE(nullptr, OpenPin(false)) << "the host's pin is gone";
}

} // namespace
} // namespace asio_kernel_tests
