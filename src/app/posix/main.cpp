// The Linux host: the shared start-up, a console instead of the tray.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "console.h"
#include "core/data_files.h"
#include "host_options.h"
#include "korvex_version.h"
#include "net/host.h"
#include "net/host_control.h"
#include "platform/environment.h"
#include "platform/host_info.h"
#include "platform/os_host_platform.h"
#include "platform/posix/data_dir_lock.h"

namespace {
using namespace std::chrono_literals;
// How long a code opened by --pair stays open when no device uses it.
constexpr auto kHeadlessPairingTime = 5min;
}  // namespace

int main(int argc, char** argv) {
    using namespace korvex;
    auto options = posix::parse_host_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::cerr << "korvex-host: " << options.error().text << "\nTry \"korvex-host --help\"." << std::endl;
        return 2;
    }
    if (options->help) {
        std::cout << posix::host_usage();
        return 0;
    }
    if (options->version) {
        std::cout << "korvex-host " << kVersion << std::endl;
        return 0;
    }
    // The folder given on the command line wins over the environment's.
    if (options->data_dir) ::setenv("RC_DATA_DIR", options->data_dir->c_str(), 1);

    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by one thread of our own, so every other
    // thread (runtime included) never sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    // One host per data folder: a second one would fight over the store and
    // the identity.
    const std::string folder = data_dir(os_environment(), '/');
    auto folder_lock = posix::lock_data_folder(folder);
    if (!folder_lock) {
        std::cerr << "Korvex could not start: " << folder_lock.error().text << std::endl;
        return 1;
    }

    // The seams' one-time notices (an unavailable lock or backlight) go to
    // the console.
    std::mutex notice_mutex;
    auto platform = make_os_host_platform([&notice_mutex](const std::string& line) {
        std::lock_guard lock(notice_mutex);
        std::cout << line << std::endl;
    });
    posix::Console* console_ptr = nullptr;
    std::mutex console_mutex;
    auto started = net::start_running_host(
        platform->host_platform(), net::HostOptions{},
        [&](const HostEvent& event) {
            std::lock_guard lock(console_mutex);
            if (console_ptr) console_ptr->on_event(event);
        },
        [] {});
    if (!started) {
        std::cerr << "Korvex could not start: " << started.error().text << std::endl;
        return 1;
    }
    for (const auto& notice : platform->start_notices()) std::cout << notice << std::endl;
    if (started->outcome().advertisement_error)
        std::cout << "Not advertised over mDNS: " << *started->outcome().advertisement_error << std::endl;
    std::cout << "Korvex host listening on port " << started->port() << " (data folder: "
              << (started->data_dir().empty() ? "." : started->data_dir()) << ")" << std::endl;

    net::HostControl control(started->outcome().shared, platform->host_platform().fs, started->data_dir());
    std::thread([&, stop_signals] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        // Nothing may stay pressed when the host goes away.
        control.release_held_input();
        std::_Exit(0);
    }).detach();
    posix::Console console(control, std::cout, platform->input_description(), os_terms());
    {
        std::lock_guard lock(console_mutex);
        console_ptr = &console;
    }
    if (options->pair) console.pair_headless(kHeadlessPairingTime);
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (!console.run(std::cin, terminal) && !terminal) {
        // Input ended without "exit" and without a terminal (a pipe closed,
        // or started by a service manager): keep serving until a signal.
        std::cout << "Standard input closed; serving until interrupted. To pair a device without a console, "
                     "start \"korvex-host --pair\"."
                  << std::endl;
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    {
        std::lock_guard lock(console_mutex);
        console_ptr = nullptr;
    }
    return 0;
}
