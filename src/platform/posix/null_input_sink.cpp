// Linux: no injection yet. Input from clients is accepted and dispatched as
// usual, and the sink lets it fall to the floor.
#include "platform/input_sink.h"

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
    Status lock_workstation() override { return fail("locking the workstation is not available on this system"); }
    void keep_awake() override {}
    void set_clipboard(std::string_view) override {}
    void adjust_brightness(bool) override {}
};

}  // namespace

std::unique_ptr<InputSink> make_os_input_sink() { return std::make_unique<NullInputSink>(); }

std::optional<std::string_view> input_injection_notice() {
    return "Korvex: keyboard and mouse injection is not available on Linux yet; input from devices is received "
           "but not applied.";
}

}  // namespace korvex
