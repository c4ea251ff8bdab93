#include "app/tray_model.h"

#include <array>

namespace korvex::app {

namespace {

MenuItem item(std::string text, int id, bool checked = false, bool disabled = false) {
    return MenuItem{MenuItem::Kind::Item, std::move(text), id, checked, disabled, {}};
}
MenuItem label(std::string text) { return item(std::move(text), 0, false, true); }
MenuItem separator() { return MenuItem{MenuItem::Kind::Separator, {}, 0, false, false, {}}; }
MenuItem submenu(std::string text, std::vector<MenuItem> children) {
    return MenuItem{MenuItem::Kind::Submenu, std::move(text), 0, false, false, std::move(children)};
}

struct PresetEntry {
    Preset preset;
    const char* text;
};
constexpr std::array<PresetEntry, 4> kPresets{{
    {Preset::Shooter, "Shooter (WASD + mouse look)"},
    {Preset::Arrows, "Arrow keys / emulator"},
    {Preset::MouseOnly, "Mouse only (desktop)"},
    {Preset::TwinStick, "Twin stick (WASD + arrow keys)"},
}};

}  // namespace

TrayMenu build_tray_menu(const net::HostStatus& status, bool run_entry_present, bool logon_task_present) {
    TrayMenu menu;
    menu.run_entry_present = run_entry_present;
    menu.logon_task_present = logon_task_present;
    auto& items = menu.items;
    items.push_back(label("Korvex \u2014 " + status.host_name));
    items.push_back(label("LAN: " + status.lan_text + " \u00b7 Tailscale: " + status.tailscale_text));
    items.push_back(label(status.controller ? "Status: Controlled by " + *status.controller : "Status: Ready"));
    items.push_back(separator());
    items.push_back(item("Pair New Device\u2026", kCommandPair));

    std::vector<MenuItem> devices;
    if (status.devices.empty()) devices.push_back(label("No Paired Devices"));
    for (std::size_t i = 0; i < status.devices.size(); ++i) {
        const auto& device = status.devices[i];
        devices.push_back(submenu(device.name + " (" + (device.online ? "Online" : "Offline") + ")",
                                  {item("Remove Device", kCommandRemoveDeviceBase + static_cast<int>(i))}));
        menu.device_ids.push_back(device.client_id);
    }
    items.push_back(submenu("Paired Devices", std::move(devices)));
    items.push_back(separator());

    std::vector<MenuItem> pad;
    if (!status.pad.virtual_pad_plugged) {
        pad.push_back(label("Virtual controller (ViGEmBus driver not installed)"));
        pad.push_back(item("Keyboard / mouse mapping", kCommandMappingOutput, true));
    } else {
        pad.push_back(item("Virtual controller (ViGEmBus)", kCommandVirtualPad,
                           status.pad.output == PadOutputMode::VirtualController));
        pad.push_back(item("Keyboard / mouse mapping", kCommandMappingOutput,
                           status.pad.output == PadOutputMode::KeyboardMouse));
    }
    pad.push_back(separator());
    for (std::size_t i = 0; i < kPresets.size(); ++i)
        pad.push_back(item(kPresets[i].text, kCommandPresetBase + static_cast<int>(i),
                           status.pad.preset == kPresets[i].preset));
    if (status.pad.preset == Preset::Custom) pad.push_back(item("Custom", 0, true, true));
    items.push_back(submenu("Gamepad output", std::move(pad)));
    items.push_back(item("Gamepad Mapping\u2026", kCommandMappingWindow));
    items.push_back(separator());
    items.push_back(item("Start on Windows Login", kCommandStartOnLogin, run_entry_present));
    items.push_back(item("Run with Administrator Access (Control UAC/Admin Windows)", kCommandAdminTask,
                         logon_task_present));
    items.push_back(separator());
    items.push_back(item("Exit Korvex", kCommandExit));
    return menu;
}

TrayCommand decode_command(int id, const TrayMenu& menu) {
    TrayCommand command;
    using K = TrayCommand::Kind;
    if (id == kCommandPair) {
        command.kind = K::Pair;
    } else if (id == kCommandStartOnLogin) {
        command.kind = K::SetRunEntry;
        command.enable = !menu.run_entry_present;
    } else if (id == kCommandAdminTask) {
        command.kind = K::ToggleLogonTask;
        command.task_present = menu.logon_task_present;
    } else if (id == kCommandExit) {
        command.kind = K::Exit;
    } else if (id >= kCommandRemoveDeviceBase && id < kCommandPresetBase) {
        auto index = static_cast<std::size_t>(id - kCommandRemoveDeviceBase);
        if (index < menu.device_ids.size()) {
            command.kind = K::RemoveDevice;
            command.client_id = menu.device_ids[index];
        }
    } else if (id >= kCommandPresetBase && id < kCommandPresetBase + static_cast<int>(kPresets.size())) {
        command.kind = K::ChoosePreset;
        command.preset = kPresets[static_cast<std::size_t>(id - kCommandPresetBase)].preset;
    } else if (id == kCommandVirtualPad || id == kCommandMappingOutput) {
        command.kind = K::ChoosePadOutput;
        command.output = id == kCommandVirtualPad ? PadOutputMode::VirtualController : PadOutputMode::KeyboardMouse;
    } else if (id == kCommandMappingWindow) {
        command.kind = K::MappingWindow;
    }
    return command;
}

unsigned host_notify_code(HostEvent::Kind kind) {
    switch (kind) {
        case HostEvent::Kind::DevicePaired:
            return kNotifyPairingFinished;
        case HostEvent::Kind::PairingCodeRetired:
            return kNotifyPairingWithdrawn;
        default:
            return kNotifyRefresh;
    }
}

std::string startup_failure_text(std::string_view error_text) {
    return "Korvex could not start: " + std::string(error_text);
}

std::u16string utf16_prefix(std::string_view utf8, std::size_t max_units) {
    std::u16string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
        unsigned char lead = byte(i);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t cp = 0xFFFD;
        bool valid = length != 0 && i + length <= utf8.size();
        if (valid) {
            cp = length == 1 ? lead : lead & (0x7F >> length);
            for (std::size_t k = 1; k < length && valid; ++k) {
                valid = (byte(i + k) & 0xC0) == 0x80;
                cp = (cp << 6) | (byte(i + k) & 0x3F);
            }
            constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = valid && cp >= kMin[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (!valid) {
            cp = 0xFFFD;
            length = 1;
        }
        std::size_t units = cp >= 0x10000 ? 2 : 1;
        if (out.size() + units > max_units) break;
        if (units == 2) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

std::u16string tooltip_text(const net::HostStatus& status) {
    return utf16_prefix(status.controller ? "Korvex - Controlled by " + *status.controller : "Korvex - Ready",
                        kTooltipUnits);
}

}  // namespace korvex::app
