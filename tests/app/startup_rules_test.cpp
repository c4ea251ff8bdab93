// Start on login: the Run value's comparison, the logon task's command lines
// and cache, the elevated fallback, the prompt's name, the timer counter and
// the one-time notices.
#include <gtest/gtest.h>

#include <chrono>

#include "app/startup_rules.h"
#include "support/fakes.h"

namespace korvex::app {
namespace {

using test::MemoryFileSystem;

using namespace std::chrono_literals;

TEST(RunValue, ComparisonCases) {
    const std::string exe = "C:\\Program Files\\Korvex\\korvex-host.exe";
    struct Case {
        std::string stored;
        bool present;
    };
    const Case cases[] = {
        {"\"C:\\Program Files\\Korvex\\korvex-host.exe\"", true},
        {"\"C:\\Program Files\\Korvex\\korvex-host.exe\"" + std::string(2, '\0'), true},  // NULs from the query
        {"\"c:\\PROGRAM FILES\\korvex\\KORVEX-HOST.EXE\"", true},                         // case only
        {"C:\\Program Files\\Korvex\\korvex-host.exe", false},                             // unquoted
        {"\"D:\\Other\\korvex-host.exe\"", false},                                          // another copy
        {"\"C:\\Program Files\\Korvex\\korvex-host.exe\" --x", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(run_value_matches(c.stored, exe), c.present);
    }
    EXPECT_EQ(run_value_text(exe), "\"C:\\Program Files\\Korvex\\korvex-host.exe\"");
    // Non-ASCII letters are compared exactly.
    EXPECT_FALSE(run_value_matches("\"C:\\\xC3\x89t\xC3\xA9\\k.exe\"", "C:\\\xC3\xA9t\xC3\xA9\\k.exe"));
    EXPECT_EQ(run_value_text(""), "\"\"");
}

TEST(LogonTask, CommandLinesAndElevatedParameters) {
    const std::string exe = "C:\\Program Files\\Korvex\\korvex-host.exe";
    EXPECT_EQ(logon_task_query_arguments(), (std::vector<std::string>{"/Query", "/TN", "KorvexHost"}));
    EXPECT_EQ(logon_task_delete_arguments(), (std::vector<std::string>{"/Delete", "/TN", "KorvexHost", "/F"}));
    auto create = logon_task_create_arguments(exe);
    EXPECT_EQ(create, (std::vector<std::string>{"/Create", "/TN", "KorvexHost", "/TR",
                                                "\"" + exe + "\" --background", "/SC", "ONLOGON", "/RL",
                                                "HIGHEST", "/F"}));
    EXPECT_EQ(elevated_parameters(create),
              "/Create /TN KorvexHost /TR \"\\\"C:\\Program Files\\Korvex\\korvex-host.exe\\\" --background\" "
              "/SC ONLOGON /RL HIGHEST /F");
    struct Case {
        std::vector<std::string> arguments;
        std::string parameters;
    };
    const Case cases[] = {
        {{"a b", "c"}, "\"a b\" c"},
        {{"say \"hi\""}, "\"say \\\"hi\\\"\""},
        // Backslashes before a quote are doubled so the quote stays a quote.
        {{"C:\\dir with space\\"}, "\"C:\\dir with space\\\\\""},
        {{"x\\\"y"}, "\"x\\\\\\\"y\""},
        // An empty argument stays an argument.
        {{"/TR", ""}, "/TR \"\""},
        {{"plain"}, "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(elevated_parameters(c.arguments), c.parameters);
}

struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    LogonTaskCache::Now seam() {
        return [this] { return now; };
    }
};

TEST(LogonTask, CacheRunsOneQueryPerMinuteAndShowsAToggleForFiveSeconds) {
    FakeClock clock;
    LogonTaskCache cache(clock.seam());
    int queries = 0;
    bool real = false;
    auto query = [&] {
        ++queries;
        return real;
    };
    EXPECT_FALSE(cache.present(query));
    clock.now += 59s;
    real = true;
    EXPECT_FALSE(cache.present(query));  // second menu opening within 60 s
    EXPECT_EQ(queries, 1);
    clock.now += 1s;
    EXPECT_TRUE(cache.present(query));
    EXPECT_EQ(queries, 2);

    // A toggle from "present" whose tool run fails and whose elevation is
    // declined: "absent" shows for 5 s, then the tool is asked again.
    std::vector<std::vector<std::string>> runs;
    std::vector<std::string> elevated;
    LogonTaskRunner runner{[&](std::span<const std::string> a) {
                               runs.emplace_back(a.begin(), a.end());
                               return false;
                           },
                           [&](const std::string& p) { elevated.push_back(p); }};
    toggle_logon_task(cache, true, "C:\\k.exe", runner);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], logon_task_delete_arguments());
    EXPECT_EQ(elevated, (std::vector<std::string>{"/Delete /TN KorvexHost /F"}));
    clock.now += 4s;
    EXPECT_FALSE(cache.present(query));
    EXPECT_EQ(queries, 2);
    clock.now += 1s;
    EXPECT_TRUE(cache.present(query));
    EXPECT_EQ(queries, 3);

    // A successful unelevated create needs no elevation.
    runner.run = [&](std::span<const std::string> a) {
        runs.emplace_back(a.begin(), a.end());
        return true;
    };
    toggle_logon_task(cache, false, "C:\\k.exe", runner);
    EXPECT_EQ(runs.back()[0], "/Create");
    EXPECT_EQ(elevated.size(), 1u);
}

TEST(LogonTask, ToggleNearTheClocksStartCachesNothing) {
    FakeClock clock;
    clock.now = std::chrono::steady_clock::time_point(10s);
    LogonTaskCache cache(clock.seam());
    cache.expect(true);
    int queries = 0;
    EXPECT_FALSE(cache.present([&] {
        ++queries;
        return false;
    }));
    EXPECT_EQ(queries, 1);
}

TEST(ProgramName, StemOrThisApp) {
    struct Case {
        std::optional<std::string_view> path;
        std::string name;
    };
    const Case cases[] = {
        {"C:\\Apps\\foo.bar.exe", "foo.bar"},
        {"C:\\Apps\\korvex-host.exe", "korvex-host"},
        {"C:\\Apps\\noext", "noext"},
        {"C:\\Apps\\.exe", ".exe"},
        {"C:\\Apps\\", "This app"},
        {"", "This app"},
        {std::nullopt, "This app"},
    };
    for (const auto& c : cases) EXPECT_EQ(program_display_name(c.path), c.name);
}

TEST(TimerResolution, OnWhileAnySessionIsEstablished) {
    TimerResolutionCounter counter;
    EXPECT_TRUE(counter.connected());    // 0 -> 1: switch on
    EXPECT_FALSE(counter.connected());   // second session
    EXPECT_FALSE(counter.disconnected());  // one left: stays on
    EXPECT_TRUE(counter.disconnected());   // last: switch off
    EXPECT_FALSE(counter.disconnected());  // extra at zero: nothing
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_TRUE(counter.connected());
}

TEST(OneTimeNotice, MarkerWrittenFirstAndOnlyOnce) {
    MemoryFileSystem fs;
    EXPECT_TRUE(take_one_time_notice(fs, "data", "startup_prompted"));
    EXPECT_EQ(fs.files.at("data/startup_prompted"), Bytes{'1'});
    EXPECT_FALSE(take_one_time_notice(fs, "data", "startup_prompted"));
    // A marker that cannot be written: the notice comes back next time.
    fs.fail_write = true;
    EXPECT_TRUE(take_one_time_notice(fs, "data", "vigem_notified"));
    EXPECT_TRUE(take_one_time_notice(fs, "data", "vigem_notified"));
}

}  // namespace
}  // namespace korvex::app
