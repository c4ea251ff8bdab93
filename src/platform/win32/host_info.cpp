#include "platform/host_info.h"

#include <windows.h>

namespace korvex {

std::string default_host_name() { return "Windows PC"; }

std::string device_type() {
    SYSTEM_POWER_STATUS status{};
    if (!GetSystemPowerStatus(&status)) return "desktop";
    // 128: no system battery; 255: unknown.
    if (status.BatteryFlag == 128 || status.BatteryFlag == 255) return "desktop";
    return "laptop";
}

const OsTerms& os_terms() { return kWindowsTerms; }

void raise_thread_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }

}  // namespace korvex
