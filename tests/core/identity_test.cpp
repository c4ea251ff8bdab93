#include "core/identity.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/fakes.h"

namespace korvex {
namespace {

const std::string kSeedHex = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

class IdentityTest : public ::testing::Test {
public:
    test::MemoryFileSystem fs;
    test::FakeProtector protector;
    test::CountingRandom rng{0x80};
    const std::string path = "/data/host_identity.bin";

    void store_plaintext(std::string_view json) { fs.files[path] = *protector.protect(as_bytes(json)); }
    Result<HostIdentity> load() { return load_or_create_identity(fs, protector, rng, "/data"); }
};

TEST_F(IdentityTest, FileFormatIsCompactWithFixedOrder) {
    HostIdentity id{"host-1", *hex_decode_exact<32>(kSeedHex)};
    EXPECT_EQ(encode_identity_file(id), R"({"hostId":"host-1","seedHex":")" + kSeedHex + R"("})");
}

TEST_F(IdentityTest, DecodeRules) {
    std::string upper = kSeedHex;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {R"({"hostId":"h","seedHex":")" + kSeedHex + R"("})", true},
        {"\n " + std::string(R"({"seedHex":")") + kSeedHex + R"(","hostId":"h","extra":{"a":[1]}} )" "\r\n", true},
        {R"(["h",")" + kSeedHex + R"("])", true},
        {R"({"hostId":"h","seedHex":")" + upper + R"("})", true},
        {R"({"hostId":"h","hostId":"i","seedHex":")" + kSeedHex + R"("})", false},
        {R"({"hostId":"h","seedHex":")" + kSeedHex.substr(2) + R"("})", false},  // 31 bytes
        {R"({"hostId":"h","seedHex":")" + kSeedHex + R"(00"})", false},          // 33 bytes
        {R"({"hostId":"h","seedHex":")" + kSeedHex.substr(1) + R"("})", false},  // odd digits
        {R"({"hostId":1,"seedHex":")" + kSeedHex + R"("})", false},
        {R"({"seedHex":")" + kSeedHex + R"("})", false},
        {R"({"hostId":"h","seedHex":")" + kSeedHex + R"("}x)", false},
        {R"(["h"])", false},
        // The seed never passes through the JSON parser; strings around it still follow the JSON rules.
        {R"({"hostId":"a\":b \u00e9","note":"x:\"y\"","seedHex":")" + kSeedHex + R"("})", true},
        {R"({"hostId":"h","note":"bad \q escape","seedHex":")" + kSeedHex + R"("})", false},
        {R"({"hostId":"h","note":"tab	inside","seedHex":")" + kSeedHex + R"("})", false},
        {R"({"hostId":"h","seedHex":"\u0030)" + kSeedHex.substr(1) + R"("})", false},  // digits as escapes
        {R"({"hostId":"h","seedHex":)" + kSeedHex.substr(0, 10) + "}", false},            // not a string
        {R"({"hostId":"h","seedHex":")" + kSeedHex, false},                                // unterminated
        {R"({"hostId":"h","seedHex":[")" + kSeedHex + R"("]})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto id = decode_identity_file(c.text);
        EXPECT_EQ(id.has_value(), c.ok);
        if (id && c.text.find("note") != std::string::npos) {
            EXPECT_EQ(id->host_id, "a\":b \u00e9");
        }
        if (id) {
            EXPECT_EQ(hex_lower(id->seed), kSeedHex);
        }
    }
}

TEST_F(IdentityTest, NewHostIdIsVersion4Uuid) {
    std::string id = new_host_id(rng);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << id;
}

TEST_F(IdentityTest, CreatesOnceThenLoadsTheSameIdentity) {
    auto created = load();
    ASSERT_TRUE(created);
    ASSERT_TRUE(fs.files.count(path));
    EXPECT_EQ(fs.files.count("/data/host_identity.tmp"), 0u);
    auto plain = protector.unprotect(fs.files[path]);
    EXPECT_EQ(as_text(*plain), encode_identity_file(*created));
    auto loaded = load();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->host_id, created->host_id);
    EXPECT_EQ(loaded->seed, created->seed);
}

TEST_F(IdentityTest, ExistingFileWithUpperCaseSeedKeepsItsId) {
    std::string upper = kSeedHex;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    store_plaintext(R"({"hostId":"kept","seedHex":")" + upper + R"(","note":1})");
    auto id = load();
    ASSERT_TRUE(id);
    EXPECT_EQ(id->host_id, "kept");
    EXPECT_EQ(hex_lower(id->seed), kSeedHex);
    EXPECT_EQ(fs.files.count(path + ".rejected"), 0u);
}

TEST_F(IdentityTest, UnreadableFileIsMovedAsideNotOverwritten) {
    struct Case {
        const char* name;
        std::function<void(IdentityTest&)> arrange;
    };
    const Case cases[] = {
        {"bad seed", [](IdentityTest& t) { t.store_plaintext(R"({"hostId":"old","seedHex":"00"})"); }},
        {"duplicate member",
         [](IdentityTest& t) { t.store_plaintext(R"({"hostId":"a","hostId":"b","seedHex":")" + kSeedHex + R"("})"); }},
        {"not decryptable (another account)",
         [](IdentityTest& t) {
             t.store_plaintext(R"({"hostId":"old","seedHex":")" + kSeedHex + R"("})");
             t.protector.mask = 0x33;
         }},
        {"garbage", [](IdentityTest& t) { t.fs.files[t.path] = test::bytes_of("\x01\x02"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs.files.clear();
        protector.mask = 0x5A;
        c.arrange(*this);
        Bytes original = fs.files[path];
        auto id = load();
        ASSERT_TRUE(id);
        EXPECT_NE(id->host_id, "old");
        EXPECT_EQ(fs.files[path + ".rejected"], original);
        EXPECT_NE(fs.files[path], original);
    }
}

TEST_F(IdentityTest, FailuresThatMustStopStartUp) {
    {
        SCOPED_TRACE("read error and the file cannot be moved aside");
        store_plaintext(R"({"hostId":"old","seedHex":")" + kSeedHex + R"("})");
        Bytes original = fs.files[path];
        fs.fail_read = true;
        fs.fail_rename = true;
        EXPECT_FALSE(load());
        EXPECT_EQ(fs.files[path], original);
        fs.fail_read = fs.fail_rename = false;
    }
    fs.files.clear();
    fs.fail_mkdir = true;
    EXPECT_FALSE(load());
    fs.fail_mkdir = false;
    protector.fail_protect = true;
    auto refused = load();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text, "protect refused (0x80070005)");
    protector.fail_protect = false;
    fs.fail_write = true;
    EXPECT_FALSE(load());
    EXPECT_TRUE(fs.files.empty());
}

}  // namespace
}  // namespace korvex
