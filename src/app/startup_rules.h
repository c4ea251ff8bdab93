#pragma once
// The rules of starting with Windows, kept apart from the registry and the
// Task Scheduler: the Run value and its comparison, the logon task's command
// lines, the task cache over a clock seam, the elevated fallback's
// parameters, the name the prompts use, and the timer-resolution counter of
// the event sink.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::app {

inline constexpr std::string_view kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kRunValueName = "Korvex";
inline constexpr std::string_view kLogonTaskName = "KorvexHost";
inline constexpr std::string_view kStartupPromptMarker = "startup_prompted";
inline constexpr std::string_view kPadNoticeMarker = "vigem_notified";

// The Run value for the running program: its path in double quotes.
std::string run_value_text(std::string_view exe_path);

// Whether a stored Run value (trailing NULs allowed) names this program:
// the same length and equal but for the case of ASCII letters.
bool run_value_matches(std::string_view stored, std::string_view exe_path);

std::vector<std::string> logon_task_query_arguments();
std::vector<std::string> logon_task_create_arguments(std::string_view exe_path);
std::vector<std::string> logon_task_delete_arguments();

// The arguments as one parameter text for an elevated launch, each quoted so
// that the tool's command-line parsing gives it back unchanged.
std::string elevated_parameters(std::span<const std::string> arguments);

// The name the prompts show: the executable's file name without its last
// extension; "This app" when the path is unknown or the stem is empty.
std::string program_display_name(std::optional<std::string_view> exe_path);

// What the logon task's presence was last seen as, valid for 60 seconds.
class LogonTaskCache {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Now = std::function<TimePoint()>;
    static constexpr std::chrono::seconds kValidFor{60};
    // After a toggle the expected state shows this long before asking again.
    static constexpr std::chrono::seconds kExpectedFor{5};

    explicit LogonTaskCache(Now now) : now_(std::move(now)) {}

    // The cached presence while valid, else runs `query` (without holding
    // the lock) and remembers its answer.
    bool present(const std::function<bool()>& query);
    // Shows `presence` until kExpectedFor has passed.
    void expect(bool presence);

private:
    Now now_;
    std::mutex mutex_;
    bool presence_ = false;
    std::optional<TimePoint> learned_;
};

// Switches the logon task from the state the menu showed: the cache shows
// the expected state at once; the tool runs unelevated first and, when that
// fails, elevated without waiting.
struct LogonTaskRunner {
    std::function<bool(std::span<const std::string>)> run;  // waits; true on exit code 0
    std::function<void(const std::string& parameters)> run_elevated;
};
void toggle_logon_task(LogonTaskCache& cache, bool shown_present, std::string_view exe_path,
                       const LogonTaskRunner& runner);

// The 1 ms system timer resolution stays on while at least one session is
// established: these say when to switch it.
class TimerResolutionCounter {
public:
    // True when this connection is the first (switch on).
    bool connected();
    // True when this was the last one (switch off); at zero nothing changes.
    bool disconnected();
    unsigned count() const { return count_.load(); }

private:
    std::atomic<unsigned> count_{0};
};

}  // namespace korvex::app

namespace korvex {
class FileSystem;
}

namespace korvex::app {

// A one-time notice is due when its marker file is missing from the data
// folder (a failure to look counts as missing). The marker ("1") is written
// before the notice shows, errors ignored: if it cannot be written, the
// notice comes back at the next start.
bool take_one_time_notice(FileSystem& fs, const std::string& data_dir, std::string_view marker);

}  // namespace korvex::app
