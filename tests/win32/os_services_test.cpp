// Environment, random source, clock and error texts of the Windows seams.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "core/bytes.h"
#include "core/os_error.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/random_source.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

// Sets a variable for the test's duration.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
};

TEST(Win32Environment, ReadsWhatWasSetAsUtf8) {
    ScopedVariable var(L"KORVEX_TEST_VALUE", L"caf\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(os_environment().get("KORVEX_TEST_VALUE"), "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
}

TEST(Win32Environment, UnsetIsNothing) {
    SetEnvironmentVariableW(L"KORVEX_TEST_UNSET", nullptr);
    EXPECT_EQ(os_environment().get("KORVEX_TEST_UNSET"), std::nullopt);
    EXPECT_EQ(os_environment().get(""), std::nullopt);
    EXPECT_EQ(os_environment().get(std::string_view("PATH\0X", 6)), std::nullopt);
}

TEST(Win32Environment, LongValueAndNonAsciiName) {
    std::wstring long_value(5000, L'x');
    ScopedVariable var(L"KORVEX_TEST_\u00c4", long_value.c_str());
    EXPECT_EQ(os_environment().get("KORVEX_TEST_\xc3\x84"), std::string(5000, 'x'));
}

TEST(Win32Environment, InvalidUtf16CountsAsUnset) {
    const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    ScopedVariable var(L"KORVEX_TEST_BROKEN", lone_surrogate);
    EXPECT_EQ(os_environment().get("KORVEX_TEST_BROKEN"), std::nullopt);
}

TEST(Win32Random, TwoFillsDiffer) {
    ByteArray<32> a{}, b{};
    os_random().fill(a);
    os_random().fill(b);
    EXPECT_NE(a, b);
    EXPECT_NE(a, ByteArray<32>{});
}

TEST(Win32Random, EmptyAndLargeFills) {
    os_random().fill(std::span<std::uint8_t>());
    Bytes big(1 << 20, 0);
    os_random().fill(big);
    // A megabyte of real randomness has every byte value in it.
    std::array<bool, 256> seen{};
    for (auto b : big) seen[b] = true;
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool s) { return s; }));
}

TEST(Win32Clock, NowIsAfter2024) {
    std::uint64_t now = system_clock().unix_now();
    EXPECT_GT(now, 1704067200u);  // 2024-01-01 00:00 UTC
    EXPECT_LT(now, 4102444800u);  // 2100-01-01
}

TEST(Win32ErrorText, SystemMessageThenHresult) {
    Error e = win32::win32_error("Cannot open x", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(e.os_code, 0x80070002u);
    EXPECT_TRUE(e.text.starts_with("Cannot open x: ")) << e.text;
    EXPECT_TRUE(e.text.ends_with(" (0x80070002)")) << e.text;
    // There is a message between the two, on one line.
    EXPECT_GT(e.text.size(), std::string("Cannot open x:  (0x80070002)").size());
    EXPECT_EQ(e.text.find_first_of("\r\n"), std::string::npos);
}

TEST(Win32ErrorText, CodeAloneWithoutASystemMessage) {
    // No system message exists for this number.
    Error e = win32::win32_error("", 0xFFFE);
    EXPECT_EQ(e.os_code, 0x8007FFFEu);
    EXPECT_EQ(e.text, "0x8007FFFE");
}

TEST(Win32Text, Utf16AndUtf8RoundTrip) {
    EXPECT_EQ(win32::widen("\xc3\xa9\xe2\x82\xac"), std::wstring(L"\u00e9\u20ac"));
    EXPECT_EQ(win32::narrow(L"\u00e9\u20ac"), std::string("\xc3\xa9\xe2\x82\xac"));
    EXPECT_EQ(win32::widen(""), std::wstring());
    EXPECT_EQ(win32::widen("\xc0\xaf"), std::nullopt);
    const wchar_t lone[] = {static_cast<wchar_t>(0xDC00), 0};
    EXPECT_EQ(win32::narrow(lone), std::nullopt);
}

}  // namespace
}  // namespace korvex
