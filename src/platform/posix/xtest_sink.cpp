#include "platform/posix/xtest_sink.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// Xlib names its result type Status, which is ours too.
#undef Status

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/key_keysyms.h"
#include "core/wheel_steps.h"
#include "platform/posix/desktop_actions.h"
#include "platform/posix/x_clipboard_owner.h"

namespace korvex::posix {
namespace {

using Clock = std::chrono::steady_clock;

// Xlib's default handler ends the process on any protocol error; a failed
// request (a window gone, a keycode refused) must only fail that request.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// A spare binding is given back once unused this long.
constexpr auto kSpareIdle = std::chrono::seconds(2);
// A spare keycode is bound to a new keysym only this long after its last
// use, so that clients still translating earlier key events (with a keymap
// fetched after the change) have had time to do so.
constexpr auto kSpareReuseGap = std::chrono::milliseconds(100);

// The core keyboard mapping as this sink last read it.
class KeyboardMap {
public:
    void load(Display* d) {
        XDisplayKeycodes(d, &min_, &max_);
        int per = 0;
        KeySym* syms = XGetKeyboardMapping(d, static_cast<::KeyCode>(min_), max_ - min_ + 1, &per);
        per_ = syms ? per : 0;
        syms_.assign(syms, syms ? syms + static_cast<std::size_t>(per_) * (max_ - min_ + 1) : syms);
        if (syms) XFree(syms);
    }
    struct Found {
        unsigned code;
        int index;
    };
    // The lowest index first, so a keysym on a key's first level is found
    // there and not on another key's second.
    std::optional<Found> find(KeySym keysym, int max_index) const {
        for (int index = 0; index <= std::min(max_index, per_ - 1); ++index)
            for (int code = min_; code <= max_; ++code)
                if (at(code, index) == keysym) return Found{static_cast<unsigned>(code), index};
        return std::nullopt;
    }
    bool empty(int code) const {
        for (int index = 0; index < per_; ++index)
            if (at(code, index) != NoSymbol) return false;
        return true;
    }
    void set(int code, KeySym keysym) {
        for (int index = 0; index < per_; ++index)
            syms_[static_cast<std::size_t>((code - min_) * per_ + index)] = index < 2 ? keysym : NoSymbol;
    }
    int min() const { return min_; }
    int max() const { return max_; }

private:
    KeySym at(int code, int index) const { return syms_[static_cast<std::size_t>((code - min_) * per_ + index)]; }
    int min_ = 8, max_ = 8, per_ = 0;
    std::vector<KeySym> syms_;
};

class XTestSink final : public InputSink {
public:
    XTestSink(Display* display, std::string name, std::unique_ptr<XClipboardOwner> clipboard, XTestSinkOptions options)
        : display_(display),
          name_(std::move(name)),
          clipboard_(std::move(clipboard)),
          actions_(options.notices, options.backlight_root),
          notices_(std::move(options.notices)) {
        map_.load(display_);
        for (int code = map_.min(); code <= map_.max(); ++code)
            if (map_.empty(code)) spares_[static_cast<unsigned>(code)] = Spare{};
    }

    ~XTestSink() override {
        std::lock_guard lock(mutex_);
        // Whatever this sink still holds goes up, and the layout gets its
        // spare keycodes back.
        for (const auto& [keysym, held] : held_) XTestFakeKeyEvent(display_, held.code, False, 0);
        for (auto& [code, spare] : spares_)
            if (spare.keysym != NoSymbol) unbind(code, spare);
        XSync(display_, False);
        clipboard_.reset();
        XCloseDisplay(display_);
    }

    void mouse_move(std::int32_t dx, std::int32_t dy) override {
        std::lock_guard lock(mutex_);
        begin();
        // The request carries 16-bit deltas.
        while (dx != 0 || dy != 0) {
            int sx = std::clamp(dx, -32767, 32767), sy = std::clamp(dy, -32767, 32767);
            XTestFakeRelativeMotionEvent(display_, sx, sy, 0);
            dx -= sx;
            dy -= sy;
        }
        XFlush(display_);
    }

