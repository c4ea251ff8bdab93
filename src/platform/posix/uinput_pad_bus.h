#pragma once
// The virtual gamepad on Linux: a uinput device shaped like a wired Xbox 360
// controller (the buttons, triggers and sticks of the Windows virtual
// controller, with the same vendor and product ids). It stands behind the
// PadBus seam as a bus that carries out the virtual controller's requests
// itself: plug-in creates the device, a report becomes input events,
// unplug destroys it.
#include <linux/uinput.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/pad_bus.h"

namespace korvex::posix {

// The system calls on /dev/uinput, so tests can record them.
class UinputSystem {
public:
    virtual ~UinputSystem() = default;
    // A file descriptor, or -errno.
    virtual int open_device() = 0;
    // ioctl(fd, request, arg): 0, or -errno. arg is an integer or a pointer
    // to the request's structure.
    virtual int control(int fd, unsigned long request, std::uintptr_t arg) = 0;
    // Writes the events whole; false on failure.
    virtual bool write_events(int fd, std::span<const input_event> events) = 0;
    virtual void close_device(int fd) = 0;
};

UinputSystem& os_uinput_system();

inline constexpr const char* kUinputPadName = "Korvex Virtual Xbox 360 Controller";

class UinputPadBus final : public PadBus {
public:
    explicit UinputPadBus(UinputSystem& system) : system_(system) {}
    std::unique_ptr<PadBusDevice> find_device(const std::function<bool(PadBusDevice&)>& accept) override;
    // Why there is no virtual gamepad after a probe that found none (the
    // device could not be opened or created); empty otherwise.
    const std::string& unavailable_reason() const { return *reason_; }

private:
    UinputSystem& system_;
    std::shared_ptr<std::string> reason_ = std::make_shared<std::string>();
};

std::unique_ptr<UinputPadBus> make_uinput_pad_bus(UinputSystem& system = os_uinput_system());

}  // namespace korvex::posix
