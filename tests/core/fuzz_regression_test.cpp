// Inputs from the fuzz targets (fuzz/, scripts/fuzz.sh), kept as tests
// through the same headers.
//
// No target has crashed so far, so nothing here replays a crash yet. What is
// here are the inputs the fuzzers cannot reach because of their size (they
// stay below a few KB): the deepest nesting that fits in the largest frame
// body, and in a data file. The JSON reader must refuse them as format
// errors without recursing once per level, on the Windows main thread's
// stack as well as here.
//
// A crash found later: put the input in tests/fixtures/fuzz/TARGET/ (so
// every fuzz run replays it) and add its bytes as a case below.
#include <gtest/gtest.h>

#include <string>

#include "core/frame.h"
#include "core/identity.h"
#include "core/messages.h"
#include "core/store.h"
#include "core/tailscale_status.h"

namespace korvex {
namespace {

// `depth` opening brackets after a valid prefix, never closed.
std::string nested(std::string_view prefix, std::size_t depth, char bracket = '[') {
    std::string text(prefix);
    text.append(depth, bracket);
    return text;
}

// {"a":{"a":{"a": ... depth times, never closed.
std::string nested_objects(std::size_t depth) {
    std::string text;
    text.reserve(depth * 5);
    for (std::size_t i = 0; i < depth; ++i) text += "{\"a\":";
    return text;
}

TEST(FuzzRegression, DeepestNestingInALargestFrameIsAFormatError) {
    // Every decoder reads through the same JSON reader: one of them sees all
    // three shapes, the others the plain one.
    const std::string arrays = nested("", kMaxPlainBody);
    const std::string in_member = nested("{\"text\":", kMaxPlainBody - 8);
    const std::string objects = nested_objects(kMaxPlainBody / 5);
    for (const std::string* body : {&arrays, &in_member, &objects}) {
        ASSERT_LE(body->size(), kMaxPlainBody);
        EXPECT_FALSE(decode_text_utf8(*body));
    }
    EXPECT_FALSE(decode_pair_request(arrays));
    EXPECT_FALSE(decode_pair_confirm(arrays));
    EXPECT_FALSE(decode_auth_hello(arrays));
    EXPECT_FALSE(decode_auth_response(arrays));
    EXPECT_FALSE(decode_ping(arrays));
    EXPECT_FALSE(decode_clipboard_set(arrays));
}

TEST(FuzzRegression, DeeplyNestedMembersThatCloseAreSkippedOrRefused) {
    // Closed nesting inside an unknown member is skipped like any value.
    const std::size_t depth = 20000;
    std::string body = "{\"x\":" + std::string(depth, '[') + std::string(depth, ']') + ",\"ts\":7}";
    auto ping = decode_ping(body);
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->ts, 7u);
    // The same nesting where a string belongs is a format error.
    EXPECT_FALSE(decode_text_utf8("{\"text\":" + std::string(depth, '[') + std::string(depth, ']') + "}"));
}

TEST(FuzzRegression, DeepNestingInDataFilesIsRefused) {
    crypto_init();
    Key32 key{};
    key.fill(0x42);
    const std::size_t depth = 100000;
    EXPECT_FALSE(parse_store_file(nested("{\"version\":1,\"clients\":", depth), key));
    EXPECT_FALSE(decode_identity_file(nested_objects(depth / 5)));
    EXPECT_FALSE(parse_ts_status(nested("{\"Self\":{\"TailscaleIPs\":", depth)));
}

}  // namespace
}  // namespace korvex
