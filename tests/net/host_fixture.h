#pragma once
// A real host on 127.0.0.1 inside the test process: every task of the
// runtime, with the input going to a recording sink and the files to memory.
// Reads of the sink and of the host's tables go through the host's lock,
// which the runtime takes for every injection.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/config.h"
#include "client/connection.h"
#include "client/datagram_sender.h"
#include "core/store.h"
#include "net/host.h"
#include "platform/clock.h"
#include "platform/random_source.h"
#include "support/discovery_fakes.h"
#include "support/fakes.h"
#include "support/input_fakes.h"

namespace korvex::test {

using namespace std::chrono_literals;

// Polls `done` until it holds or `limit` passes; its last answer.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return done();
        std::this_thread::sleep_for(5ms);
    }
}

// A client whose session is established and registered: the Ping answered
// after the handshake is handled after the host's registration step.
struct Client {
    client::Connection connection;
    client::ClientIdentity identity;
};

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        env.vars["RC_DATA_DIR"] = "data";
        env.vars["COMPUTERNAME"] = "TEST-PC";
        system.addresses = ips({"127.0.0.1", "192.168.1.20"});
        net::HostPlatform platform{fs,   os_random(), system_clock(), env,       protector,
                                   sink, sas,         system,         tailscale, nullptr};
        net::HostOptions options;
        options.first_port = 0;
        options.last_port = 0;
        auto started = net::start_host(
            platform, options, [this](const HostEvent& event) { on_host_event(event); }, [] {});
        ASSERT_TRUE(started) << started.error().text;
        host = std::move(*started);
    }
    void TearDown() override { net::stop_host(host); }

    net::HostShared& shared() { return *host.shared; }
    std::uint16_t port() const { return host.port; }

    // A copy of the sink's log, taken under the host's lock.
    std::vector<std::string> sink_log() {
        return shared().with_core([&](net::LockedCore&) { return sink.log; });
    }
    // Waits until the sink's log has at least `n` lines; the copy either way.
    std::vector<std::string> wait_for_sink(std::size_t n, std::chrono::milliseconds limit = 5s) {
        std::vector<std::string> log;
        eventually([&] { return (log = sink_log()).size() >= n; }, limit);
        return log;
    }

    client::Connection connect() {
        client::Connection c;
        EXPECT_TRUE(c.connect("127.0.0.1", port(), 5s));
        return c;
    }

    // Pairs a new identity with a fresh code; the connection stays
    // established.
    client::ClientIdentity pair(client::Connection& c, std::string_view name = "Phone A") {
        client::ClientIdentity identity = client::new_client_identity(os_random());
        std::string code = net::start_pairing(shared());
        auto paired = c.pair(identity, code, name, "Model", shared().host_public());
        EXPECT_TRUE(paired) << (paired ? "" : paired.error().text);
        return identity;
    }

    // A freshly paired client, registered in the client table.
    Client paired_client(std::string_view name = "Phone A") {
        Client client{connect(), {}};
        client.identity = pair(client.connection, name);
        auto pong = client.connection.ping(1);
        EXPECT_TRUE(pong) << (pong ? "" : pong.error().text);
        return client;
    }

    // A new authenticated connection of an already paired identity.
    client::Connection authenticated(const client::ClientIdentity& identity, std::string_view name = {}) {
        client::Connection c = connect();
        auto auth = c.authenticate(identity, shared().host_public(), name);
        EXPECT_TRUE(auth) << (auth ? "" : auth.error().text);
        auto pong = c.ping(1);
        EXPECT_TRUE(pong) << (pong ? "" : pong.error().text);
        return c;
    }

    // True when the host ends the connection without sending another frame.
    static bool closes_silently(client::Connection& c, std::chrono::milliseconds limit = 15s) {
        auto frame = c.receive_frame(limit);
        if (frame) {
            ADD_FAILURE() << "unexpected frame of type " << int(frame->type);
            return false;
        }
        return c.last_failure() == client::Failure::Closed;
    }

    std::optional<PairedClientRecord> stored(const std::string& client_id) {
        return shared().with_core([&](net::LockedCore& locked) -> std::optional<PairedClientRecord> {
            const PairedClientRecord* record = find_client(locked.core.store, client_id);
            return record ? std::optional(*record) : std::nullopt;
        });
    }

    // Display names of the client table's sessions for `client_id`.
    std::vector<std::string> sessions_of(const std::string& client_id) {
        return shared().with_core([&](net::LockedCore& locked) {
            std::vector<std::string> names;
            for (const auto& [id, entry] : locked.sessions)
                if (entry.client_id == client_id) names.push_back(entry.display_name);
            return names;
        });
    }

    // True when the client table holds exactly `n` sessions and the input
    // controller knows each of them.
    bool input_knows(std::size_t n) {
        return shared().with_core([&](net::LockedCore& locked) {
            std::size_t known = 0;
            for (const auto& [id, entry] : locked.sessions) known += locked.input.find_client(id) != nullptr;
            return known == n && locked.sessions.size() == n;
        });
    }

    std::vector<HostEvent> events() {
        std::lock_guard lock(events_mutex_);
        return events_;
    }
    std::size_t count_events(HostEvent::Kind kind) {
        std::size_t n = 0;
        for (const auto& event : events()) n += event.kind == kind ? 1 : 0;
        return n;
    }
    // Runs on the thread that delivers the event, outside the host's lock.
    void on_event(std::function<void(const HostEvent&)> hook) {
        std::lock_guard lock(events_mutex_);
        event_hook_ = std::move(hook);
    }

    MemoryFileSystem fs;
    FakeEnvironment env;
    FakeProtector protector;
    RecordingSink sink;
    FakeSas sas;
    FakeSystemInfo system;
    FakeTailscaleClient tailscale;
    net::StartupOutcome host;

private:
    void on_host_event(const HostEvent& event) {
        std::function<void(const HostEvent&)> hook;
        {
            std::lock_guard lock(events_mutex_);
            events_.push_back(event);
            hook = event_hook_;
        }
        if (hook) hook(event);
    }

    std::mutex events_mutex_;
    std::vector<HostEvent> events_;
    std::function<void(const HostEvent&)> event_hook_;
};

// The event with its sequence number set: the sender numbers events.
inline InputEvent numbered(InputEvent event, std::uint64_t seq) {
    event.seq = seq;
    return event;
}

// Bytes of a frame as they go on the stream, for tests that send them raw.
inline Bytes raw_frame(std::uint32_t length_field, std::uint8_t type, ByteView body) {
    Bytes bytes;
    put_u32_le(bytes, length_field);
    bytes.push_back(type);
    append(bytes, body);
    return bytes;
}

}  // namespace korvex::test
