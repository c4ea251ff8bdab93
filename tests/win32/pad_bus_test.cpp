// The Windows ViGEmBus client over a fake table of setupapi and kernel32
// functions standing in for the driver (requests complete by signalling the
// real event of their OVERLAPPED, or stay pending), and over the real
// functions, which under Wine find no bus.
#include "platform/win32/pad_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/pad_virtual.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;

constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusFailure = 0xC0000001;
HDEVINFO const kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));

struct Interface {
    bool detail_ok = true;
    std::wstring path;
    bool opens = true;
};

// How one opened device answers.
struct DeviceScript {
    DWORD version_error = 0;
    std::function<DWORD(std::uint32_t serial)> plug_in = [](std::uint32_t) { return DWORD{0}; };
    bool wait_pends = false;  // wait-until-ready never completes by itself
    DWORD wait_error = 0;
    bool cancel_works = true;  // CancelIoEx completes a pending request with 995
    // Requests of these codes fail at once with this error (the device was
    // disabled or removed): nothing is pending and the event is never signalled.
    std::map<DWORD, DWORD> refused_at_once;
};

struct Request {
    HANDLE device;
    DWORD code;
    std::vector<std::uint8_t> input;
    OVERLAPPED* overlapped;
    HANDLE event;
    std::uint32_t serial() const {
        std::uint32_t v = 0;
        std::memcpy(&v, input.data() + 4, 4);
        return v;
    }
};

struct FakeWin {
    bool class_devs_fail = false;
    std::vector<Interface> interfaces;
    std::vector<DeviceScript> devices;  // one per interface

    std::vector<std::string> log;  // calls in order
    // What the calls were given.
    GUID class_guid{};
    DWORD class_flags = 0;
    bool enumerator_null = false;
    std::vector<DWORD> detail_cb_sizes, detail_sizes;
    std::vector<std::wstring> opened_paths;
    std::vector<DWORD> access, share, disposition, flags;
    std::vector<Request> requests;
    std::vector<OVERLAPPED*> cancelled;
    std::vector<HANDLE> closed;
    std::map<OVERLAPPED*, DWORD> results;  // Win32 error of each completed request
    int overlapped_waits = 0;

    static HANDLE device_handle(std::size_t index) {
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0xD000 + index));
    }
    DeviceScript& script(HANDLE device) {
        return devices.at(static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(device) - 0xD000));
    }
    void complete(OVERLAPPED* ov, DWORD error) {
        results[ov] = error;
        ov->Internal = error == 0 ? 0 : kStatusFailure;
        SetEvent(ov->hEvent);
    }
    std::vector<Request> of_code(DWORD code) const {
        std::vector<Request> out;
        for (const auto& r : requests) {
            if (r.code == code) out.push_back(r);
        }
        return out;
    }
};

FakeWin* g_fake = nullptr;

HDEVINFO WINAPI fake_get_class_devs(const GUID* guid, PCWSTR enumerator, HWND, DWORD flags) {
    g_fake->log.push_back("get_class_devs");
    g_fake->class_guid = *guid;
    g_fake->class_flags = flags;
    g_fake->enumerator_null = enumerator == nullptr;
    if (g_fake->class_devs_fail) return INVALID_HANDLE_VALUE;
    return kSet;
}

BOOL WINAPI fake_enum_interfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
    g_fake->log.push_back("enum " + std::to_string(index));
    EXPECT_EQ(set, kSet);
    EXPECT_EQ(std::memcmp(guid, &win32::kViGEmBusInterfaceGuid, sizeof(GUID)), 0);
    EXPECT_EQ(data->cbSize, sizeof(SP_DEVICE_INTERFACE_DATA));
    if (index >= g_fake->interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI fake_get_detail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                            DWORD size, PDWORD required, PSP_DEVINFO_DATA device) {
    g_fake->log.push_back("detail " + std::to_string(data->Reserved));
    g_fake->detail_cb_sizes.push_back(detail->cbSize);
    g_fake->detail_sizes.push_back(size);
    EXPECT_EQ(required, nullptr);
    EXPECT_EQ(device, nullptr);
    const Interface& iface = g_fake->interfaces.at(data->Reserved);
    if (!iface.detail_ok) return FALSE;
    std::wcscpy(detail->DevicePath, iface.path.c_str());
    return TRUE;
}

