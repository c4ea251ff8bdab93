#include "platform/host_info.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace korvex {
namespace {

// The kernel's struct sched_attr (its header clashes with glibc's).
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t sched_policy;  // 0: SCHED_OTHER
    std::uint64_t sched_flags;
    std::int32_t sched_nice;
    std::uint32_t sched_priority;
    std::uint64_t sched_runtime;
    std::uint64_t sched_deadline;
    std::uint64_t sched_period;
};

}  // namespace

std::string default_host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Linux PC";
    return name;
}

std::string device_type() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/power_supply", ec)) {
        std::ifstream type_file(entry.path() / "type");
        std::string type;
        if (std::getline(type_file, type) && type == "Battery") return "laptop";
    }
    return "desktop";
}

const OsTerms& os_terms() { return kLinuxTerms; }

// Raising a priority needs privileges an ordinary Linux user lacks; asking
// for a short time slice does not.
void set_thread_role(ThreadRole role) {
    // Named for top -H and perf: which host thread is busy or late.
    static constexpr const char* kNames[] = {"korvex-input", "korvex-net"};
    (void)::pthread_setname_np(::pthread_self(), kNames[static_cast<int>(role)]);
    if (role == ThreadRole::Input) {
        // A short slice lets the waking input thread preempt a busy core
        // at once rather than wait out the running thread's slice
        // (EEVDF, Linux 6.12 on; older kernels ignore the request).
        SchedAttr attr{};
        attr.size = sizeof attr;
        attr.sched_nice = ::getpriority(PRIO_PROCESS, 0);  // kept as it is
        attr.sched_runtime = 100'000;  // ns: the shortest slice allowed
        (void)::syscall(SYS_sched_setattr, 0, &attr, 0);
    }
}

}  // namespace korvex
