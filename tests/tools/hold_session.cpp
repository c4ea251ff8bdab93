// Test helper for the Windows tray test: as the device korvex-remote paired
// (KORVEX_REMOTE_DIR), authenticates to HOST:PORT, types one character so
// this device is in control, and keeps the session open for SECONDS.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "client/config.h"
#include "client/connection.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

int main(int argc, char** argv) {
    using namespace korvex;
    using namespace korvex::client;
    const char* dir = std::getenv("KORVEX_REMOTE_DIR");
    if (argc != 4 || !dir) {
        std::cerr << "usage: KORVEX_REMOTE_DIR=DIR korvex-hold-session HOST PORT SECONDS\n";
        return 2;
    }
    auto known = load_known_hosts(os_file_system(), dir);
    auto identity = load_or_create_client_identity(os_file_system(), os_random(), dir);
    if (!known || !identity) {
        std::cerr << "no paired device in " << dir << "\n";
        return 1;
    }
    Connection connection;
    auto port = static_cast<std::uint16_t>(std::atoi(argv[2]));
    if (auto ok = connection.connect(argv[1], port); !ok) {
        std::cerr << ok.error().text << "\n";
        return 1;
    }
    HostKeyLookup lookup = [&](std::string_view host_id) -> std::optional<Key32> {
        if (const KnownHost* h = known->find(host_id)) return h->ed25519_public;
        return std::nullopt;
    };
    if (auto auth = connection.authenticate(*identity, lookup, ""); !auth) {
        std::cerr << auth.error().text << "\n";
        return 1;
    }
    if (auto sent = connection.send_text("x"); !sent) {
        std::cerr << sent.error().text << "\n";
        return 1;
    }
    std::cout << "in control" << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[3])));
    return 0;
}
