#pragma once
// What the tray shows and what its commands mean, from a status snapshot:
// the menu tree with its ids, texts and flags, the tooltip, and the command
// a chosen id stands for. The Windows tray only renders this and calls the
// system.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_core.h"
#include "core/pad_mapping.h"
#include "net/host_control.h"

namespace korvex::app {

inline constexpr int kCommandPair = 1001;
inline constexpr int kCommandStartOnLogin = 1002;
inline constexpr int kCommandAdminTask = 1003;
inline constexpr int kCommandExit = 1099;
inline constexpr int kCommandRemoveDeviceBase = 2000;  // + device index in store order
inline constexpr int kCommandPresetBase = 3000;        // + preset 0..3
inline constexpr int kCommandVirtualPad = 3100;
inline constexpr int kCommandMappingOutput = 3101;
inline constexpr int kCommandMappingWindow = 3102;

struct MenuItem {
    enum class Kind { Item, Separator, Submenu };
    Kind kind = Kind::Item;
    std::string text;  // UTF-8
    int id = 0;        // 0: no command
    bool checked = false;
    bool disabled = false;
    std::vector<MenuItem> children;  // Submenu only
};

struct TrayMenu {
    std::vector<MenuItem> items;
    // Client ids of the listed devices, in the order of their remove ids.
    std::vector<std::string> device_ids;
    // The start-on-login states the check marks show; the toggles use them.
    bool run_entry_present = false;
    bool logon_task_present = false;
};

TrayMenu build_tray_menu(const net::HostStatus& status, bool run_entry_present, bool logon_task_present);

struct TrayCommand {
    enum class Kind {
        None, Pair, SetRunEntry, ToggleLogonTask, Exit, RemoveDevice, ChoosePreset, ChoosePadOutput, MappingWindow
    };
    Kind kind = Kind::None;
    std::string client_id;       // RemoveDevice
    bool enable = false;         // SetRunEntry: the value to set
    bool task_present = false;   // ToggleLogonTask: the presence the menu showed
    Preset preset = Preset::Shooter;
    PadOutputMode output = PadOutputMode::KeyboardMouse;
};

// The command an id chosen from `menu` stands for; unknown ids and devices
// outside the listed range give None.
TrayCommand decode_command(int id, const TrayMenu& menu);

// The tray window's private messages' wParam for WM_HOST_NOTIFY.
inline constexpr unsigned kNotifyPairingFinished = 1;
inline constexpr unsigned kNotifyPairingWithdrawn = 2;
inline constexpr unsigned kNotifyRefresh = 3;
// What an event tells the tray: the first two also close the flyout.
unsigned host_notify_code(HostEvent::Kind kind);

// The tip field holds 128 UTF-16 units with the terminating zero.
inline constexpr std::size_t kTooltipUnits = 127;

// "Korvex - Ready" or "Korvex - Controlled by NAME", cut to kTooltipUnits.
std::u16string tooltip_text(const net::HostStatus& status);

// The start-up error box's text for a host that could not start.
std::string startup_failure_text(std::string_view error_text);

// UTF-8 to UTF-16 (invalid bytes become U+FFFD), at most `max_units` units;
// a character whose surrogate pair would straddle the limit is left out
// whole, so the text never ends in half a character.
std::u16string utf16_prefix(std::string_view utf8, std::size_t max_units);

}  // namespace korvex::app
