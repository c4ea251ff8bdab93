#pragma once
// The Windows injector: SendInput records for keys, pointer and text, plus
// the clipboard, lock, keep-awake and brightness actions.
#include <windows.h>

#include <span>
#include <string>

#include "platform/input_sink.h"

namespace korvex {

// Takes the records of one SendInput call; tests see every record here.
class InputRecordSender {
public:
    virtual ~InputRecordSender() = default;
    virtual void send(std::span<INPUT> records) = 0;
};

// SendInput itself (its result is not examined).
InputRecordSender& os_input_record_sender();

// Starts a console program without a window on a thread of its own and
// returns without waiting; false when no thread could be started.
class BackgroundProcessStarter {
public:
    virtual ~BackgroundProcessStarter() = default;
    virtual bool start(std::wstring application, std::wstring command_line) = 0;
};

BackgroundProcessStarter& os_background_process_starter();

class SendInputSink final : public InputSink {
public:
    explicit SendInputSink(InputRecordSender& sender = os_input_record_sender(),
                           BackgroundProcessStarter& starter = os_background_process_starter())
        : sender_(sender), starter_(starter) {}

    void mouse_move(std::int32_t dx, std::int32_t dy) override;
    void mouse_button(std::uint8_t button, bool down) override;
    void wheel(std::int32_t amount) override;
    void hwheel(std::int32_t amount) override;
    void key(KeyCode code, bool down) override;
    void type_text(std::span<const char16_t> units) override;
    Status lock_workstation() override;
    void keep_awake() override;
    void set_clipboard(std::string_view utf8_text) override;
    void adjust_brightness(bool up) override;

    // Units per SendInput call of type_text (two records each).
    static constexpr std::size_t kTextChunkUnits = 256;

private:
    void send_mouse(LONG dx, LONG dy, DWORD data, DWORD flags);

    InputRecordSender& sender_;
    BackgroundProcessStarter& starter_;
};

}  // namespace korvex
