#pragma once
// For the X tests: a private Xvfb server, and a small X client that owns a
// focused full-screen window and records what arrives in it.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// Xlib's Status macro would shadow the project's Status type.
#undef Status

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvex::test {

// Xvfb on a display it picks itself, without resets when clients leave.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    bool started() const { return !display_.empty(); }
    const std::string& display() const { return display_; }  // ":N"

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct KeyRecord {
    bool press;
    unsigned keycode;
    unsigned long keysym;  // the key's first keysym
    unsigned state;        // modifier mask at the event
    bool operator==(const KeyRecord&) const = default;
};

struct ButtonRecord {
    bool press;
    unsigned button;
    bool operator==(const ButtonRecord&) const = default;
};

class XProbe {
public:
    explicit XProbe(const std::string& display);
    ~XProbe();
    bool ready() const { return ready_; }

    // Copies under the lock.
    std::u32string text();
    std::vector<KeyRecord> keys();
    std::vector<ButtonRecord> buttons();
    std::optional<std::string> pasted();
    void clear();

    // Waits up to `limit` for `done` (checked every 10 ms); true when it held.
    bool wait(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    void run();

    Display* display_ = nullptr;
    Window window_ = 0;
    Atom clipboard_ = 0, utf8_ = 0, paste_property_ = 0;
    std::atomic<bool> stop_{false};
    bool ready_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::u32string text_;
    std::vector<KeyRecord> keys_;
    std::vector<ButtonRecord> buttons_;
    std::optional<std::string> pasted_;
};

// Another client's view: the CLIPBOARD text (as UTF8_STRING), the pointer
// position, whether any key or pointer button is down.
class XObserver {
public:
    explicit XObserver(const std::string& display);
    ~XObserver();
    std::optional<std::string> clipboard_text(std::chrono::milliseconds limit = std::chrono::seconds(5));
    std::pair<int, int> pointer();
    std::vector<unsigned> keys_down();
    unsigned buttons_down();  // Button1Mask ... Button5Mask bits

private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

// A keysym to the character it types, for the keysyms a text turns into.
std::optional<char32_t> keysym_char(unsigned long keysym);

}  // namespace korvex::test
