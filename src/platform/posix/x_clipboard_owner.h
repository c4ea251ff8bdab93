#pragma once
// Owns the X CLIPBOARD selection from a thread with its own connection and
// serves the text (UTF8_STRING, TEXT, STRING, TARGETS, TIMESTAMP) to whoever
// asks, until another client takes the selection.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/error.h"

namespace korvex::posix {

class XClipboardOwner {
public:
    static Result<std::unique_ptr<XClipboardOwner>> open(const std::string& display);
    ~XClipboardOwner();
    XClipboardOwner(const XClipboardOwner&) = delete;
    XClipboardOwner& operator=(const XClipboardOwner&) = delete;

    // Makes `utf8` the clipboard's text and returns once this client owns the
    // selection (so a paste that follows finds it), or false after a second.
    bool set(std::string utf8);

    struct Impl;

private:
    explicit XClipboardOwner(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
};

}  // namespace korvex::posix
