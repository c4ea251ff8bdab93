// The runtime's threads as the kernel sees them: every thread has its role,
// and the input thread asks for the short time slice that lets it preempt a
// busy core when a datagram arrives.
#include <sys/utsname.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "net/host.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

std::string read_line(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Thread name -> tids of this process.
std::multimap<std::string, std::string> threads_by_name() {
    std::multimap<std::string, std::string> threads;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        threads.emplace(read_line(task.path() / "comm"), task.path().filename().string());
    return threads;
}

// The thread's time slice in ns, where the kernel reports it.
std::optional<long long> slice_ns(const std::string& tid) {
    std::ifstream in("/proc/self/task/" + tid + "/sched");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("se.slice", 0) != 0) continue;
        return std::stoll(line.substr(line.find(':') + 1));
    }
    return std::nullopt;
}

// Custom slices for ordinary threads came with Linux 6.12.
bool kernel_honours_custom_slices() {
    utsname name{};
    if (uname(&name) != 0) return false;
    int major = 0, minor = 0;
    if (std::sscanf(name.release, "%d.%d", &major, &minor) != 2) return false;
    return major > 6 || (major == 6 && minor >= 12);
}

TEST(HostRuntime, EveryThreadTakesItsRole) {
    net::HostRuntime runtime(4, 3);
    runtime.start();
    std::multimap<std::string, std::string> threads;
    // The pool threads take their roles as their first job, a moment after
    // they start.
    EXPECT_TRUE(eventually([&] {
        threads = threads_by_name();
        return threads.count("korvex-net") == 4 + 3 && threads.count("korvex-input") == 1;
    })) << "net threads " << threads.count("korvex-net") << ", input threads " << threads.count("korvex-input");
    auto input = threads.find("korvex-input");
    auto net = threads.find("korvex-net");
    ASSERT_NE(input, threads.end());
    ASSERT_NE(net, threads.end());
    const auto input_slice = slice_ns(input->second), net_slice = slice_ns(net->second);
    runtime.stop();

    if (!input_slice || !kernel_honours_custom_slices()) GTEST_SKIP() << "this kernel keeps one slice for every thread";
    EXPECT_EQ(input_slice, 100'000);
    // The others keep the kernel's own.
    EXPECT_NE(net_slice, 100'000);
}

}  // namespace
}  // namespace korvex::test
