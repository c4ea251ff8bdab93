#include "core/store.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace korvex {
namespace {

const char* kPath = "/data/paired_devices.json";
const char* kRejected = "/data/paired_devices.json.rejected";

PairedClientRecord record(std::string id, std::uint64_t t = 1700000000) {
    return {std::move(id), "Pixel \"8\"", "Google Pixel 8", std::string(64, 'a'), t, t + 5, "192.168.1.7"};
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        crypto_init();
        seed.fill(0x42);
        key = derive_store_key(seed);
    }
    Key32 seed{};
    Key32 key{};
    test::MemoryFileSystem fs;

    PairedStore load() { return load_store(fs, "/data", seed); }
    void write_file(const std::string& text) { fs.files[kPath] = test::bytes_of(text); }
    std::string mac_of(const std::string& canonical) { return hex_lower(hmac_sha256(key, as_bytes(canonical))); }
};

TEST_F(StoreTest, EmptyStoreFileText) {
    EXPECT_EQ(canonical_clients_text({}), "[]");
    EXPECT_EQ(store_file_text(key, {}), "{\n  \"version\": 1,\n  \"clients\": [],\n  \"hmacHex\": \"" + mac_of("[]") + "\"\n}");
}

TEST_F(StoreTest, FileTextByteForByte) {
    PairedClientRecord r{"c1", "Tab\\let", "", "ab", 1, 2, ""};
    std::string canonical =
        R"([{"clientId":"c1","deviceName":"Tab\\let","deviceModel":"","ed25519PublicKeyHex":"ab","pairedAtUnix":1,)"
        R"("lastSeenUnix":2,"lastRemoteIp":""}])";
    EXPECT_EQ(canonical_clients_text({r}), canonical);
    EXPECT_EQ(store_file_text(key, {r}),
              "{\n"
              "  \"version\": 1,\n"
              "  \"clients\": [\n"
              "    {\n"
              "      \"clientId\": \"c1\",\n"
              "      \"deviceName\": \"Tab\\\\let\",\n"
              "      \"deviceModel\": \"\",\n"
              "      \"ed25519PublicKeyHex\": \"ab\",\n"
              "      \"pairedAtUnix\": 1,\n"
              "      \"lastSeenUnix\": 2,\n"
              "      \"lastRemoteIp\": \"\"\n"
              "    }\n"
              "  ],\n"
              "  \"hmacHex\": \"" + mac_of(canonical) + "\"\n"
              "}");
}

TEST_F(StoreTest, MissingFileGivesEmptyStoreAndWritesNothing) {
    PairedStore store = load();
    EXPECT_TRUE(store.clients.empty());
    EXPECT_EQ(store.path, kPath);
    EXPECT_TRUE(fs.files.empty());
}

TEST_F(StoreTest, SaveThenLoadKeepsOrderAndValues) {
    PairedStore store = load();
    upsert_client(store, record("a"));
    upsert_client(store, record("b"));
    upsert_client(store, record("c"));
    ASSERT_TRUE(save_store(fs, store));
    EXPECT_EQ(fs.files.count("/data/paired_devices.tmp"), 0u);
    PairedStore again = load();
    EXPECT_EQ(again.clients, store.clients);
    EXPECT_EQ(fs.files.count(kRejected), 0u);
}

TEST_F(StoreTest, UpsertReplacesInPlaceAndEraseKeepsOrder) {
    PairedStore store;
    for (const char* id : {"a", "b", "c"}) upsert_client(store, record(id));
    upsert_client(store, record("b", 1800000000));
    ASSERT_EQ(store.clients.size(), 3u);
    EXPECT_EQ(store.clients[1].client_id, "b");
    EXPECT_EQ(store.clients[1].paired_at_unix, 1800000000u);
    store.clients.push_back(record("b"));  // only a hand-made file can hold two
    EXPECT_EQ(find_client(store, "b"), &store.clients[1]);
    EXPECT_EQ(find_client(store, "B"), nullptr);
    EXPECT_EQ(erase_client_records(store, "b"), 2u);
    EXPECT_EQ(erase_client_records(store, "zz"), 0u);
    ASSERT_EQ(store.clients.size(), 2u);
    EXPECT_EQ(store.clients[0].client_id, "a");
    EXPECT_EQ(store.clients[1].client_id, "c");
}

