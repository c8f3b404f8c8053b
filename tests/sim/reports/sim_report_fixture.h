// quen-sim's reports on the emulated stack: a machine with a USB host controller, a device model
// plugged into it, and the two reports captured as text. The machine's verifier must stay quiet
// (KernelTest fails the test otherwise), so every run also checks that the reports give back what
// the driver and the stack reader took.
#pragma once

#include "kernel/kernel_fixture.h"

#include "descriptor_report.h"
#include "device_start_report.h"
#include "stack_descriptor_reader.h"
#include "usb/usb_host_controller.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace sim_tests {

constexpr int kPort = 1;

// A FILE* whose text the test reads back.
class CapturedOutput {
public:
    CapturedOutput() : file_(open_memstream(&buffer_, &size_)) {}
    ~CapturedOutput()
    {
        if (file_ != nullptr)
            std::fclose(file_);
        std::free(buffer_);
    }
    CapturedOutput(const CapturedOutput &) = delete;
    CapturedOutput &operator=(const CapturedOutput &) = delete;

    std::FILE *File() { return file_; }
    std::string Text()
    {
        std::fflush(file_);
        return std::string(buffer_, size_);
    }

private:
    char *buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE *file_;
};

class SimReportTest : public KernelTest {
protected:
    SimReportTest() { controller_ = std::make_unique<host::UsbHostController>(M()); }

    void TearDown() override
    {
        controller_.reset();
        KernelTest::TearDown();
    }

    void Plug(std::shared_ptr<host::UsbDeviceModel> model)
    {
        highSpeed_ = model->Speed() == host::UsbSpeed::High;
        pdo_ = controller_->Plug(kPort, std::move(model));
        ASSERT_NE(nullptr, pdo_);
    }

    std::string Descriptors()
    {
        CapturedOutput out;
        sim::StackDescriptorReader reader(pdo_);
        EXPECT_TRUE(sim::PrintDescriptorReport(reader, highSpeed_, out.File()));
        return out.Text();
    }

    std::string Start(NTSTATUS *status = nullptr)
    {
        CapturedOutput out;
        const NTSTATUS result = sim::PrintDeviceStartReport(M(), pdo_, out.File());
        if (status != nullptr)
            *status = result;
        return out.Text();
    }

    std::unique_ptr<host::UsbHostController> controller_;
    PDEVICE_OBJECT pdo_ = nullptr;
    bool highSpeed_ = false;
};

// Whether `text` holds `line` (a whole line or part of one); prints the text when not.
inline ::testing::AssertionResult Shows(const std::string &text, const std::string &line)
{
    if (text.find(line) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << line << "\" in:\n" << text;
}

} // namespace sim_tests
