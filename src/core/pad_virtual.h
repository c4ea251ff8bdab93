#pragma once
// The virtual wired Xbox 360 controller on the ViGEmBus driver:
// the requests and their buffers, the conversion of PadState into the
// driver's 12-byte report, the plugged-in target, and the start-up probe.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/input_pad.h"
#include "platform/pad_bus.h"

namespace korvex {

// I/O control codes of the bus.
inline constexpr std::uint32_t kIoctlPlugInTarget = 0x2AA004;
inline constexpr std::uint32_t kIoctlUnplugTarget = 0x2AA008;
inline constexpr std::uint32_t kIoctlCheckVersion = 0x2AA00C;
inline constexpr std::uint32_t kIoctlWaitDeviceReady = 0x2AA010;
inline constexpr std::uint32_t kIoctlSubmitXusbReport = 0x2AA808;

inline constexpr std::uint32_t kBusInterfaceVersion = 1;
inline constexpr std::uint32_t kTargetTypeXbox360Wired = 0;
inline constexpr std::uint16_t kPadVendorId = 0x045E;
inline constexpr std::uint16_t kPadProductId = 0x028E;
inline constexpr std::uint32_t kLastPadSerial = 65534;

// The driver holds the wait-until-ready request until the target is ready,
// without a time-out of its own; start-up gives up after this long. The very
// first plug-in may wait for Windows to install the controller's driver,
// which can take well over 5 s.
inline constexpr std::chrono::milliseconds kPadReadyWaitBound{20000};

// The driver's XUSB_REPORT.
struct XusbReport {
    std::uint16_t buttons = 0;
    std::uint8_t left_trigger = 0;
    std::uint8_t right_trigger = 0;
    std::int16_t lx = 0, ly = 0, rx = 0, ry = 0;
    friend bool operator==(const XusbReport&, const XusbReport&) = default;
};

// Buttons by the report's bit table, d-pad bits ORed in (up 1, down 2, left 4,
// right 8; values outside 1..8 add none), sticks and triggers copied.
XusbReport xusb_report(const PadState& state);
std::array<std::uint8_t, 12> encode_xusb_report(const XusbReport& report);
// The report inside a submit request, for a bus that carries it out itself
// (the Linux uinput bus); nothing when the buffer is not such a request.
std::optional<XusbReport> decode_submit_report_request(std::span<const std::uint8_t> request);

// Input buffers of the requests (little-endian, size first).
std::array<std::uint8_t, 8> check_version_request();
std::array<std::uint8_t, 16> plug_in_request(std::uint32_t serial);
std::array<std::uint8_t, 8> unplug_request(std::uint32_t serial);
std::array<std::uint8_t, 8> wait_ready_request(std::uint32_t serial);
std::array<std::uint8_t, 20> submit_report_request(std::uint32_t serial, const XusbReport& report);

// One plugged-in (or not yet plugged-in) target on an opened bus device. All
// requests go through its own mutex, one request at a time.
class VirtualPad {
public:
    explicit VirtualPad(std::unique_ptr<PadBusDevice> device);
    // Unplugs the target if it is plugged in, then closes the device.
    ~VirtualPad();
    VirtualPad(const VirtualPad&) = delete;
    VirtualPad& operator=(const VirtualPad&) = delete;

    // Tries serials 1 .. 65534 until the bus accepts one. Refused when already
    // plugged in.
    Status plug_in();
    enum class Readiness { Ready, TimedOut, Failed };
    // Ready when the request succeeds or fails with ERROR_INVALID_PARAMETER (a
    // bus too old to know it); TimedOut after `bound`; Failed on any other
    // error or when not plugged in.
    Readiness wait_until_ready(std::chrono::milliseconds bound);

    // Converts and submits; nothing while not plugged in. A failed report is
    // lost: the next change sends a complete state again.
    void submit_pad_state(const PadState& state);
    void submit_neutral() { submit_pad_state(PadState{}); }

    std::uint32_t serial() const;
    std::uint16_t vendor_id() const { return kPadVendorId; }
    std::uint16_t product_id() const { return kPadProductId; }

private:
    mutable std::mutex mutex_;
    std::unique_ptr<PadBusDevice> device_;
    std::uint32_t serial_ = 0;  // 0: not plugged in
};

// The version check a bus device must pass.
bool check_bus_version(PadBusDevice& device);

// How the start-up probe ended.
enum class PadProbeResult {
    Ready,     // a target plugged in and ready
    NoBus,     // no bus device passed the version check: the driver is missing
    NotReady,  // plugged in, but not ready within the bound
    Failed,    // the bus refused every serial, or the readiness request failed
};

struct PadProbe {
    std::shared_ptr<VirtualPad> pad;  // set only when Ready
    PadProbeResult result = PadProbeResult::NoBus;
};

// The start-up probe, steps 1 to 7: the first bus device that passes the
// version check, a target plugged in and ready. No pad on any failure (the
// target is then unplugged and the device closed). Step 8, installing it, is
// install_virtual_pad (core/pad_engine.h).
PadProbe probe_virtual_pad(PadBus& bus, std::chrono::milliseconds ready_bound = kPadReadyWaitBound);
std::shared_ptr<VirtualPad> open_virtual_pad(PadBus& bus, std::chrono::milliseconds ready_bound = kPadReadyWaitBound);

// The notice shown on the tray icon after the probe, if any: the driver
// missing, or a controller that did not become ready (then the driver is
// there, and saying it is missing would send the user the wrong way).
std::optional<std::string_view> pad_probe_notice(PadProbeResult result);

}  // namespace korvex
