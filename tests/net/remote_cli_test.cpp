// korvex-remote against the real host in-process: long text typed from
// standard input arrives whole and in order; clip states its limit; a man
// in the middle who swaps the host's pairing key is refused before the code
// is used.
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <sstream>

#include "client/cli.h"
#include "client/text_messages.h"
#include "core/input_text.h"
#include "core/pairing_uri.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class RemoteCli : public HostFixture {
protected:
    RemoteCli() { remote_env.vars["KORVEX_REMOTE_DIR"] = "/remote"; }

    int run(std::vector<std::string> args, const std::string& input = {}) {
        std::istringstream in(input);
        out.str("");
        err.str("");
        client::CliContext ctx{files, rng, remote_env, in, out, err};
        return client::run_cli(args, ctx);
    }

    void pair() {
        std::string code = net::start_pairing(shared());
        // As the host shows it: two groups of three.
        std::string shown = code.substr(0, 3) + " " + code.substr(3);
        ASSERT_EQ(run({"pair", "--host", "127.0.0.1:" + std::to_string(port()), "--code", shown}), 0) << err.str();
    }

    std::u16string typed() {
        return shared().with_core([&](net::LockedCore&) {
            std::u16string all;
            for (const auto& piece : sink.typed) all += piece;
            return all;
        });
    }

    MemoryFileSystem files;  // the client's own, apart from the host's
    CountingRandom rng{0x51};
    FakeEnvironment remote_env;
    std::ostringstream out, err;
};

TEST_F(RemoteCli, LongTextFromStandardInputArrivesWholeAndInOrder) {
    pair();
    // 100 KB or more: numbered lines with quotes, tabs and characters of two,
    // three and four bytes, so cuts fall near every kind of character and the
    // escapes make the messages longer than their text.
    std::string text;
    for (int line = 0; text.size() < 100 * 1024; ++line)
        text += std::to_string(line) + " \"quoted\"\tcaf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 end\n";
    ASSERT_GT(client::split_text_messages(text).size(), 1u);

    ASSERT_EQ(run({"type", "-"}, text), 0) << err.str();
    const std::u16string expected = utf8_to_utf16(text);
    ASSERT_TRUE(eventually([&] { return typed().size() >= expected.size(); }));
    EXPECT_TRUE(typed() == expected) << "typed " << typed().size() << " units, expected " << expected.size();
    EXPECT_GT(shared().with_core([&](net::LockedCore&) { return sink.typed.size(); }), 1u);
}

TEST_F(RemoteCli, ClipboardTextOverTheLimitIsRefusedWithTheLimit) {
    pair();
    const std::size_t limit = client::clipboard_text_limit(false);
    EXPECT_EQ(run({"clip", std::string(limit + 1, 'x')}), 1);
    EXPECT_EQ(err.str(), "korvex-remote: the text is " + std::to_string(limit + 1) + " bytes; clip takes at most " +
                             std::to_string(limit) + " bytes (type sends longer text as several messages)\n");
    // Quotes are escaped: fewer of them fit.
    EXPECT_EQ(run({"clip", "-"}, std::string(limit / 2 + 1, '"')), 1);
    EXPECT_NE(err.str().find("once its quotes, backslashes and control characters are escaped"), std::string::npos)
        << err.str();

    ASSERT_EQ(run({"clip", std::string(limit, 'x')}), 0) << err.str();
    auto log = wait_for_sink(1);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "clipboard " + std::string(limit, 'x'));
}

