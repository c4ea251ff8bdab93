#include "app/startup_rules.h"

#include "core/data_files.h"
#include "core/input_commands.h"
#include "platform/file_system.h"

namespace korvex::app {

std::string run_value_text(std::string_view exe_path) { return "\"" + std::string(exe_path) + "\""; }

bool run_value_matches(std::string_view stored, std::string_view exe_path) {
    while (!stored.empty() && stored.back() == '\0') stored.remove_suffix(1);
    std::string expected = run_value_text(exe_path);
    if (stored.size() != expected.size()) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < stored.size(); ++i)
        if (lower(stored[i]) != lower(expected[i])) return false;
    return true;
}

std::vector<std::string> logon_task_query_arguments() { return {"/Query", "/TN", std::string(kLogonTaskName)}; }

std::vector<std::string> logon_task_create_arguments(std::string_view exe_path) {
    return {"/Create", "/TN", std::string(kLogonTaskName), "/TR", run_value_text(exe_path) + " --background",
            "/SC",     "ONLOGON", "/RL", "HIGHEST", "/F"};
}

std::vector<std::string> logon_task_delete_arguments() {
    return {"/Delete", "/TN", std::string(kLogonTaskName), "/F"};
}

std::string elevated_parameters(std::span<const std::string> arguments) {
    std::string out;
    for (const auto& argument : arguments) {
        if (!out.empty()) out.push_back(' ');
        out += quote_windows_argument(argument);
    }
    return out;
}

std::string program_display_name(std::optional<std::string_view> exe_path) {
    if (!exe_path) return "This app";
    std::string_view name = *exe_path;
    if (auto slash = name.find_last_of("\\/"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    // A leading dot is part of the stem, not an extension.
    if (auto dot = name.rfind('.'); dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
    return name.empty() ? "This app" : std::string(name);
}

bool LogonTaskCache::present(const std::function<bool()>& query) {
    {
        std::lock_guard lock(mutex_);
        if (learned_ && now_() - *learned_ < kValidFor) return presence_;
    }
    bool presence = query();
    std::lock_guard lock(mutex_);
    presence_ = presence;
    learned_ = now_();
    return presence;
}

void LogonTaskCache::expect(bool presence) {
    std::lock_guard lock(mutex_);
    presence_ = presence;
    TimePoint now = now_();
    auto back = kValidFor - kExpectedFor;
    // Before the clock's start there is no such moment: then nothing is cached.
    if (now.time_since_epoch() >= back)
        learned_ = now - back;
    else
        learned_.reset();
}

void toggle_logon_task(LogonTaskCache& cache, bool shown_present, std::string_view exe_path,
                       const LogonTaskRunner& runner) {
    cache.expect(!shown_present);
    auto arguments = shown_present ? logon_task_delete_arguments() : logon_task_create_arguments(exe_path);
    if (runner.run(arguments)) return;
    runner.run_elevated(elevated_parameters(arguments));
}

bool TimerResolutionCounter::connected() { return count_.fetch_add(1) == 0; }

bool TimerResolutionCounter::disconnected() {
    unsigned current = count_.load();
    while (current != 0 && !count_.compare_exchange_weak(current, current - 1)) {
    }
    return current == 1;
}

bool take_one_time_notice(FileSystem& fs, const std::string& data_dir, std::string_view marker) {
    std::string path = join_path(data_dir, marker, fs.separator());
    auto existing = fs.read_file(path);
    if (existing && existing->has_value()) return false;
    if (!data_dir.empty()) (void)fs.create_directories(data_dir);
    const std::uint8_t one[] = {'1'};
    (void)fs.write_file_flushed(path, ByteView(one, 1));
    return true;
}

}  // namespace korvex::app
