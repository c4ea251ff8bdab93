// The virtual controller over a scripted bus: the report
// conversion, the request buffers, the start-up probe's rules, and where pad
// state goes once a pad is installed.
#include "core/pad_virtual.h"

#include <gtest/gtest.h>

#include "core/input_controller.h"
#include "core/pad_engine.h"
#include "core/pad_test_fakes.h"
#include "support/input_fakes.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using namespace korvex::test;
using Bytes8 = std::vector<std::uint8_t>;

PadState make_pad(std::uint16_t buttons, std::uint8_t dpad = 0, std::uint8_t lt = 0, std::uint8_t rt = 0,
                  std::int16_t lx = 0, std::int16_t ly = 0, std::int16_t rx = 0, std::int16_t ry = 0) {
    PadState s;
    s.buttons = buttons;
    s.dpad = dpad;
    s.left_trigger = lt;
    s.right_trigger = rt;
    s.lx = lx;
    s.ly = ly;
    s.rx = rx;
    s.ry = ry;
    return s;
}

template <std::size_t N>
Bytes8 bytes(const std::array<std::uint8_t, N>& a) {
    return Bytes8(a.begin(), a.end());
}

TEST(XusbReport, TheSpecExample) {
    XusbReport r = xusb_report(make_pad(0x001 | 0x100, 2, 255, 0, -32768, 32767, 0, 0));
    EXPECT_EQ(r.buttons, 0x1019);
    EXPECT_EQ(r.left_trigger, 255);
    EXPECT_EQ(r.right_trigger, 0);
    EXPECT_EQ(r.lx, -32768);
    EXPECT_EQ(r.ly, 32767);
    EXPECT_EQ(r.rx, 0);
    EXPECT_EQ(r.ry, 0);
    EXPECT_EQ(bytes(encode_xusb_report(r)),
              (Bytes8{0x19, 0x10, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}));
}

TEST(XusbReport, EveryButton) {
    const struct {
        std::uint16_t client, report;
    } cases[] = {
        {0x001, 0x1000}, {0x002, 0x2000}, {0x004, 0x4000}, {0x008, 0x8000}, {0x010, 0x0100}, {0x020, 0x0200},
        {0x040, 0x0040}, {0x080, 0x0080}, {0x100, 0x0010}, {0x200, 0x0020}, {0x400, 0x0400},
    };
    std::uint16_t all = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(xusb_report(make_pad(c.client)).buttons, c.report) << std::hex << c.client;
        all |= c.report;
    }
    EXPECT_EQ(xusb_report(make_pad(0x07FF)).buttons, all);
    // Bits above the 11 client buttons have no report bit.
    EXPECT_EQ(xusb_report(make_pad(0xF800)).buttons, 0);
}

TEST(XusbReport, DpadBits) {
    const std::uint16_t expected[] = {0x0000, 0x0001, 0x0009, 0x0008, 0x000A, 0x0002, 0x0006, 0x0004, 0x0005, 0, 0};
    for (std::uint8_t d = 0; d < std::size(expected); ++d) {
        EXPECT_EQ(xusb_report(make_pad(0, d)).buttons, expected[d]) << int(d);
    }
    EXPECT_EQ(xusb_report(make_pad(0, 255)).buttons, 0);
    EXPECT_EQ(xusb_report(make_pad(0x001, 1)).buttons, 0x1001);
}

TEST(XusbReport, SticksAndTriggersCopiedUnchanged) {
    XusbReport r = xusb_report(make_pad(0, 0, 1, 64, 1, -1, -32768, 12345));
    EXPECT_EQ(r, (XusbReport{0, 1, 64, 1, -1, -32768, 12345}));
    EXPECT_EQ(xusb_report(PadState{}), XusbReport{});
}

