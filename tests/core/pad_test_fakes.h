#pragma once
// A scripted ViGEmBus stand-in for the PadBus seam: each fake device answers
// the requests by its script and writes every request into a log shared with
// the test, which outlives the devices.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/pad_bus.h"
#include "core/pad_virtual.h"

namespace korvex::test {

struct PadRequest {
    int device = 0;  // index of the device in the bus's script
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::optional<std::chrono::milliseconds> bound;

    std::uint32_t u32_at(std::size_t at) const {
        return static_cast<std::uint32_t>(input.at(at)) | static_cast<std::uint32_t>(input.at(at + 1)) << 8 |
               static_cast<std::uint32_t>(input.at(at + 2)) << 16 | static_cast<std::uint32_t>(input.at(at + 3)) << 24;
    }
    std::uint16_t u16_at(std::size_t at) const {
        return static_cast<std::uint16_t>(input.at(at) | input.at(at + 1) << 8);
    }
    std::uint32_t serial() const { return u32_at(4); }
    // The XUSB report of a submission.
    XusbReport report() const {
        XusbReport r;
        r.buttons = u16_at(8);
        r.left_trigger = input.at(10);
        r.right_trigger = input.at(11);
        r.lx = static_cast<std::int16_t>(u16_at(12));
        r.ly = static_cast<std::int16_t>(u16_at(14));
        r.rx = static_cast<std::int16_t>(u16_at(16));
        r.ry = static_cast<std::int16_t>(u16_at(18));
        return r;
    }
};

struct PadBusLog {
    std::vector<PadRequest> requests;
    std::vector<int> opened, closed;  // device indexes

    std::vector<PadRequest> of_code(std::uint32_t code) const {
        std::vector<PadRequest> out;
        for (const auto& r : requests) {
            if (r.code == code) out.push_back(r);
        }
        return out;
    }
    std::vector<XusbReport> reports() const {
        std::vector<XusbReport> out;
        for (const auto& r : of_code(kIoctlSubmitXusbReport)) out.push_back(r.report());
        return out;
    }
};

// How one bus device answers. Errors are Win32 numbers, 0 for success.
struct PadDeviceScript {
    bool opens = true;
    std::uint32_t version_error = 0;
    // Error for a plug-in under this serial.
    std::function<std::uint32_t(std::uint32_t serial)> plug_in = [](std::uint32_t) { return 0u; };
    std::uint32_t wait_error = 0;
    // The wait-until-ready request never completes: it fails only through
    // the caller's bound, as the Windows device reports it.
    bool wait_never_completes = false;
};

class FakePadDevice final : public PadBusDevice {
public:
    FakePadDevice(int index, PadDeviceScript script, std::shared_ptr<PadBusLog> log)
        : index_(index), script_(std::move(script)), log_(std::move(log)) {
        log_->opened.push_back(index_);
    }
    ~FakePadDevice() override { log_->closed.push_back(index_); }

    std::uint32_t io_control(std::uint32_t code, std::span<const std::uint8_t> input,
                             std::optional<std::chrono::milliseconds> bound) override {
        log_->requests.push_back({index_, code, {input.begin(), input.end()}, bound});
        switch (code) {
            case kIoctlCheckVersion: return script_.version_error;
            case kIoctlPlugInTarget: return script_.plug_in(log_->requests.back().serial());
            case kIoctlWaitDeviceReady:
                if (script_.wait_never_completes) return bound ? kPadErrorTimeout : kHungForEver;
                return script_.wait_error;
            default: return 0;
        }
    }

    // What an unbounded wait on a request that never completes stands for.
    static constexpr std::uint32_t kHungForEver = 0xDEAD;

private:
    int index_;
    PadDeviceScript script_;
    std::shared_ptr<PadBusLog> log_;
};

class FakePadBus final : public PadBus {
public:
    std::vector<PadDeviceScript> devices;
    std::shared_ptr<PadBusLog> log = std::make_shared<PadBusLog>();

    std::unique_ptr<PadBusDevice> find_device(const std::function<bool(PadBusDevice&)>& accept) override {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (!devices[i].opens) continue;
            auto device = std::make_unique<FakePadDevice>(static_cast<int>(i), devices[i], log);
            if (accept(*device)) return device;
        }
        return nullptr;
    }
};

}  // namespace korvex::test
