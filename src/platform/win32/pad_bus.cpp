// The ViGEmBus bus device on Windows. Every request is one overlapped
// DeviceIoControl on the pad's auto-reset event, followed by
// GetOverlappedResult with wait set, unless the request was refused at once.
//
// One request gets a bound: the driver holds wait-until-ready until the
// target is ready, with no time-out of its own, so a stuck driver would
// otherwise hang start-up for ever. After the bound the request is
// cancelled (CancelIoEx) and fails. A driver that ignores even the
// cancellation keeps the OVERLAPPED: the system may still write it when the
// request ends, so it is left allocated and later requests use a fresh one
// with a fresh event.
#include "platform/win32/pad_bus.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "platform/win32/win32_support.h"

namespace korvex::win32 {
namespace {

// An auto-reset event, not signalled; invalid when it cannot be created.
UniqueHandle new_event() { return UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr)); }

class Win32PadDevice final : public PadBusDevice {
public:
    Win32PadDevice(const PadBusApi& api, HANDLE device, UniqueHandle event)
        : api_(api), device_(device), event_(std::move(event)), overlapped_(std::make_unique<OVERLAPPED>()) {}

    ~Win32PadDevice() override {
        if (device_ != INVALID_HANDLE_VALUE) api_.close_handle(device_);
    }

    Win32PadDevice(const Win32PadDevice&) = delete;
    Win32PadDevice& operator=(const Win32PadDevice&) = delete;

    // Closes the current event (the version check's temporary one).
    void close_event() { event_.close(); }

    // The pad's own event for every later request.
    bool create_event() {
        event_ = new_event();
        return event_.valid();
    }

    std::uint32_t io_control(std::uint32_t code, std::span<const std::uint8_t> input,
                             std::optional<std::chrono::milliseconds> bound) override {
        if (!event_.valid()) return ERROR_INVALID_HANDLE;
        std::array<std::uint8_t, 64> buffer{};
        if (input.size() > buffer.size()) return ERROR_INVALID_PARAMETER;
        std::copy(input.begin(), input.end(), buffer.begin());

        OVERLAPPED& ov = *overlapped_;
        ov = OVERLAPPED{};
        ov.hEvent = event_.get();
        DWORD transferred = 0;
        if (!api_.device_io_control(device_, code, buffer.data(), static_cast<DWORD>(input.size()), nullptr, 0,
                                    &transferred, &ov)) {
            // Refused at once (say the device was disabled or removed): no
            // request is pending and nothing will signal the event, so that
            // error is the outcome. Waiting would hang the caller, which
            // holds the core lock.
            DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING) return err == ERROR_SUCCESS ? ERROR_GEN_FAILURE : err;
        }
        if (bound) {
            const auto ms =
                static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(bound->count(), 0, INFINITE - 1));
            if (WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) return cancel_pending(ms);
        }
        if (api_.get_overlapped_result(device_, &ov, &transferred, TRUE)) return ERROR_SUCCESS;
        DWORD err = GetLastError();
        return err == ERROR_SUCCESS ? ERROR_GEN_FAILURE : err;
    }

private:
    std::uint32_t cancel_pending(DWORD ms) {
        OVERLAPPED& ov = *overlapped_;
        (void)api_.cancel_io_ex(device_, &ov);
        if (WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0) {
            DWORD transferred = 0;
            (void)api_.get_overlapped_result(device_, &ov, &transferred, TRUE);
        } else {
            // Left to the system on purpose (see the top of the file). The
            // request holds its own reference to the event object, so the
            // handle can go.
            (void)overlapped_.release();
            overlapped_ = std::make_unique<OVERLAPPED>();
            event_ = new_event();
        }
        return kPadErrorTimeout;
    }

    PadBusApi api_;
    HANDLE device_;
    UniqueHandle event_;
    std::unique_ptr<OVERLAPPED> overlapped_;
};

class Win32PadBus final : public PadBus {
public:
    explicit Win32PadBus(PadBusApi api) : api_(api) {}

    std::unique_ptr<PadBusDevice> find_device(const std::function<bool(PadBusDevice&)>& accept) override {
        HDEVINFO set =
            api_.get_class_devs(&kViGEmBusInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return nullptr;
        struct SetGuard {
            const PadBusApi& api;
            HDEVINFO set;
            ~SetGuard() {
                if (set != INVALID_HANDLE_VALUE) api.destroy_device_info_list(set);
            }
            void destroy() {
                api.destroy_device_info_list(set);
                set = INVALID_HANDLE_VALUE;
            }
        } guard{api_, set};

        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!api_.enum_device_interfaces(set, nullptr, &kViGEmBusInterfaceGuid, index, &data)) break;

            // DWORD elements keep the structure aligned.
            std::array<DWORD, kInterfaceDetailBufferSize / sizeof(DWORD)> buffer{};
            auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
            static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "the 64-bit layout");
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!api_.get_device_interface_detail(set, &data, detail, kInterfaceDetailBufferSize, nullptr, nullptr))
                continue;

            HANDLE device =
                api_.create_file(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, kPadDeviceFlags, nullptr);
            if (device == INVALID_HANDLE_VALUE) continue;

            // The version check runs on a temporary event, closed after it.
            auto candidate = std::make_unique<Win32PadDevice>(api_, device, new_event());
            const bool accepted = accept(*candidate);
            candidate->close_event();
            if (!accepted) continue;  // closes the device

            guard.destroy();
            if (!candidate->create_event()) return nullptr;
            return candidate;
        }
        return nullptr;
    }

private:
    PadBusApi api_;
};

}  // namespace

PadBusApi os_pad_bus_api() {
    PadBusApi api;
    api.get_class_devs = &SetupDiGetClassDevsW;
    api.enum_device_interfaces = &SetupDiEnumDeviceInterfaces;
    api.get_device_interface_detail = &SetupDiGetDeviceInterfaceDetailW;
    api.destroy_device_info_list = &SetupDiDestroyDeviceInfoList;
    api.create_file = &CreateFileW;
    api.device_io_control = &DeviceIoControl;
    api.get_overlapped_result = &GetOverlappedResult;
    api.cancel_io_ex = &CancelIoEx;
    api.close_handle = &CloseHandle;
    return api;
}

std::unique_ptr<PadBus> make_win32_pad_bus(PadBusApi api) { return std::make_unique<Win32PadBus>(api); }

}  // namespace korvex::win32

namespace korvex {

std::unique_ptr<PadBus> make_os_pad_bus() { return win32::make_win32_pad_bus(win32::os_pad_bus_api()); }

}  // namespace korvex
