// The real Linux seams: files, modes, environment and the identity on disk.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/data_files.h"
#include "core/identity.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex {
namespace {

class PosixFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/korvex-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    static mode_t mode_of(const std::string& path) {
        struct stat st{};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 0777;
    }
    std::string root;
    FileSystem& fs = os_file_system();
};

TEST_F(PosixFiles, WriteAtomicallyReplacesAndLeavesNoTemporary) {
    std::string path = root + "/paired_devices.json";
    ASSERT_TRUE(write_atomically(fs, path, as_bytes("first")));
    ASSERT_TRUE(write_atomically(fs, path, as_bytes("second")));
    auto read = fs.read_file(path);
    ASSERT_TRUE(read && *read);
    EXPECT_EQ(as_text(**read), "second");
    EXPECT_FALSE(std::filesystem::exists(root + "/paired_devices.tmp"));
    EXPECT_EQ(mode_of(path), 0600u);
}

TEST_F(PosixFiles, LinkPlantedAtTheTemporaryNameIsNotFollowed) {
    std::string path = root + "/paired_devices.json";
    std::string target = root + "/elsewhere";
    ASSERT_TRUE(fs.write_file_flushed(target, as_bytes("untouched")));
    ::chmod(target.c_str(), 0644);
    ASSERT_EQ(::symlink(target.c_str(), (root + "/paired_devices.tmp").c_str()), 0);
    ASSERT_TRUE(write_atomically(fs, path, as_bytes("secret")));
    auto kept = fs.read_file(target);
    ASSERT_TRUE(kept && *kept);
    EXPECT_EQ(as_text(**kept), "untouched");
    EXPECT_EQ(mode_of(target), 0644u) << "the link's target keeps its own mode too";
    auto written = fs.read_file(path);
    ASSERT_TRUE(written && *written);
    EXPECT_EQ(as_text(**written), "secret");
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root + "/paired_devices.tmp")));
}

TEST_F(PosixFiles, StaleTemporaryWithAWideModeIsReplacedOwnerOnly) {
    std::string tmp = root + "/gamepad_mapping.tmp";
    ASSERT_TRUE(fs.write_file_flushed(tmp, as_bytes("left over")));
    ::chmod(tmp.c_str(), 0666);
    ASSERT_TRUE(fs.write_file_flushed(tmp, as_bytes("new")));
    EXPECT_EQ(mode_of(tmp), 0600u);
    auto read = fs.read_file(tmp);
    ASSERT_TRUE(read && *read);
    EXPECT_EQ(as_text(**read), "new");
}

TEST_F(PosixFiles, ExistingDataFolderIsNarrowedToItsOwner) {
    std::string dir = root + "/Korvex";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0775), 0);
    ASSERT_TRUE(fs.create_directories(dir));
    EXPECT_EQ(mode_of(dir), 0700u);
    auto protector = make_os_secret_protector();
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_TRUE(load_or_create_identity(fs, *protector, os_random(), dir));
    EXPECT_EQ(mode_of(dir), 0700u) << "the identity's creation narrows it too";
}

TEST_F(PosixFiles, MissingUnreadableAndFolders) {
    auto missing = fs.read_file(root + "/nothing");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(*missing);
    std::string nested = root + "/a/b/c";
    ASSERT_TRUE(fs.create_directories(nested));
    ASSERT_TRUE(fs.create_directories(nested));  // existing is fine
    EXPECT_EQ(mode_of(root + "/a/b"), 0700u);
    ASSERT_TRUE(fs.write_file_flushed(root + "/file", as_bytes("x")));
    EXPECT_FALSE(fs.create_directories(root + "/file/sub"));
    EXPECT_FALSE(fs.read_file(nested));  // a folder is not a readable file
    EXPECT_FALSE(fs.rename_replace(root + "/nothing", root + "/else"));
}

TEST_F(PosixFiles, IdentityCreatedInAPrivateFolderAndReadBack) {
    std::string dir = root + "/cfg/Korvex";
    auto protector = make_os_secret_protector();
    auto created = load_or_create_identity(fs, *protector, os_random(), dir);
    ASSERT_TRUE(created);
    EXPECT_EQ(mode_of(dir), 0700u);
    EXPECT_EQ(mode_of(dir + "/host_identity.bin"), 0600u);
    auto loaded = load_or_create_identity(fs, *protector, os_random(), dir);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->host_id, created->host_id);
    EXPECT_EQ(loaded->seed, created->seed);
}

TEST(PosixServices, EnvironmentRandomAndClock) {
    ::setenv("KORVEX_TEST_VAR", "caf\xc3\xa9", 1);
    EXPECT_EQ(os_environment().get("KORVEX_TEST_VAR"), "caf\xc3\xa9");
    ::setenv("KORVEX_TEST_VAR", "bad\xff", 1);
    EXPECT_EQ(os_environment().get("KORVEX_TEST_VAR"), std::nullopt);
    ::unsetenv("KORVEX_TEST_VAR");
    EXPECT_EQ(os_environment().get("KORVEX_TEST_VAR"), std::nullopt);

    ByteArray<32> a{}, b{};
    os_random().fill(a);
    os_random().fill(b);
    EXPECT_NE(a, b);
    EXPECT_GT(system_clock().unix_now(), 1700000000u);
}

}  // namespace
}  // namespace korvex
