#pragma once
// Lock and brightness on a Linux desktop. Lock runs the desktop's own tool
// (xdg-screensaver, else loginctl) on a thread of its own; brightness steps
// the first backlight device by a tenth. What is unavailable is reported
// once through the notice function and otherwise ignored.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"

namespace korvex::posix {

class DesktopActions {
public:
    // Runs a program found on PATH with arguments and returns its exit code
    // (-1 when it could not run); called on a background thread.
    using Runner = std::function<int(const std::vector<std::string>& argv)>;
    using Notice = std::function<void(const std::string&)>;

    DesktopActions(Notice notice, std::string backlight_root, Runner runner = run_program);

    // Ok when a lock tool exists (it then runs in the background); else the
    // reason, reported once.
    Status lock();
    void adjust_brightness(bool up);

    // The programs tried in order to lock the session.
    static const std::vector<std::vector<std::string>>& lock_commands();
    static int run_program(const std::vector<std::string>& argv);
    static bool on_path(const std::string& program);

private:
    void notice_once(std::atomic<bool>& flag, const std::string& text) const;

    Notice notice_;
    std::string backlight_root_;
    Runner runner_;
    // Shared with the background lock thread, which may outlive this object.
    std::shared_ptr<std::atomic<bool>> lock_noticed_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> brightness_noticed_{false};
};

}  // namespace korvex::posix
