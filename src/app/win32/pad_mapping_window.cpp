#include "app/win32/pad_mapping_window.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "app/flyout_layout.h"
#include "app/pad_mapping_window_model.h"
#include "app/tray_model.h"
#include "app/win32/tray.h"
#include "net/host_control.h"
#include "platform/win32/win32_support.h"

namespace korvex::app::win32 {

namespace {

constexpr wchar_t kMappingClass[] = L"KorvexPadMapping";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

struct MappingWindowState {
    HWND window = nullptr;
    HWND tray = nullptr;
    net::HostControl* control = nullptr;
    MappingEdit edit;
    HHOOK hook = nullptr;
    HFONT font = nullptr;
    unsigned dpi = 96;
};

thread_local std::unique_ptr<MappingWindowState> t_mapping;

// What the hook procedure shares with the window. The hook runs on this
// same thread (between its messages), so only the window handle is an
// atomic; the procedure touches no window state and never blocks.
std::atomic<HWND> g_capture_window{nullptr};
KeyCapture g_key_capture;

std::wstring wide(std::string_view text) { return korvex::win32::widen(text).value_or(std::wstring()); }

HWND item(const MappingWindowState& s, int id) { return GetDlgItem(s.window, id); }

LRESULT CALLBACK capture_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
        KeyMessage message = KeyMessage::Other;
        if (wparam == WM_KEYDOWN || wparam == WM_SYSKEYDOWN) message = KeyMessage::Down;
        if (wparam == WM_KEYUP || wparam == WM_SYSKEYUP) message = KeyMessage::Up;
        HookDecision d = g_key_capture.on_key(static_cast<std::uint16_t>(info->vkCode), message,
                                              (info->flags & LLKHF_INJECTED) != 0);
        if (d.result) {
            if (HWND window = g_capture_window.load())
                PostMessageW(window, WM_CAPTURE_RESULT, d.result->usage, d.result->mods);
        }
        if (d.swallow) return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Removes the hook; the tray hears that it may take the host's lock again.
void unhook(MappingWindowState& s) {
    g_capture_window.store(nullptr);
    if (!s.hook) return;
    UnhookWindowsHookEx(s.hook);
    s.hook = nullptr;
    if (s.tray) PostMessageW(s.tray, WM_HOST_NOTIFY, kNotifyRefresh, 0);
}

void set_text(HWND control, const std::string& text) {
    std::wstring w = wide(text);
    int length = GetWindowTextLengthW(control);
    std::wstring old(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    GetWindowTextW(control, old.data(), length + 1);
    old.resize(static_cast<std::size_t>(std::max(length, 0)));
    if (old != w) SetWindowTextW(control, w.c_str());  // unchanged texts do not flicker
}

void enable(HWND control, bool on) { EnableWindow(control, on ? TRUE : FALSE); }

void refresh(MappingWindowState& s) {
    const MappingView v = s.edit.view();
    for (std::size_t i = 0; i < kPadSlotCount; ++i) {
        set_text(item(s, slot_control_id(kIdSlotBinding, i)), v.slots[i].binding);
        set_text(item(s, slot_control_id(kIdSlotChange, i)), v.slots[i].change);
        SendMessageW(item(s, slot_control_id(kIdSlotAction, i)), CB_SETCURSEL, static_cast<WPARAM>(v.slots[i].action), 0);
    }
    for (std::size_t k = 0; k < 2; ++k) {
        const StickView& st = v.sticks[k];
        SendMessageW(item(s, stick_control_id(kIdStickMode, k)), CB_SETCURSEL, static_cast<WPARAM>(st.mode), 0);
        for (int d = 0; d < 4; ++d) {
            HWND button = item(s, stick_control_id(kIdStickUp, k) + d);
            set_text(button, st.directions[static_cast<std::size_t>(d)]);
            enable(button, st.directions_enabled);
        }
        HWND deadzone = item(s, stick_control_id(kIdStickDeadzone, k));
        SendMessageW(deadzone, TBM_SETPOS, TRUE, st.deadzone);
        enable(deadzone, st.deadzone_enabled);
        set_text(item(s, stick_control_id(kIdStickDeadzoneText, k)), st.deadzone_text);
        HWND sensitivity = item(s, stick_control_id(kIdStickSensitivity, k));
        SendMessageW(sensitivity, TBM_SETPOS, TRUE, st.sensitivity);
        enable(sensitivity, st.sensitivity_enabled);
        set_text(item(s, stick_control_id(kIdStickSensitivityText, k)), st.sensitivity_text);
        HWND invert = item(s, stick_control_id(kIdStickInvertY, k));
        SendMessageW(invert, BM_SETCHECK, st.invert_y ? BST_CHECKED : BST_UNCHECKED, 0);
        enable(invert, st.invert_enabled);
    }
    SendMessageW(item(s, kIdOutput), CB_SETCURSEL, static_cast<WPARAM>(v.output), 0);
    SendMessageW(item(s, kIdPreset), CB_SETCURSEL, static_cast<WPARAM>(v.preset), 0);
    set_text(item(s, kIdExplanation), v.explanation);
    enable(item(s, kIdSave), v.save_enabled);
}

void stop_capture(MappingWindowState& s) {
    unhook(s);
    s.edit.stop_capture();
}

void start_capture(MappingWindowState& s, CaptureTarget target) {
    stop_capture(s);
    g_key_capture.reset();
    g_capture_window.store(s.window);
    s.hook = SetWindowsHookExW(WH_KEYBOARD_LL, capture_hook, GetModuleHandleW(nullptr), 0);
    if (s.hook)
        s.edit.start_capture(target);
    else
        g_capture_window.store(nullptr);  // no hook, no capture: the target keeps its text
    refresh(s);
}

// Install first, then write; the mapping is active even when writing fails.
void save(MappingWindowState& s) {
    stop_capture(s);
    Status written = s.control->install_mapping(s.edit.edited());
    s.edit.mark_saved();
    refresh(s);
    if (!written)
        MessageBoxW(s.window, wide(kSaveFailedText).c_str(), L"Korvex", MB_OK | MB_ICONWARNING);
}

void close(MappingWindowState& s) {
    stop_capture(s);
    refresh(s);
    if (s.edit.unsaved()) {
        int answer = MessageBoxW(s.window, wide(kSaveQuestionText).c_str(), L"Korvex",
                                 MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL || answer == 0) return;
        if (answer == IDYES) save(s);
    }
    DestroyWindow(s.window);
}

int combo_selection(LPARAM control) {
    return static_cast<int>(SendMessageW(reinterpret_cast<HWND>(control), CB_GETCURSEL, 0, 0));
}

void on_command(MappingWindowState& s, int id, int notification, LPARAM control) {
    const bool clicked = notification == BN_CLICKED;
    const bool selected = notification == CBN_SELCHANGE;
    if (id >= kIdSlotBinding && id < kIdSlotBinding + 4 * static_cast<int>(kPadSlotCount)) {
        const auto slot = static_cast<std::size_t>((id - kIdSlotBinding) / 4);
        const int role = (id - kIdSlotBinding) % 4;
        if (role == 1 && clicked) start_capture(s, CaptureTarget::for_slot(slot));
        if (role == 2 && selected) {
            int index = combo_selection(control);
            if (index < 0 || index >= static_cast<int>(kActionItemCount)) return;
            if (s.edit.choose_action(slot, static_cast<ActionItem>(index)))
                start_capture(s, CaptureTarget::for_slot(slot));
            else
                refresh(s);
        }
        return;
    }
    if (id >= kIdStickMode && id < kIdStickMode + 40) {
        const auto stick = static_cast<std::size_t>((id - kIdStickMode) / 20);
        const int role = (id - kIdStickMode) % 20;
        if (role == 0 && selected) {
            int index = combo_selection(control);
            if (index >= 0 && index < 4) s.edit.set_stick_mode(stick, static_cast<StickMode>(index));
            refresh(s);
        } else if (role >= 1 && role <= 4 && clicked) {
            start_capture(s, CaptureTarget::for_stick(stick, static_cast<PadDirection>(role - 1)));
        } else if (role == kIdStickInvertY - kIdStickMode && clicked) {
            s.edit.set_invert_y(stick, SendMessageW(reinterpret_cast<HWND>(control), BM_GETCHECK, 0, 0) == BST_CHECKED);
            refresh(s);
        }
        return;
    }
    switch (id) {
        case kIdOutput:
            if (!selected) return;
            if (int index = combo_selection(control); index == 0 || index == 1)
                s.edit.choose_output(static_cast<PadOutputMode>(index));
            refresh(s);
            return;
        case kIdPreset:
            if (!selected) return;
            if (int index = combo_selection(control); index >= 0 && index < static_cast<int>(kPresetCount))
                s.edit.choose_preset(static_cast<Preset>(index));
            refresh(s);
            return;
        case kIdReset:
            if (clicked) {
                s.edit.reset_to_defaults();
                refresh(s);
            }
            return;
        case kIdSave:
            if (clicked && s.edit.unsaved()) save(s);
            return;
        case kIdClose:
        case IDCANCEL:  // Esc outside a capture
            if (clicked) close(s);
            return;
        default:
            return;
    }
}

void on_trackbar(MappingWindowState& s, HWND trackbar) {
    const int id = GetDlgCtrlID(trackbar);
    const int position = static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0));
    for (std::size_t k = 0; k < 2; ++k) {
        if (id == stick_control_id(kIdStickDeadzone, k)) s.edit.set_deadzone(k, position);
        if (id == stick_control_id(kIdStickSensitivity, k)) s.edit.set_sensitivity(k, position);
    }
    refresh(s);
}

LRESULT CALLBACK mapping_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MappingWindowState* s = t_mapping && t_mapping->window == window ? t_mapping.get() : nullptr;
    if (!s) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
        case WM_COMMAND:
            on_command(*s, LOWORD(wparam), HIWORD(wparam), lparam);
            return 0;
        case WM_HSCROLL:
            if (lparam) on_trackbar(*s, reinterpret_cast<HWND>(lparam));
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE && s->edit.capture().active()) {
                stop_capture(*s);
                refresh(*s);
            }
            break;
        case WM_CLOSE:
            close(*s);
            return 0;
        case WM_CAPTURE_RESULT:
            if (s->edit.capture().active()) {
                unhook(*s);
                s->edit.capture_result(static_cast<std::uint8_t>(wparam), static_cast<MappingMods>(lparam));
                refresh(*s);
            }
            return 0;
        case WM_DESTROY:
            unhook(*s);
            return 0;
        case WM_NCDESTROY: {
            std::unique_ptr<MappingWindowState> gone = std::move(t_mapping);
            if (gone->font) DeleteObject(gone->font);
            return DefWindowProcW(window, message, wparam, lparam);
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

unsigned window_dpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    unsigned dpi = 0;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
        if (auto get = reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow"))))
            dpi = get(window);
    }
    if (dpi == 0) {
        HDC dc = GetDC(window);
        dpi = dc ? static_cast<unsigned>(std::max(GetDeviceCaps(dc, LOGPIXELSY), 0)) : 96u;
        if (dc) ReleaseDC(window, dc);
    }
    return std::max(dpi, 96u);
}

