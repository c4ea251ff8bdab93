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

void set_thread_role(ThreadRole role) {
    // Windows schedules by priority first: the datagrams' thread preempts
    // the host's own handshake work and any ordinary program's at once.
    SetThreadPriority(GetCurrentThread(),
                      role == ThreadRole::Input ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_ABOVE_NORMAL);
}

}  // namespace korvex
