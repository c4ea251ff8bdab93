// Start on login through the real registry (the test program's own path
// stands in for the host's), and the hidden child process helper.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/startup_rules.h"
#include "app/win32/start_on_login.h"
#include "app/win32/tray.h"
#include "platform/win32/child_process.h"
#include "platform/win32/win32_support.h"

namespace korvex::app::win32 {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void write_raw(const std::wstring& value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Korvex", REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::optional<std::wstring> read_raw() {
    wchar_t data[1024];
    DWORD bytes = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Korvex", RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data);
}

TEST(RunEntry, WrittenReadBackComparedAndDeletedInTheRegistry) {
    auto exe = executable_path();
    ASSERT_TRUE(exe);
    const std::wstring quoted = L"\"" + *korvex::win32::widen(*exe) + L"\"";

    ASSERT_TRUE(set_run_entry(false));
    EXPECT_FALSE(read_raw());
    EXPECT_FALSE(run_entry_present());
    EXPECT_TRUE(set_run_entry(false));  // already absent: still success

    ASSERT_TRUE(set_run_entry(true));
    EXPECT_EQ(read_raw(), quoted);
    EXPECT_TRUE(run_entry_present());

    std::wstring upper = quoted;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    write_raw(upper);
    EXPECT_TRUE(run_entry_present());  // case only

    write_raw(quoted.substr(1, quoted.size() - 2));
    EXPECT_FALSE(run_entry_present());  // unquoted
    ASSERT_TRUE(set_run_entry(true));   // enabling writes the quoted form
    EXPECT_EQ(read_raw(), quoted);

    write_raw(L"\"C:\\elsewhere\\korvex-host.exe\"");
    EXPECT_FALSE(run_entry_present());

    ASSERT_TRUE(set_run_entry(false));
    EXPECT_FALSE(read_raw());
    EXPECT_FALSE(run_entry_present());
}

TEST(RunEntry, ProgramNameOfThisExecutable) {
    auto exe = executable_path();
    ASSERT_TRUE(exe);
    EXPECT_EQ(program_display_name(*exe), "korvex_tests");
}

TEST(ChildProcess, ExitCodeAndAMissingProgram) {
    const std::vector<std::string> exit3{"/c", "exit 3"};
    EXPECT_EQ(korvex::win32::run_hidden_and_wait("cmd.exe", exit3), 3ul);
    EXPECT_FALSE(korvex::win32::run_hidden_and_wait("korvex-no-such-program.exe", exit3));
}

TEST(TrayIcon, DrawnIconsHaveTheRequestedSize) {
    for (int variant : {0, 1}) {
        HICON icon = draw_tray_icon(20, variant);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, 20);
        EXPECT_EQ(bitmap.bmHeight, 20);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

}  // namespace
}  // namespace korvex::app::win32
