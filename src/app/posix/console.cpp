#include "console.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <utility>

#include "core/pad_commands.h"
#include "core/pairing_uri.h"
#include "core/qr_grid.h"

namespace korvex::posix {

Console::Console(net::HostControl& control, std::ostream& out, std::string input_sink)
    : control_(control), out_(out), input_sink_(std::move(input_sink)) {}

void Console::print(const std::string& text) {
    std::lock_guard lock(out_mutex_);
    out_ << text << std::endl;
}

namespace {
std::string pad_line(const net::PadStatus& pad) {
    return gamepad_status_line(pad.output, pad.virtual_pad_plugged, pad.preset);
}
}  // namespace

std::string Console::gamepad_line() const { return pad_line(control_.status().pad); }

std::string Console::status_line() const {
    const net::HostStatus s = control_.status();
    const std::string state = s.controller ? "Status: Controlled by " + *s.controller : "Status: Ready";
    return "Korvex \u2014 " + s.host_name + "\n" + "LAN: " + s.lan_text + " \u00b7 Tailscale: " + s.tailscale_text +
           "\n" + state + "\n" + pad_line(s.pad) + (input_sink_.empty() ? "" : "\nInput: " + input_sink_);
}

namespace {
constexpr const char* kCommands =
    "Commands: status | pair | devices | remove N | preset N (0-3 or a name) | output virtual|mapping | exit";
}

void Console::help() { print(kCommands); }

void Console::pair() {
    std::string code = control_.start_pairing();
    auto offer = control_.pairing_offer(code);
    std::ostringstream text;
    text << "Pairing code: " << code.substr(0, 3) << ' ' << code.substr(3) << '\n';
    text << "Pairing URI: " << offer << '\n';
    if (auto grid = encode_qr_grid(offer)) text << render_qr_text(*grid);
    text << "Press Enter to withdraw the code.";
    {
        std::lock_guard lock(pairing_mutex_);
        pairing_open_ = true;
    }
    print(text.str());
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
        out += std::to_string(index++) + ". " + device.name + " (" + (device.online ? "Online" : "Offline") + ")";
    }
    print(out);
}

void Console::remove(const std::string& argument) {
    std::size_t index = 0;
    try {
        index = std::stoul(argument);
    } catch (...) {
        index = 0;
    }
    const net::HostStatus s = control_.status();
    if (index == 0 || index > s.devices.size()) {
        print("No device number " + argument + ". Type \"devices\" to list them.");
        return;
    }
    if (Status removed = control_.remove_device(s.devices[index - 1].client_id); !removed) {
        print(removed.error().text);
        return;
    }
    print("Device removed.");
}

void Console::preset(const std::string& argument) {
    auto chosen = parse_preset_argument(argument);
    if (!chosen) {
        print("Unknown preset \"" + argument + "\". Use 0 to 3 or a preset name.");
        return;
    }
    if (Status saved = control_.choose_preset(*chosen); !saved)
        print("The gamepad mapping could not be saved: " + saved.error().text);
    print(gamepad_line());
}

void Console::output(const std::string& argument) {
    auto chosen = parse_pad_output_argument(argument);
    if (!chosen) {
        print("Unknown output \"" + argument + "\". Use \"virtual\" or \"mapping\".");
        return;
    }
    // As in the tray, where the item is disabled without the driver.
    if (*chosen == PadOutputMode::VirtualController && !control_.status().pad.virtual_pad_plugged) {
        print("No virtual controller here (the ViGEmBus driver is not installed, see docs/GAMEPAD.md); "
              "the keyboard / mouse mapping stays in use.");
        return;
    }
    if (Status saved = control_.choose_pad_output(*chosen); !saved)
        print("The gamepad mapping could not be saved: " + saved.error().text);
    print(gamepad_line());
}

void Console::on_event(const HostEvent& event) {
    switch (event.kind) {
        case HostEvent::Kind::DevicePaired: {
            std::lock_guard lock(pairing_mutex_);
            pairing_open_ = false;
            print("Paired with " + event.text + ".");
            break;
        }
        case HostEvent::Kind::PairingCodeRetired: {
            std::lock_guard lock(pairing_mutex_);
            pairing_open_ = false;
            print("Pairing code withdrawn after too many wrong attempts.");
            break;
        }
        case HostEvent::Kind::DeviceConnected: print(event.text + " connected."); break;
        case HostEvent::Kind::DeviceDisconnected: print(event.text + " disconnected."); break;
        case HostEvent::Kind::PairedListChanged: break;
    }
}

bool Console::run(std::istream& in) {
    print(status_line());
    help();
    std::string line;
    while (std::getline(in, line)) {
        {
            std::lock_guard lock(pairing_mutex_);
            if (pairing_open_) {
                // Any line, Enter included, closes the pairing offer.
                pairing_open_ = false;
                control_.withdraw_pairing();
                print("Pairing code withdrawn.");
                if (line.empty()) continue;
            }
        }
        std::istringstream words(line);
        std::string command, argument;
        words >> command >> argument;
        if (command.empty()) continue;
        if (command == "exit" || command == "quit") return true;
        if (command == "status") print(status_line());
        else if (command == "pair") pair();
        else if (command == "devices") devices();
        else if (command == "remove") remove(argument);
        else if (command == "help") help();
        else if (command == "preset") preset(argument);
        else if (command == "output") output(argument);
        else print("Unknown command \"" + command + "\". " + kCommands);
    }
    return false;
}

}  // namespace korvex::posix
