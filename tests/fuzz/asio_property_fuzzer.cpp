// libFuzzer target: one input is a script of private property requests that a user process sends
// to the product driver on a started RV-D3, on a render pin, a capture pin and the filter, with
// pin state changes in between. The machine, the device, the client process and its filter
// handle are made once; every input gets pins (and an event) of its own, opened when it first
// addresses them and closed when it ends, and leaves the device in PCM (set back when a request
// named the mode), so nothing of one input (buffers, events, states, mode) reaches the next. A
// request may be refused with any status; a sanitizer finding, a verifier report, pool blocks
// beyond what the driver keeps for reuse, or a reply whose addresses do not lie in a view of the
// client's own that the client can write, aborts.
//
// A record: target (0 render, 1 capture, 2 filter, 3 a state for both pins), id selector, flags
// (bit 0 GET, 1 SET, 2 BASICSUPPORT, 3 the instance starts with the input's event handle, 4
// with the filter's handle), instance length, the instance bytes, value length (2 bytes).
#include "asio_kernel/asio_client.h"
#include "devices/rvd3_model.h"
#include "driver_session.h"
#include "kernel/emulated_thread.h"
#include "kernel/machine.h"
#include "kernel/pool.h"
#include "one_cpu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

const ULONG kIds[] = {KSPROPERTY_ASIO_BUFFERS,          KSPROPERTY_ASIO_REGISTER_EVENT,
                      KSPROPERTY_ASIO_UNREGISTER_EVENT, KSPROPERTY_ASIO_OUTPUT_READY,
                      KSPROPERTY_ASIO_OUTPUT_DELAY,     5,
                      KSPROPERTY_ASIO_DSD_NATIVE_MODE};
