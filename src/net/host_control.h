#pragma once
// What the host's faces (the Windows tray, the Linux console) may see and
// do. They reach the running host through this and nothing else: every
// read is a snapshot taken under the host lock and released before the
// face draws anything.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/pad_mapping.h"

namespace korvex {
class FileSystem;
}

namespace korvex::net {

class HostShared;

struct DeviceStatus {
    std::string client_id;
    std::string name;  // the stored device name, unchanged
    bool online = false;  // a session of this client is established
};

struct PadStatus {
    bool virtual_pad_plugged = false;  // a virtual controller exists
    PadOutputMode output = PadOutputMode::KeyboardMouse;  // the output in use
    Preset preset = Preset::Shooter;
};

struct HostStatus {
    std::string host_name;
    std::string lan_text;        // first IPv4, else first address, else "Not connected"
    std::string tailscale_text;  // the same rule
    std::vector<DeviceStatus> devices;  // store order
    std::optional<std::string> controller;  // display name of the device in control
    PadStatus pad;
};

class HostControl {
public:
    HostControl(std::shared_ptr<HostShared> shared, FileSystem& fs, std::string data_dir);

    HostStatus status() const;

    // Removes the device and ends its sessions; the error says when the
    // shortened list could not be saved (the sessions end either way).
    Status remove_device(const std::string& client_id);

    // A fresh pairing code replaces any open one; withdrawing leaves none.
    std::string start_pairing();
    void withdraw_pairing();
    // The korvex:// pairing offer for `code` with the current endpoints.
    std::string pairing_offer(const std::string& code) const;

    // Installs at once; the result is that of saving the mapping file.
    Status choose_preset(Preset preset);
    Status choose_pad_output(PadOutputMode output);
    // The active gamepad mapping.
    GamepadMapping mapping() const;
    // Makes `mapping` active at once, then writes it; the result is that of
    // writing (the mapping stays active either way).
    Status install_mapping(const GamepadMapping& mapping);

    // Lets go of every key and button clients hold.
    void release_held_input();

    HostShared& shared() const { return *shared_; }

private:
    std::shared_ptr<HostShared> shared_;
    FileSystem& fs_;
    std::string data_dir_;
};

}  // namespace korvex::net