// The outer size for the client area at the window's DPI.
void size_for_client(HWND window, unsigned dpi) {
    RECT r{0, 0, scale_to_dpi(kMappingClientWidth96, dpi), scale_to_dpi(kMappingClientHeight96, dpi)};
    using Adjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    Adjust adjust = nullptr;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll"))
        adjust = reinterpret_cast<Adjust>(reinterpret_cast<void*>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
    if (!adjust || !adjust(&r, kStyle, FALSE, kExStyle, dpi)) AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
    SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void fill_combo(HWND combo, std::span<const std::string_view> texts) {
    for (auto text : texts) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(text).c_str()));
}

void create_controls(MappingWindowState& s, HINSTANCE instance) {
    for (const ControlSpec& c : mapping_window_controls()) {
        const wchar_t* cls = L"BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE;
        switch (c.kind) {
            case ControlClass::GroupBox: style |= BS_GROUPBOX; break;
            case ControlClass::Label: cls = L"STATIC"; style |= SS_LEFT | SS_NOPREFIX; break;
            case ControlClass::LabelEdged: cls = L"STATIC"; style |= SS_LEFT | SS_NOPREFIX; break;
            case ControlClass::Button: style |= WS_TABSTOP | BS_PUSHBUTTON; break;
            case ControlClass::DefaultButton: style |= WS_TABSTOP | BS_DEFPUSHBUTTON; break;
            case ControlClass::CheckBox: style |= WS_TABSTOP | BS_AUTOCHECKBOX; break;
            case ControlClass::ComboBox: cls = L"COMBOBOX"; style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST; break;
            case ControlClass::Trackbar: cls = TRACKBAR_CLASSW; style |= WS_TABSTOP | TBS_AUTOTICKS; break;
        }
        // One-line labels are centred vertically; the two-line explanation is not.
        if ((c.kind == ControlClass::Label || c.kind == ControlClass::LabelEdged) && c.height <= 23)
            style |= SS_CENTERIMAGE;
        DWORD ex = c.kind == ControlClass::LabelEdged ? WS_EX_STATICEDGE : 0;
        std::wstring text = wide(c.text);
        HWND control = CreateWindowExW(ex, cls, text.c_str(), style, scale_to_dpi(c.x, s.dpi), scale_to_dpi(c.y, s.dpi),
                                       scale_to_dpi(c.width, s.dpi), scale_to_dpi(c.height, s.dpi), s.window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        if (!control) continue;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
        if (c.kind == ControlClass::ComboBox) {
            if (c.id == kIdOutput)
                fill_combo(control, output_item_texts());
            else if (c.id == kIdPreset)
                fill_combo(control, preset_item_texts());
            else if (c.id >= kIdStickMode && c.id < kIdOutput)
                fill_combo(control, stick_mode_item_texts());
            else
                fill_combo(control, action_item_texts());
        }
        if (c.kind == ControlClass::Trackbar) {
            const bool deadzone = (c.id - kIdStickDeadzone) % 20 == 0;
            SendMessageW(control, TBM_SETRANGE, FALSE,
                         deadzone ? MAKELPARAM(0, kDeadzoneMax) : MAKELPARAM(kSensitivityMin, kSensitivityMax));
            SendMessageW(control, TBM_SETTICFREQ, deadzone ? kDeadzoneTick : kSensitivityTick, 0);
        }
    }
}

}  // namespace

