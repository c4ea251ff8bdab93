// The Linux host: the shared start-up, a console instead of the tray.
#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "console.h"
#include "net/host.h"
#include "net/host_control.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/input_sink.h"
#include "platform/pad_bus.h"
#include "platform/posix/uinput_pad_bus.h"
#include "platform/posix/xtest_sink.h"
#include "platform/random_source.h"
#include "platform/sas_action.h"
#include "platform/secret_protector.h"
#include "platform/service_advertiser.h"
#include "platform/system_info.h"
#include "platform/tailscale_client.h"

int main() {
    using namespace korvex;
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by one thread of our own, so every other
    // thread (runtime included) never sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    // XTest when the display opens, else the null sink; the sink's one-time
    // notices (an unavailable lock or backlight) go to the console.
    std::mutex notice_mutex;
    auto chosen = posix::choose_input_sink([&notice_mutex](const std::string& line) {
        std::lock_guard lock(notice_mutex);
        std::cout << line << std::endl;
    });
    auto& sink = chosen.sink;
    auto protector = make_os_secret_protector();
    auto system = make_os_system_info();
    auto tailscale = make_os_tailscale_client();
    auto pad_bus = posix::make_uinput_pad_bus();
    net::HostPlatform platform{os_file_system(), os_random(),  system_clock(),  os_environment(),
                               *protector,       *sink,        os_sas_action(), *system,
                               *tailscale,       &start_os_service_advertiser,  pad_bus.get()};
    posix::Console* console_ptr = nullptr;
    std::mutex console_mutex;
    auto started = net::start_host(
        platform, net::HostOptions{},
        [&](const HostEvent& event) {
            std::lock_guard lock(console_mutex);
            if (console_ptr) console_ptr->on_event(event);
        },
        [] {});
    if (!started) {
        std::cerr << "Korvex could not start: " << started.error().text << std::endl;
        return 1;
    }
    if (chosen.notice) std::cout << *chosen.notice << std::endl;
    if (!pad_bus->unavailable_reason().empty())
        std::cout << "No virtual gamepad: " << pad_bus->unavailable_reason()
                  << "; the gamepad goes through the keyboard/mouse mapping." << std::endl;
    if (started->advertisement_error)
        std::cout << "Not advertised over mDNS: " << *started->advertisement_error << std::endl;
    std::cout << "Korvex host listening on port " << started->port << " (data folder: "
              << (started->data_dir.empty() ? "." : started->data_dir) << ")" << std::endl;
    net::HostControl control(started->shared, os_file_system(), started->data_dir);
    std::thread([&, stop_signals] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        // Nothing may stay pressed when the host goes away.
        control.release_held_input();
        std::_Exit(0);
    }).detach();
    posix::Console console(control, std::cout, chosen.description);
    {
        std::lock_guard lock(console_mutex);
        console_ptr = &console;
    }
    if (!console.run(std::cin)) {
        // Input ended without "exit" (a pipe closed, or started without a
        // terminal): keep serving until a signal ends the process.
        std::cout << "Standard input closed; serving until interrupted." << std::endl;
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    {
        std::lock_guard lock(console_mutex);
        console_ptr = nullptr;
    }
    net::stop_host(*started);
    return 0;
}
