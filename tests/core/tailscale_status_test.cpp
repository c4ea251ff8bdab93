#include "core/tailscale_status.h"

#include <gtest/gtest.h>

#include "fixtures/tailscale_status_fixture.h"
#include "support/discovery_fakes.h"

namespace korvex {
namespace {

using test::ips;
using Texts = std::vector<std::string>;

Texts texts(const std::vector<IpAddress>& list) {
    Texts out;
    for (const auto& a : list) out.push_back(a.to_string());
    return out;
}

EndpointSnapshot interfaces_with(std::initializer_list<std::string_view> lan,
                                 std::initializer_list<std::string_view> ts) {
    EndpointSnapshot s;
    s.lan_addresses = ips(lan);
    s.tailscale_addresses = ips(ts);
    return s;
}

TEST(TailscaleStatus, ReadsTheClientsStatusDocument) {
    auto status = parse_ts_status(kTailscaleStatusFixture);
    ASSERT_TRUE(status) << status.error().text;
    ASSERT_TRUE(status->self);
    EXPECT_EQ(status->self->dns_name, "desktop-4k2j.tail4f69a0.ts.net.");
    EXPECT_EQ(status->self->tailscale_ips, (Texts{"100.101.102.103", "fd7a:115c:a1e0::1234"}));
    ASSERT_EQ(status->peers.size(), 2u);
    EXPECT_EQ(status->peers[0].dns_name, "pixel-8.tail4f69a0.ts.net.");
    EXPECT_EQ(status->peers[1].tailscale_ips, (Texts{"100.71.200.5", "fd7a:115c:a1e0::c501:c805"}));

    EndpointSnapshot current = interfaces_with({"192.168.1.20"}, {"100.101.102.103"});
    merge_ts_status(current, *status);
    EXPECT_EQ(texts(current.lan_addresses), Texts{"192.168.1.20"});
    EXPECT_EQ(texts(current.tailscale_addresses), (Texts{"100.101.102.103", "fd7a:115c:a1e0::1234"}));
    EXPECT_EQ(texts(current.tailscale_peers),
              (Texts{"100.71.200.5", "100.88.12.34", "fd7a:115c:a1e0::c501:c805", "fd7a:115c:a1e0::f901:c22"}));
    EXPECT_EQ(current.tailscale_dns_name, "desktop-4k2j.tail4f69a0.ts.net");
}

TEST(TailscaleStatus, MergeRules) {
    struct Case {
        const char* what;
        const char* json;
        Texts tailscale;  // after merging into interfaces {192.168.1.20} / {100.101.102.103}
        Texts peers;
        std::optional<std::string> dns_name;
    };
    const Case cases[] = {
        {"trailing dot", R"({"Self":{"DNSName":"host1.example."}})", {"100.101.102.103"}, {}, "host1.example"},
        {"every trailing dot", R"({"Self":{"DNSName":"host1.example..."}})", {"100.101.102.103"}, {}, "host1.example"},
        {"no dot", R"({"Self":{"DNSName":"host1"}})", {"100.101.102.103"}, {}, "host1"},
        {"empty name", R"({"Self":{"DNSName":""}})", {"100.101.102.103"}, {}, std::nullopt},
        {"only dots", R"({"Self":{"DNSName":".."}})", {"100.101.102.103"}, {}, std::nullopt},
        {"null name", R"({"Self":{"DNSName":null}})", {"100.101.102.103"}, {}, std::nullopt},
        {"known, new and non-Tailscale addresses",
         R"({"Self":{"TailscaleIPs":["100.101.102.103","fd7a:115c:a1e0::1234","10.0.0.1"]}})",
         {"100.101.102.103", "fd7a:115c:a1e0::1234"},
         {},
         std::nullopt},
        {"appended in document order, not sorted, once",
         R"({"Self":{"TailscaleIPs":["fd7a:115c:a1e0::9","100.64.0.9","fd7a:115c:a1e0::9"]}})",
         {"100.101.102.103", "fd7a:115c:a1e0::9", "100.64.0.9"},
         {},
         std::nullopt},
        {"text that is no address",
         R"({"Self":{"TailscaleIPs":["not an ip","100.64.0.1/32",""]}})",
         {"100.101.102.103"},
         {},
         std::nullopt},
        {"mapped form is not a Tailscale address",
         R"({"Self":{"TailscaleIPs":["::ffff:100.64.0.1"]}})",
         {"100.101.102.103"},
         {},
         std::nullopt},
        {"null addresses", R"({"Self":{"TailscaleIPs":null}})", {"100.101.102.103"}, {}, std::nullopt},
        {"Peer null", R"({"Self":{},"Peer":null})", {"100.101.102.103"}, {}, std::nullopt},
        {"Peer absent", R"({"Self":{}})", {"100.101.102.103"}, {}, std::nullopt},
        {"Peer empty", R"({"Self":{},"Peer":{}})", {"100.101.102.103"}, {}, std::nullopt},
        {"peers sorted, unique, Tailscale only",
         R"({"Self":{},"Peer":{"b":{"TailscaleIPs":["100.90.0.1","fd7a:115c:a1e0::2","192.168.1.7"]},
                               "a":{"TailscaleIPs":["100.64.0.2","100.90.0.1"]},"c":{"TailscaleIPs":null},"d":{}}})",
         {"100.101.102.103"},
         {"100.64.0.2", "100.90.0.1", "fd7a:115c:a1e0::2"},
         std::nullopt},
        {"no Self: nothing is used, not even the peers",
         R"({"Peer":{"a":{"TailscaleIPs":["100.64.0.2"]}}})",
         {"100.101.102.103"},
         {},
         std::nullopt},
        {"Self null",
         R"({"Self":null,"Peer":{"a":{"TailscaleIPs":["100.64.0.2"]}}})",
         {"100.101.102.103"},
         {},
         std::nullopt},
        {"unknown members of any type are skipped",
         R"({"Version":"1.2","Other":{"Self":5},"Self":{"HostName":7,"DNSName":"h.","Extra":[1,{}]}})",
         {"100.101.102.103"},
         {},
         "h"},
        {"the array form of a record", R"([{"DNSName":"h."}])", {"100.101.102.103"}, {}, "h"},
    };
    for (const auto& c : cases) {
        auto status = parse_ts_status(c.json);
        ASSERT_TRUE(status) << c.what << ": " << status.error().text;
        EndpointSnapshot current = interfaces_with({"192.168.1.20"}, {"100.101.102.103"});
        merge_ts_status(current, *status);
        EXPECT_EQ(texts(current.lan_addresses), Texts{"192.168.1.20"}) << c.what;
        EXPECT_EQ(texts(current.tailscale_addresses), c.tailscale) << c.what;
        EXPECT_EQ(texts(current.tailscale_peers), c.peers) << c.what;
        EXPECT_EQ(current.tailscale_dns_name, c.dns_name) << c.what;
    }
}

