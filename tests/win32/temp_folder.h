#pragma once
// A fresh folder under the user's temp folder, removed with its contents at the
// end of the test.
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "core/bytes.h"
#include "platform/random_source.h"
#include "platform/win32/win32_support.h"

namespace korvex::test {

class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        DWORD length = GetTempPathW(MAX_PATH + 1, base);
        ByteArray<8> tag{};
        os_random().fill(tag);
        std::wstring name = L"korvex-test-" + win32::widen(hex_lower(tag)).value();
        path_ = std::filesystem::path(std::wstring(base, length)) / name;
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // UTF-8 text of the folder, or of `name` inside it, as the seams take paths.
    std::string utf8(const std::wstring& name = {}) const {
        std::filesystem::path p = name.empty() ? path_ : path_ / name;
        return win32::narrow(p.wstring()).value();
    }

private:
    std::filesystem::path path_;
};

}  // namespace korvex::test
