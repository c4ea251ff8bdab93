// Windows files: UTF-16 paths, FlushFileBuffers before the rename, and a
// write-through replace. New files inherit the folder's ACL; the data folder
// under %APPDATA% is the user's own.
#include <algorithm>

#include "platform/file_system.h"
#include "platform/win32/win32_support.h"

namespace korvex {
namespace {

using win32::UniqueHandle;
using win32::win32_error;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool starts_with(const std::wstring& text, std::wstring_view prefix) {
    return std::wstring_view(text).substr(0, prefix.size()) == prefix;
}

// Where the part that always exists ends: "C:\", "C:", "\", "\\server\share\",
// "\\?\C:\" ... Components after it are the folders we may have to create.
std::size_t root_length(const std::wstring& path) {
    auto after_next_separator = [&](std::size_t from) {
        std::size_t at = path.find(L'\\', from);
        return at == std::wstring::npos ? path.size() : at + 1;
    };
    if (starts_with(path, L"\\\\?\\") || starts_with(path, L"\\\\.\\")) {
        if (starts_with(path.substr(4), L"UNC\\")) return after_next_separator(after_next_separator(8));
        if (path.size() >= 6 && path[5] == L':') return std::min<std::size_t>(path.size(), 7);
        return after_next_separator(4);  // a volume name such as Volume{...}
    }
    if (starts_with(path, L"\\\\")) return after_next_separator(after_next_separator(2));
    if (path.size() >= 2 && path[1] == L':') return path.size() >= 3 && path[2] == L'\\' ? 3 : 2;
    if (!path.empty() && path[0] == L'\\') return 1;
    return 0;
}

bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string utf8(const std::wstring& path) { return win32::narrow(path).value_or("?"); }

Status ensure_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {};
        return std::unexpected(win32_error("Not a folder: " + utf8(path), ERROR_DIRECTORY));
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) return {};
    DWORD err = GetLastError();
    // Someone else may have made it in the meantime.
    if (err == ERROR_ALREADY_EXISTS && is_directory(path)) return {};
    return std::unexpected(win32_error("Cannot create folder " + utf8(path), err));
}

class Win32FileSystem final : public FileSystem {
public:
    char separator() const override { return '\\'; }

    Result<std::optional<Bytes>> read_file(const std::string& path) override {
        auto wide = win32::wide_path(path);
        if (!wide) return std::unexpected(wide.error());
        // Sharing delete lets a writer replace the file while we read it.
        UniqueHandle file(CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.valid()) {
            DWORD err = GetLastError();
            if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return std::optional<Bytes>{};
            return std::unexpected(win32_error("Cannot open " + path, err));
        }
        Bytes data;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 30))
            data.reserve(static_cast<std::size_t>(size.QuadPart));
        std::uint8_t chunk[16384];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr))
                return std::unexpected(win32_error("Cannot read " + path, GetLastError()));
            if (got == 0) break;
            data.insert(data.end(), chunk, chunk + got);
        }
        return std::optional<Bytes>(std::move(data));
    }

    Status write_file_flushed(const std::string& path, ByteView data) override {
        auto wide = win32::wide_path(path);
        if (!wide) return std::unexpected(wide.error());
        UniqueHandle file(CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        if (!file.valid()) return std::unexpected(win32_error("Cannot create " + path, GetLastError()));
        std::size_t done = 0;
        while (done < data.size()) {
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!WriteFile(file.get(), data.data() + done, want, &wrote, nullptr))
                return std::unexpected(win32_error("Cannot write " + path, GetLastError()));
            done += wrote;
        }
        if (!FlushFileBuffers(file.get())) return std::unexpected(win32_error("Cannot flush " + path, GetLastError()));
        if (!file.close()) return std::unexpected(win32_error("Cannot close " + path, GetLastError()));
        return {};
    }

    Status rename_replace(const std::string& from, const std::string& to) override {
        auto wide_from = win32::wide_path(from);
        if (!wide_from) return std::unexpected(wide_from.error());
        auto wide_to = win32::wide_path(to);
        if (!wide_to) return std::unexpected(wide_to.error());
        // Write-through: the call returns once the new name is on the disk.
        if (!MoveFileExW(wide_from->c_str(), wide_to->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return std::unexpected(win32_error("Cannot rename to " + to, GetLastError()));
        return {};
    }

    Status create_directories(const std::string& path) override {
        if (path.empty()) return {};
        auto wide = win32::wide_path(path);
        if (!wide) return std::unexpected(wide.error());
        std::wstring full = std::move(*wide);
        // "\\?\" paths are passed to the file system as they are, so only other
        // paths may use '/'.
        if (!starts_with(full, L"\\\\?\\")) std::replace(full.begin(), full.end(), L'/', L'\\');

        std::size_t pos = root_length(full);
        while (pos < full.size()) {
            while (pos < full.size() && is_separator(full[pos])) ++pos;
            if (pos == full.size()) break;
            std::size_t end = full.find(L'\\', pos);
            if (end == std::wstring::npos) end = full.size();
            if (auto made = ensure_directory(full.substr(0, end)); !made) return made;
            pos = end;
        }
        if (!is_directory(full)) return std::unexpected(win32_error("Not a folder: " + path, ERROR_DIRECTORY));
        return {};
    }
};

}  // namespace

FileSystem& os_file_system() {
    static Win32FileSystem fs;
    return fs;
}

}  // namespace korvex
