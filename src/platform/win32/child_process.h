#pragma once
// Starting a console tool without a window and waiting for it.
#include <optional>
#include <span>
#include <string>

namespace korvex::win32 {

// Runs `program` (found through the normal executable search) with
// `arguments`, each quoted as Windows command lines need, with no console
// window, and waits for it to end. The exit code; nothing when it could not
// be started.
std::optional<unsigned long> run_hidden_and_wait(const std::string& program, std::span<const std::string> arguments);

}  // namespace korvex::win32
