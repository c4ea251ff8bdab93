#pragma once
// The Tailscale client's behaviour, the same on both systems; each system's
// test file supplies the plumbing as a `Platform` type:
//   Platform::Fixture         has `client` (made for the test's own local API
//                             endpoint and the fake tool's folder on the PATH)
//                             and `dir()`, a temporary folder;
//   Platform::Server          a local API server on the fixture's endpoint:
//                             Server(fixture, mode, response), request();
//   Platform::Env             sets an environment variable for its lifetime:
//                             Env(name, value), both narrow text;
//   Platform::empty_path(f)   an Env that leaves nothing on the PATH.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "core/discovery.h"
#include "core/tailscale_status.h"
#include "platform/tailscale_client.h"

namespace korvex::test::tailscale_cases {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

enum class ServerMode { Respond, NeverAnswer, Trickle };

inline const std::string kStatusBody = R"({"Self":{"DNSName":"api-host.example.","TailscaleIPs":["100.101.102.103"]}})";

template <typename Platform>
void sends_the_request_and_reads_until_close() {
    typename Platform::Fixture f;
    const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + kStatusBody;
    typename Platform::Server server(f, ServerMode::Respond, response);
    auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
    ASSERT_TRUE(got) << got.error().text;
    EXPECT_EQ(*got, response);
    EXPECT_EQ(server.request(),
              "GET /localapi/v0/status HTTP/1.0\r\nHost: local-tailscaled.sock\r\nSec-Tailscale: localapi\r\n"
              "Connection: close\r\n\r\n");
}

template <typename Platform>
void local_api_failures() {
    {
        typename Platform::Fixture f;  // nobody serving
        EXPECT_FALSE(f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes));
    }
    typename Platform::Fixture f;
    typename Platform::Server server(f, ServerMode::Respond, "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody);
    auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, 40);
    ASSERT_FALSE(got);
    EXPECT_NE(got.error().text.find("too long"), std::string::npos) << got.error().text;
}

// The deadline covers the whole exchange: a server that never answers, or
// one that answers a byte at a time for ever, is given up on after 800 ms.
template <typename Platform>
void slow_local_api_is_abandoned_after_the_deadline() {
    for (auto mode : {ServerMode::NeverAnswer, ServerMode::Trickle}) {
        typename Platform::Fixture f;
        typename Platform::Server server(f, mode, "");
        const auto start = SteadyClock::now();
        auto got = f.client->local_api_exchange(kLocalApiStatusRequest, kLocalApiDeadline, kMaxStatusBytes);
        const auto elapsed = SteadyClock::now() - start;
        EXPECT_FALSE(got);
        EXPECT_GE(elapsed, 750ms);
        EXPECT_LT(elapsed, 5s);
    }
}

template <typename Platform>
void status_from_the_local_api_or_else_the_command() {
    struct Case {
        const char* what;
        std::optional<std::string> api_response;  // none: the server never answers
        const char* command_mode;
        std::optional<std::string> dns_name;  // none: no status
    };
    const Case cases[] = {
        {"200 accepted", "HTTP/1.0 200 OK\r\n\r\n" + kStatusBody, "fail", "api-host.example."},
        {"403 falls back to the command", "HTTP/1.0 403 Forbidden\r\n\r\n" + kStatusBody, "json",
         "fake-host.tail0000.ts.net."},
        {"silent server falls back to the command", std::nullopt, "json", "fake-host.tail0000.ts.net."},
        {"both fail", "HTTP/1.0 500 Internal Server Error\r\n\r\n", "fail", std::nullopt},
    };
    for (const auto& c : cases) {
        typename Platform::Fixture f;
        typename Platform::Env mode("KORVEX_FAKE_TAILSCALE_MODE", c.command_mode);
        typename Platform::Server server(f, c.api_response ? ServerMode::Respond : ServerMode::NeverAnswer,
                                         c.api_response.value_or(""));
        auto status = fetch_ts_status(*f.client, /*has_tailscale_address=*/true);
        if (!c.dns_name) {
            EXPECT_FALSE(status) << c.what;
            continue;
        }
        ASSERT_TRUE(status && status->self) << c.what;
        EXPECT_EQ(status->self->dns_name, c.dns_name) << c.what;
    }
}