    void mouse_button(std::uint8_t button, bool down) override {
        // Ours count 1 left, 2 right, 3 middle; X counts 1 left, 2 middle, 3 right.
        static constexpr unsigned kXButton[] = {0, 1, 3, 2};
        if (button < 1 || button > 3) return;
        std::lock_guard lock(mutex_);
        begin();
        XTestFakeButtonEvent(display_, kXButton[button], down ? True : False, 0);
        XFlush(display_);
    }

    void wheel(std::int32_t amount) override { click_wheel(vertical_, amount, 4, 5); }
    void hwheel(std::int32_t amount) override { click_wheel(horizontal_, amount, 7, 6); }

    void key(KeyCode code, bool down) override {
        auto keysym = key_code_to_keysym(code);
        if (!keysym) return;  // outside the vocabulary: nothing, as on Windows
        std::lock_guard lock(mutex_);
        begin();
        if (down) {
            auto it = held_.find(*keysym);
            std::optional<unsigned> kc;
            if (it != held_.end()) kc = it->second.code;  // a repeat goes to the same keycode
            else kc = keycode_for(*keysym, 255);
            if (!kc) return;
            XTestFakeKeyEvent(display_, *kc, True, 0);
            if (it == held_.end()) {
                held_[*keysym] = Held{*kc};
                if (auto spare = spares_.find(*kc); spare != spares_.end()) ++spare->second.holders;
            }
        } else {
            auto it = held_.find(*keysym);
            if (it != held_.end()) {
                XTestFakeKeyEvent(display_, it->second.code, False, 0);
                if (auto spare = spares_.find(it->second.code); spare != spares_.end()) {
                    --spare->second.holders;
                    spare->second.used = Clock::now();
                }
                held_.erase(it);
            } else if (auto found = map_.find(*keysym, 255)) {
                // Not pressed by us (a second release from release_all): the
                // server ignores the release of a key that is up.
                XTestFakeKeyEvent(display_, found->code, False, 0);
            }
        }
        XFlush(display_);
    }

    void type_text(std::span<const char16_t> units) override {
        auto keysyms = text_keysyms(units);
        std::lock_guard lock(mutex_);
        begin();
        const bool shift_held = held_.contains(kKeysymShiftL) || held_.contains(0xFFE2);
        std::optional<unsigned> shift_code;
        for (std::uint32_t keysym : keysyms) {
            auto found = map_.find(keysym, 1);
            unsigned code = 0;
            bool wrap_shift = false;
            if (found && (found->index == 1) == shift_held) {
                code = found->code;
            } else if (found && found->index == 1 && !shift_held) {
                if (!shift_code) shift_code = keycode_for(kKeysymShiftL, 0);
                code = found->code;
                wrap_shift = shift_code.has_value();
                if (!wrap_shift) code = 0;
            }
            if (code == 0) {
                // Not on the first two levels (or Shift is in the way): a
                // spare keycode with the keysym on both levels.
                auto spare = bind_spare(keysym);
                if (!spare) continue;
                code = *spare;
            }
            if (wrap_shift) XTestFakeKeyEvent(display_, *shift_code, True, 0);
            XTestFakeKeyEvent(display_, code, True, 0);
            XTestFakeKeyEvent(display_, code, False, 0);
            if (wrap_shift) XTestFakeKeyEvent(display_, *shift_code, False, 0);
            if (auto spare = spares_.find(code); spare != spares_.end()) spare->second.used = Clock::now();
        }
        XFlush(display_);
    }

    Status lock_workstation() override { return actions_.lock(); }

    void keep_awake() override {
        // A one-shot reset of the idle timer (blanking and DPMS), like the
        // Windows call without a lasting state.
        std::lock_guard lock(mutex_);
        XForceScreenSaver(display_, ScreenSaverReset);
        XFlush(display_);
    }

    Status set_clipboard(std::string_view utf8_text) override {
        if (!clipboard_) return fail("no clipboard owner on display " + name_);
        if (clipboard_->set(std::string(utf8_text))) return {};
        if (!clipboard_noticed_) {
            clipboard_noticed_ = true;
            if (notices_) notices_("The clipboard could not be taken on display " + name_ + ".");
        }
        return fail("the clipboard could not be taken on display " + name_);
    }

