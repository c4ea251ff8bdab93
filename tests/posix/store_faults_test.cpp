// A store save that does not finish, on a real disk: whatever stops it (a
// crash after the temporary file, a write cut short, a failed rename, a
// read-only folder, a full disk), the previous paired_devices.json stays as
// it was and the next load still returns the previous clients.
//
// The mount cases need mount(2) (root, or a user namespace); they skip
// where it is refused. The read-only permission case skips where the
// process can write anyway (root).
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/data_files.h"
#include "core/store.h"
#include "platform/file_system.h"

namespace korvex {
namespace {

namespace stdfs = std::filesystem;

PairedClientRecord client(std::string id, std::uint64_t t) {
    return {std::move(id), "Phone " + std::to_string(t), "Pixel 8", std::string(64, 'c'), t, t + 10, "192.168.1.7"};
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_text(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The real file system with one operation made to fail.
class FaultyFileSystem final : public FileSystem {
public:
    enum class Fault { None, WriteCutShort, RenameFails };
    Fault fault = Fault::None;

    char separator() const override { return real_.separator(); }
    Result<std::optional<Bytes>> read_file(const std::string& path) override { return real_.read_file(path); }
    Status write_file_flushed(const std::string& path, ByteView data) override {
        if (fault == Fault::WriteCutShort) {
            // What a crash or a lost disk leaves: the first half, then an error.
            (void)real_.write_file_flushed(path, data.first(data.size() / 2));
            return fail("write cut short (test)", EIO);
        }
        return real_.write_file_flushed(path, data);
    }
    Status rename_replace(const std::string& from, const std::string& to) override {
        if (fault == Fault::RenameFails) return fail("rename refused (test)", EACCES);
        return real_.rename_replace(from, to);
    }
    Status create_directories(const std::string& path) override { return real_.create_directories(path); }

private:
    FileSystem& real_ = os_file_system();
};

class StoreFaults : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/korvex-store-faults-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
        dir = root + "/data";
        seed.fill(0x42);
        previous = {client("phone-1", 1700000000), client("tablet-2", 1700000100)};
    }

    void TearDown() override {
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
        ::chmod(dir.c_str(), 0700);
        stdfs::remove_all(root);
    }

    std::string path() const { return dir + "/paired_devices.json"; }
    std::string tmp() const { return dir + "/paired_devices.tmp"; }
    std::string rejected() const { return dir + "/paired_devices.json.rejected"; }

    PairedStore store_with(std::vector<PairedClientRecord> clients) {
        PairedStore store = load_store(os_file_system(), dir, seed);
        store.clients = std::move(clients);
        return store;
    }

    // The previous save, which completed.
    void save_previous() {
        ASSERT_TRUE(save_store(os_file_system(), store_with(previous)));
        previous_text = read_text(path());
        ASSERT_FALSE(previous_text.empty());
    }

    // The file is byte for byte the previous one and loads as the previous
    // clients, without being moved aside.
    void expect_previous_intact() {
        EXPECT_EQ(read_text(path()), previous_text);
        EXPECT_EQ(load_store(os_file_system(), dir, seed).clients, previous);
        EXPECT_TRUE(stdfs::exists(path()));
        EXPECT_FALSE(stdfs::exists(rejected()));
    }

    // A tmpfs of `size` over the data folder; false where mounting is refused.
    bool mount_tmpfs(const char* size) {
        std::string options = std::string("size=") + size + ",mode=0700";
        if (::mount("korvex-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            mount_error = std::strerror(errno);
            return false;
        }
        mounted = true;
        return true;
    }

    std::string root, dir;
    Key32 seed{};
    std::vector<PairedClientRecord> previous;
    std::string previous_text;
    bool mounted = false;
    std::string mount_error;
};

TEST_F(StoreFaults, LeftoverPartialTemporaryFileIsIgnoredThenReplaced) {
    save_previous();
    // A save that died while writing its temporary file.
    write_text(tmp(), previous_text.substr(0, previous_text.size() / 3));
    expect_previous_intact();

    std::vector<PairedClientRecord> next = {client("phone-3", 1700000200)};
    ASSERT_TRUE(save_store(os_file_system(), store_with(next)));
    EXPECT_FALSE(stdfs::exists(tmp()));
    EXPECT_EQ(load_store(os_file_system(), dir, seed).clients, next);
}

TEST_F(StoreFaults, CompleteTemporaryFileNotYetRenamedIsNotLoaded) {
    save_previous();
    // A save that died between writing and renaming: the newer list is only
    // in the temporary file, and the host goes on with the previous one.
    write_text(tmp(), store_file_text(derive_store_key(seed), {client("phone-3", 1700000200)}));
    expect_previous_intact();
    EXPECT_TRUE(stdfs::exists(tmp()));
}

TEST_F(StoreFaults, WriteCutShortLeavesThePreviousFile) {
    save_previous();
    FaultyFileSystem faulty;
    faulty.fault = FaultyFileSystem::Fault::WriteCutShort;
    auto saved = save_store(faulty, store_with({client("phone-3", 1700000200)}));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().os_code, static_cast<std::uint32_t>(EIO));
    // The half-written temporary file stays (the host does not clean up).
    EXPECT_TRUE(stdfs::exists(tmp()));
    expect_previous_intact();
}

TEST_F(StoreFaults, FailedRenameLeavesThePreviousFile) {
    save_previous();
    FaultyFileSystem faulty;
    faulty.fault = FaultyFileSystem::Fault::RenameFails;
    std::vector<PairedClientRecord> next = {client("phone-3", 1700000200)};
    ASSERT_FALSE(save_store(faulty, store_with(next)));
    EXPECT_EQ(read_text(tmp()), store_file_text(derive_store_key(seed), next));
    expect_previous_intact();
}

TEST_F(StoreFaults, ReadOnlyFolderRefusesTheSave) {
    save_previous();
    ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
    if (::access(dir.c_str(), W_OK) == 0) GTEST_SKIP() << "this process may write to a read-only folder (root)";
    auto saved = save_store(os_file_system(), store_with({client("phone-3", 1700000200)}));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().os_code, static_cast<std::uint32_t>(EACCES));
    EXPECT_FALSE(stdfs::exists(tmp()));
    expect_previous_intact();
}

TEST_F(StoreFaults, ReadOnlyMountRefusesTheSave) {
    ASSERT_TRUE(stdfs::create_directories(dir));
    if (!mount_tmpfs("64k")) GTEST_SKIP() << "cannot mount a tmpfs here: " << mount_error;
    save_previous();
    // Read-only even for root.
    ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, "size=64k"), 0)
        << std::strerror(errno);
    auto saved = save_store(os_file_system(), store_with({client("phone-3", 1700000200)}));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().os_code, static_cast<std::uint32_t>(EROFS));
    EXPECT_FALSE(stdfs::exists(tmp()));
    EXPECT_EQ(read_text(path()), previous_text);
    EXPECT_EQ(load_store(os_file_system(), dir, seed).clients, previous);
}

TEST_F(StoreFaults, FullDiskLeavesThePreviousFileAndRecovers) {
    ASSERT_TRUE(stdfs::create_directories(dir));
    if (!mount_tmpfs("16k")) GTEST_SKIP() << "cannot mount a tmpfs here: " << mount_error;
    save_previous();
    // About 50 KB of file text: more than the 16 KB disk holds.
    std::vector<PairedClientRecord> many;
    for (int i = 0; i < 200; ++i) many.push_back(client("client-" + std::to_string(i), 1700000000 + i));
    ASSERT_GT(store_file_text(derive_store_key(seed), many).size(), 16u * 1024);
    auto saved = save_store(os_file_system(), store_with(many));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().os_code, static_cast<std::uint32_t>(ENOSPC));
    expect_previous_intact();

    // Once a save fits again, the leftover temporary file is truncated and
    // renamed like any other.
    std::vector<PairedClientRecord> next = {client("phone-3", 1700000200)};
    ASSERT_TRUE(save_store(os_file_system(), store_with(next)));
    EXPECT_FALSE(stdfs::exists(tmp()));
    EXPECT_EQ(load_store(os_file_system(), dir, seed).clients, next);
}

}  // namespace
}  // namespace korvex