TEST(PadRequests, Buffers) {
    EXPECT_EQ(bytes(check_version_request()), (Bytes8{8, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(bytes(plug_in_request(0x01020304)),
              (Bytes8{16, 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02}));
    EXPECT_EQ(bytes(unplug_request(2)), (Bytes8{8, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(bytes(wait_ready_request(65534)), (Bytes8{8, 0, 0, 0, 0xFE, 0xFF, 0, 0}));
    auto submit = submit_report_request(3, xusb_report(make_pad(0x001 | 0x100, 2, 255, 0, -32768, 32767, 0, 0)));
    EXPECT_EQ(bytes(submit),
              (Bytes8{20, 0, 0, 0, 3, 0, 0, 0, 0x19, 0x10, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0x7F, 0, 0, 0, 0}));
    EXPECT_EQ(kIoctlPlugInTarget, 0x2AA004u);
    EXPECT_EQ(kIoctlUnplugTarget, 0x2AA008u);
    EXPECT_EQ(kIoctlCheckVersion, 0x2AA00Cu);
    EXPECT_EQ(kIoctlWaitDeviceReady, 0x2AA010u);
    EXPECT_EQ(kIoctlSubmitXusbReport, 0x2AA808u);
}

std::vector<std::uint32_t> codes(const PadBusLog& log) {
    std::vector<std::uint32_t> out;
    for (const auto& r : log.requests) out.push_back(r.code);
    return out;
}

TEST(OpenVirtualPad, PlugsInUnderSerialOneAndWaits) {
    FakePadBus bus;
    bus.devices = {PadDeviceScript{}};
    auto log = bus.log;
    {
        std::shared_ptr<VirtualPad> pad = open_virtual_pad(bus);
        ASSERT_NE(pad, nullptr);
        EXPECT_EQ(pad->serial(), 1u);
        EXPECT_EQ(pad->vendor_id(), 0x045E);
        EXPECT_EQ(pad->product_id(), 0x028E);
        EXPECT_EQ(codes(*log),
                  (std::vector<std::uint32_t>{kIoctlCheckVersion, kIoctlPlugInTarget, kIoctlWaitDeviceReady}));
        EXPECT_EQ(log->requests[1].input, bytes(plug_in_request(1)));
        EXPECT_EQ(log->requests[2].input, bytes(wait_ready_request(1)));
        // Only the wait has a bound, 20 s unless the caller says otherwise.
        EXPECT_FALSE(log->requests[0].bound);
        EXPECT_FALSE(log->requests[1].bound);
        EXPECT_EQ(log->requests[2].bound, std::optional(20000ms));
        EXPECT_TRUE(log->closed.empty());
        pad->submit_pad_state(make_pad(0x001 | 0x100, 2, 255, 0, -32768, 32767, 0, 0));
        ASSERT_EQ(log->reports().size(), 1u);
        EXPECT_EQ(log->reports()[0].buttons, 0x1019);
        EXPECT_EQ(log->of_code(kIoctlSubmitXusbReport)[0].serial(), 1u);
        EXPECT_FALSE(log->of_code(kIoctlSubmitXusbReport)[0].bound);
    }
    // The last reference: unplugged, then closed.
    auto unplugs = log->of_code(kIoctlUnplugTarget);
    ASSERT_EQ(unplugs.size(), 1u);
    EXPECT_EQ(unplugs[0].input, bytes(unplug_request(1)));
    EXPECT_EQ(log->requests.back().code, kIoctlUnplugTarget);
    EXPECT_EQ(log->closed, (std::vector<int>{0}));
}

TEST(OpenVirtualPad, BusRefusingSerialOneRunsUnderSerialTwo) {
    FakePadBus bus;
    PadDeviceScript script;
    script.plug_in = [](std::uint32_t serial) { return serial == 1 ? 87u : 0u; };
    bus.devices = {script};
    auto log = bus.log;
    {
        auto pad = open_virtual_pad(bus);
        ASSERT_NE(pad, nullptr);
        EXPECT_EQ(pad->serial(), 2u);
        auto plugs = log->of_code(kIoctlPlugInTarget);
        ASSERT_EQ(plugs.size(), 2u);
        EXPECT_EQ(plugs[0].serial(), 1u);
        EXPECT_EQ(plugs[1].serial(), 2u);
        EXPECT_EQ(log->of_code(kIoctlWaitDeviceReady).at(0).serial(), 2u);
        pad->submit_neutral();
        EXPECT_EQ(log->of_code(kIoctlSubmitXusbReport).at(0).serial(), 2u);
        EXPECT_EQ(log->reports().at(0), XusbReport{});
    }
    EXPECT_EQ(log->of_code(kIoctlUnplugTarget).at(0).serial(), 2u);
}

TEST(OpenVirtualPad, WaitUntilReadyThatNeverCompletesGivesNoPadAfterTheBound) {
    FakePadBus bus;
    PadDeviceScript script;
    script.wait_never_completes = true;
    bus.devices = {script};
    auto log = bus.log;
    EXPECT_EQ(open_virtual_pad(bus, 20ms), nullptr);
    auto waits = log->of_code(kIoctlWaitDeviceReady);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].bound, std::optional(20ms));
    // Cleaned up: the target unplugged, the device closed.
    EXPECT_EQ(log->of_code(kIoctlUnplugTarget).size(), 1u);
    EXPECT_EQ(log->requests.back().code, kIoctlUnplugTarget);
    EXPECT_EQ(log->closed, (std::vector<int>{0}));
}

TEST(OpenVirtualPad, WaitFailingWithInvalidParameterStillGivesThePad) {
    FakePadBus bus;
    PadDeviceScript script;
    script.wait_error = 87;  // a bus driver too old to know the request
    bus.devices = {script};
    auto pad = open_virtual_pad(bus);
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->serial(), 1u);
    EXPECT_TRUE(bus.log->of_code(kIoctlUnplugTarget).empty());
}

TEST(OpenVirtualPad, WaitFailingWithAnotherErrorGivesNoPad) {
    for (std::uint32_t error : {31u, 2u, 995u, 1460u}) {
        FakePadBus bus;
        PadDeviceScript script;
        script.wait_error = error;
        bus.devices = {script};
        EXPECT_EQ(open_virtual_pad(bus), nullptr) << error;
        EXPECT_EQ(bus.log->of_code(kIoctlUnplugTarget).size(), 1u) << error;
        EXPECT_EQ(bus.log->closed, (std::vector<int>{0})) << error;
    }
}

TEST(OpenVirtualPad, VersionCheckFailureMovesToTheNextDevice) {
    FakePadBus bus;
    PadDeviceScript old_bus;
    old_bus.version_error = 31;
    bus.devices = {old_bus, PadDeviceScript{}};
    auto log = bus.log;
    auto pad = open_virtual_pad(bus);
    ASSERT_NE(pad, nullptr);
    // The refused device was closed and never saw a plug-in.
    EXPECT_EQ(log->closed, (std::vector<int>{0}));
    for (const auto& r : log->requests) {
        if (r.device == 0) {
            EXPECT_EQ(r.code, kIoctlCheckVersion);
        }
    }
    EXPECT_EQ(log->of_code(kIoctlPlugInTarget).at(0).device, 1);
}

TEST(OpenVirtualPad, VersionCheckFailureOnTheOnlyDeviceGivesNoPad) {
    FakePadBus bus;
    PadDeviceScript old_bus;
    old_bus.version_error = 1;
    bus.devices = {old_bus};
    EXPECT_EQ(open_virtual_pad(bus), nullptr);
    EXPECT_EQ(codes(*bus.log), (std::vector<std::uint32_t>{kIoctlCheckVersion}));
    EXPECT_EQ(bus.log->closed, (std::vector<int>{0}));
}

TEST(OpenVirtualPad, NoDeviceOrNoOpenableDeviceGivesNoPad) {
    FakePadBus none;
    EXPECT_EQ(open_virtual_pad(none), nullptr);
    EXPECT_TRUE(none.log->requests.empty());

    FakePadBus unopenable;
    PadDeviceScript script;
    script.opens = false;
    unopenable.devices = {script, PadDeviceScript{}};
    auto pad = open_virtual_pad(unopenable);
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(unopenable.log->opened, (std::vector<int>{1}));
}

TEST(OpenVirtualPad, NoSerialAcceptedGivesNoPad) {
    FakePadBus bus;
    PadDeviceScript script;
    script.plug_in = [](std::uint32_t) { return 87u; };
    bus.devices = {script};
    EXPECT_EQ(open_virtual_pad(bus), nullptr);
    auto plugs = bus.log->of_code(kIoctlPlugInTarget);
    ASSERT_EQ(plugs.size(), 65534u);
    EXPECT_EQ(plugs.front().serial(), 1u);
    EXPECT_EQ(plugs.back().serial(), 65534u);
    // Nothing was plugged in, so nothing is unplugged; no wait either.
    EXPECT_TRUE(bus.log->of_code(kIoctlUnplugTarget).empty());
    EXPECT_TRUE(bus.log->of_code(kIoctlWaitDeviceReady).empty());
    EXPECT_EQ(bus.log->closed, (std::vector<int>{0}));
}

TEST(VirtualPad, PlugInRefusedWhenPluggedAndNothingSubmittedBefore) {
    auto log = std::make_shared<PadBusLog>();
    VirtualPad pad(std::make_unique<FakePadDevice>(0, PadDeviceScript{}, log));
    pad.submit_pad_state(PadState{1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(log->requests.empty());  // serial 0: nothing is submitted
    EXPECT_EQ(pad.wait_until_ready(10ms), VirtualPad::Readiness::Failed);
    ASSERT_TRUE(pad.plug_in());
    EXPECT_FALSE(pad.plug_in());
    EXPECT_EQ(log->of_code(kIoctlPlugInTarget).size(), 1u);
}

// Why the probe gave no pad decides the notice: a controller that did not
// become ready in time must not be reported as a missing driver.
TEST(ProbeVirtualPad, ResultAndNotice) {
    struct Case {
        const char* name;
        std::vector<PadDeviceScript> devices;
        PadProbeResult result;
        std::optional<std::string_view> notice;
    };
    PadDeviceScript old_version, refuses_serials, never_ready, wait_fails;
    old_version.version_error = 50;
    refuses_serials.plug_in = [](std::uint32_t) { return 87u; };
    never_ready.wait_never_completes = true;
    wait_fails.wait_error = 31;
    const Case cases[] = {
        {"ready", {PadDeviceScript{}}, PadProbeResult::Ready, std::nullopt},
        {"no_device", {}, PadProbeResult::NoBus, "Install ViGEmBus for a real virtual controller"},
        {"old_version", {old_version}, PadProbeResult::NoBus, "Install ViGEmBus for a real virtual controller"},
        {"never_ready", {never_ready}, PadProbeResult::NotReady,
         "The virtual controller did not become ready; the keyboard / mouse mapping is used until Korvex is "
         "restarted"},
        {"wait_fails", {wait_fails}, PadProbeResult::Failed,
         "The virtual controller could not be plugged in; the keyboard / mouse mapping is used until Korvex is "
         "restarted"},
        {"refuses_serials", {refuses_serials}, PadProbeResult::Failed,
         "The virtual controller could not be plugged in; the keyboard / mouse mapping is used until Korvex is "
         "restarted"},
    };
    for (const auto& c : cases) {
        FakePadBus bus;
        bus.devices = c.devices;
        PadProbe probe = probe_virtual_pad(bus, 20ms);
        EXPECT_EQ(probe.result, c.result) << c.name;
        EXPECT_EQ(probe.pad != nullptr, c.result == PadProbeResult::Ready) << c.name;
        EXPECT_EQ(pad_probe_notice(probe.result), c.notice) << c.name;
    }
}

// ---- through the controller and the engine ----

class PadThroughController : public testing::Test {
protected:
    PadThroughController() {
        bus.devices = {PadDeviceScript{}};
        controller.add_client(1);
        controller.set_pad_output(&engine);
    }

    void send(const InputEvent& event) { controller.dispatch_event(1, event, 1000); }
    // The first event of a client makes it the owner, which releases
    // everything (a neutral report included); kind 5 does nothing else.
    void take_control() {
        send(make_event(5, 1));
        bus.log->requests.clear();
        sink.take();
    }

    RecordingSink sink;
    FakeSas sas;
    InputController controller{sink, sas};
    InputState mapping_out{sink};
    GamepadEngine engine{mapping_out};
    FakePadBus bus;
};

TEST_F(PadThroughController, TakingControlSendsTheNeutralReport) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    EXPECT_EQ(bus.log->reports(), (std::vector<XusbReport>{{}, {0x1000, 0, 0, 0, 0, 0, 0}}));
}

TEST_F(PadThroughController, InstalledPadGetsThePadStateInsteadOfTheMapping) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    ASSERT_TRUE(engine.has_virtual_pad());
    EXPECT_TRUE(engine.virtual_pad_in_use());
    // The pad is installed after the release: it has not been sent anything yet.
    EXPECT_TRUE(bus.log->reports().empty());
    take_control();

    send(make_pad_buttons(2, 0x001 | 0x100, 2, 255, 0));
    send(make_sticks(3, -32768, 32767, 0, 0));
    auto reports = bus.log->reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], (XusbReport{0x1019, 255, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reports[1], (XusbReport{0x1019, 255, 0, -32768, 32767, 0, 0}));
    // The mapping (space on A, ...) stayed silent.
    EXPECT_TRUE(sink.take().empty());
    // An unchanged state sends nothing.
    send(make_sticks(4, -32768, 32767, 0, 0));
    EXPECT_EQ(bus.log->reports().size(), 2u);
}

TEST_F(PadThroughController, NeutralReportOnReleaseAll) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    take_control();
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    send(make_event(15, 3));  // release all
    auto reports = bus.log->reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports.back(), XusbReport{});
    EXPECT_TRUE(controller.pad_state().neutral());
}

TEST_F(PadThroughController, NeutralReportWhenThePadOutputChanges) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    take_control();
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    sink.take();
    install_mapping(controller, engine, preset_mapping(Preset::Shooter, PadOutputMode::KeyboardMouse));
    auto reports = bus.log->reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports.back(), XusbReport{});
    // The held A now goes through the mapping: space.
    EXPECT_EQ(sink.take(), (std::vector<std::string>{"space down"}));
    // Back to the virtual controller: space is released, the pad gets the state again.
    install_mapping(controller, engine, preset_mapping(Preset::Shooter, PadOutputMode::VirtualController));
    EXPECT_EQ(sink.take(), (std::vector<std::string>{"space up"}));
    reports = bus.log->reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[2], XusbReport{});  // neutral on the change
    EXPECT_EQ(reports[3].buttons, 0x1000);
}