    void adjust_brightness(bool up) override { actions_.adjust_brightness(up); }

private:
    struct Held {
        unsigned code;
    };
    struct Spare {
        KeySym keysym = NoSymbol;
        int holders = 0;
        Clock::time_point used{};
    };

    // Every operation starts here: it follows layout changes made by others
    // and gives back spare keycodes that have been idle a while.
    void begin() {
        bool remapped = false;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MappingNotify && event.xmapping.request == MappingKeyboard) remapped = true;
        }
        if (remapped) map_.load(display_);
        if (bound_ == 0) return;
        auto now = Clock::now();
        for (auto& [code, spare] : spares_)
            if (spare.keysym != NoSymbol && spare.holders == 0 && now - spare.used > kSpareIdle) unbind(code, spare);
    }

    std::optional<unsigned> keycode_for(KeySym keysym, int max_index) {
        if (auto found = map_.find(keysym, max_index)) return found->code;
        return bind_spare(keysym);
    }

    std::optional<unsigned> bind_spare(KeySym keysym) {
        for (auto& [code, spare] : spares_)
            if (spare.keysym == keysym) return code;
        // A free one, else the one unused longest that nobody holds.
        Spare* chosen = nullptr;
        unsigned chosen_code = 0;
        for (auto& [code, spare] : spares_) {
            if (spare.holders > 0) continue;
            bool better = !chosen || (chosen->keysym != NoSymbol &&
                                      (spare.keysym == NoSymbol || spare.used < chosen->used));
            if (better) {
                chosen = &spare;
                chosen_code = code;
            }
        }
        if (!chosen) return std::nullopt;
        if (chosen->keysym != NoSymbol) {
            auto since = Clock::now() - chosen->used;
            if (since < kSpareReuseGap) {
                XSync(display_, False);
                std::this_thread::sleep_for(kSpareReuseGap - since);
            }
        } else {
            ++bound_;
        }
        KeySym both[2] = {keysym, keysym};
        XChangeKeyboardMapping(display_, static_cast<int>(chosen_code), 2, both, 1);
        map_.set(static_cast<int>(chosen_code), keysym);
        chosen->keysym = keysym;
        chosen->used = Clock::now();
        return chosen_code;
    }

    void unbind(unsigned code, Spare& spare) {
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(display_, static_cast<int>(code), 2, none, 1);
        map_.set(static_cast<int>(code), NoSymbol);
        spare.keysym = NoSymbol;
        --bound_;
    }

    void click_wheel(WheelSteps& steps, std::int32_t amount, unsigned positive, unsigned negative) {
        std::lock_guard lock(mutex_);
        begin();
        std::int32_t notches = steps.add(amount);
        unsigned button = notches > 0 ? positive : negative;
        for (std::int32_t i = 0; i < std::abs(notches); ++i) {
            XTestFakeButtonEvent(display_, button, True, 0);
            XTestFakeButtonEvent(display_, button, False, 0);
        }
        XFlush(display_);
    }

    std::mutex mutex_;
    Display* display_;
    std::string name_;
    std::unique_ptr<XClipboardOwner> clipboard_;
    DesktopActions actions_;
    NoticeFn notices_;
    bool clipboard_noticed_ = false;
    KeyboardMap map_;
    std::map<unsigned, Spare> spares_;
    int bound_ = 0;
    std::map<std::uint32_t, Held> held_;  // keysym -> the keycode it went down on
    WheelSteps vertical_, horizontal_;
};

}  // namespace

Result<std::unique_ptr<InputSink>> open_xtest_sink(XTestSinkOptions options) {
    XSetErrorHandler(ignore_x_error);
    Display* display = XOpenDisplay(options.display.c_str());
    if (!display) return fail("the X display \"" + options.display + "\" could not be opened");
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
        XCloseDisplay(display);
        return fail("the X display \"" + options.display + "\" has no XTEST extension");
    }
    // The sink's own requests never wait for other clients' grabs.
    XTestGrabControl(display, True);
    auto clipboard = XClipboardOwner::open(options.display);
    std::unique_ptr<XClipboardOwner> owner = clipboard ? std::move(*clipboard) : nullptr;
    std::string name = options.display;
    return std::unique_ptr<InputSink>(new XTestSink(display, std::move(name), std::move(owner), std::move(options)));
}

}  // namespace korvex::posix
