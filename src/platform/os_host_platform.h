#pragma once
// Every seam object a host needs on this OS, built and owned together, so
// that each program (the Linux console host, the Windows tray) starts the
// host the same way: make_os_host_platform(), then start_running_host().
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/host_platform.h"

namespace korvex {

class OsHostPlatform {
public:
    virtual ~OsHostPlatform() = default;
    // References into this object: it must outlive the host started from it.
    virtual const net::HostPlatform& host_platform() const = 0;
    // Where input goes, for a status line ("XTest on display :1", ...).
    virtual std::string input_description() const = 0;
    // What the user is told once at start-up: input that is not applied, no
    // virtual gamepad and why.
    virtual std::vector<std::string> start_notices() const = 0;
};

// `notice` receives the seams' later one-time notices (a lock tool missing,
// ...), from any thread; empty: they are dropped.
std::unique_ptr<OsHostPlatform> make_os_host_platform(std::function<void(const std::string&)> notice = {});

}  // namespace korvex
