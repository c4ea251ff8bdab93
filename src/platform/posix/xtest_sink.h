#pragma once
// The Linux injector on X11 (and XWayland windows): keys, text, pointer and
// wheel through the XTEST extension on a connection of its own, the
// CLIPBOARD selection from an owner thread, and lock, keep-awake and
// brightness through the desktop's usual interfaces.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/error.h"
#include "platform/input_sink.h"

namespace korvex::posix {

// Receives one-line notices (a desktop action that is unavailable), each
// kind at most once per sink; may be called from any thread.
using NoticeFn = std::function<void(const std::string&)>;

struct XTestSinkOptions {
    std::string display;                             // as in DISPLAY
    NoticeFn notices;                                // may be empty
    std::string backlight_root = "/sys/class/backlight";
};

// Opens the display and checks for XTEST; the error says why not.
Result<std::unique_ptr<InputSink>> open_xtest_sink(XTestSinkOptions options);

// The sink this host uses: XTest when DISPLAY opens, else the null sink.
struct ChosenInputSink {
    std::unique_ptr<InputSink> sink;
    std::string description;            // for the status line: "XTest on display :1" or "none (why)"
    std::optional<std::string> notice;  // the one line printed at start-up when input is not applied
};
ChosenInputSink choose_input_sink(NoticeFn notices);

// The sink that drops everything, for a host without a display.
std::unique_ptr<InputSink> make_null_input_sink();

}  // namespace korvex::posix
