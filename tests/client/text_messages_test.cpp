#include "client/text_messages.h"

#include <gtest/gtest.h>

#include "core/messages.h"
#include "core/utf8.h"

namespace korvex::client {
namespace {

TEST(TextMessages, PiecesFitRejoinAndNeverCutACharacter) {
    // Characters of one to four bytes, and ones that grow when escaped.
    const std::string samples[] = {
        std::string(1000, 'a'),
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \"q\" \\ \t\x01 end\n",
        std::string(300, '"'),
        std::string(300, '\x01'),  // six bytes each once escaped
        "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80",
    };
    const std::size_t overhead = encode_json(TextUtf8{}).size();
    for (std::string text : samples) {
        while (text.size() < 2000) text += text;
        for (std::size_t max_body : {overhead + 6, overhead + 7, overhead + 13, std::size_t{200}, kMaxSealedPlaintext}) {
            auto pieces = split_text_messages(text, max_body);
            std::string joined;
            for (std::string_view piece : pieces) {
                ASSERT_FALSE(piece.empty());
                EXPECT_TRUE(is_valid_utf8(piece)) << max_body;
                EXPECT_LE(encode_json(TextUtf8{std::string(piece)}).size(), max_body);
                joined += piece;
            }
            EXPECT_EQ(joined, text) << max_body;
        }
    }
    EXPECT_TRUE(split_text_messages("").empty());
    EXPECT_TRUE(split_text_messages("abc", 5).empty()) << "no room for any text";
}

TEST(TextMessages, PlainTextFillsEachMessage) {
    const std::size_t overhead = encode_json(TextUtf8{}).size();
    std::string text(250, 'x');
    auto pieces = split_text_messages(text, overhead + 100);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 100u);
    EXPECT_EQ(pieces[1].size(), 100u);
    EXPECT_EQ(pieces[2].size(), 50u);
}

TEST(TextMessages, ClipboardLimitIsExact) {
    for (bool paste : {false, true}) {
        const std::size_t limit = clipboard_text_limit(paste);
        EXPECT_EQ(encode_json(ClipboardSet{std::string(limit, 'x'), paste}).size(), kMaxSealedPlaintext);
        EXPECT_EQ(clipboard_too_long(std::string(limit, 'x'), paste), "");
        EXPECT_NE(clipboard_too_long(std::string(limit + 1, 'x'), paste), "");
    }
    EXPECT_EQ(clipboard_too_long(std::string(40000, '\n'), false),
              "the text is 40000 bytes, 80000 once its quotes, backslashes and control characters are escaped; clip "
              "takes at most " +
                  std::to_string(clipboard_text_limit(false)) + " bytes (type sends longer text as several messages)");
}

}  // namespace
}  // namespace korvex::client
