#include "core/os_error.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(OsError, HresultFromWin32) {
    struct Case {
        std::uint32_t err, hresult;
    };
    const Case cases[] = {
        {0, 0},                        // success stays success
        {2, 0x80070002},               // ERROR_FILE_NOT_FOUND
        {5, 0x80070005},               // ERROR_ACCESS_DENIED
        {13, 0x8007000D},              // ERROR_INVALID_DATA
        {1113, 0x80070459},            // ERROR_NO_UNICODE_TRANSLATION
        {0xFFFF, 0x8007FFFF},          // highest Win32 number
        {0x12345, 0x80072345},         // only the low 16 bits count
        {0x80090005, 0x80090005},      // already an HRESULT (NTE_BAD_DATA)
        {0x80070002, 0x80070002},      // already converted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(hresult_from_win32(c.err), c.hresult);
    }
    static_assert(hresult_from_win32(3) == 0x80070003u);
}

TEST(OsError, CodeTextIsEightUpperCaseHexDigits) {
    EXPECT_EQ(os_code_text(0), "0x00000000");
    EXPECT_EQ(os_code_text(0x80070002), "0x80070002");
    EXPECT_EQ(os_code_text(0x8009000b), "0x8009000B");
    EXPECT_EQ(os_code_text(0xFFFFFFFF), "0xFFFFFFFF");
    EXPECT_EQ(os_code_text(0xabc), "0x00000ABC");
}

TEST(OsError, TextIsMessageThenCode) {
    struct Case {
        const char* message;
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"The system cannot find the file specified.\r\n", 0x80070002,
         "The system cannot find the file specified. (0x80070002)"},
        {"Access is denied.", 0x80070005, "Access is denied. (0x80070005)"},
        {"Bad Data.  \t\r\n\r\n", 0x8009000B, "Bad Data. (0x8009000B)"},
        {"First line.\r\nSecond line.\r\n", 0x8007001F, "First line. Second line. (0x8007001F)"},
        {"Lines\n\n   indented\r\n", 0x80070001, "Lines indented (0x80070001)"},
        {"Tabs\tstay inside", 0x80070001, "Tabs\tstay inside (0x80070001)"},
        {"", 0x8007FFFF, "0x8007FFFF"},          // no message from the system
        {" \r\n", 0x8007FFFF, "0x8007FFFF"},     // only white space is no message
        {"", 0, "0x00000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.message)));
        EXPECT_EQ(os_error_text(c.message, c.code), c.text);
    }
}

TEST(OsError, ErrorCarriesContextTextAndCode) {
    Error e = os_error("Cannot open C:\\data\\a.bin", "Access is denied.\r\n", 0x80070005);
    EXPECT_EQ(e.text, "Cannot open C:\\data\\a.bin: Access is denied. (0x80070005)");
    EXPECT_EQ(e.os_code, 0x80070005u);

    Error bare = os_error("", "", 0x80070057);
    EXPECT_EQ(bare.text, "0x80070057");
    EXPECT_EQ(bare.os_code, 0x80070057u);
}

}  // namespace
}  // namespace korvex
