#pragma once
// Display brightness on Windows. Presses go to one worker thread, which
// merges those that arrive while a change runs into one change of their
// summed steps, so quick presses neither run at once nor read the same
// starting level. The change itself is WMI's WmiMonitorBrightness classes,
// called over COM from that thread: a few milliseconds, where a PowerShell
// child per press took about a second.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace korvex::win32 {

// Moves the brightness of the displays by whole steps (negative: darker).
class BrightnessChanger {
public:
    virtual ~BrightnessChanger() = default;
    virtual void change(int steps) = 0;
};

// The WMI changer: reads the level of the first monitor that reports one,
// moves it by the steps within 0..100 and sets it on every monitor that
// offers the WMI brightness method; others (most external monitors) are left
// alone. Made and used on one thread, which it joins to COM's multithreaded
// apartment for its lifetime.
std::unique_ptr<BrightnessChanger> make_wmi_brightness_changer();

class BrightnessWorker {
public:
    // Called on the worker thread, once, before its first change.
    using Factory = std::function<std::unique_ptr<BrightnessChanger>()>;

    explicit BrightnessWorker(Factory factory) : factory_(std::move(factory)) {}
    // Lets a running change end; presses not yet taken are dropped.
    ~BrightnessWorker();
    BrightnessWorker(const BrightnessWorker&) = delete;
    BrightnessWorker& operator=(const BrightnessWorker&) = delete;

    // Queues one press and returns at once. The thread starts with the first
    // press; if it cannot start, the press is dropped (brightness is not
    // worth stopping the host for) and the next press tries again.
    void press(bool up);

private:
    void run();

    Factory factory_;
    std::mutex mutex_;
    std::condition_variable wake_;
    int pending_ = 0;  // summed steps not yet taken by the worker
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace korvex::win32