const size_t kMaximumValue = 4096;

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "asio property fuzzer: %s\n", what);
    std::abort();
}

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<UCHAR> Bytes(size_t count)
    {
        std::vector<UCHAR> bytes;
        while (count-- != 0 && at_ < size_)
            bytes.push_back(data_[at_++]);
        return bytes;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

std::map<ULONG, size_t> BlocksByTag(const host::Pool &pool)
{
    std::map<ULONG, size_t> blocks;
    for (const host::Pool::Outstanding &o : pool.OutstandingByTag())
        blocks[o.tag] = o.blocks;
    return blocks;
}

// Freed pool blocks stay fenced off for 16 MB of frees, some fifty inputs (an input frees about
// a third of a megabyte, its pins' rings mostly) rather than the default 64 MB: the mappings the
// next inputs get back have not yet left the caches.
host::MachineOptions FuzzMachineOptions()
{
    host::MachineOptions options;
    options.specialPoolQuarantine = size_t(16) << 20;
    return options;
}

// The machine with the driver started on the RV-D3 and this thread in a user process.
struct World {
    World()
    {
        attach = std::make_unique<host::ThreadAttachment>(machine, "fuzz");
        // Nobody reads the driver's trace here; unformatted it costs nothing.
        DbgSetDebugFilterState(DPFLTR_IHVAUDIO_ID, ~ULONG(0), FALSE);
        session = std::make_unique<sim::DriverSession>(machine, sim::QuenAudioPackage());
        if (session->InstallStatus() != STATUS_SUCCESS ||
            session->Plug(std::make_shared<devices::Rvd3Model>()) == nullptr)
            Fail("the driver did not start on the RV-D3");
        session->CloseFilter();
        attach.reset();
        process = machine.CreateProcess("asio host");
        user = std::make_unique<host::ThreadAttachment>(machine, "fuzz", true, process);
        filter = asio_kernel_tests::OpenFilter();
        if (filter == nullptr)
            Fail("the filter did not open");
        WarmUp();
        warm = BlocksByTag(machine.KernelPool());
        left = warm;
    }

    // Both pins through a short run as a wave stream and one as an ASIO stream, so that what the
    // driver keeps for reuse (free lists of transfers and queue entries, the streaming
    // interfaces' settings) exists before the first input: an input may leave the pool with no
    // more blocks of a tag than that.
    void WarmUp()
    {
        WAVEFORMATEX renderFormat = asio_kernel_tests::Pcm(2, 48000, 32);
        WAVEFORMATEX captureFormat =
            asio_kernel_tests::Pcm(2, 48000, asio_kernel_tests::kCaptureBits);
        for (const bool asio : {false, true}) {
            CKsAudPin *pins[] = {filter->OpenRenderPinFor(&renderFormat),
                                 filter->OpenCapturePinFor(&captureFormat)};
            for (CKsAudPin *pin : pins) {
                if (pin == nullptr ||
                    (asio &&
                     asio_kernel_tests::Send(
                         pin->Handle(), KSPROPERTY_ASIO_BUFFERS, KSPROPERTY_TYPE_SET,
                         asio_kernel_tests::BufferRequest(2, 512, {18, 0, 18, 1}), nullptr, 0)
                             .error != 0) ||
                    pin->ChangeState(KSSTATE_RUN) != S_OK)
                    Fail("the warm-up run did not start");
            }
            Sleep(100);
            for (CKsAudPin *pin : pins) {
                pin->ChangeState(KSSTATE_STOP);
                pin->ClosePin();
            }
        }
    }

    ~World()
    {
        filter.reset();
        user.reset();
        attach = std::make_unique<host::ThreadAttachment>(machine, "fuzz");
        session.reset();
        attach.reset();
    }

    host::Machine machine{FuzzMachineOptions()};
    std::unique_ptr<host::ThreadAttachment> attach;
    std::unique_ptr<sim::DriverSession> session;
    PKPROCESS process = nullptr;
    std::unique_ptr<host::ThreadAttachment> user;
    // Kept open between inputs: a filter handle holds nothing of a request but the device's
    // DSD mode, which every input leaves in PCM.
    std::unique_ptr<CKsAudFilter2> filter;
    std::map<ULONG, size_t> warm;
    std::map<ULONG, size_t> left; // by the last input
};

World *world = nullptr;

// The machine is taken down at exit, before the leak check looks for what is left.
World &TheWorld()
{
    if (world == nullptr) {
        world = new World();
        std::atexit([] { delete world; });
    }
    return *world;
}

// A successful GET of the buffers: every half it names must be writable by the client.
void TouchHalves(const std::vector<UCHAR> &value, ULONG returned)
{
    for (size_t at = 0; at + sizeof(ASIO_CHANNEL_BUFFER) <= returned;
         at += sizeof(ASIO_CHANNEL_BUFFER)) {
        ASIO_CHANNEL_BUFFER entry;
        std::memcpy(&entry, value.data() + at, sizeof entry);
        if (entry.KernelHalf[0] != 0 || entry.KernelHalf[1] != 0)
            Fail("a kernel address reached the client");
        for (ULONG i = 0; i < 2; ++i) {
            // The first byte of each half is enough to fault on a bad view.
            auto *bytes = reinterpret_cast<volatile UCHAR *>(ULONG_PTR(entry.UserHalf[i]));
            bytes[0] = bytes[0];
        }
    }
}

// The pins of one input, each opened when the input first addresses it: an input that never
// names a pin does not pay for opening and closing one. Closed with their buffers and event
// references when the input ends.
class InputPins {
public:
    explicit InputPins(CKsAudFilter2 &filter) : filter_(filter) {}
    ~InputPins()
    {
        for (CKsAudPin *pin : {render_, capture_}) {
            if (pin != nullptr && pin->ClosePin() != S_OK)
                Fail("a pin did not close");
        }
    }

    CKsAudPin *Render()
    {
        if (!renderOpened_) {
            renderOpened_ = true;
            WAVEFORMATEX format = asio_kernel_tests::Pcm(2, 48000, 32);
            render_ = filter_.OpenRenderPinFor(&format);
        }
        return render_;
    }
    CKsAudPin *Capture()
    {
        if (!captureOpened_) {
            captureOpened_ = true;
            WAVEFORMATEX format = asio_kernel_tests::Pcm(2, 48000, asio_kernel_tests::kCaptureBits);
            capture_ = filter_.OpenCapturePinFor(&format);
        }
        return capture_;
    }

private:
    CKsAudFilter2 &filter_;
    CKsAudPin *render_ = nullptr;
    CKsAudPin *capture_ = nullptr;
    bool renderOpened_ = false;
    bool captureOpened_ = false;
};

// The event an input's requests may name, made when the first one does.
class InputEvent {
public:
    ~InputEvent()
    {
        if (event_ != nullptr)
            CloseHandle(event_);
    }
    HANDLE Handle()
    {
        if (event_ == nullptr)
            event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        return event_;
    }

private:
    HANDLE event_ = nullptr;
};

// Returns whether a request named the DSD mode, which the input must then set back to PCM.
bool RunScript(Reader &input, CKsAudFilter2 &filter, InputPins &pins, InputEvent &event)
{
    bool namedMode = false;
    std::vector<UCHAR> value;
    while (!input.Empty()) {
        const uint8_t target = input.Byte() & 3;
        const ULONG id = kIds[input.Byte() % (sizeof kIds / sizeof kIds[0])];
        const uint8_t flags = input.Byte();
        if (target == 3) {
            const KSSTATE state = KSSTATE(flags & 3);
            for (CKsAudPin *pin : {pins.Render(), pins.Capture()}) {
                if (pin != nullptr)
                    pin->ChangeState(state);
            }
            continue;
        }
        std::vector<UCHAR> instance = input.Bytes(input.Byte());
        if ((flags & 24) != 0 && instance.size() >= sizeof(HANDLE)) {
            const HANDLE substitute = (flags & 8) ? event.Handle() : filter.Handle();
            std::memcpy(instance.data(), &substitute, sizeof substitute);
        }
        const size_t valueBytes =
            (size_t(input.Byte()) | size_t(input.Byte()) << 8) % kMaximumValue;
        const ULONG verbs = ((flags & 1) ? KSPROPERTY_TYPE_GET : 0) |
                            ((flags & 2) ? KSPROPERTY_TYPE_SET : 0) |
                            ((flags & 4) ? KSPROPERTY_TYPE_BASICSUPPORT : 0);
        value.assign(valueBytes, 0);
        namedMode = namedMode || id == KSPROPERTY_ASIO_DSD_NATIVE_MODE;
        CKsAudPin *pin = target == 0 ? pins.Render() : target == 1 ? pins.Capture() : nullptr;
        const HANDLE handle = target == 2 ? filter.Handle() : pin ? pin->Handle() : nullptr;
        if (handle == nullptr)
            continue;
        const asio_kernel_tests::Reply reply =
            asio_kernel_tests::Send(handle, id, verbs, instance,
                                    value.empty() ? nullptr : value.data(), ULONG(value.size()));
        const ULONG returned = reply.returned;
        // A size query answers with the size it needs and says so (STATUS_BUFFER_OVERFLOW).
        if (returned > value.size() && reply.error != ERROR_MORE_DATA)
            Fail("the driver reported more bytes than the value holds");
        if (reply.error == 0 && id == KSPROPERTY_ASIO_BUFFERS && verbs == KSPROPERTY_TYPE_GET)
            TouchHalves(value, returned);
    }
    return namedMode;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::KeepToOneCpu();
    fuzz::HandOverWithoutPreemption();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &world = TheWorld();
    bool namedMode;
    {
        CKsAudFilter2 &filter = *world.filter;
        InputPins pins(filter);
        InputEvent event;
        Reader input(data, size);
        namedMode = RunScript(input, filter, pins, event);
    }
    if (namedMode) {
        USHORT pcm = 0;
        asio_kernel_tests::Send(world.filter->Handle(), KSPROPERTY_ASIO_DSD_NATIVE_MODE,
                                KSPROPERTY_TYPE_SET, {}, &pcm, sizeof pcm);
    }
    if (!world.machine.Checks().Reports().empty())
        Fail("verifier report");
    // Nothing happens between inputs: what the last one left is what this one found.
    std::map<ULONG, size_t> left = BlocksByTag(world.machine.KernelPool());
    for (const auto &[tag, blocks] : left) {
        if (blocks > std::max(world.left[tag], world.warm[tag]))
            Fail("the input left pool blocks behind");
    }
    world.left = std::move(left);
    return 0;
}
