#pragma once
// Small facts about the machine the host runs on.
#include <string>

#include "core/os_terms.h"

namespace korvex {

// The display name when neither COMPUTERNAME nor HOSTNAME is set.
std::string default_host_name();
// "laptop" when the machine has a system battery, else "desktop".
std::string device_type();
// This OS's words: the OS field clients see, the gamepad, Ctrl+Alt+Del.
const OsTerms& os_terms();
// Thread-start hook of the runtime: input latency matters more than fairness.
void raise_thread_priority();

}  // namespace korvex
