#include "app/win32/start_on_login.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "app/startup_rules.h"
#include "platform/win32/child_process.h"
#include "platform/win32/win32_support.h"

namespace korvex::app::win32 {

namespace {

// UTF-16 to UTF-8 with unpaired surrogates replaced, as paths and registry
// texts are shown and compared.
std::string lossy_narrow(std::wstring_view text) {
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                            nullptr);
    return out;
}

std::wstring wide(std::string_view text) { return korvex::win32::widen(text).value_or(std::wstring()); }

const std::wstring& run_key() {
    static const std::wstring key = wide(kRunKeyPath);
    return key;
}
const std::wstring& run_value() {
    static const std::wstring name = wide(kRunValueName);
    return name;
}

std::string expected_exe() { return executable_path().value_or(std::string()); }

bool run_schtasks(std::span<const std::string> arguments) {
    auto code = korvex::win32::run_hidden_and_wait("schtasks.exe", arguments);
    return code && *code == 0;
}

LogonTaskCache& task_cache() {
    static LogonTaskCache cache([] { return std::chrono::steady_clock::now(); });
    return cache;
}

}  // namespace

std::optional<std::string> executable_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) return lossy_narrow(std::wstring_view(buffer.data(), length));
        if (buffer.size() >= 32768) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

bool run_entry_present() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, run_key().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    wchar_t data[1024];
    DWORD bytes = sizeof data;
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(key, run_value().c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    return run_value_matches(lossy_narrow(std::wstring_view(data, bytes / sizeof(wchar_t))), expected_exe());
}

bool set_run_entry(bool enable) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, run_key().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status;
    if (enable) {
        std::wstring value = wide(run_value_text(expected_exe()));
        status = RegSetValueExW(key, run_value().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else {
        status = RegDeleteValueW(key, run_value().c_str());
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool logon_task_present() {
    return task_cache().present([] { return run_schtasks(logon_task_query_arguments()); });
}

void toggle_logon_task(bool shown_present) {
    LogonTaskRunner runner{run_schtasks, [](const std::string& parameters) {
                               std::wstring params = wide(parameters);
                               ShellExecuteW(nullptr, L"runas", L"schtasks.exe", params.c_str(), nullptr, SW_HIDE);
                           }};
    app::toggle_logon_task(task_cache(), shown_present, expected_exe(), runner);
}

}  // namespace korvex::app::win32
