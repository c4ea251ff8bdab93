#include "platform/posix/uinput_pad_bus.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/pad_virtual.h"

namespace korvex::posix {
namespace {

// Report button bit -> evdev key, in the layout of the kernel's own driver
// for wired Xbox 360 controllers.
constexpr struct {
    std::uint16_t bit;
    std::uint16_t code;
} kButtons[] = {
    {0x1000, BTN_A},      {0x2000, BTN_B},     {0x4000, BTN_X},      {0x8000, BTN_Y},
    {0x0100, BTN_TL},     {0x0200, BTN_TR},    {0x0020, BTN_SELECT}, {0x0010, BTN_START},
    {0x0400, BTN_MODE},   {0x0040, BTN_THUMBL}, {0x0080, BTN_THUMBR},
};

struct Axis {
    std::uint16_t code;
    std::int32_t min, max, fuzz, flat;
};
constexpr Axis kAxes[] = {
    {ABS_X, -32768, 32767, 16, 128}, {ABS_Y, -32768, 32767, 16, 128}, {ABS_RX, -32768, 32767, 16, 128},
    {ABS_RY, -32768, 32767, 16, 128}, {ABS_Z, 0, 255, 0, 0},          {ABS_RZ, 0, 255, 0, 0},
    {ABS_HAT0X, -1, 1, 0, 0},         {ABS_HAT0Y, -1, 1, 0, 0},
};

// Every axis value of a report, in kAxes order. Y grows downwards here,
// upwards in the report: inverted within the range, as the kernel driver does.
std::array<std::int32_t, 8> axis_values(const XusbReport& r) {
    auto down = [](std::int16_t v) { return -static_cast<std::int32_t>(v) - 1; };
    std::int32_t hat_x = ((r.buttons & 0x8) ? 1 : 0) - ((r.buttons & 0x4) ? 1 : 0);
    std::int32_t hat_y = ((r.buttons & 0x2) ? 1 : 0) - ((r.buttons & 0x1) ? 1 : 0);
    return {r.lx, down(r.ly), r.rx, down(r.ry), r.left_trigger, r.right_trigger, hat_x, hat_y};
}

input_event make_event(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

class OsUinput final : public UinputSystem {
public:
    int open_device() override {
        int fd = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int control(int fd, unsigned long request, std::uintptr_t arg) override {
        return ::ioctl(fd, request, arg) == 0 ? 0 : -errno;
    }
    bool write_events(int fd, std::span<const input_event> events) override {
        auto bytes = static_cast<ssize_t>(events.size_bytes());
        return ::write(fd, events.data(), events.size_bytes()) == bytes;
    }
    void close_device(int fd) override { ::close(fd); }
};

// One opened /dev/uinput, answering the virtual controller's requests.
class UinputPadDevice final : public PadBusDevice {
public:
    UinputPadDevice(UinputSystem& system, int fd, std::shared_ptr<std::string> reason)
        : system_(system), fd_(fd), reason_(std::move(reason)) {}
    ~UinputPadDevice() override {
        if (created_) system_.control(fd_, UI_DEV_DESTROY, 0);
        system_.close_device(fd_);
    }

    std::uint32_t io_control(std::uint32_t code, std::span<const std::uint8_t> input,
                             std::optional<std::chrono::milliseconds>) override {
        switch (code) {
            case kIoctlCheckVersion: return kPadErrorSuccess;
            case kIoctlPlugInTarget:
                // The probe tries serial after serial; a device that could
                // not be created once is not tried again.
                if (created_ || create_error_) return create_error_ ? create_error_ : kPadErrorInvalidParameter;
                create_error_ = create();
                if (create_error_)
                    *reason_ = "the uinput device could not be created (" +
                               std::string(std::strerror(static_cast<int>(create_error_))) + ")";
                return create_error_;
            case kIoctlWaitDeviceReady: return created_ ? kPadErrorSuccess : kPadErrorInvalidParameter;
            case kIoctlUnplugTarget:
                if (created_) system_.control(fd_, UI_DEV_DESTROY, 0);
                created_ = false;
                last_ = XusbReport{};
                return kPadErrorSuccess;
            case kIoctlSubmitXusbReport: {
                auto report = decode_submit_report_request(input);
                if (!created_ || !report) return kPadErrorInvalidParameter;
                return submit(*report);
            }
            default: return kPadErrorInvalidParameter;
        }
    }

private:
    static std::uint32_t failure(int rc) { return rc == 0 ? kPadErrorSuccess : static_cast<std::uint32_t>(-rc); }
    // (errno values stand in for the bus's error numbers; the probe only tells success from failure)

    std::uint32_t create() {
        auto set = [&](unsigned long request, std::uintptr_t arg) { return system_.control(fd_, request, arg); };
        if (int rc = set(UI_SET_EVBIT, EV_KEY)) return failure(rc);
        if (int rc = set(UI_SET_EVBIT, EV_ABS)) return failure(rc);
        for (const auto& b : kButtons)
            if (int rc = set(UI_SET_KEYBIT, b.code)) return failure(rc);
        for (const auto& a : kAxes) {
            if (int rc = set(UI_SET_ABSBIT, a.code)) return failure(rc);
            uinput_abs_setup abs{};
            abs.code = a.code;
            abs.absinfo.minimum = a.min;
            abs.absinfo.maximum = a.max;
            abs.absinfo.fuzz = a.fuzz;
            abs.absinfo.flat = a.flat;
            if (int rc = set(UI_ABS_SETUP, reinterpret_cast<std::uintptr_t>(&abs))) return failure(rc);
        }
        uinput_setup setup{};
        setup.id.bustype = BUS_USB;
        setup.id.vendor = kPadVendorId;
        setup.id.product = kPadProductId;
        setup.id.version = 0x0110;
        std::strncpy(setup.name, kUinputPadName, UINPUT_MAX_NAME_SIZE - 1);
        if (int rc = set(UI_DEV_SETUP, reinterpret_cast<std::uintptr_t>(&setup))) return failure(rc);
        if (int rc = set(UI_DEV_CREATE, 0)) return failure(rc);
        created_ = true;
        last_ = XusbReport{};
        return kPadErrorSuccess;
    }

    // Only what changed since the last report, then one SYN_REPORT.
    std::uint32_t submit(const XusbReport& report) {
        std::vector<input_event> events;
        for (const auto& b : kButtons) {
            bool now = (report.buttons & b.bit) != 0, before = (last_.buttons & b.bit) != 0;
            if (now != before) events.push_back(make_event(EV_KEY, b.code, now ? 1 : 0));
        }
        auto now = axis_values(report), before = axis_values(last_);
        for (std::size_t i = 0; i < now.size(); ++i)
            if (now[i] != before[i]) events.push_back(make_event(EV_ABS, kAxes[i].code, now[i]));
        if (events.empty()) return kPadErrorSuccess;
        events.push_back(make_event(EV_SYN, SYN_REPORT, 0));
        if (!system_.write_events(fd_, events)) return kPadErrorInvalidParameter;
        last_ = report;
        return kPadErrorSuccess;
    }

    UinputSystem& system_;
    int fd_;
    std::shared_ptr<std::string> reason_;
    bool created_ = false;
    std::uint32_t create_error_ = 0;
    XusbReport last_;
};

}  // namespace

UinputSystem& os_uinput_system() {
    static OsUinput system;
    return system;
}

std::unique_ptr<PadBusDevice> UinputPadBus::find_device(const std::function<bool(PadBusDevice&)>& accept) {
    int fd = system_.open_device();
    if (fd < 0) {
        *reason_ = "/dev/uinput cannot be opened for writing (" + std::string(std::strerror(-fd)) + ")";
        return nullptr;
    }
    reason_->clear();
    auto device = std::make_unique<UinputPadDevice>(system_, fd, reason_);
    if (!accept(*device)) {
        *reason_ = "the uinput device refused the controller";
        return nullptr;
    }
    return device;
}

std::unique_ptr<UinputPadBus> make_uinput_pad_bus(UinputSystem& system) { return std::make_unique<UinputPadBus>(system); }

}  // namespace korvex::posix