BOOL WINAPI fake_destroy_list(HDEVINFO set) {
    g_fake->log.push_back("destroy_list");
    EXPECT_EQ(set, kSet);
    return TRUE;
}

HANDLE WINAPI fake_create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE template_file) {
    g_fake->log.push_back("create_file");
    g_fake->opened_paths.emplace_back(path);
    g_fake->access.push_back(access);
    g_fake->share.push_back(share);
    g_fake->disposition.push_back(disposition);
    g_fake->flags.push_back(flags);
    EXPECT_EQ(security, nullptr);
    EXPECT_EQ(template_file, nullptr);
    for (std::size_t i = 0; i < g_fake->interfaces.size(); ++i) {
        if (g_fake->interfaces[i].path == path) {
            if (!g_fake->interfaces[i].opens) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            return FakeWin::device_handle(i);
        }
    }
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI fake_device_io_control(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                   LPDWORD, LPOVERLAPPED ov) {
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(out_size, 0u);
    EXPECT_NE(ov, nullptr);
    EXPECT_NE(ov->hEvent, nullptr);
    // As the system does when a request starts.
    ResetEvent(ov->hEvent);
    auto* bytes = static_cast<std::uint8_t*>(in);
    g_fake->requests.push_back({device, code, {bytes, bytes + in_size}, ov, ov->hEvent});
    const Request& r = g_fake->requests.back();
    char name[32];
    std::snprintf(name, sizeof name, "ioctl %06lX", static_cast<unsigned long>(code));
    g_fake->log.push_back(name);
    DeviceScript& script = g_fake->script(device);
    if (auto refused = script.refused_at_once.find(code); refused != script.refused_at_once.end()) {
        ov->Internal = kStatusPending;  // as far as any waiter could tell
        SetLastError(refused->second);
        return FALSE;
    }
    DWORD error = 0;
    switch (code) {
        case kIoctlCheckVersion: error = script.version_error; break;
        case kIoctlPlugInTarget: error = script.plug_in(r.serial()); break;
        case kIoctlWaitDeviceReady:
            if (script.wait_pends) {
                ov->Internal = kStatusPending;
                SetLastError(ERROR_IO_PENDING);
                return FALSE;
            }
            error = script.wait_error;
            break;
        default: break;
    }
    g_fake->complete(ov, error);
    if (error != 0) SetLastError(error);
    return error == 0;
}

BOOL WINAPI fake_get_overlapped_result(HANDLE, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    EXPECT_TRUE(wait);
    ++g_fake->overlapped_waits;
    *transferred = 0;
    if (ov->Internal == kStatusPending) {
        // The real call would wait for ever; the test fails instead of hanging.
        ADD_FAILURE() << "GetOverlappedResult waited on a request that never completes";
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    DWORD error = g_fake->results.at(ov);
    if (error == 0) return TRUE;
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI fake_cancel_io_ex(HANDLE device, LPOVERLAPPED ov) {
    g_fake->cancelled.push_back(ov);
    if (g_fake->script(device).cancel_works && ov->Internal == kStatusPending) {
        g_fake->log.push_back("cancel");
        g_fake->complete(ov, ERROR_OPERATION_ABORTED);
    } else {
        g_fake->log.push_back("cancel ignored");
    }
    return TRUE;
}

BOOL WINAPI fake_close_handle(HANDLE handle) {
    g_fake->log.push_back("close");
    g_fake->closed.push_back(handle);
    return TRUE;
}

class PadBusWin32 : public testing::Test {
protected:
    PadBusWin32() { g_fake = &fake; }
    ~PadBusWin32() override { g_fake = nullptr; }

    std::unique_ptr<PadBus> bus() {
        win32::PadBusApi api;
        api.get_class_devs = &fake_get_class_devs;
        api.enum_device_interfaces = &fake_enum_interfaces;
        api.get_device_interface_detail = &fake_get_detail;
        api.destroy_device_info_list = &fake_destroy_list;
        api.create_file = &fake_create_file;
        api.device_io_control = &fake_device_io_control;
        api.get_overlapped_result = &fake_get_overlapped_result;
        api.cancel_io_ex = &fake_cancel_io_ex;
        api.close_handle = &fake_close_handle;
        return win32::make_win32_pad_bus(api);
    }
    void one_device(DeviceScript script = {}) {
        fake.interfaces = {{true, L"\\\\?\\root#system#0001#{96e42b22}", true}};
        fake.devices = {std::move(script)};
    }

    FakeWin fake;
};

TEST_F(PadBusWin32, OpensThePadExactlyAsSpecified) {
    one_device();
    {
        auto pad = open_virtual_pad(*bus());
        ASSERT_NE(pad, nullptr);
        EXPECT_EQ(pad->serial(), 1u);
        EXPECT_EQ(std::memcmp(&fake.class_guid, &win32::kViGEmBusInterfaceGuid, sizeof(GUID)), 0);
        EXPECT_EQ(fake.class_flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        EXPECT_TRUE(fake.enumerator_null);
        EXPECT_EQ(fake.detail_cb_sizes, (std::vector<DWORD>{8}));
        EXPECT_EQ(fake.detail_sizes, (std::vector<DWORD>{3072}));
        EXPECT_EQ(fake.opened_paths, (std::vector<std::wstring>{fake.interfaces[0].path}));
        EXPECT_EQ(fake.access, (std::vector<DWORD>{GENERIC_READ | GENERIC_WRITE}));
        EXPECT_EQ(fake.share, (std::vector<DWORD>{FILE_SHARE_READ | FILE_SHARE_WRITE}));
        EXPECT_EQ(fake.disposition, (std::vector<DWORD>{OPEN_EXISTING}));
        EXPECT_EQ(fake.flags, (std::vector<DWORD>{0xE0000080}));
        EXPECT_EQ(fake.log, (std::vector<std::string>{"get_class_devs", "enum 0", "detail 0", "create_file",
                                                      "ioctl 2AA00C", "destroy_list", "ioctl 2AA004", "ioctl 2AA010"}));
        ASSERT_EQ(fake.requests.size(), 3u);
        EXPECT_EQ(fake.requests[0].input, (std::vector<std::uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}));
        EXPECT_EQ(fake.requests[1].input,
                  (std::vector<std::uint8_t>{16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02}));
        EXPECT_EQ(fake.requests[2].input, (std::vector<std::uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}));
        for (const auto& r : fake.requests) EXPECT_EQ(r.device, FakeWin::device_handle(0));

        PadState state;
        state.buttons = 0x001 | 0x100;
        state.dpad = 2;
        state.left_trigger = 255;
        state.lx = -32768;
        state.ly = 32767;
        pad->submit_pad_state(state);
        ASSERT_EQ(fake.requests.size(), 4u);
        EXPECT_EQ(fake.requests[3].code, kIoctlSubmitXusbReport);
        EXPECT_EQ(fake.requests[3].input,
                  (std::vector<std::uint8_t>{20,   0,    0,    0,    1,    0,    0, 0, 0x19, 0x10,
                                             0xFF, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0, 0, 0,    0}));
        EXPECT_TRUE(fake.closed.empty());
    }
    // The last reference: unplug, then close the device.
    ASSERT_EQ(fake.requests.size(), 5u);
    EXPECT_EQ(fake.requests[4].code, kIoctlUnplugTarget);
    EXPECT_EQ(fake.requests[4].input, (std::vector<std::uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(0)}));
    EXPECT_EQ(fake.log.back(), "close");
    EXPECT_TRUE(fake.cancelled.empty());
}

TEST_F(PadBusWin32, SerialTwoWhenTheBusRefusesOne) {
    DeviceScript script;
    script.plug_in = [](std::uint32_t serial) { return serial == 1 ? DWORD{ERROR_INVALID_PARAMETER} : DWORD{0}; };
    one_device(script);
    auto pad = open_virtual_pad(*bus());
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->serial(), 2u);
    auto plugs = fake.of_code(kIoctlPlugInTarget);
    ASSERT_EQ(plugs.size(), 2u);
    EXPECT_EQ(plugs[0].serial(), 1u);
    EXPECT_EQ(plugs[1].serial(), 2u);
    EXPECT_EQ(fake.of_code(kIoctlWaitDeviceReady).at(0).serial(), 2u);
}

