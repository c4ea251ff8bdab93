#pragma once
// The Linux host's console: what the tray menu offers on Windows, as
// line-by-line commands on standard input, so scripts can drive it too.
// A thin formatter over the host's control interface.
#include <iosfwd>
#include <mutex>
#include <string>

#include "core/host_core.h"
#include "net/host_control.h"

namespace korvex::posix {

class Console {
public:
    // `input_sink` names where input goes, for the status line.
    Console(net::HostControl& control, std::ostream& out, std::string input_sink = {});

    // Reads commands; true after "exit", false when the input ended.
    bool run(std::istream& in);
    // Called from runtime threads for each host event.
    void on_event(const HostEvent& event);

    std::string status_line() const;

private:
    void print(const std::string& text);
    void help();
    void pair();
    void devices();
    void remove(const std::string& argument);
    void preset(const std::string& argument);
    void output(const std::string& argument);
    std::string gamepad_line() const;

    net::HostControl& control_;
    std::ostream& out_;
    std::string input_sink_;
    std::mutex out_mutex_;
    std::mutex pairing_mutex_;
    bool pairing_open_ = false;
};

}  // namespace korvex::posix
