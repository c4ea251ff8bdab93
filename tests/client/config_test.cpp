#include "client/config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/data_files.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "support/fakes.h"

namespace korvex::client {
namespace {

using test::CountingRandom;
using test::FakeEnvironment;
using test::MemoryFileSystem;

TEST(ClientConfigDir, FollowsTheEnvironment) {
    struct Case {
        std::map<std::string, std::string, std::less<>> vars;
        char separator;
        std::string expected;
    };
    const Case cases[] = {
        {{{"KORVEX_REMOTE_DIR", "/tmp/kr"}, {"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}}, '/', "/tmp/kr"},
        {{{"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}}, '/', "/x/korvex-remote"},
        {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/h"}}, '/', "/h/.config/korvex-remote"},
        {{{"HOME", "/h"}, {"APPDATA", "C:\\ignored"}}, '/', "/h/.config/korvex-remote"},
        {{}, '/', "./.config/korvex-remote"},
        {{{"APPDATA", "C:\\Users\\u\\AppData\\Roaming"}, {"HOME", "C:\\h"}},
         '\\',
         "C:\\Users\\u\\AppData\\Roaming\\korvex-remote"},
        {{{"KORVEX_REMOTE_DIR", "D:\\kr"}, {"APPDATA", "C:\\a"}}, '\\', "D:\\kr"},
    };
    for (const auto& c : cases) {
        FakeEnvironment env;
        env.vars = c.vars;
        EXPECT_EQ(client_config_dir(env, c.separator), c.expected);
    }
}

TEST(ClientIdentity, IsCreatedOnceThenLoaded) {
    MemoryFileSystem fs;
    CountingRandom rng(1);
    auto first = load_or_create_client_identity(fs, rng, "/cfg");
    ASSERT_TRUE(first) << first.error().text;
    EXPECT_EQ(first->client_id.size(), 36u);
    EXPECT_EQ(first->client_id[14], '4') << "a version-4 UUID";
    ASSERT_TRUE(fs.files.contains("/cfg/identity.json"));
    EXPECT_FALSE(fs.files.contains("/cfg/identity.tmp")) << "written through a temporary file";
    EXPECT_EQ(fs.text("/cfg/identity.json"), encode_client_identity(*first));

    auto second = load_or_create_client_identity(fs, rng, "/cfg");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->client_id, first->client_id);
    EXPECT_EQ(second->seed, first->seed);
    EXPECT_EQ(second->public_key(), ed25519_public_key(first->seed));
}

TEST(ClientIdentity, DamagedFileIsNeverReplaced) {
    MemoryFileSystem fs;
    CountingRandom rng(1);
    fs.files["/cfg/identity.json"] = test::bytes_of(R"({"clientId":"c","seedHex":"00"})");
    auto loaded = load_or_create_client_identity(fs, rng, "/cfg");
    ASSERT_FALSE(loaded);
    EXPECT_NE(loaded.error().text.find("damaged"), std::string::npos) << loaded.error().text;
    EXPECT_EQ(fs.text("/cfg/identity.json"), R"({"clientId":"c","seedHex":"00"})");
}

TEST(ClientIdentity, FileErrorsAreReported) {
    CountingRandom rng(1);
    {
        MemoryFileSystem fs;
        fs.fail_write = true;
        EXPECT_FALSE(load_or_create_client_identity(fs, rng, "/cfg"));
    }
    {
        MemoryFileSystem fs;
        fs.fail_mkdir = true;
        EXPECT_FALSE(load_or_create_client_identity(fs, rng, "/cfg"));
    }
    {
        MemoryFileSystem fs;
        fs.files["/cfg/identity.json"] = {};
        fs.fail_read = true;
        EXPECT_FALSE(load_or_create_client_identity(fs, rng, "/cfg"));
    }
}

TEST(ClientIdentity, DecodeRules) {
    std::string seed(64, 'A');
    EXPECT_TRUE(decode_client_identity(R"({"clientId":"x","seedHex":")" + seed + "\"}"));
    EXPECT_FALSE(decode_client_identity(R"({"clientId":"","seedHex":")" + seed + "\"}"));
    EXPECT_FALSE(
        decode_client_identity("{\"clientId\":\"" + std::string(129, 'c') + "\",\"seedHex\":\"" + seed + "\"}"));
    EXPECT_FALSE(decode_client_identity(R"({"clientId":"x"})"));
    EXPECT_FALSE(decode_client_identity(R"({"clientId":"x","seedHex":")" + seed + "\"} trailing"));
}

KnownHost host_named(std::string id, std::uint8_t key_byte) {
    KnownHost h;
    h.host_id = std::move(id);
    h.name = "Desk " + h.host_id;
    h.ed25519_public.fill(key_byte);
    h.endpoint = "192.168.1.20:49182";
    h.udp_port = 49182;
    h.paired_at_unix = 1700000000;
    h.last_seq = 1700000000123456ULL;
    return h;
}

TEST(KnownHosts, RememberReplacesAndMovesToMostRecent) {
    KnownHosts known;
    EXPECT_EQ(known.most_recent(), nullptr);
    known.remember(host_named("a", 1));
    known.remember(host_named("b", 2));
    EXPECT_EQ(known.most_recent()->host_id, "b");
    KnownHost again = host_named("a", 3);
    known.remember(again);
    ASSERT_EQ(known.hosts.size(), 2u);
    EXPECT_EQ(known.most_recent()->host_id, "a");
    EXPECT_EQ(known.find("a")->ed25519_public, again.ed25519_public);
    EXPECT_EQ(known.find("c"), nullptr);
    EXPECT_TRUE(known.forget("b"));
    EXPECT_FALSE(known.forget("b"));
    EXPECT_EQ(known.hosts.size(), 1u);
}

TEST(KnownHosts, FileRoundTripsAndIsPretty) {
    MemoryFileSystem fs;
    KnownHosts known;
    known.remember(host_named("a", 1));
    KnownHost v6 = host_named("b \"quoted\"", 2);
    v6.endpoint = "[fe80::1]:49183";
    known.remember(v6);
    ASSERT_TRUE(save_known_hosts(fs, "/cfg", known));
    std::string text = fs.text("/cfg/hosts.json");
    EXPECT_EQ(text.rfind("{\n  \"version\": 1,\n  \"hosts\": [\n", 0), 0u) << text;
    auto loaded = load_known_hosts(fs, "/cfg");
    ASSERT_TRUE(loaded) << loaded.error().text;
    EXPECT_EQ(loaded->hosts, known.hosts);
}

TEST(KnownHosts, MissingFileIsEmptyAndBadFileIsAnError) {
    MemoryFileSystem fs;
    auto empty = load_known_hosts(fs, "/cfg");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->hosts.empty());
    const std::string bad[] = {
        "not json",
        R"({"version":1})",
        R"({"version":1,"hosts":[{"hostId":"a"}]})",
        R"({"version":1,"hosts":[{"hostId":"a","ed25519PubHex":"zz"}]})",
        R"({"version":1,"hosts":[{"hostId":"a","ed25519PubHex":")" + std::string(64, '0') + R"(","udpPort":70000}]})",
    };
    for (const auto& text : bad) {
        fs.files["/cfg/hosts.json"] = test::bytes_of(text);
        auto loaded = load_known_hosts(fs, "/cfg");
        EXPECT_FALSE(loaded) << text;
    }
    // Optional members may be left out.
    fs.files["/cfg/hosts.json"] =
        test::bytes_of(R"({"version":1,"hosts":[{"hostId":"a","ed25519PubHex":")" + std::string(64, 'F') + "\"}]}");
    auto minimal = load_known_hosts(fs, "/cfg");
    ASSERT_TRUE(minimal) << minimal.error().text;
    EXPECT_EQ(minimal->hosts.at(0).udp_port, 0);
    EXPECT_EQ(minimal->hosts.at(0).last_seq, 0u);
}

// On the real disk: the identity file is private to the user where the OS has such modes.
TEST(ClientIdentity, RealFileIsOwnerOnly) {
    FileSystem& fs = os_file_system();
    std::random_device random;
    auto dir = std::filesystem::temp_directory_path() / ("korvex-remote-test-" + std::to_string(random()));
    auto loaded = load_or_create_client_identity(fs, os_random(), (dir / "nested").string());
    ASSERT_TRUE(loaded) << loaded.error().text;
    auto path = dir / "nested" / "identity.json";
    ASSERT_TRUE(std::filesystem::exists(path));
    if (fs.separator() == '/') {
        auto perms = std::filesystem::status(path).permissions();
        using std::filesystem::perms;
        EXPECT_EQ(perms & (perms::group_all | perms::others_all), perms::none);
    }
    auto again = load_or_create_client_identity(fs, os_random(), (dir / "nested").string());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->client_id, loaded->client_id);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvex::client