TEST_F(PadThroughController, SameOutputNoNeutralReport) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    const auto before = bus.log->reports().size();
    install_mapping(controller, engine, preset_mapping(Preset::Arrows, PadOutputMode::VirtualController));
    EXPECT_EQ(bus.log->reports().size(), before);
}

TEST_F(PadThroughController, WatchdogNeutralisesThePad) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    take_control();
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    controller.input_watchdog(1000 + 1501);
    // The neutral state applied, then the neutral report.
    EXPECT_EQ(bus.log->reports(), (std::vector<XusbReport>{{0x1000, 0, 0, 0, 0, 0, 0}, {}, {}}));
    EXPECT_TRUE(controller.pad_state().neutral());
}

TEST_F(PadThroughController, WithoutAPadTheMappingIsUsedEvenForVirtualOutput) {
    FakePadBus empty;
    auto pad = open_virtual_pad(empty);
    EXPECT_EQ(pad, nullptr);
    EXPECT_EQ(engine.mapping().pad_output, PadOutputMode::VirtualController);
    EXPECT_FALSE(engine.virtual_pad_in_use());
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    EXPECT_EQ(sink.take(), (std::vector<std::string>{"space down"}));
}

TEST_F(PadThroughController, InstallingAPadReleasesWhatTheMappingHeld) {
    send(make_pad_buttons(2, 0x001, 0, 0, 0));
    EXPECT_EQ(sink.take(), (std::vector<std::string>{"space down"}));
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    EXPECT_EQ(sink.take(), (std::vector<std::string>{"space up"}));
    EXPECT_TRUE(controller.pad_state().neutral());
}

TEST_F(PadThroughController, DroppingTheEnginesPadUnplugsIt) {
    install_virtual_pad(controller, engine, open_virtual_pad(bus));
    EXPECT_TRUE(bus.log->of_code(kIoctlUnplugTarget).empty());
    engine.set_virtual_pad(nullptr);
    EXPECT_EQ(bus.log->of_code(kIoctlUnplugTarget).size(), 1u);
    EXPECT_EQ(bus.log->closed, (std::vector<int>{0}));
}

}  // namespace
}  // namespace korvex