template <typename Platform>
void command_outcomes() {
    struct Case {
        const char* mode;
        int exit_code;
    };
    const Case cases[] = {{"json", 0}, {"fail", 1}, {"unknown", 2}};
    for (const auto& c : cases) {
        typename Platform::Fixture f;
        typename Platform::Env mode("KORVEX_FAKE_TAILSCALE_MODE", c.mode);
        auto out = f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes);
        ASSERT_TRUE(out) << c.mode << ": " << out.error().text;
        EXPECT_EQ(out->exit_code, c.exit_code) << c.mode;
        if (c.exit_code == 0) {
            // Standard output alone: what the tool wrote to standard error stays out.
            auto status = parse_ts_status(out->standard_output);
            ASSERT_TRUE(status) << out->standard_output;
            EXPECT_EQ(status->self->dns_name, "fake-host.tail0000.ts.net.");
        }
    }
}

template <typename Platform>
void command_missing_or_too_talkative() {
    typename Platform::Fixture f;
    {
        auto path = Platform::empty_path(f);
        EXPECT_FALSE(f.client->run_status_command(kStatusCommandLimit, kMaxStatusBytes));
    }
    typename Platform::Env mode("KORVEX_FAKE_TAILSCALE_MODE", "json");
    auto out = f.client->run_status_command(kStatusCommandLimit, 20);
    ASSERT_FALSE(out);
    EXPECT_NE(out.error().text.find("too much"), std::string::npos) << out.error().text;
}

template <typename Platform>
void hung_command_is_killed_at_the_time_limit() {
    typename Platform::Fixture f;
    const std::filesystem::path beat = f.dir() / "beat";
    typename Platform::Env mode("KORVEX_FAKE_TAILSCALE_MODE", "hang");
    typename Platform::Env beat_env("KORVEX_FAKE_TAILSCALE_BEAT", beat.string());
    const auto start = SteadyClock::now();
    auto out = f.client->run_status_command(1s, kMaxStatusBytes);
    const auto elapsed = SteadyClock::now() - start;
    ASSERT_FALSE(out);
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 5s);

    // The program really ran, and no longer does: its heartbeat has stopped.
    std::error_code ec;
    const auto size_then = std::filesystem::file_size(beat, ec);
    ASSERT_FALSE(ec) << "the fake tool never started";
    EXPECT_GT(size_then, 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(std::filesystem::file_size(beat, ec), size_then);
}

// One TEST per case for a platform's suite name.
#define KORVEX_TAILSCALE_CLIENT_CASES(Suite, Platform)                                                        \
    TEST(Suite, LocalApiSendsTheRequestAndReadsUntilClose) {                                               \
        ::korvex::test::tailscale_cases::sends_the_request_and_reads_until_close<Platform>();              \
    }                                                                                                      \
    TEST(Suite, LocalApiFailures) { ::korvex::test::tailscale_cases::local_api_failures<Platform>(); }     \
    TEST(Suite, SlowLocalApiIsAbandonedAfterTheDeadline) {                                                 \
        ::korvex::test::tailscale_cases::slow_local_api_is_abandoned_after_the_deadline<Platform>();       \
    }                                                                                                      \
    TEST(Suite, StatusComesFromTheLocalApiOrElseFromTheCommand) {                                          \
        ::korvex::test::tailscale_cases::status_from_the_local_api_or_else_the_command<Platform>();        \
    }                                                                                                      \
    TEST(Suite, CommandOutcomes) { ::korvex::test::tailscale_cases::command_outcomes<Platform>(); }        \
    TEST(Suite, CommandMissingOrTooTalkative) {                                                            \
        ::korvex::test::tailscale_cases::command_missing_or_too_talkative<Platform>();                     \
    }                                                                                                      \
    TEST(Suite, HungCommandIsKilledAtTheTimeLimit) {                                                       \
        ::korvex::test::tailscale_cases::hung_command_is_killed_at_the_time_limit<Platform>();             \
    }

}  // namespace korvex::test::tailscale_cases
