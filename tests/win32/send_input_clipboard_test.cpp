// set_clipboard through the real clipboard of this session.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/send_input_sink.h"

namespace korvex {
namespace {

std::u16string clipboard_units(SIZE_T* size) {
    std::u16string out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        *size = GlobalSize(data);
        if (auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
            out.assign(p, *size / sizeof(char16_t));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return out;
}

TEST(SendInputClipboard, StoresTheTextWithOneTerminatingNul) {
    struct Case {
        std::string utf8;
        std::u16string units;
    };
    const Case cases[] = {
        {"abc", std::u16string(u"abc\0", 4)},
        {"", std::u16string(1, u'\0')},
        {"\xC3\xA9\xF0\x9F\x98\x80", std::u16string(u"\u00E9\xD83D\xDE00\0", 4)},
    };
    SendInputSink sink;
    for (const auto& c : cases) {
        sink.set_clipboard(c.utf8);
        SIZE_T size = 0;
        std::u16string units = clipboard_units(&size);
        EXPECT_EQ(size, c.units.size() * sizeof(char16_t)) << c.utf8;
        EXPECT_EQ(units, c.units) << c.utf8;
    }
}

}  // namespace
}  // namespace korvex
