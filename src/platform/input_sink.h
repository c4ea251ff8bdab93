#pragma once
// Where injected input goes: the ten operations the dispatcher needs, all
// synchronous except adjust_brightness, which hands its work to a worker.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/key_vocabulary.h"

namespace korvex {

class InputSink {
public:
    virtual ~InputSink() = default;

    // Relative movement, subject to pointer acceleration.
    virtual void mouse_move(std::int32_t dx, std::int32_t dy) = 0;
    // 1 left, 2 right, 3 middle; other numbers do nothing.
    virtual void mouse_button(std::uint8_t button, bool down) = 0;
    // Wheel units as Windows counts them (120 per notch); positive is away
    // from the user.
    virtual void wheel(std::int32_t amount) = 0;
    virtual void hwheel(std::int32_t amount) = 0;
    virtual void key(KeyCode code, bool down) = 0;
    // UTF-16 code units, never empty.
    virtual void type_text(std::span<const char16_t> units) = 0;
    // Ok, or the OS error code.
    virtual Status lock_workstation() = 0;
    // One-shot reset of the system and display idle timers.
    virtual void keep_awake() = 0;
    // Ok once the text is on the clipboard; an error when it could not be set
    // (the clipboard stayed busy): then it still holds the old text.
    virtual Status set_clipboard(std::string_view utf8_text) = 0;
    // Returns at once; the change happens in the background.
    virtual void adjust_brightness(bool up) = 0;
};

// The injector of this OS.
std::unique_ptr<InputSink> make_os_input_sink();

// A line for the host to print once at start-up when this OS build cannot
// inject input; nothing where injection works.
std::optional<std::string_view> input_injection_notice();

}  // namespace korvex
