#include "net/posix/x_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvex::test {

using namespace std::chrono_literals;

XvfbServer::XvfbServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 3);  // without O_CLOEXEC now
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    auto until = std::chrono::steady_clock::now() + 15s;
    while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(fds[0], &c, 1) != 1) break;
        if (c == '\n') {
            display_ = ":" + number;
            break;
        }
        number.push_back(c);
    }
    close(fds[0]);
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<char32_t> keysym_char(unsigned long keysym) {
    if (keysym == XK_Return) return U'\n';
    if (keysym == XK_Tab) return U'\t';
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) return static_cast<char32_t>(keysym);
    if ((keysym & 0xFF000000) == 0x01000000) return static_cast<char32_t>(keysym & 0x00FFFFFF);
    return std::nullopt;
}

XProbe::XProbe(const std::string& display) {
    display_ = XOpenDisplay(display.c_str());
    if (!display_) return;
    Display* d = display_;
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1024, 768, 0, 0, 0);
    XSelectInput(d, window_,
                 KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    clipboard_ = XInternAtom(d, "CLIPBOARD", False);
    utf8_ = XInternAtom(d, "UTF8_STRING", False);
    paste_property_ = XInternAtom(d, "KORVEX_PROBE_PASTE", False);
    XMapWindow(d, window_);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify) break;
    }
    // Exact pixels and no server-side repeats for the run.
    XChangePointerControl(d, True, True, 1, 1, 1);
    XAutoRepeatOff(d);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XWarpPointer(d, None, window_, 0, 0, 0, 0, 500, 400);
    XSync(d, False);
    ready_ = true;
    thread_ = std::thread([this] { run(); });
}

XProbe::~XProbe() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (display_) {
        XAutoRepeatOn(display_);
        XCloseDisplay(display_);
    }
}

void XProbe::run() {
    while (!stop_) {
        while (XPending(display_) > 0) {
            XEvent e;
            XNextEvent(display_, &e);
            std::lock_guard lock(mutex_);
            switch (e.type) {
                case MappingNotify: XRefreshKeyboardMapping(&e.xmapping); break;
                case KeyPress:
                case KeyRelease: {
                    unsigned long first = XkbKeycodeToKeysym(display_, static_cast<KeyCode>(e.xkey.keycode), 0, 0);
                    keys_.push_back({e.type == KeyPress, e.xkey.keycode, first, e.xkey.state});
                    if (e.type != KeyPress) break;
                    char buffer[16];
                    KeySym typed = NoSymbol;
                    XLookupString(&e.xkey, buffer, sizeof buffer, &typed, nullptr);
                    if ((e.xkey.state & ControlMask) != 0) {
                        // Paste: ask the CLIPBOARD owner, as an application does.
                        if (first == XK_v)
                            XConvertSelection(display_, clipboard_, utf8_, paste_property_, window_, e.xkey.time);
                    } else if (auto c = keysym_char(typed)) {
                        text_.push_back(*c);
                    }
                    break;
                }
                case ButtonPress:
                case ButtonRelease: buttons_.push_back({e.type == ButtonPress, e.xbutton.button}); break;
                case SelectionNotify:
                    if (e.xselection.property != None) {
                        Atom type;
                        int format;
                        unsigned long count, after;
                        unsigned char* data = nullptr;
                        XGetWindowProperty(display_, window_, paste_property_, 0, 1 << 20, True, AnyPropertyType, &type,
                                           &format, &count, &after, &data);
                        pasted_ = std::string(reinterpret_cast<char*>(data), count);
                        if (data) XFree(data);
                    }
                    break;
                default: break;
            }
        }
        pollfd p{ConnectionNumber(display_), POLLIN, 0};
        poll(&p, 1, 20);
    }
}

std::u32string XProbe::text() {
    std::lock_guard lock(mutex_);
    return text_;
}
std::vector<KeyRecord> XProbe::keys() {
    std::lock_guard lock(mutex_);
    return keys_;
}
std::vector<ButtonRecord> XProbe::buttons() {
    std::lock_guard lock(mutex_);
    return buttons_;
}
std::optional<std::string> XProbe::pasted() {
    std::lock_guard lock(mutex_);
    return pasted_;
}
void XProbe::clear() {
    std::lock_guard lock(mutex_);
    text_.clear();
    keys_.clear();
    buttons_.clear();
    pasted_.reset();
}

bool XProbe::wait(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

XObserver::XObserver(const std::string& display) {
    display_ = XOpenDisplay(display.c_str());
    if (display_)
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), -10, -10, 1, 1, 0, 0, 0);
}

XObserver::~XObserver() {
    if (display_) XCloseDisplay(display_);
}

std::optional<std::string> XObserver::clipboard_text(std::chrono::milliseconds limit) {
    Atom clipboard = XInternAtom(display_, "CLIPBOARD", False);
    Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Atom property = XInternAtom(display_, "KORVEX_OBSERVER", False);
    XConvertSelection(display_, clipboard, utf8, property, window_, CurrentTime);
    XFlush(display_);
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        XEvent e;
        if (!XCheckTypedWindowEvent(display_, window_, SelectionNotify, &e)) {
            std::this_thread::sleep_for(10ms);
            continue;
        }
        if (e.xselection.property == None) return std::nullopt;
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(display_, window_, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count,
                           &after, &data);
        std::string text(reinterpret_cast<char*>(data), count);
        if (data) XFree(data);
        if (type != utf8) return std::nullopt;
        return text;
    }
    return std::nullopt;
}

std::pair<int, int> XObserver::pointer() {
    Window root, child;
    int rx = 0, ry = 0, wx, wy;
    unsigned mask;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, ry};
}

std::vector<unsigned> XObserver::keys_down() {
    char keymap[32];
    XQueryKeymap(display_, keymap);
    std::vector<unsigned> down;
    for (unsigned code = 0; code < 256; ++code)
        if (keymap[code / 8] & (1 << (code % 8))) down.push_back(code);
    return down;
}

unsigned XObserver::buttons_down() {
    Window root, child;
    int rx, ry, wx, wy;
    unsigned mask = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

}  // namespace korvex::test
