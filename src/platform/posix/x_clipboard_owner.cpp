#include "platform/posix/x_clipboard_owner.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
// Xlib names its result type Status, which is ours too.
#undef Status
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/input_text.h"

namespace korvex::posix {

struct XClipboardOwner::Impl {
    Display* display = nullptr;
    Window window = 0;
    Atom clipboard = 0, targets = 0, utf8 = 0, text = 0, timestamp = 0, stamp_property = 0;
    int wake[2] = {-1, -1};

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> pending;  // handed over by set(), taken by the thread
    std::uint64_t requested = 0, served = 0;
    bool stop = false;

    // The thread's own state.
    std::string text_now;
    bool owned = false;
    Time owned_since = CurrentTime;
    bool awaiting_stamp = false;
    std::uint64_t awaiting = 0;

    ~Impl() {
        if (display) XCloseDisplay(display);
        for (int fd : wake)
            if (fd >= 0) close(fd);
    }

    void run();
    void handle(XEvent& event);
    void answer(const XSelectionRequestEvent& request);
    void finish(std::uint64_t number) {
        std::lock_guard lock(mutex);
        served = number;
        changed.notify_all();
    }
};

namespace {

// STRING is Latin-1: characters beyond it become '?'.
std::string to_latin1(std::string_view utf8) {
    std::string out;
    std::size_t at = 0;
    while (at < utf8.size()) {
        Utf8Step step = decode_utf8_at(utf8, at);
        at += step.length ? step.length : 1;
        out.push_back(step.length && step.cp < 0x100 ? static_cast<char>(step.cp) : '?');
    }
    return out;
}

}  // namespace

void XClipboardOwner::Impl::answer(const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    // Obsolete clients name no property: the target stands in for it.
    Atom property = request.property == None ? request.target : request.property;
    const long max_bytes = XMaxRequestSize(display) * 4 - 64;
    if (owned && request.selection == clipboard) {
        if (request.target == targets) {
            Atom offered[] = {targets, timestamp, utf8, text, XA_STRING};
            XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(offered), 5);
            reply.property = property;
        } else if (request.target == timestamp) {
            long stamp = static_cast<long>(owned_since);
            XChangeProperty(display, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&stamp), 1);
            reply.property = property;
        } else if (request.target == utf8 || request.target == text || request.target == XA_STRING) {
            // Clipboard texts come in one frame, far below one request; a
            // larger one would need the incremental protocol and is refused.
            std::string data = request.target == XA_STRING ? to_latin1(text_now) : text_now;
            if (static_cast<long>(data.size()) <= max_bytes) {
                Atom type = request.target == XA_STRING ? XA_STRING : utf8;
                XChangeProperty(display, request.requestor, property, type, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
                reply.property = property;
            }
        }
    }
    XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(display);
}

void XClipboardOwner::Impl::handle(XEvent& event) {
    switch (event.type) {
        case SelectionRequest: answer(event.xselectionrequest); break;
        case SelectionClear:
            if (event.xselectionclear.selection == clipboard) {
                owned = false;  // another client owns it now; our text is no longer the clipboard
                text_now.clear();
            }
            break;
        case PropertyNotify:
            // The zero-length append below gives the server time to own the
            // selection with, as the selection rules ask (never CurrentTime).
            if (awaiting_stamp && event.xproperty.atom == stamp_property) {
                awaiting_stamp = false;
                owned_since = event.xproperty.time;
                XSetSelectionOwner(display, clipboard, window, owned_since);
                owned = XGetSelectionOwner(display, clipboard) == window;
                finish(awaiting);
            }
            break;
        default: break;
    }
}

void XClipboardOwner::Impl::run() {
    const int x_fd = ConnectionNumber(display);
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stop) return;
            if (pending) {
                text_now = std::move(*pending);
                pending.reset();
                awaiting = requested;
                awaiting_stamp = true;
                XChangeProperty(display, window, stamp_property, XA_STRING, 8, PropModeAppend, nullptr, 0);
                XFlush(display);
            }
        }
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handle(event);
        }
        pollfd fds[2] = {{x_fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wake[0], drain, sizeof drain) > 0) {
            }
        }
    }
}

XClipboardOwner::XClipboardOwner(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    thread_ = std::thread([impl = impl_.get()] { impl->run(); });
}

XClipboardOwner::~XClipboardOwner() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
    }
    char byte = 1;
    (void)!write(impl_->wake[1], &byte, 1);
    thread_.join();
}

Result<std::unique_ptr<XClipboardOwner>> XClipboardOwner::open(const std::string& display_name) {
    auto impl = std::make_unique<Impl>();
    impl->display = XOpenDisplay(display_name.c_str());
    if (!impl->display) return fail("the X display \"" + display_name + "\" could not be opened for the clipboard");
    if (pipe2(impl->wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("no pipe for the clipboard thread");
    Display* d = impl->display;
    impl->window = XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(d, impl->window, PropertyChangeMask);
    impl->clipboard = XInternAtom(d, "CLIPBOARD", False);
    impl->targets = XInternAtom(d, "TARGETS", False);
    impl->utf8 = XInternAtom(d, "UTF8_STRING", False);
    impl->text = XInternAtom(d, "TEXT", False);
    impl->timestamp = XInternAtom(d, "TIMESTAMP", False);
    impl->stamp_property = XInternAtom(d, "KORVEX_CLIPBOARD_TIME", False);
    XFlush(d);
    return std::unique_ptr<XClipboardOwner>(new XClipboardOwner(std::move(impl)));
}

bool XClipboardOwner::set(std::string utf8) {
    std::unique_lock lock(impl_->mutex);
    std::uint64_t number = ++impl_->requested;
    impl_->pending = std::move(utf8);
    char byte = 1;
    (void)!write(impl_->wake[1], &byte, 1);
    return impl_->changed.wait_for(lock, std::chrono::seconds(1), [&] { return impl_->served >= number; });
}

}  // namespace korvex::posix
