#include "console.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <utility>

#include "core/pad_commands.h"
#include "core/pairing_uri.h"
#include "core/qr_grid.h"
#include "net/endpoint_text.h"

namespace korvex::posix {

Console::Console(net::StartupOutcome& host, std::ostream& out, std::string input_sink)
    : host_(host), out_(out), input_sink_(std::move(input_sink)) {}

void Console::print(const std::string& text) {
    std::lock_guard lock(out_mutex_);
    out_ << text << std::endl;
}

std::string Console::status_line() const {
    net::HostShared& shared = *host_.shared;
    std::string status = shared.with_core([](net::LockedCore& locked) -> std::string {
        auto owner = locked.input.owner();
        if (owner) {
            auto it = locked.sessions.find(*owner);
            if (it != locked.sessions.end()) return "Status: Controlled by " + it->second.display_name;
        }
        return "Status: Ready";
    });
    auto summary = net::endpoint_summary(shared);
    std::string gamepad =
        shared.with_core([](net::LockedCore& locked) { return gamepad_status_line(locked.gamepad); });
    return "Korvex \u2014 " + host_.host_name + "\n" + "LAN: " + summary.lan + " \u00b7 Tailscale: " + summary.tailscale +
           "\n" + status + "\n" + gamepad + (input_sink_.empty() ? "" : "\nInput: " + input_sink_);
}

namespace {
constexpr const char* kCommands =
    "Commands: status | pair | devices | remove N | preset N (0-3 or a name) | output virtual|mapping | exit";
}

void Console::help() { print(kCommands); }

void Console::pair() {
    net::HostShared& shared = *host_.shared;
    std::string code = net::start_pairing(shared);
    auto offer = net::pairing_offer(shared, code);
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
    net::HostShared& shared = *host_.shared;
    std::string list = shared.with_core([](net::LockedCore& locked) {
        if (locked.core.store.clients.empty()) return std::string("No Paired Devices");
        std::string out;
        int index = 1;
        for (const auto& record : locked.core.store.clients) {
            bool online = false;
            for (const auto& [id, entry] : locked.sessions) online = online || entry.client_id == record.client_id;
            if (!out.empty()) out += '\n';
            out += std::to_string(index++) + ". " + record.device_name + " (" + (online ? "Online" : "Offline") + ")";
        }
        return out;
    });
    print(list);
}

void Console::remove(const std::string& argument) {
    net::HostShared& shared = *host_.shared;
    std::size_t index = 0;
    try {
        index = std::stoul(argument);
    } catch (...) {
        index = 0;
    }
    std::optional<std::string> client_id = shared.with_core([&](net::LockedCore& locked) -> std::optional<std::string> {
        if (index == 0 || index > locked.core.store.clients.size()) return std::nullopt;
        return locked.core.store.clients[index - 1].client_id;
    });
    if (!client_id) {
        print("No device number " + argument + ". Type \"devices\" to list them.");
        return;
    }
    if (Status removed = net::remove_client(shared, *client_id); !removed) {
        print(removed.error().text);
        return;
    }
    print("Device removed.");
}

namespace {
// Runs f(controller, engine) under the host's lock, for the gamepad commands.
auto gamepad_step(net::HostShared& shared) {
    return [&shared](auto f) {
        return shared.with_core([&](net::LockedCore& locked) { return f(locked.input, locked.gamepad); });
    };
}
}  // namespace

void Console::preset(const std::string& argument) {
    auto chosen = parse_preset_argument(argument);
    if (!chosen) {
        print("Unknown preset \"" + argument + "\". Use 0 to 3 or a preset name.");
        return;
    }
    net::HostShared& shared = *host_.shared;
    Status saved = run_preset_command(gamepad_step(shared), shared.services().fs, host_.data_dir, *chosen);
    if (!saved) print("The gamepad mapping could not be saved: " + saved.error().text);
    print(shared.with_core([](net::LockedCore& locked) { return gamepad_status_line(locked.gamepad); }));
}

void Console::output(const std::string& argument) {
    auto chosen = parse_pad_output_argument(argument);
    if (!chosen) {
        print("Unknown output \"" + argument + "\". Use \"virtual\" or \"mapping\".");
        return;
    }
    net::HostShared& shared = *host_.shared;
    // As in the tray, where the item is disabled without the driver.
    if (*chosen == PadOutputMode::VirtualController &&
        !shared.with_core([](net::LockedCore& locked) { return locked.gamepad.has_virtual_pad(); })) {
        print("No virtual controller here (the ViGEmBus driver is not installed, see docs/GAMEPAD.md); "
              "the keyboard / mouse mapping stays in use.");
        return;
    }
    Status saved = run_pad_output_command(gamepad_step(shared), shared.services().fs, host_.data_dir, *chosen);
    if (!saved) print("The gamepad mapping could not be saved: " + saved.error().text);
    print(shared.with_core([](net::LockedCore& locked) { return gamepad_status_line(locked.gamepad); }));
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
                net::withdraw_pairing_code(*host_.shared);
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
