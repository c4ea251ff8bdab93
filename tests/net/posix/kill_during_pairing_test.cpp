// The Linux host killed with SIGKILL at random moments while devices pair:
// whatever moment the kill lands on, the store on disk passes its check at
// the next start and holds every device that was told it had paired.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <random>
#include <thread>

#include "client/config.h"
#include "client/connection.h"
#include "core/identity.h"
#include "core/pairing_uri.h"
#include "core/store.h"
#include "net/posix/child_process.h"
#include "net/posix/temp_dir.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kListening = "Korvex host listening on port ";
constexpr std::string_view kUri = "Pairing URI: ";

std::string transcript(const ChildProcess& child) {
    std::string text;
    for (const auto& line : child.transcript()) text += line + "\n";
    return text;
}

TEST(KillDuringPairing, StoreAlwaysPassesItsCheckAndKeepsEveryConfirmedDevice) {
    TempDir data("korvex-kill");
    ASSERT_FALSE(data.path().empty());
    std::mt19937 gen(2024);
    std::vector<std::string> confirmed;
    constexpr int kRounds = 12;

    for (int round = 0; round < kRounds; ++round) {
        auto host = std::make_unique<ChildProcess>(
            KORVEX_HOST_PROGRAM, std::map<std::string, std::string>{{"RC_DATA_DIR", data.path()}, {"DISPLAY", ""}});
        ASSERT_TRUE(host->started());
        auto listening = host->read_until([](const std::string& l) { return l.starts_with(kListening); }, 20s);
        ASSERT_TRUE(listening) << "round " << round << ": " << transcript(*host);
        const auto port = static_cast<std::uint16_t>(std::stoi(listening->substr(kListening.size())));
        ASSERT_TRUE(host->write_line("pair"));
        auto uri = host->read_until([](const std::string& l) { return l.starts_with(kUri); }, 10s);
        ASSERT_TRUE(uri) << "round " << round;
        auto offer = parse_pairing_uri(uri->substr(kUri.size()));
        ASSERT_TRUE(offer) << offer.error().text;

        // A few devices pair one after another while the kill comes at a
        // moment that moves through the whole exchange, save included.
        const pid_t pid = host->pid();
        const auto delay = std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40'000)(gen));
        std::thread killer([pid, delay] {
            std::this_thread::sleep_for(delay);
            ::kill(pid, SIGKILL);
        });
        std::vector<std::string> paired_now;
        for (int i = 0; i < 3; ++i) {
            client::ClientIdentity identity = client::new_client_identity(os_random());
            client::Connection c;
            if (!c.connect("127.0.0.1", port, 2s)) break;
            if (c.pair(identity, offer->code, "Device", "", offer->pk)) paired_now.push_back(identity.client_id);
            // The code retires after a pairing; draw a new one for the next.
            if (!host->write_line("pair")) break;
            auto next = host->read_until([](const std::string& l) { return l.starts_with(kUri); }, 2s);
            if (!next) break;
            auto parsed = parse_pairing_uri(next->substr(kUri.size()));
            if (!parsed) break;
            offer = std::move(*parsed);
        }
        killer.join();
        host.reset();
        confirmed.insert(confirmed.end(), paired_now.begin(), paired_now.end());
    }

    namespace fs = std::filesystem;
    EXPECT_FALSE(fs::exists(fs::path(data.path()) / "paired_devices.json.rejected")) << "a store failed its check";
    auto protector = make_os_secret_protector();
    auto identity = load_or_create_identity(os_file_system(), *protector, os_random(), data.path());
    ASSERT_TRUE(identity) << identity.error().text;
    EXPECT_FALSE(fs::exists(fs::path(data.path()) / "host_identity.bin.rejected"));
    PairedStore store = load_store(os_file_system(), data.path(), identity->seed);
    EXPECT_FALSE(fs::exists(fs::path(data.path()) / "paired_devices.json.rejected")) << "the store failed its check";
    for (const auto& id : confirmed) EXPECT_NE(find_client(store, id), nullptr) << id << " was told it had paired";
    std::printf("note: %zu devices confirmed over %d killed hosts; %zu in the store\n", confirmed.size(), kRounds,
                store.clients.size());
}

}  // namespace
}  // namespace korvex::test
