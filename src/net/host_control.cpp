#include "net/host_control.h"

#include "core/pad_commands.h"
#include "net/endpoint_text.h"
#include "net/host.h"
#include "net/host_shared.h"

namespace korvex::net {

HostControl::HostControl(std::shared_ptr<HostShared> shared, FileSystem& fs, std::string data_dir)
    : shared_(std::move(shared)), fs_(fs), data_dir_(std::move(data_dir)) {}

HostStatus HostControl::status() const {
    HostStatus status = shared_->with_core([](LockedCore& locked) {
        HostStatus s;
        for (const auto& record : locked.core.store.clients) {
            bool online = false;
            for (const auto& [id, entry] : locked.sessions) online = online || entry.client_id == record.client_id;
            s.devices.push_back({record.client_id, record.device_name, online});
        }
        if (auto owner = locked.input.owner()) {
            if (auto it = locked.sessions.find(*owner); it != locked.sessions.end())
                s.controller = it->second.display_name;
        }
        s.pad.virtual_pad_plugged = locked.gamepad.has_virtual_pad();
        s.pad.output =
            locked.gamepad.virtual_pad_in_use() ? PadOutputMode::VirtualController : PadOutputMode::KeyboardMouse;
        s.pad.preset = locked.gamepad.mapping().preset;
        return s;
    });
    status.host_name = shared_->host_name();
    EndpointSummary summary = endpoint_summary(*shared_);
    status.lan_text = std::move(summary.lan);
    status.tailscale_text = std::move(summary.tailscale);
    return status;
}

Status HostControl::remove_device(const std::string& client_id) { return remove_client(*shared_, client_id); }

std::string HostControl::start_pairing() { return net::start_pairing(*shared_); }

void HostControl::withdraw_pairing() { withdraw_pairing_code(*shared_); }

std::string HostControl::pairing_offer(const std::string& code) const { return net::pairing_offer(*shared_, code); }

namespace {
auto gamepad_step(HostShared& shared) {
    return [&shared](auto f) {
        return shared.with_core([&](LockedCore& locked) { return f(locked.input, locked.gamepad); });
    };
}
}  // namespace

Status HostControl::choose_preset(Preset preset) {
    return run_preset_command(gamepad_step(*shared_), fs_, data_dir_, preset);
}

Status HostControl::choose_pad_output(PadOutputMode output) {
    return run_pad_output_command(gamepad_step(*shared_), fs_, data_dir_, output);
}

GamepadMapping HostControl::mapping() const {
    return shared_->with_core([](LockedCore& locked) { return locked.gamepad.mapping(); });
}

Status HostControl::install_mapping(const GamepadMapping& mapping) {
    shared_->with_core([&](LockedCore& locked) { korvex::install_mapping(locked.input, locked.gamepad, mapping); });
    return save_mapping(fs_, data_dir_, mapping);
}

void HostControl::release_held_input() {
    shared_->with_core([](LockedCore& locked) { locked.input.release_all(); });
}

}  // namespace korvex::net
