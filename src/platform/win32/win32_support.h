#pragma once
// Small Win32 helpers shared by the Windows seams: UTF-8/UTF-16 conversion,
// owned handles and memory, and error texts for Win32 error numbers.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/error.h"

namespace korvex::win32 {

// UTF-8 to UTF-16; nothing when the text is not valid UTF-8.
std::optional<std::wstring> widen(std::string_view utf8);

// UTF-16 to UTF-8; nothing when the text holds an unpaired surrogate.
std::optional<std::string> narrow(std::wstring_view utf16);

// The system's message for a Win32 error number or HRESULT, without the trailing
// line break; empty when the system has none.
std::string system_message(DWORD code);

// Error for a Win32 error number (or an HRESULT some APIs leave in
// GetLastError): "<context>: <message> (0x8007XXXX)", os_code the HRESULT.
Error win32_error(std::string_view context, DWORD err);

// A path for the wide APIs: valid UTF-8 without NUL characters.
Result<std::wstring> wide_path(std::string_view path);

// A kernel handle closed on destruction. INVALID_HANDLE_VALUE means none, as
// CreateFileW reports it.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { close(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const noexcept { return handle_; }
    HANDLE release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    // Closes now; false (with GetLastError set) when the close failed, which for
    // a written file can mean lost data.
    bool close() noexcept {
        if (!valid()) return true;
        return CloseHandle(release()) != FALSE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Memory the system allocated with LocalAlloc for us (FormatMessageW, DPAPI).
struct LocalFreeDeleter {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};
template <typename T>
using LocalPtr = std::unique_ptr<T, LocalFreeDeleter>;

}  // namespace korvex::win32