TEST_F(StoreTest, EditedFilesThatStayValid) {
    PairedClientRecord r = record("a");
    std::vector<PairedClientRecord> clients{r};
    std::string mac = compute_store_hmac(key, clients);
    const std::string valid[] = {
        // compact, reordered members inside the record, unknown member
        R"({"hmacHex":")" + mac + R"(","version":1,"clients":[{"lastRemoteIp":"192.168.1.7","deviceModel":"Google Pixel 8",)"
            R"("clientId":"a","deviceName":"Pixel \"8\"","ed25519PublicKeyHex":")" + std::string(64, 'a') +
            R"(","pairedAtUnix":1700000000,"lastSeenUnix":1700000005}],"note":[1,2]})",
        // re-indented with tabs and CRLF
        "{\r\n\t\"version\" : 7,\r\n\t\"clients\" : [ [\"a\",\"Pixel \\\"8\\\"\",\"Google Pixel 8\",\"" +
            std::string(64, 'a') + "\",1700000000,1700000005,\"192.168.1.7\"] ],\r\n\t\"hmacHex\" : \"" + mac + "\"\r\n}",
    };
    for (const auto& text : valid) {
        SCOPED_TRACE(text);
        fs.files.clear();
        write_file(text);
        EXPECT_EQ(load().clients, clients);
        EXPECT_EQ(fs.files.count(kRejected), 0u);
    }
}

TEST_F(StoreTest, OptionalFieldsMayBeAbsent) {
    PairedClientRecord r{"a", "n", "", "k", 1, 2, ""};
    write_file(R"({"version":1,"clients":[{"clientId":"a","deviceName":"n","ed25519PublicKeyHex":"k",)"
               R"("pairedAtUnix":1,"lastSeenUnix":2}],"hmacHex":")" + compute_store_hmac(key, {r}) + R"("})");
    EXPECT_EQ(load().clients, std::vector<PairedClientRecord>{r});
}

TEST_F(StoreTest, RefusedFilesAreMovedAsideAndTheStoreStartsEmpty) {
    std::vector<PairedClientRecord> two{record("a"), record("b")};
    std::string good = store_file_text(key, two);
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        auto pos = text.find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        return text.replace(pos, from.size(), to);
    };
    std::string mac = compute_store_hmac(key, two);
    std::string upper_mac = mac;
    for (auto& c : upper_mac) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Key32 other_seed{};
    std::vector<PairedClientRecord> swapped{record("b"), record("a")};
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"value changed", replace(good, "1700000005", "1700000006")},
        {"mac in upper case", replace(good, mac, upper_mac)},
        {"records reordered", replace(store_file_text(key, swapped), compute_store_hmac(key, swapped), mac)},
        {"another host's file", store_file_text(derive_store_key(other_seed), two)},
        {"required field missing", replace(good, "\"pairedAtUnix\": 1700000000,\n", "")},
        {"duplicate member", replace(good, "\"version\": 1,", "\"version\": 1, \"version\": 1,")},
        {"missing mac", replace(good, ",\n  \"hmacHex\": \"" + mac + "\"", "")},
        {"trailing data", good + "x"},
        {"not JSON", "\x00\x01"},
        {"wrong type", replace(good, "\"version\": 1", "\"version\": \"1\"")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs.files.clear();
        write_file(c.text);
        EXPECT_TRUE(load().clients.empty());
        EXPECT_EQ(fs.files.count(kPath), 0u);
        EXPECT_EQ(fs.text(kRejected), c.text);
    }
    fs.files.clear();
    write_file(good);
    EXPECT_EQ(load().clients, two);
}

TEST_F(StoreTest, UnreadableFileIsMovedAsideAndAFailedMoveIsIgnored) {
    write_file("whatever");
    fs.fail_read = true;
    EXPECT_TRUE(load().clients.empty());
    EXPECT_EQ(fs.files.count(kRejected), 1u);
    fs.fail_read = false;
    fs.files.clear();
    write_file("{");
    fs.fail_rename = true;
    EXPECT_TRUE(load().clients.empty());
}

TEST_F(StoreTest, FailedSaveLeavesThePreviousFile) {
    PairedStore store = load();
    upsert_client(store, record("a"));
    ASSERT_TRUE(save_store(fs, store));
    Bytes before = fs.files[kPath];
    upsert_client(store, record("b"));
    fs.fail_rename = true;
    EXPECT_FALSE(save_store(fs, store));
    EXPECT_EQ(fs.files[kPath], before);
    fs.fail_rename = false;
    fs.fail_mkdir = true;
    EXPECT_FALSE(save_store(fs, store));
    fs.fail_mkdir = false;
    EXPECT_EQ(load().clients.size(), 1u);
}

}  // namespace
}  // namespace korvex
