#pragma once
// The PadBus seam: the ViGEmBus driver's I/O controls. The Windows
// implementation finds the bus with the device-setup functions and sends every
// request as an overlapped DeviceIoControl; elsewhere there is no bus. The
// requests' contents and the probe's rules are portable (core/pad_virtual.h).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace korvex {

// Win32 error numbers the probe distinguishes.
inline constexpr std::uint32_t kPadErrorSuccess = 0;
inline constexpr std::uint32_t kPadErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kPadErrorTimeout = 1460;         // ERROR_TIMEOUT

// One opened bus device. Destroying it closes the device.
class PadBusDevice {
public:
    virtual ~PadBusDevice() = default;
    // One buffered I/O control with an input buffer only, waited for: 0 when
    // it succeeded, else the Win32 error number. With `bound`, a request still
    // pending after that long is cancelled and fails with kPadErrorTimeout.
    virtual std::uint32_t io_control(std::uint32_t code, std::span<const std::uint8_t> input,
                                     std::optional<std::chrono::milliseconds> bound = std::nullopt) = 0;
};

class PadBus {
public:
    virtual ~PadBus() = default;
    // Opens the present bus devices one after another, in enumeration order,
    // and offers each to `accept` (the version check); the first one accepted
    // is returned and the enumeration ends. Devices that cannot be opened are
    // skipped, refused ones closed. Nothing when none is accepted.
    virtual std::unique_ptr<PadBusDevice> find_device(const std::function<bool(PadBusDevice&)>& accept) = 0;
};

// The bus of this OS (in korvex_platform): the ViGEmBus client on Windows, a
// bus without devices elsewhere.
std::unique_ptr<PadBus> make_os_pad_bus();

}  // namespace korvex
