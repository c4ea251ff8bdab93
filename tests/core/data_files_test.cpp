#include "core/data_files.h"

#include <gtest/gtest.h>

#include "core/time.h"
#include "support/fakes.h"

namespace korvex {
namespace {

TEST(DataDir, ResolutionRules) {
    struct Case {
        std::map<std::string, std::string, std::less<>> vars;
        char sep;
        const char* expected;
    };
    const Case cases[] = {
        {{{"RC_DATA_DIR", "D:\\data"}, {"APPDATA", "C:\\AppData"}}, '\\', "D:\\data"},
        {{{"RC_DATA_DIR", ""}, {"APPDATA", "C:\\AppData"}}, '\\', ""},
        {{{"APPDATA", "C:\\Users\\x\\AppData\\Roaming"}}, '\\', "C:\\Users\\x\\AppData\\Roaming\\Korvex"},
        {{{"HOME", "C:\\Users\\x"}}, '\\', "C:\\Users\\x\\.config\\Korvex"},
        {{}, '\\', ".\\.config\\Korvex"},
        {{{"HOME", "/home/x"}}, '/', "/home/x/.config/Korvex"},
        {{{"HOME", "/home/x/"}}, '/', "/home/x/.config/Korvex"},
        {{{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/x"}}, '/', "/cfg/Korvex"},
        {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/x"}}, '/', "/home/x/.config/Korvex"},
        {{{"RC_DATA_DIR", "/d"}, {"XDG_CONFIG_HOME", "/cfg"}}, '/', "/d"},
    };
    for (const auto& c : cases) {
        test::FakeEnvironment env;
        env.vars = c.vars;
        EXPECT_EQ(data_dir(env, c.sep), c.expected);
    }
}

TEST(DataDir, SiblingNames) {
    struct Case {
        const char* path;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\k\\host_identity.bin", "tmp", "C:\\k\\host_identity.tmp"},
        {"/k/paired_devices.json", "tmp", "/k/paired_devices.tmp"},
        {"/k/paired_devices.json", "json.rejected", "/k/paired_devices.json.rejected"},
        {"/k/host_identity.bin", "bin.rejected", "/k/host_identity.bin.rejected"},
        {"/k.d/startup_prompted", "tmp", "/k.d/startup_prompted.tmp"},
        {"/k/.hidden", "tmp", "/k/.hidden.tmp"},
        {"archive.tar.gz", "tmp", "archive.tar.tmp"},
        {"host_identity.bin", "tmp", "host_identity.tmp"},
    };
    for (const auto& c : cases) EXPECT_EQ(with_extension(c.path, c.ext), c.expected) << c.path;
    EXPECT_EQ(join_path("", "x", '\\'), "x");
    EXPECT_EQ(join_path("C:\\", "x", '\\'), "C:\\x");
}

TEST(WriteAtomically, WritesTheTmpSiblingThenRenames) {
    test::MemoryFileSystem fs;
    fs.files["/d/paired_devices.json"] = test::bytes_of("old");
    ASSERT_TRUE(write_atomically(fs, "/d/paired_devices.json", as_bytes("new")));
    EXPECT_EQ(fs.text("/d/paired_devices.json"), "new");
    EXPECT_EQ(fs.files.count("/d/paired_devices.tmp"), 0u);

    fs.fail_rename = true;
    EXPECT_FALSE(write_atomically(fs, "/d/paired_devices.json", as_bytes("newer")));
    EXPECT_EQ(fs.text("/d/paired_devices.json"), "new");
    EXPECT_EQ(fs.text("/d/paired_devices.tmp"), "newer");  // left behind, not removed

    fs.fail_rename = false;
    fs.fail_write = true;
    EXPECT_FALSE(write_atomically(fs, "/d/paired_devices.json", as_bytes("newest")));
    EXPECT_EQ(fs.text("/d/paired_devices.json"), "new");
}

TEST(UnixTime, FromFiletime) {
    constexpr std::uint64_t epoch = 116444736000000000ULL;
    EXPECT_EQ(unix_seconds_from_filetime(0), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch - 1), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 5000000), 0u);   // 00:00:00.5
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 15000000), 1u);  // one second later
    EXPECT_EQ(unix_seconds_from_filetime(epoch + 17000000000000000ULL), 1700000000u);
}

}  // namespace
}  // namespace korvex
