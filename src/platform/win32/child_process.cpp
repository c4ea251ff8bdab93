#include "platform/win32/child_process.h"

#include "core/input_commands.h"
#include "platform/win32/win32_support.h"

namespace korvex::win32 {

std::optional<unsigned long> run_hidden_and_wait(const std::string& program, std::span<const std::string> arguments) {
    auto command_line = widen(windows_command_line(program, arguments));
    if (!command_line) return std::nullopt;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // No application name: the tool is found through the search path.
    if (!CreateProcessW(nullptr, command_line->data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info))
        return std::nullopt;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process.get(), &code)) return std::nullopt;
    return code;
}

}  // namespace korvex::win32
