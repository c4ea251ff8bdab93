#pragma once
// How the host names its own OS to clients and users: the OS field of the
// pairing offer, the handshake replies and the mDNS record (clients hide
// actions of other systems by it), the gamepad state and the Ctrl+Alt+Del
// refusal. platform/ picks the set of the OS it is built for (os_terms()).
#include <string_view>

namespace korvex {

struct OsTerms {
    std::string_view os_type;          // "windows", "linux"
    std::string_view virtual_pad;      // what drives the virtual controller
    std::string_view no_virtual_pad;   // why there is none
    std::string_view sas_unavailable;  // the message of "sas_unavailable"
};

inline constexpr OsTerms kWindowsTerms{"windows", "ViGEmBus", "ViGEmBus driver not installed",
                                       "Ctrl+Alt+Del is not available on this PC (sas.dll missing)"};
inline constexpr OsTerms kLinuxTerms{"linux", "uinput", "no access to /dev/uinput",
                                     "Ctrl+Alt+Del is not supported on Linux"};

}  // namespace korvex
