// run_child: the one way the Linux host runs a helper program.
#include "platform/posix/child_process.h"

#include <gtest/gtest.h>

#include <chrono>

namespace korvex::posix {
namespace {

using namespace std::chrono_literals;

TEST(RunChild, OutcomesTable) {
    struct Case {
        std::vector<std::string> argv;
        std::chrono::milliseconds limit;
        std::size_t max_output;
        int exit_code;            // when it succeeds
        std::string output;       // when it succeeds
        std::string error_start;  // empty: succeeds
    };
    const Case cases[] = {
        {{"true"}, 5000ms, 16, 0, "", ""},
        {{"sh", "-c", "exit 3"}, 5000ms, 16, 3, "", ""},
        {{"sh", "-c", "echo hi; echo dropped >&2"}, 5000ms, 16, 0, "hi\n", ""},
        {{"sh", "-c", "echo 0123456789abcdef0"}, 5000ms, 16, 0, "", "sh wrote too much and was stopped"},
        {{"sh", "-c", "sleep 30"}, 200ms, 16, 0, "", "sh did not finish in time and was stopped"},
        // The time limit holds even when the program keeps its output open
        // through a child of its own: the whole group goes.
        {{"sh", "-c", "sleep 30 & wait"}, 200ms, 16, 0, "", "sh did not finish in time and was stopped"},
        {{"sh", "-c", "kill -TERM $$"}, 5000ms, 16, 0, "", "sh ended by a signal"},
        {{"korvex-no-such-program"}, 5000ms, 16, 0, "", "could not start korvex-no-such-program"},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        auto ran = run_child(c.argv, c.limit, c.max_output);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 20s) << c.argv.back();  // stopped at the limit, not after the 30 s sleep
        if (c.error_start.empty()) {
            ASSERT_TRUE(ran) << c.argv.back() << ": " << ran.error().text;
            EXPECT_EQ(ran->exit_code, c.exit_code) << c.argv.back();
            EXPECT_EQ(ran->standard_output, c.output) << c.argv.back();
        } else {
            ASSERT_FALSE(ran) << c.argv.back();
            EXPECT_TRUE(ran.error().text.starts_with(c.error_start)) << c.argv.back() << ": " << ran.error().text;
        }
    }
}

}  // namespace
}  // namespace korvex::posix
