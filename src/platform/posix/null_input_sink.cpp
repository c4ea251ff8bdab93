// Without a display the host still accepts and dispatches input as usual;
// the null sink lets it fall to the floor.
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/input_sink.h"
#include "platform/posix/xtest_sink.h"

namespace korvex {
namespace {

class NullInputSink final : public InputSink {
public:
    void mouse_move(std::int32_t, std::int32_t) override {}
    void mouse_button(std::uint8_t, bool) override {}
    void wheel(std::int32_t) override {}
    void hwheel(std::int32_t) override {}
    void key(KeyCode, bool) override {}
    void type_text(std::span<const char16_t>) override {}
    Status lock_workstation() override { return fail("locking the workstation is not available without a display"); }
    void keep_awake() override {}
    Status set_clipboard(std::string_view) override { return fail("this build cannot set the clipboard"); }
    void adjust_brightness(bool) override {}
};

std::string non_empty_env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::mutex last_notice_mutex;
std::optional<std::string> last_notice;

}  // namespace

namespace posix {

std::unique_ptr<InputSink> make_null_input_sink() { return std::make_unique<NullInputSink>(); }

ChosenInputSink choose_input_sink(NoticeFn notices) {
    std::string display = non_empty_env("DISPLAY");
    bool wayland = !non_empty_env("WAYLAND_DISPLAY").empty();
    std::string reason;
    if (display.empty()) {
        reason = wayland ? "a Wayland session without XWayland access (DISPLAY is not set)"
                         : "no X display (DISPLAY is not set)";
    } else {
        auto sink = open_xtest_sink(XTestSinkOptions{display, std::move(notices)});
        if (sink) return {std::move(*sink), "XTest on display " + display, std::nullopt};
        reason = sink.error().text;
        if (wayland) reason += " (a Wayland session without XWayland access?)";
    }
    std::string notice =
        "Korvex: keyboard and mouse injection is off: " + reason + "; input from devices is received but not applied.";
    {
        std::lock_guard lock(last_notice_mutex);
        last_notice = notice;
    }
    return {make_null_input_sink(), "none (" + reason + ")", notice};
}

}  // namespace posix

std::unique_ptr<InputSink> make_os_input_sink() { return posix::choose_input_sink({}).sink; }

// The notice of the last choice, if it fell back to the null sink.
std::optional<std::string_view> input_injection_notice() {
    std::lock_guard lock(last_notice_mutex);
    if (!last_notice) return std::nullopt;
    return std::string_view(*last_notice);
}

}  // namespace korvex
