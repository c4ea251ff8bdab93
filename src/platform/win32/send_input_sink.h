#pragma once
// The Windows injector: SendInput records for keys, pointer and text, plus
// the clipboard, lock, keep-awake and brightness actions.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <span>

#include "platform/input_sink.h"
#include "platform/win32/brightness.h"

namespace korvex {

// Takes the records of one SendInput call; tests see every record here.
class InputRecordSender {
public:
    virtual ~InputRecordSender() = default;
    virtual void send(std::span<INPUT> records) = 0;
};

// SendInput and the injecting thread's desktop.
class InputDesktop {
public:
    virtual ~InputDesktop() = default;
    // SendInput: how many records went in.
    virtual std::size_t send_input(std::span<INPUT> records) = 0;
    // Moves the calling thread to the current input desktop
    // (OpenInputDesktop, SetThreadDesktop); false when that failed.
    virtual bool attach_to_input_desktop() = 0;
};

InputDesktop& os_input_desktop();

// SendInput from a thread still attached to a desktop that is no longer the
// input desktop (after a lock and unlock, or a desktop switch) injects
// nothing and says so only through its count. On a short count the thread is
// re-attached to the input desktop and the rest sent once more; never more,
// so a desktop out of reach (the secure desktop) costs one attempt per call.
class DesktopFollowingSender final : public InputRecordSender {
public:
    explicit DesktopFollowingSender(InputDesktop& desktop) : desktop_(desktop) {}
    void send(std::span<INPUT> records) override;

private:
    InputDesktop& desktop_;
};

// SendInput through a DesktopFollowingSender on the system's desktop.
InputRecordSender& os_input_record_sender();

// Opening the clipboard, which another program may hold for a moment.
class ClipboardOpener {
public:
    virtual ~ClipboardOpener() = default;
    // OpenClipboard with no owner window.
    virtual bool open() = 0;
    // Between two attempts.
    virtual void pause(std::chrono::milliseconds how_long) = 0;
};

ClipboardOpener& os_clipboard_opener();

class SendInputSink final : public InputSink {
public:
    explicit SendInputSink(InputRecordSender& sender = os_input_record_sender(),
                           ClipboardOpener& clipboard = os_clipboard_opener(),
                           win32::BrightnessWorker::Factory brightness = win32::make_wmi_brightness_changer)
        : sender_(sender), clipboard_(clipboard), brightness_(std::move(brightness)) {}

    void mouse_move(std::int32_t dx, std::int32_t dy) override;
    void mouse_button(std::uint8_t button, bool down) override;
    void wheel(std::int32_t amount) override;
    void hwheel(std::int32_t amount) override;
    void key(KeyCode code, bool down) override;
    void type_text(std::span<const char16_t> units) override;
    Status lock_workstation() override;
    void keep_awake() override;
    Status set_clipboard(std::string_view utf8_text) override;
    void adjust_brightness(bool up) override;

    // Units per SendInput call of type_text (two records each).
    static constexpr std::size_t kTextChunkUnits = 256;
    // Opening the clipboard is tried this many times with this pause between
    // (about 200 ms in all: the caller holds the core lock), then given up.
    static constexpr int kClipboardOpenAttempts = 21;
    static constexpr std::chrono::milliseconds kClipboardRetryPause{10};

private:
    void send_mouse(LONG dx, LONG dy, DWORD data, DWORD flags);

    InputRecordSender& sender_;
    ClipboardOpener& clipboard_;
    win32::BrightnessWorker brightness_;
};

}  // namespace korvex
