// korvex-remote as a process, through the shell: exit codes and what it
// says where only a real process shows it (its version, a full disk).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "korvex_version.h"
#include "net/posix/temp_dir.h"

namespace korvex::test {
namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

// Runs `arguments` (shell text) after the program, its folder in `dir`.
Outcome run_remote(const TempDir& dir, const std::string& arguments) {
    const std::string out_file = dir.path() + "/stdout", err_file = dir.path() + "/stderr";
    std::string command = "KORVEX_REMOTE_DIR='" + dir.path() + "/cfg' '" KORVEX_REMOTE_PROGRAM "' " + arguments;
    if (arguments.find('>') == std::string::npos) command += " >'" + out_file + "'";
    command += " 2>'" + err_file + "' </dev/null";
    Outcome outcome;
    int status = std::system(command.c_str());
    if (status != -1 && WIFEXITED(status)) outcome.exit = WEXITSTATUS(status);
    auto slurp = [](const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    };
    outcome.out = slurp(out_file);
    outcome.err = slurp(err_file);
    return outcome;
}

TEST(RemoteProcess, ExitCodesAndMessages) {
    TempDir dir("korvex-remote");
    ASSERT_FALSE(dir.path().empty());
    struct Case {
        std::string arguments;
        int exit;
        std::string out, err;  // exactly, or a part of standard error when it starts with "..."
    };
    const Case cases[] = {
        {"--version", 0, "korvex-remote " + std::string(kVersion) + "\n", ""},
        {"", 2, "", "Usage: korvex-remote COMMAND [ARGUMENTS] [OPTIONS]\nTry \"korvex-remote --help\".\n"},
        {"fly", 2, "", "korvex-remote: unknown command \"fly\"\nTry \"korvex-remote --help\".\n"},
        {"ping --timeout 0", 2, "",
         "korvex-remote: --timeout takes seconds from 0.001 to 3600, not \"0\"\nTry \"korvex-remote --help\".\n"},
        {"hosts", 0, "No paired hosts.\n", ""},
        {"ping", 1, "",
         "korvex-remote: no host is paired yet: run \"korvex-remote pair URI\" first, or give --host\n"},
        // What the shell leaves of an unquoted URI: it runs the command at the
        // first "&" in the background and makes the rest variables.
        {"pair 'korvex://pair?v=1'", 2, "", "...put it in single quotes"},
    };
    for (const auto& c : cases) {
        Outcome got = run_remote(dir, c.arguments);
        EXPECT_EQ(got.exit, c.exit) << c.arguments << ": " << got.err;
        EXPECT_EQ(got.out, c.out) << c.arguments;
        if (c.err.starts_with("..."))
            EXPECT_NE(got.err.find(c.err.substr(3)), std::string::npos) << c.arguments << ": " << got.err;
        else
            EXPECT_EQ(got.err, c.err) << c.arguments;
    }
}

TEST(RemoteProcess, OutputToAFullDiskFails) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir("korvex-remote");
    for (std::string arguments : {"hosts >/dev/full", "--version >/dev/full", "keys >/dev/full"}) {
        Outcome got = run_remote(dir, arguments);
        EXPECT_EQ(got.exit, 1) << arguments;
        EXPECT_EQ(got.err, "korvex-remote: cannot write the output\n") << arguments;
    }
}

}  // namespace
}  // namespace korvex::test
