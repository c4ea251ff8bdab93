#include "platform/win32/win32_support.h"

#include <climits>

#include "core/os_error.h"
#include "core/utf8.h"

namespace korvex::win32 {

std::optional<std::wstring> widen(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    // Checked here as well so both OSes agree on what valid text is.
    if (utf8.size() > INT_MAX || !is_valid_utf8(utf8)) return std::nullopt;
    int in_size = static_cast<int>(utf8.size());
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), in_size, nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), in_size, out.data(), size) != size)
        return std::nullopt;
    return out;
}

std::optional<std::string> narrow(std::wstring_view utf16) {
    if (utf16.empty()) return std::string();
    if (utf16.size() > INT_MAX) return std::nullopt;
    int in_size = static_cast<int>(utf16.size());
    int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), in_size, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), in_size, out.data(), size, nullptr,
                            nullptr) != size)
        return std::nullopt;
    return out;
}

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    LocalPtr<wchar_t> owned(buffer);
    if (length == 0 || buffer == nullptr) return {};
    return narrow(std::wstring_view(buffer, length)).value_or(std::string());
}

Error win32_error(std::string_view context, DWORD err) {
    return os_error(context, system_message(err), hresult_from_win32(err));
}

Result<std::wstring> wide_path(std::string_view path) {
    if (path.find('\0') == std::string_view::npos) {
        if (auto wide = widen(path)) return std::move(*wide);
    }
    return std::unexpected(win32_error("Not a valid path", ERROR_NO_UNICODE_TRANSLATION));
}

}  // namespace korvex::win32
