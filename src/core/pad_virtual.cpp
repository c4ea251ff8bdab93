#include "core/pad_virtual.h"

#include <algorithm>
#include <iterator>

namespace korvex {
namespace {

template <std::size_t N>
void store_u16(std::array<std::uint8_t, N>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

template <std::size_t N>
void store_u32(std::array<std::uint8_t, N>& out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Request with a size and a serial number.
std::array<std::uint8_t, 8> serial_request(std::uint32_t serial) {
    std::array<std::uint8_t, 8> out{};
    store_u32(out, 0, 8);
    store_u32(out, 4, serial);
    return out;
}

// Client button bit -> report button bit.
constexpr struct {
    std::uint16_t client;
    std::uint16_t report;
} kButtons[] = {
    {0x001, 0x1000},  // A
    {0x002, 0x2000},  // B
    {0x004, 0x4000},  // X
    {0x008, 0x8000},  // Y
    {0x010, 0x0100},  // LB
    {0x020, 0x0200},  // RB
    {0x040, 0x0040},  // L3
    {0x080, 0x0080},  // R3
    {0x100, 0x0010},  // Start
    {0x200, 0x0020},  // Back
    {0x400, 0x0400},  // Guide
};

// D-pad 0..8 (clockwise from 1 = up) -> report bits up 1, down 2, left 4, right 8.
constexpr std::uint16_t kDpadBits[9] = {0x0000, 0x0001, 0x0009, 0x0008, 0x000A, 0x0002, 0x0006, 0x0004, 0x0005};

}  // namespace

XusbReport xusb_report(const PadState& state) {
    XusbReport r;
    for (const auto& b : kButtons) {
        if ((state.buttons & b.client) != 0) r.buttons |= b.report;
    }
    if (state.dpad < std::size(kDpadBits)) r.buttons |= kDpadBits[state.dpad];
    r.left_trigger = state.left_trigger;
    r.right_trigger = state.right_trigger;
    r.lx = state.lx;
    r.ly = state.ly;
    r.rx = state.rx;
    r.ry = state.ry;
    return r;
}

std::array<std::uint8_t, 12> encode_xusb_report(const XusbReport& report) {
    std::array<std::uint8_t, 12> out{};
    store_u16(out, 0, report.buttons);
    out[2] = report.left_trigger;
    out[3] = report.right_trigger;
    store_u16(out, 4, static_cast<std::uint16_t>(report.lx));
    store_u16(out, 6, static_cast<std::uint16_t>(report.ly));
    store_u16(out, 8, static_cast<std::uint16_t>(report.rx));
    store_u16(out, 10, static_cast<std::uint16_t>(report.ry));
    return out;
}

std::optional<XusbReport> decode_submit_report_request(std::span<const std::uint8_t> request) {
    if (request.size() != 20) return std::nullopt;
    auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(request[at] | (request[at + 1] << 8));
    };
    if ((u16(0) | (u16(2) << 16)) != 20) return std::nullopt;  // the size field
    XusbReport r;
    r.buttons = u16(8);
    r.left_trigger = request[10];
    r.right_trigger = request[11];
    r.lx = static_cast<std::int16_t>(u16(12));
    r.ly = static_cast<std::int16_t>(u16(14));
    r.rx = static_cast<std::int16_t>(u16(16));
    r.ry = static_cast<std::int16_t>(u16(18));
    return r;
}

std::array<std::uint8_t, 8> check_version_request() {
    std::array<std::uint8_t, 8> out{};
    store_u32(out, 0, 8);
    store_u32(out, 4, kBusInterfaceVersion);
    return out;
}

std::array<std::uint8_t, 16> plug_in_request(std::uint32_t serial) {
    std::array<std::uint8_t, 16> out{};
    store_u32(out, 0, 16);
    store_u32(out, 4, serial);
    store_u32(out, 8, kTargetTypeXbox360Wired);
    store_u16(out, 12, kPadVendorId);
    store_u16(out, 14, kPadProductId);
    return out;
}

std::array<std::uint8_t, 8> unplug_request(std::uint32_t serial) { return serial_request(serial); }

std::array<std::uint8_t, 8> wait_ready_request(std::uint32_t serial) { return serial_request(serial); }

std::array<std::uint8_t, 20> submit_report_request(std::uint32_t serial, const XusbReport& report) {
    std::array<std::uint8_t, 20> out{};
    store_u32(out, 0, 20);
    store_u32(out, 4, serial);
    auto body = encode_xusb_report(report);
    std::copy(body.begin(), body.end(), out.begin() + 8);
    return out;
}

VirtualPad::VirtualPad(std::unique_ptr<PadBusDevice> device) : device_(std::move(device)) {}

VirtualPad::~VirtualPad() {
    std::lock_guard lock(mutex_);
    if (serial_ != 0 && device_) (void)device_->io_control(kIoctlUnplugTarget, unplug_request(serial_));
    serial_ = 0;
    device_.reset();
}

Status VirtualPad::plug_in() {
    std::lock_guard lock(mutex_);
    if (serial_ != 0) return fail("the virtual controller is already plugged in");
    if (!device_) return fail("no bus device");
    for (std::uint32_t serial = 1; serial <= kLastPadSerial; ++serial) {
        if (device_->io_control(kIoctlPlugInTarget, plug_in_request(serial)) == kPadErrorSuccess) {
            serial_ = serial;
            return {};
        }
    }
    return fail("the bus accepted no serial number");
}

VirtualPad::Readiness VirtualPad::wait_until_ready(std::chrono::milliseconds bound) {
    std::lock_guard lock(mutex_);
    if (serial_ == 0 || !device_) return Readiness::Failed;
    std::uint32_t err = device_->io_control(kIoctlWaitDeviceReady, wait_ready_request(serial_), bound);
    if (err == kPadErrorSuccess || err == kPadErrorInvalidParameter) return Readiness::Ready;
    return err == kPadErrorTimeout ? Readiness::TimedOut : Readiness::Failed;
}

void VirtualPad::submit_pad_state(const PadState& state) {
    std::lock_guard lock(mutex_);
    if (serial_ == 0 || !device_) return;
    (void)device_->io_control(kIoctlSubmitXusbReport, submit_report_request(serial_, xusb_report(state)));
}

std::uint32_t VirtualPad::serial() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

bool check_bus_version(PadBusDevice& device) {
    return device.io_control(kIoctlCheckVersion, check_version_request()) == kPadErrorSuccess;
}

PadProbe probe_virtual_pad(PadBus& bus, std::chrono::milliseconds ready_bound) {
    std::unique_ptr<PadBusDevice> device = bus.find_device([](PadBusDevice& d) { return check_bus_version(d); });
    if (!device) return {nullptr, PadProbeResult::NoBus};
    auto pad = std::make_shared<VirtualPad>(std::move(device));
    // On failure, dropping the pad unplugs what was plugged in and closes the device.
    if (!pad->plug_in()) return {nullptr, PadProbeResult::Failed};
    switch (pad->wait_until_ready(ready_bound)) {
        case VirtualPad::Readiness::Ready: return {std::move(pad), PadProbeResult::Ready};
        case VirtualPad::Readiness::TimedOut: return {nullptr, PadProbeResult::NotReady};
        case VirtualPad::Readiness::Failed: break;
    }
    return {nullptr, PadProbeResult::Failed};
}

std::shared_ptr<VirtualPad> open_virtual_pad(PadBus& bus, std::chrono::milliseconds ready_bound) {
    return probe_virtual_pad(bus, ready_bound).pad;
}

std::optional<std::string_view> pad_probe_notice(PadProbeResult result) {
    switch (result) {
        case PadProbeResult::Ready: return std::nullopt;
        case PadProbeResult::NoBus: return "Install ViGEmBus for a real virtual controller";
        case PadProbeResult::NotReady:
            return "The virtual controller did not become ready; the keyboard / mouse mapping is used until "
                   "Korvex is restarted";
        case PadProbeResult::Failed:
            return "The virtual controller could not be plugged in; the keyboard / mouse mapping is used until "
                   "Korvex is restarted";
    }
    return std::nullopt;
}

}  // namespace korvex