void show_mapping_window(net::HostControl& control, HWND tray) {
    if (t_mapping) {
        HWND open = t_mapping->window;
        if (IsIconic(open)) ShowWindow(open, SW_RESTORE);
        SetForegroundWindow(open);
        return;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common);
    WNDCLASSW wc{};
    wc.lpfnWndProc = mapping_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kMappingClass;
    RegisterClassW(&wc);  // already registered after the first window

    auto state = std::make_unique<MappingWindowState>(MappingWindowState{
        nullptr, tray, &control, MappingEdit(control.mapping(), control.status().pad.virtual_pad_plugged), nullptr,
        nullptr, 96});
    HWND window = CreateWindowExW(kExStyle, kMappingClass, L"Korvex - Gamepad Mapping", kStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, kMappingClientWidth96, kMappingClientHeight96, nullptr, nullptr,
                                  instance, nullptr);
    if (!window) return;
    state->window = window;
    state->dpi = window_dpi(window);
    state->font = CreateFontW(-static_cast<int>(state->dpi / 8), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                              DEFAULT_PITCH, L"Segoe UI");
    t_mapping = std::move(state);
    MappingWindowState& s = *t_mapping;
    size_for_client(window, s.dpi);
    create_controls(s, instance);
    refresh(s);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
}

void mapping_window_follow(net::HostControl& control) {
    if (!t_mapping) return;
    t_mapping->edit.external_change(control.mapping(), control.status().pad.virtual_pad_plugged);
    refresh(*t_mapping);
}

HWND mapping_window() { return t_mapping ? t_mapping->window : nullptr; }

bool mapping_capture_running() { return t_mapping && t_mapping->hook; }

void stop_mapping_capture() {
    if (!t_mapping || !t_mapping->hook) return;
    stop_capture(*t_mapping);
    refresh(*t_mapping);
}

}  // namespace korvex::app::win32
