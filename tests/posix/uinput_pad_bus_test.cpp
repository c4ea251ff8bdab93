// The Linux virtual gamepad through a recording UinputSystem: these machines
// have no /dev/uinput, so what is checked is the exact ioctl sequence and the
// input events written, not a real kernel device.
#include "platform/posix/uinput_pad_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/pad_virtual.h"

namespace korvex::posix {
namespace {

using namespace std::chrono_literals;

struct Call {
    unsigned long request;
    std::uintptr_t value;  // integer argument; for the structures, the code or 0
    bool operator==(const Call&) const = default;
};

struct Written {
    std::uint16_t type, code;
    std::int32_t value;
    bool operator==(const Written&) const = default;
};

class RecordingUinput final : public UinputSystem {
public:
    int open_result = 7;
    unsigned long fail_request = 0;  // this request fails with EPERM
    std::vector<Call> calls;
    std::vector<std::vector<Written>> writes;
    uinput_setup setup{};
    std::vector<uinput_abs_setup> axes;
    std::vector<int> closed;

    int open_device() override { return open_result; }
    int control(int fd, unsigned long request, std::uintptr_t arg) override {
        EXPECT_EQ(fd, open_result);
        std::uintptr_t value = arg;
        if (request == UI_DEV_SETUP) {
            setup = *reinterpret_cast<const uinput_setup*>(arg);
            value = 0;
        } else if (request == UI_ABS_SETUP) {
            axes.push_back(*reinterpret_cast<const uinput_abs_setup*>(arg));
            value = axes.back().code;
        }
        calls.push_back({request, value});
        return request == fail_request ? -EPERM : 0;
    }
    bool write_events(int, std::span<const input_event> events) override {
        std::vector<Written> batch;
        for (const auto& e : events) batch.push_back({e.type, e.code, e.value});
        writes.push_back(batch);
        return true;
    }
    void close_device(int fd) override { closed.push_back(fd); }
};

TEST(UinputPad, CreatesAnXbox360LikeDeviceAndWritesOnlyChanges) {
    RecordingUinput sys;
    auto bus = make_uinput_pad_bus(sys);
    {
        auto pad = open_virtual_pad(*bus, 100ms);
        ASSERT_NE(pad, nullptr);
        EXPECT_TRUE(bus->unavailable_reason().empty());

        std::vector<Call> expected = {{UI_SET_EVBIT, EV_KEY}, {UI_SET_EVBIT, EV_ABS}};
        for (unsigned code : {BTN_A, BTN_B, BTN_X, BTN_Y, BTN_TL, BTN_TR, BTN_SELECT, BTN_START, BTN_MODE,
                              BTN_THUMBL, BTN_THUMBR})
            expected.push_back({UI_SET_KEYBIT, code});
        for (unsigned axis : {ABS_X, ABS_Y, ABS_RX, ABS_RY, ABS_Z, ABS_RZ, ABS_HAT0X, ABS_HAT0Y}) {
            expected.push_back({UI_SET_ABSBIT, axis});
            expected.push_back({UI_ABS_SETUP, axis});
        }
        expected.push_back({UI_DEV_SETUP, 0});
        expected.push_back({UI_DEV_CREATE, 0});
        EXPECT_EQ(sys.calls, expected);
        EXPECT_STREQ(sys.setup.name, kUinputPadName);
        EXPECT_EQ(sys.setup.id.bustype, BUS_USB);
        EXPECT_EQ(sys.setup.id.vendor, 0x045E);
        EXPECT_EQ(sys.setup.id.product, 0x028E);
        ASSERT_EQ(sys.axes.size(), 8u);
        EXPECT_EQ(sys.axes[0].absinfo.minimum, -32768);
        EXPECT_EQ(sys.axes[0].absinfo.maximum, 32767);
        EXPECT_EQ(sys.axes[4].absinfo.maximum, 255);  // left trigger
        EXPECT_EQ(sys.axes[6].absinfo.minimum, -1);   // d-pad

        PadState state;
        state.buttons = 0x001 | 0x100;  // A, Start
        state.lx = 1000;
        state.ly = 32767;  // full up: the top of the downward axis
        state.dpad = 3;    // right
        state.right_trigger = 200;
        pad->submit_pad_state(state);
        std::vector<Written> first = {{EV_KEY, BTN_A, 1},     {EV_KEY, BTN_START, 1}, {EV_ABS, ABS_X, 1000},
                                      {EV_ABS, ABS_Y, -32768}, {EV_ABS, ABS_RZ, 200},  {EV_ABS, ABS_HAT0X, 1},
                                      {EV_SYN, SYN_REPORT, 0}};
        ASSERT_EQ(sys.writes.size(), 1u);
        EXPECT_EQ(sys.writes[0], first);

        pad->submit_pad_state(state);  // nothing changed: nothing written
        EXPECT_EQ(sys.writes.size(), 1u);

        state.buttons = 0x001 | 0x400;  // Start up, Guide down
        state.dpad = 8;                 // up-left
        pad->submit_pad_state(state);
        std::vector<Written> second = {{EV_KEY, BTN_START, 0}, {EV_KEY, BTN_MODE, 1},   {EV_ABS, ABS_HAT0X, -1},
                                       {EV_ABS, ABS_HAT0Y, -1}, {EV_SYN, SYN_REPORT, 0}};
        ASSERT_EQ(sys.writes.size(), 2u);
        EXPECT_EQ(sys.writes[1], second);

        pad->submit_neutral();
        std::vector<Written> neutral = {{EV_KEY, BTN_A, 0},      {EV_KEY, BTN_MODE, 0}, {EV_ABS, ABS_X, 0},
                                        {EV_ABS, ABS_Y, -1},     {EV_ABS, ABS_RZ, 0},   {EV_ABS, ABS_HAT0X, 0},
                                        {EV_ABS, ABS_HAT0Y, 0},  {EV_SYN, SYN_REPORT, 0}};
        ASSERT_EQ(sys.writes.size(), 3u);
        EXPECT_EQ(sys.writes[2], neutral);
        sys.calls.clear();
    }
    // Dropping the pad unplugs it: the device is destroyed, then closed.
    EXPECT_EQ(sys.calls, (std::vector<Call>{{UI_DEV_DESTROY, 0}}));
    EXPECT_EQ(sys.closed, std::vector<int>{7});
}

TEST(UinputPad, NoDeviceGivesTheReasonAndTheMappingStays) {
    struct Case {
        int open_result;
        unsigned long fail_request;
        std::string reason_part;
        std::size_t creates;
    };
    const Case cases[] = {
        {-ENOENT, 0, "/dev/uinput cannot be opened for writing (No such file or directory)", 0},
        {-EACCES, 0, "(Permission denied)", 0},
        {7, UI_DEV_CREATE, "could not be created (Operation not permitted)", 1},
        {7, UI_SET_EVBIT, "could not be created", 0},
    };
    for (const auto& c : cases) {
        RecordingUinput sys;
        sys.open_result = c.open_result;
        sys.fail_request = c.fail_request;
        auto bus = make_uinput_pad_bus(sys);
        EXPECT_EQ(open_virtual_pad(*bus, 100ms), nullptr);
        EXPECT_NE(bus->unavailable_reason().find(c.reason_part), std::string::npos) << bus->unavailable_reason();
        std::size_t creates = 0;
        for (const auto& call : sys.calls) creates += call.request == UI_DEV_CREATE;
        // The probe's serial after serial does not retry a failed creation.
        EXPECT_EQ(creates, c.creates);
        EXPECT_EQ(sys.closed.size(), c.open_result >= 0 ? 1u : 0u);
    }
}

}  // namespace
}  // namespace korvex::posix