// Relays one connection between a client and the host, frame by frame in
// the host's direction; with `swap_key` it puts its own X25519 key into
// PairResponse, as someone on the path (a spoofed mDNS answer, ARP, a rogue
// access point) would. Records the types of the frames the client sent.
class PairingProxy {
public:
    PairingProxy(std::uint16_t host_port, bool swap_key) : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}) {
        thread_ = std::thread([this, host_port, swap_key] { relay(host_port, swap_key); });
    }
    ~PairingProxy() {
        stop_ = true;
        std::error_code ec;
        acceptor_.close(ec);
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    std::vector<std::uint8_t> client_types() {
        std::lock_guard lock(mutex_);
        return client_types_;
    }

private:
    using tcp = asio::ip::tcp;

    void relay(std::uint16_t host_port, bool swap_key) {
        std::error_code ec;
        tcp::socket client(io_), host(io_);
        acceptor_.non_blocking(true, ec);
        while (!stop_) {
            acceptor_.accept(client, ec);
            if (!ec) break;
            std::this_thread::sleep_for(5ms);
        }
        if (stop_) return;
        host.connect({asio::ip::make_address("127.0.0.1"), host_port}, ec);
        if (ec) return;
        client.non_blocking(true, ec);
        host.non_blocking(true, ec);
        Bytes from_client, from_host;
        std::array<std::uint8_t, 8192> buffer{};
        while (!stop_) {
            bool idle = true;
            std::size_t n = client.read_some(asio::buffer(buffer), ec);
            if (ec && ec != asio::error::would_block) break;
            if (n > 0) {
                idle = false;
                from_client.insert(from_client.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
                for (FrameDecode d = try_decode_frame(from_client); d.status == FrameDecode::Status::Complete;
                     d = try_decode_frame(from_client)) {
                    {
                        std::lock_guard lock(mutex_);
                        client_types_.push_back(d.frame.type);
                    }
                    forward(host, d.frame);
                }
            }
            n = host.read_some(asio::buffer(buffer), ec);
            if (ec && ec != asio::error::would_block) break;
            if (n > 0) {
                idle = false;
                from_host.insert(from_host.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
                for (FrameDecode d = try_decode_frame(from_host); d.status == FrameDecode::Status::Complete;
                     d = try_decode_frame(from_host)) {
                    if (swap_key && d.frame.type == static_cast<std::uint8_t>(MessageType::PairResponse)) {
                        auto response = decode_pair_response(as_text(d.frame.body));
                        if (response) {
                            response->host_x25519 = x25519_keypair(os_random()).public_key;
                            std::string body = encode_json(*response);
                            d.frame.body.assign(body.begin(), body.end());
                        }
                    }
                    forward(client, d.frame);
                }
            }
            if (idle) std::this_thread::sleep_for(2ms);
        }
    }

    static void forward(tcp::socket& to, const Frame& frame) {
        auto bytes = encode_frame(static_cast<MessageType>(frame.type), frame.body, nullptr);
        if (!bytes) return;
        std::size_t done = 0;
        while (done < bytes->size()) {
            std::error_code ec;
            done += to.write_some(asio::buffer(bytes->data() + done, bytes->size() - done), ec);
            if (ec == asio::error::would_block) std::this_thread::sleep_for(1ms);
            else if (ec) return;
        }
    }

    asio::io_context io_;
    tcp::acceptor acceptor_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::uint8_t> client_types_;
};

class PairingThroughAProxy : public RemoteCli {
protected:
    std::string uri_via(const PairingProxy& proxy, const std::string& code) {
        return build_pairing_uri(PairingUri{shared().identity().host_id, shared().host_name(), "windows",
                                            "127.0.0.1:" + std::to_string(proxy.port()), "", shared().host_public(),
                                            code});
    }
    static bool sent_confirm(PairingProxy& proxy) {
        auto types = proxy.client_types();
        return std::find(types.begin(), types.end(), static_cast<std::uint8_t>(MessageType::PairConfirm)) != types.end();
    }
};

TEST_F(PairingThroughAProxy, SwappedHostKeyIsRefusedBeforePairConfirm) {
    PairingProxy proxy(port(), /*swap_key=*/true);
    std::string code = net::start_pairing(shared());
    EXPECT_EQ(run({"pair", uri_via(proxy, code)}), 1);
    EXPECT_NE(err.str().find("hostSigHex"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("swapped"), std::string::npos) << err.str();
    EXPECT_FALSE(sent_confirm(proxy)) << "the MAC that would let the code be guessed offline never left";
    EXPECT_TRUE(shared().with_core([](net::LockedCore& locked) { return locked.core.pairing.code.has_value(); }))
        << "no attempt was spent";
    EXPECT_TRUE(shared().with_core([](net::LockedCore& locked) { return locked.core.store.clients.empty(); }));
}

TEST_F(PairingThroughAProxy, SwappedHostKeyIsRefusedWithATypedCodeToo) {
    PairingProxy proxy(port(), /*swap_key=*/true);
    std::string code = net::start_pairing(shared());
    EXPECT_EQ(run({"pair", "--host", "127.0.0.1:" + std::to_string(proxy.port()), "--code", code}), 1);
    EXPECT_NE(err.str().find("hostSigHex"), std::string::npos) << err.str();
    EXPECT_FALSE(sent_confirm(proxy));
}

TEST_F(PairingThroughAProxy, AnHonestRelayPairs) {
    {
        PairingProxy proxy(port(), /*swap_key=*/false);
        std::string code = net::start_pairing(shared());
        ASSERT_EQ(run({"pair", uri_via(proxy, code)}), 0) << err.str();
        EXPECT_TRUE(sent_confirm(proxy));
        EXPECT_EQ(out.str().find("not checked"), std::string::npos) << out.str();
    }
    // A typed code pairs as well, and says how to pair safely.
    PairingProxy proxy(port(), /*swap_key=*/false);
    std::string code = net::start_pairing(shared());
    ASSERT_EQ(run({"pair", "--host", "127.0.0.1:" + std::to_string(proxy.port()), "--code", code}), 0) << err.str();
    EXPECT_NE(out.str().find("Host key fingerprint " + host_fingerprint(shared().host_public())), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Pairing from the QR code or the pairing URI is the safe way"), std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace korvex::test