TEST(TailscaleStatus, RefusesDuplicatesWrongTypesAndTrailingData) {
    for (const char* bad : {
             R"({"Self":{},"Self":{}})",
             R"({"Self":{"DNSName":"a","DNSName":"b"}})",
             R"({"Self":{},"Peer":{"k":{"TailscaleIPs":[],"TailscaleIPs":[]}}})",
             R"({"Self":{},"Peer":{"k":{},"k":{}}})",
             R"({"Self":{},"Unknown":{"x":1,"x":2}})",  // duplicates are refused anywhere
             R"({"Self":5})",
             R"({"Self":"me"})",
             R"({"Self":[1]})",
             R"({"Self":{},"Peer":[]})",
             R"({"Self":{},"Peer":5})",
             R"({"Self":{},"Peer":{"k":null}})",
             R"({"Self":{},"Peer":{"k":"node"}})",
             R"({"Self":{"DNSName":5}})",
             R"({"Self":{"DNSName":true}})",
             R"({"Self":{"TailscaleIPs":"100.64.0.1"}})",
             R"({"Self":{"TailscaleIPs":[5]}})",
             R"({"Self":{"TailscaleIPs":[null]}})",
             R"({"Self":{}} {})",
             R"({"Self":{}}x)",
             R"("status")",
             R"(null)",
             "",
             "{",
         }) {
        EXPECT_FALSE(parse_ts_status(bad)) << bad;
    }
    // Whitespace around the document is fine.
    EXPECT_TRUE(parse_ts_status(" \r\n{\"Self\":{}}\n"));
}

TEST(TailscaleStatus, StatusWithoutSelfChangesNothing) {
    TsStatus status;
    status.peers.push_back(TsNode{"peer.", {"100.64.0.2"}});
    EndpointSnapshot current = interfaces_with({"192.168.1.20"}, {"100.101.102.103"});
    const EndpointSnapshot before = current;
    merge_ts_status(current, status);
    EXPECT_EQ(current, before);
}

TEST(TailscaleStatus, LocalApiResponseRule) {
    struct Case {
        const char* what;
        std::string response;
        std::optional<std::string> body;
    };
    const Case cases[] = {
        {"HTTP/1.0 200", "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"Self\":{}}", "{\"Self\":{}}"},
        {"HTTP/1.1 200", "HTTP/1.1 200 OK\r\n\r\n{}", "{}"},
        {"empty body", "HTTP/1.0 200 OK\r\n\r\n", ""},
        {"body keeps later blank lines", "HTTP/1.0 200 OK\r\n\r\na\r\n\r\nb", "a\r\n\r\nb"},
        {"403 without 200", "HTTP/1.0 403 Forbidden\r\nContent-Length: 9\r\n\r\nforbidden", std::nullopt},
        {"200 anywhere in the header block counts", "HTTP/1.0 403 Forbidden\r\nX-Request: 12004\r\n\r\nno", "no"},
        {"200 only in the body does not", "HTTP/1.0 404 Not Found\r\n\r\n200", std::nullopt},
        {"no blank line", "HTTP/1.0 200 OK\r\n", std::nullopt},
        {"bare LF line ends", "HTTP/1.0 200 OK\n\n{}", std::nullopt},
        {"not HTTP/1.x", "HTTP/2 200\r\n\r\n{}", std::nullopt},
        {"lower case", "http/1.0 200 OK\r\n\r\n{}", std::nullopt},
        {"too short", "HTTP/1.", std::nullopt},
        {"nothing", "", std::nullopt},
        {"status line first", "200 HTTP/1.0\r\n\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        auto body = local_api_response_body(c.response);
        EXPECT_EQ(body.has_value(), c.body.has_value()) << c.what;
        if (body && c.body) {
            EXPECT_EQ(std::string(*body), *c.body) << c.what;
        }
    }
}

}  // namespace
}  // namespace korvex
