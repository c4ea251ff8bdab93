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
// What a runtime thread does, for its standing against the machine's other
// work: the datagrams' input thread first, then the sessions and the
// blocking pool.
enum class ThreadRole { Input, Network };
// Called once at the start of each runtime thread.
void set_thread_role(ThreadRole role);

}  // namespace korvex
