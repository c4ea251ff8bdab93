#include "console.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

#include "core/pad_commands.h"
#include "core/pairing_uri.h"
#include "core/qr_grid.h"
#include "core/terminal_text.h"
#include "korvex_version.h"

namespace korvex::posix {

Console::Console(net::HostControl& control, std::ostream& out, std::string input_sink, const OsTerms& terms)
    : control_(control), out_(out), input_sink_(std::move(input_sink)), terms_(terms) {}

Console::~Console() {
    {
        std::lock_guard lock(pairing_mutex_);
        closing_ = true;
    }
    pairing_changed_.notify_all();
    if (pairing_timer_.joinable()) pairing_timer_.join();
}

void Console::print(const std::string& text) {
    std::lock_guard lock(out_mutex_);
    out_ << text << std::endl;
}

std::string Console::gamepad_line() const {
    const net::PadStatus pad = control_.status().pad;
    return gamepad_status_line(pad.output, pad.virtual_pad_plugged, pad.preset, terms_);
}

std::string Console::status_line() const {
    const net::HostStatus s = control_.status();
    const std::string state =
        s.controller ? "Status: Controlled by " + terminal_text(*s.controller) : "Status: Ready";
    return "Korvex \u2014 " + s.host_name + "\n" + "LAN: " + s.lan_text + " \u00b7 Tailscale: " + s.tailscale_text +
           "\n" + state + "\n" + gamepad_status_line(s.pad.output, s.pad.virtual_pad_plugged, s.pad.preset, terms_) +
           (input_sink_.empty() ? "" : "\nInput: " + input_sink_) + "\nVersion: " + std::string(kVersion);
}

namespace {
constexpr const char* kCommands =
    "Commands: status | pair | devices | remove N | preset N or NAME | output virtual|mapping | exit";

// The words of `line` after the command.
std::vector<std::string> words_of(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The text after the command word, trimmed.
std::string rest_of(const std::string& line) {
    std::size_t start = line.find_first_not_of(" \t");
    start = start == std::string::npos ? line.size() : line.find_first_of(" \t", start);
    if (start == std::string::npos) return {};
    std::size_t first = line.find_first_not_of(" \t", start);
    if (first == std::string::npos) return {};
    std::size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}
}  // namespace

void Console::help() { print(kCommands); }

std::uint64_t Console::pair() {
    std::string code = control_.start_pairing();
    auto offer = control_.pairing_offer(code);
    std::ostringstream text;
    text << "Pairing code: " << code.substr(0, 3) << ' ' << code.substr(3) << '\n';
    text << "Pairing URI: " << offer << '\n';
    if (auto grid = encode_qr_grid(offer)) text << render_qr_text(*grid);
    std::uint64_t number = 0;
    {
        std::lock_guard lock(pairing_mutex_);
        pairing_open_ = true;
        number = ++offer_number_;
    }
    print(text.str() + "Press Enter to withdraw the code.");
    return number;
}

void Console::pair_headless(std::chrono::steady_clock::duration limit) {
    const std::uint64_t number = pair();
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(limit).count();
    print("The code stays open until a device uses it, for at most " + std::to_string(minutes) + " minutes.");
    pairing_timer_ = std::thread([this, number, limit] {
        std::unique_lock lock(pairing_mutex_);
        const bool ended = pairing_changed_.wait_for(lock, limit, [&] { return closing_ || offer_number_ != number; });
        if (ended || !pairing_open_) return;
        pairing_open_ = false;
        lock.unlock();
        control_.withdraw_pairing();
        print("Pairing code withdrawn: no device used it in time.");
    });
}

void Console::withdraw_if_open() {
    {
        std::lock_guard lock(pairing_mutex_);
        if (!pairing_open_) return;
        pairing_open_ = false;
        ++offer_number_;
    }
    pairing_changed_.notify_all();
    control_.withdraw_pairing();
    print("Pairing code withdrawn.");
}

void Console::devices() {
    const net::HostStatus s = control_.status();
    if (s.devices.empty()) {
        print("No Paired Devices");
        return;
    }
    std::string out;
    int index = 1;
    for (const auto& device : s.devices) {
        if (!out.empty()) out += '\n';
        out += std::to_string(index++) + ". " + terminal_text(device.name) + " (" +
               (device.online ? "Online" : "Offline") + ")";
    }
    print(out);
}

void Console::remove(const std::string& arguments) {
    const auto words = words_of(arguments);
    const net::HostStatus s = control_.status();
    std::size_t index = 0;
    bool number = words.size() == 1 && !words[0].empty() && words[0].size() <= 9 &&
                  words[0].find_first_not_of("0123456789") == std::string::npos;
    if (number) index = std::stoul(words[0]);
    if (!number) {
        print("Usage: remove N, with one number from the list \"devices\" shows.");
        return;
    }
    if (index == 0 || index > s.devices.size()) {
        print("No device number " + words[0] + ". Type \"devices\" to list them.");
        return;
    }
    if (Status removed = control_.remove_device(s.devices[index - 1].client_id); !removed) {
        print(removed.error().text);
        return;
    }
    print("Device removed.");
}

void Console::preset(const std::string& arguments) {
    auto chosen = parse_preset_argument(arguments);
    if (!chosen) {
        print("Unknown preset \"" + terminal_text(arguments) + "\". Presets: " + preset_choices_text() + ".");
        return;
    }
    if (Status saved = control_.choose_preset(*chosen); !saved)
        print("The gamepad mapping could not be saved: " + saved.error().text);
    print(gamepad_line());
}

void Console::output(const std::string& arguments) {
    auto chosen = parse_pad_output_argument(arguments);
    if (!chosen) {
        print("Unknown output \"" + terminal_text(arguments) + "\". Use \"virtual\" or \"mapping\".");
        return;
    }
    // As in the tray, where the item is disabled without the driver.
    if (*chosen == PadOutputMode::VirtualController && !control_.status().pad.virtual_pad_plugged) {
        print("No virtual controller here (" + std::string(terms_.no_virtual_pad) +
              ", see docs/GAMEPAD.md); the keyboard / mouse mapping stays in use.");
        return;
    }
    if (Status saved = control_.choose_pad_output(*chosen); !saved)
        print("The gamepad mapping could not be saved: " + saved.error().text);
    print(gamepad_line());
}

void Console::on_event(const HostEvent& event) {
    const std::string name = terminal_text(event.text);
    switch (event.kind) {
        case HostEvent::Kind::DevicePaired: {
            {
                std::lock_guard lock(pairing_mutex_);
                pairing_open_ = false;
                ++offer_number_;
            }
            pairing_changed_.notify_all();
            print("Paired with " + name + ".");
            break;
        }
        case HostEvent::Kind::PairingCodeRetired: {
            {
                std::lock_guard lock(pairing_mutex_);
                pairing_open_ = false;
                ++offer_number_;
            }
            pairing_changed_.notify_all();
            print("Pairing code withdrawn after too many wrong attempts.");
            break;
        }
        case HostEvent::Kind::DeviceConnected:
        case HostEvent::Kind::DeviceDisconnected: {
            std::optional<std::size_t> held;
            {
                std::lock_guard lock(limiter_mutex_);
                held = connection_lines_.admit(event.text, std::chrono::steady_clock::now());
            }
            if (!held) break;
            std::string line = name + (event.kind == HostEvent::Kind::DeviceConnected ? " connected." : " disconnected.");
            if (*held > 0) line += " (" + std::to_string(*held) + " more connects or disconnects in the last minute)";
            print(line);
            break;
        }
        case HostEvent::Kind::PairedListChanged: break;
    }
}

bool Console::run(std::istream& in, bool terminal) {
    print(status_line());
    help();
    std::string line;
    for (;;) {
        if (terminal) {
            std::lock_guard lock(out_mutex_);
            out_ << "korvex> " << std::flush;
        }
        if (!std::getline(in, line)) break;
        const auto words = words_of(line);
        // Enter, or a new code, withdraws the open one; nothing else does.
        if (words.empty()) {
            withdraw_if_open();
            continue;
        }
        const std::string& command = words[0];
        const std::string arguments = rest_of(line);
        if (command == "exit" || command == "quit") return true;
        if (command == "status") print(status_line());
        else if (command == "pair") {
            withdraw_if_open();
            pair();
        } else if (command == "devices") devices();
        else if (command == "remove") remove(arguments);
        else if (command == "help") help();
        else if (command == "preset") preset(arguments);
        else if (command == "output") output(arguments);
        else print("Unknown command \"" + terminal_text(command) + "\". " + kCommands);
    }
    if (terminal) print("");
    return false;
}

}  // namespace korvex::posix
