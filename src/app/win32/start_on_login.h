#pragma once
// Start on login on Windows: the current user's Run value and the elevated
// logon task (through schtasks.exe). Main thread only.
#include <optional>
#include <string>

namespace korvex::app::win32 {

// The running program's full path (invalid characters replaced); nothing
// when it cannot be read.
std::optional<std::string> executable_path();

bool run_entry_present();
// Writes (true) or deletes (false) the Run value; a missing value counts as
// deleted. True on success.
bool set_run_entry(bool enable);

// Cached for 60 seconds.
bool logon_task_present();
void toggle_logon_task(bool shown_present);

}  // namespace korvex::app::win32