TEST_F(PadBusWin32, WaitUntilReadyThatNeverCompletesIsCancelledAfterTheBound) {
    DeviceScript script;
    script.wait_pends = true;
    one_device(script);
    const auto start = std::chrono::steady_clock::now();
    auto pad = open_virtual_pad(*bus(), 100ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(pad, nullptr);
    EXPECT_GE(took, 90ms);
    EXPECT_LT(took, 5s);
    auto waits = fake.of_code(kIoctlWaitDeviceReady);
    ASSERT_EQ(waits.size(), 1u);
    // The pending request itself was cancelled, then the target unplugged and the device closed.
    EXPECT_EQ(fake.cancelled, (std::vector<OVERLAPPED*>{waits[0].overlapped}));
    auto unplugs = fake.of_code(kIoctlUnplugTarget);
    ASSERT_EQ(unplugs.size(), 1u);
    EXPECT_EQ(unplugs[0].serial(), 1u);
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(0)}));
    const std::vector<std::string> tail(fake.log.end() - 4, fake.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"ioctl 2AA010", "cancel", "ioctl 2AA008", "close"}));
}

TEST_F(PadBusWin32, ARequestThatIgnoresTheCancellationIsLeftBehind) {
    DeviceScript script;
    script.wait_pends = true;
    script.cancel_works = false;
    one_device(script);
    const auto start = std::chrono::steady_clock::now();
    auto pad = open_virtual_pad(*bus(), 50ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(pad, nullptr);
    EXPECT_GE(took, 90ms);  // the bound, then as long again for the cancellation
    EXPECT_LT(took, 5s);
    auto waits = fake.of_code(kIoctlWaitDeviceReady);
    auto unplugs = fake.of_code(kIoctlUnplugTarget);
    ASSERT_EQ(waits.size(), 1u);
    ASSERT_EQ(unplugs.size(), 1u);
    // The unplug goes out on a fresh OVERLAPPED: the system may still write the old one.
    EXPECT_NE(unplugs[0].overlapped, waits[0].overlapped);
    EXPECT_EQ(waits[0].overlapped->Internal, kStatusPending);
    const std::vector<std::string> tail(fake.log.end() - 4, fake.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"ioctl 2AA010", "cancel ignored", "ioctl 2AA008", "close"}));
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(0)}));
}

