#include "core/bytes.h"

#include <gtest/gtest.h>

#include "core/utf8.h"

namespace korvex {
namespace {

TEST(Hex, LowerCaseTwoDigitsPerByte) {
    EXPECT_EQ(hex_lower(Bytes{0x00, 0xAB, 0xFF}), "00abff");
    EXPECT_EQ(hex_lower(Bytes{}), "");
}

TEST(Hex, DecodeAcceptsEitherCaseAndRefusesBadText) {
    EXPECT_EQ(hex_decode("00abFF"), (Bytes{0x00, 0xAB, 0xFF}));
    EXPECT_EQ(hex_decode(""), Bytes{});
    for (const char* bad : {"0", "abc", "0g", "zz", " 0", "0x00", "-1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(hex_decode(bad));
    }
    EXPECT_TRUE((hex_decode_exact<2>("abCD")));
    EXPECT_FALSE((hex_decode_exact<2>("abc")));
    EXPECT_FALSE((hex_decode_exact<2>("abcdef")));
}

TEST(Bytes, LittleEndian) {
    Bytes out;
    put_u32_le(out, 0x01020304);
    put_u64_le(out, 0x1122334455667788ULL);
    EXPECT_EQ(hex_lower(out), "04030201" "8877665544332211");
    EXPECT_EQ(get_u32_le(out.data()), 0x01020304u);
    EXPECT_EQ(get_u64_le(out.data() + 4), 0x1122334455667788ULL);
}

TEST(Utf8, Validation) {
    EXPECT_TRUE(is_valid_utf8("plain"));
    EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    for (const char* bad : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff", "\xe2\x82"}) {
        EXPECT_FALSE(is_valid_utf8(bad)) << testing::PrintToString(std::string(bad));
    }
}

}  // namespace
}  // namespace korvex
