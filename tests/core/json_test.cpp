#include "core/json.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(JsonWriter, EscapesOnlyQuotesBackslashesAndControlCharacters) {
    std::string text = std::string("q\" b\\ \b\t\n\f\r") + '\x01' + '\x1f' + "\x7f caf\xc3\xa9 \xe2\x82\xac /";
    std::string out = JsonWriter().string(text).take();
    EXPECT_EQ(out, "\"q\\\" b\\\\ \\b\\t\\n\\f\\r\\u0001\\u001f\x7f caf\xc3\xa9 \xe2\x82\xac /\"");
}

TEST(JsonWriter, CompactAndPrettyForms) {
    auto build = [](JsonWriter w) {
        w.begin_object().member("a", std::uint64_t{1}).key("list").begin_array();
        w.begin_object().member("x", "y").member("t", true).end_object();
        w.end_array().key("empty").begin_array().end_array().member("s", std::vector<std::string>{"p", "q"});
        return w.end_object().take();
    };
    EXPECT_EQ(build(JsonWriter()), R"({"a":1,"list":[{"x":"y","t":true}],"empty":[],"s":["p","q"]})");
    EXPECT_EQ(build(JsonWriter(JsonWriter::Style::Pretty)),
              "{\n"
              "  \"a\": 1,\n"
              "  \"list\": [\n"
              "    {\n"
              "      \"x\": \"y\",\n"
              "      \"t\": true\n"
              "    }\n"
              "  ],\n"
              "  \"empty\": [],\n"
              "  \"s\": [\n"
              "    \"p\",\n"
              "    \"q\"\n"
              "  ]\n"
              "}");
}

}  // namespace
}  // namespace korvex

namespace korvex {
namespace {

TEST(JsonRecord, ReadingRules) {
    struct Case {
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {R"({"a":"x","b":2})", true},
        {" \t\r\n{\"a\":\"x\",\"b\":2} \n", true},
        {R"({"b":2,"a":"x","extra":{"deep":[1,{"k":null}],"n":-1.5}})", true},
        {R"(["x",2])", true},
        {R"(["x"])", false},        // b is required
        {R"(["x",2,3])", false},    // more values than fields
        {R"({"a":"x","b":2,"a":"y"})", false},
        {R"({"a":"x","b":2,"z":{"k":1,"k":2}})", false},  // duplicates refused at any depth
        {R"({"a":"x","b":2} x)", false},
        {R"({"a":"x","b":2}{})", false},
        {R"({"a":1,"b":2})", false},
        {R"({"a":"x","b":"2"})", false},
        {R"({"a":"x","b":-1})", false},
        {R"({"a":"x","b":1.5})", false},
        {R"({"a":"x","b":1e2})", false},
        {R"({"a":"x"})", false},
        {R"("x")", false},
        {"", false},
        {"{\"a\":\"\xff\",\"b\":1}", false},  // not UTF-8
        {"\xEF\xBB\xBF{\"a\":\"x\",\"b\":2}", false},  // a byte order mark is not white space
        {R"({"a":"x","b":18446744073709551615})", true},
        {R"({"a":"x","b":18446744073709551616})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto record = JsonRecord::parse(c.text, {"a", "b"});
        bool ok = record && record->string("a") && record->u64("b");
        EXPECT_EQ(ok, c.ok);
    }
}

TEST(JsonRecord, OptionalMembersAndHex) {
    auto r = JsonRecord::parse(R"({"h":"00AbfF","odd":"abc","bad":"zz","list":["a","b"],"flag":true})",
                               {"h", "odd", "bad", "list", "flag", "missing"});
    ASSERT_TRUE(r);
    EXPECT_EQ(hex_lower(*r->hex<3>("h")), "00abff");
    EXPECT_FALSE(r->hex<2>("h"));
    EXPECT_FALSE(r->hex<1>("odd"));
    EXPECT_FALSE(r->hex<1>("bad"));
    EXPECT_EQ(*r->hex_or_nothing<2>("h"), std::nullopt);
    EXPECT_FALSE(r->hex_or_nothing<2>("missing"));
    EXPECT_EQ(*r->string_list("list"), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(r->string_list("h"));
    EXPECT_EQ(*r->optional_bool("flag"), true);
    EXPECT_EQ(*r->optional_bool("missing"), false);
    EXPECT_FALSE(r->optional_bool("h"));
    EXPECT_EQ(*r->optional_string("missing"), "");
    EXPECT_FALSE(r->optional_string("flag"));
}

}  // namespace
}  // namespace korvex