TEST_F(PadBusWin32, ARequestRefusedAtOnceReturnsThatErrorWithoutWaiting) {
    one_device();
    auto device = bus()->find_device([](PadBusDevice&) { return true; });
    ASSERT_NE(device, nullptr);
    fake.script(FakeWin::device_handle(0)).refused_at_once = {{kIoctlSubmitXusbReport, ERROR_DEVICE_NOT_CONNECTED},
                                                              {kIoctlUnplugTarget, ERROR_DEVICE_REMOVED}};
    const int waits_before = fake.overlapped_waits;
    EXPECT_EQ(device->io_control(kIoctlSubmitXusbReport, submit_report_request(1, XusbReport{})),
              static_cast<std::uint32_t>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(device->io_control(kIoctlUnplugTarget, unplug_request(1), 1000ms),
              static_cast<std::uint32_t>(ERROR_DEVICE_REMOVED));
    EXPECT_EQ(fake.overlapped_waits, waits_before);
    EXPECT_TRUE(fake.cancelled.empty());
    // A request that is really pending is still waited for.
    EXPECT_EQ(device->io_control(kIoctlPlugInTarget, plug_in_request(1)), 0u);
    EXPECT_EQ(fake.overlapped_waits, waits_before + 1);
}

TEST_F(PadBusWin32, PadRemovedWhileRunningDoesNotHangItsUsers) {
    one_device();
    auto pad = open_virtual_pad(*bus());
    ASSERT_NE(pad, nullptr);
    fake.script(FakeWin::device_handle(0)).refused_at_once = {{kIoctlSubmitXusbReport, ERROR_DEVICE_NOT_CONNECTED},
                                                              {kIoctlUnplugTarget, ERROR_DEVICE_NOT_CONNECTED}};
    const int waits_before = fake.overlapped_waits;
    PadState state;
    state.buttons = 1;
    pad->submit_pad_state(state);  // lost, as any failed report
    pad->submit_neutral();
    pad.reset();  // the unplug is refused too; the device is closed all the same
    EXPECT_EQ(fake.overlapped_waits, waits_before);
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(0)}));
}

