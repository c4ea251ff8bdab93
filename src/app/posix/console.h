#pragma once
// The Linux host's console: what the tray menu offers on Windows, as
// line-by-line commands on standard input, so scripts can drive it too.
// A thin formatter over the host's control interface.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

#include "core/host_core.h"
#include "core/line_limiter.h"
#include "core/os_terms.h"
#include "net/host_control.h"

namespace korvex::posix {

class Console {
public:
    // `input_sink` names where input goes, for the status line; `terms` are
    // this OS's words for the gamepad.
    Console(net::HostControl& control, std::ostream& out, std::string input_sink, const OsTerms& terms);
    ~Console();  // ends the wait of a --pair time limit
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Reads commands; true after "exit", false when the input ended. At a
    // terminal each command is prompted for.
    bool run(std::istream& in, bool terminal = false);
    // Called from runtime threads for each host event.
    void on_event(const HostEvent& event);

    std::string status_line() const;
    // Opens a pairing code without a console to close it: it stays open
    // until a device pairs, the time runs out or the host ends.
    void pair_headless(std::chrono::steady_clock::duration limit);

private:
    void print(const std::string& text);
    void help();
    std::uint64_t pair();
    void withdraw_if_open();
    void devices();
    void remove(const std::string& arguments);
    void preset(const std::string& arguments);
    void output(const std::string& arguments);
    std::string gamepad_line() const;

    net::HostControl& control_;
    std::ostream& out_;
    std::string input_sink_;
    const OsTerms& terms_;
    std::mutex out_mutex_;
    // The open pairing code: open_ and the number of the offer it belongs
    // to, so a time limit never withdraws a later code.
    std::mutex pairing_mutex_;
    std::condition_variable pairing_changed_;
    bool pairing_open_ = false;
    std::uint64_t offer_number_ = 0;
    bool closing_ = false;
    std::thread pairing_timer_;
    // Connect and disconnect lines: one per device per minute.
    std::mutex limiter_mutex_;
    LineLimiter connection_lines_;
};

}  // namespace korvex::posix
