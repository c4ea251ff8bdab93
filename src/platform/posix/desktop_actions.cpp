#include "platform/posix/desktop_actions.h"

#include "platform/posix/child_process.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace korvex::posix {

DesktopActions::DesktopActions(Notice notice, std::string backlight_root, Runner runner)
    : notice_(std::move(notice)), backlight_root_(std::move(backlight_root)), runner_(std::move(runner)) {}

const std::vector<std::vector<std::string>>& DesktopActions::lock_commands() {
    static const std::vector<std::vector<std::string>> commands = {{"xdg-screensaver", "lock"},
                                                                   {"loginctl", "lock-session"}};
    return commands;
}

bool DesktopActions::on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

int DesktopActions::run_program(const std::vector<std::string>& argv) {
    // A lock tool that hangs (waiting on a session bus) must not keep its
    // thread for ever.
    auto ran = run_child(argv, std::chrono::seconds(30), 64 * 1024);
    return ran ? ran->exit_code : -1;
}

void DesktopActions::notice_once(std::atomic<bool>& flag, const std::string& text) const {
    if (flag.exchange(true) || !notice_) return;
    notice_(text);
}

Status DesktopActions::lock() {
    std::vector<std::vector<std::string>> present;
    for (const auto& command : lock_commands())
        if (on_path(command.front())) present.push_back(command);
    if (present.empty()) {
        std::string text = "Locking the screen is not available: neither xdg-screensaver nor loginctl is installed.";
        notice_once(*lock_noticed_, text);
        return fail(text);
    }
    // The tools may take a while (or wait on a session bus); the caller holds
    // the input lock, so they run elsewhere and only a total failure is told.
    std::thread([flag = lock_noticed_, notice = notice_, runner = runner_, present] {
        for (const auto& command : present)
            if (runner(command) == 0) return;
        if (!flag->exchange(true) && notice)
            notice("Locking the screen failed: the desktop refused xdg-screensaver and loginctl.");
    }).detach();
    return {};
}

void DesktopActions::adjust_brightness(bool up) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> devices;
    for (fs::directory_iterator it(backlight_root_, ec), end; !ec && it != end; it.increment(ec))
        devices.push_back(it->path());
    std::sort(devices.begin(), devices.end());
    if (devices.empty()) {
        notice_once(brightness_noticed_, "Brightness is not adjustable here: no backlight device in " + backlight_root_ + ".");
        return;
    }
    const fs::path& device = devices.front();
    long max = 0, current = 0;
    std::ifstream(device / "max_brightness") >> max;
    std::ifstream(device / "brightness") >> current;
    if (max <= 0) {
        notice_once(brightness_noticed_, "Brightness is not adjustable here: " + device.string() + " gives no maximum.");
        return;
    }
    long step = std::max(1L, max / 10);
    long target = std::clamp(current + (up ? step : -step), 0L, max);
    std::ofstream out(device / "brightness");
    out << target;
    out.flush();
    if (!out) {
        notice_once(brightness_noticed_, "Brightness could not be changed: " + (device / "brightness").string() +
                                             " is not writable by this user.");
    }
}

}  // namespace korvex::posix