TEST_F(PadBusWin32, ProbeTellsNotReadyFromRefusedAndFromNoBus) {
    struct Case {
        const char* name;
        bool device;
        DeviceScript script;
        PadProbeResult result;
    };
    DeviceScript pends, refused, fails;
    pends.wait_pends = true;
    refused.refused_at_once = {{kIoctlWaitDeviceReady, ERROR_DEVICE_NOT_CONNECTED}};
    fails.wait_error = ERROR_GEN_FAILURE;
    const Case cases[] = {
        {"ready", true, DeviceScript{}, PadProbeResult::Ready},
        {"pending_past_the_bound", true, pends, PadProbeResult::NotReady},
        {"refused_at_once", true, refused, PadProbeResult::Failed},
        {"failed", true, fails, PadProbeResult::Failed},
        {"no_bus", false, DeviceScript{}, PadProbeResult::NoBus},
    };
    for (const auto& c : cases) {
        FakeWin local;
        g_fake = &local;
        if (c.device) {
            local.interfaces = {{true, L"\\\\?\\root#system#0001#{96e42b22}", true}};
            local.devices = {c.script};
        }
        PadProbe probe = probe_virtual_pad(*bus(), 50ms);
        EXPECT_EQ(probe.result, c.result) << c.name;
        EXPECT_EQ(probe.pad != nullptr, c.result == PadProbeResult::Ready) << c.name;
        probe.pad.reset();
        g_fake = &fake;
    }
}

TEST_F(PadBusWin32, WaitUntilReadyFailingWithInvalidParameterIsReady) {
    DeviceScript script;
    script.wait_error = ERROR_INVALID_PARAMETER;
    one_device(script);
    auto pad = open_virtual_pad(*bus());
    ASSERT_NE(pad, nullptr);
    EXPECT_TRUE(fake.of_code(kIoctlUnplugTarget).empty());
}

TEST_F(PadBusWin32, WaitUntilReadyFailingOtherwiseIsNoPad) {
    DeviceScript script;
    script.wait_error = ERROR_GEN_FAILURE;
    one_device(script);
    EXPECT_EQ(open_virtual_pad(*bus()), nullptr);
    EXPECT_EQ(fake.of_code(kIoctlUnplugTarget).size(), 1u);
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(0)}));
}

TEST_F(PadBusWin32, EnumerationSkipsDevicesThatFail) {
    DeviceScript old_driver;
    old_driver.version_error = ERROR_NOT_SUPPORTED;
    fake.interfaces = {
        {false, L"\\\\?\\no-detail", true}, {true, L"\\\\?\\cannot-open", false},  {true, L"\\\\?\\old-version", true},
        {true, L"\\\\?\\good", true},       {true, L"\\\\?\\never-reached", true},
    };
    fake.devices = {DeviceScript{}, DeviceScript{}, old_driver, DeviceScript{}, DeviceScript{}};
    auto pad = open_virtual_pad(*bus());
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(fake.opened_paths,
              (std::vector<std::wstring>{L"\\\\?\\cannot-open", L"\\\\?\\old-version", L"\\\\?\\good"}));
    // The refused device was closed right after its version check; the set went
    // once the good device was found.
    EXPECT_EQ(fake.closed, (std::vector<HANDLE>{FakeWin::device_handle(2)}));
    EXPECT_EQ(fake.of_code(kIoctlPlugInTarget).at(0).device, FakeWin::device_handle(3));
    EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "destroy_list"), 1);
    EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "enum 4"), 0);
}

TEST_F(PadBusWin32, NoDeviceAccepted) {
    DeviceScript old_driver;
    old_driver.version_error = ERROR_NOT_SUPPORTED;
    fake.interfaces = {{true, L"\\\\?\\old", true}};
    fake.devices = {old_driver};
    EXPECT_EQ(open_virtual_pad(*bus()), nullptr);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"get_class_devs", "enum 0", "detail 0", "create_file", "ioctl 2AA00C",
                                                  "close", "enum 1", "destroy_list"}));
}

TEST_F(PadBusWin32, ClassEnumerationFailing) {
    fake.class_devs_fail = true;
    EXPECT_EQ(open_virtual_pad(*bus()), nullptr);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"get_class_devs"}));
}

TEST_F(PadBusWin32, RequestsUseAnAutoResetEvent) {
    one_device();
    auto pad = open_virtual_pad(*bus());
    ASSERT_NE(pad, nullptr);
    pad->submit_neutral();
    HANDLE event = fake.requests.back().event;
    // Signalled by the completion and consumed by one wait: auto-reset.
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(PadBusWin32System, NoViGEmBusHereMeansNoPad) {
    // Wine (and a Windows without the driver) has no device of the bus class.
    auto bus = make_os_pad_bus();
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(open_virtual_pad(*bus, 200ms), nullptr);
}

}  // namespace
}  // namespace korvex
