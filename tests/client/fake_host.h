#pragma once
// A small host on 127.0.0.1 for the client's tests: the core handshake
// (handle_handshake_frame), sealed frames, the input controller with a
// recording sink, and a datagram port. It runs on its own thread and serves
// any number of connections; the tests talk to it through the client library
// only, so the client's wire code meets the host's core code.
#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "core/datagram.h"
#include "core/frame.h"
#include "core/handshake.h"
#include "core/host_core.h"
#include "core/identity.h"
#include "core/input_controller.h"
#include "core/messages.h"
#include "support/fakes.h"
#include "support/input_fakes.h"

namespace korvex::test {

class FakeHost {
public:
    FakeHost() : tcp_(io_), udp_(io_), input_(sink_, sas_) {
        crypto_init();
        identity_.host_id = "host-7f3a";
        identity_.seed.fill(0x42);
        host_public_ = ed25519_public_key(identity_.seed);
        core_.store.dir = "/data";
        core_.store.path = "/data/paired_devices.json";
        core_.store.store_key = derive_store_key(identity_.seed);
        using asio::ip::make_address;
        tcp_.open(asio::ip::tcp::v4());
        tcp_.bind({make_address("127.0.0.1"), 0});
        tcp_.listen();
        udp_.open(asio::ip::udp::v4());
        udp_.bind({make_address("127.0.0.1"), 0});
        accept();
        receive_datagram();
        thread_ = std::thread([this] { io_.run(); });
    }

    ~FakeHost() {
        std::promise<void> closed;
        asio::post(io_, [&] {
            std::error_code ignored;
            tcp_.close(ignored);
            udp_.close(ignored);
            std::vector<std::shared_ptr<Session>> open;
            {
                std::lock_guard lock(mutex_);
                for (auto& [id, s] : sessions_)
                    if (auto session = s.lock()) open.push_back(session);
            }
            for (auto& session : open) session->end();
            closed.set_value();
        });
        closed.get_future().wait();
        io_.stop();
        thread_.join();
    }

    std::uint16_t port() const { return tcp_.local_endpoint().port(); }
    std::uint16_t udp_port() const { return udp_.local_endpoint().port(); }
    const Key32& host_public() const { return host_public_; }
    const std::string& host_id() const { return identity_.host_id; }
    const std::string host_name = "Test Desk";
    std::vector<std::string> lan = {"127.0.0.1:49182"};

    std::string open_pairing(const std::string& code) {
        std::lock_guard lock(mutex_);
        core_.pairing.code = code;
        core_.pairing.failed_attempts = 0;
        return code;
    }
    void withdraw_pairing() {
        std::lock_guard lock(mutex_);
        clear_pairing_code(core_);
    }
    std::optional<std::string> active_code() {
        std::lock_guard lock(mutex_);
        return core_.pairing.code;
    }
    std::uint8_t failed_attempts() {
        std::lock_guard lock(mutex_);
        return core_.pairing.failed_attempts;
    }
    std::vector<PairedClientRecord> paired() {
        std::lock_guard lock(mutex_);
        return core_.store.clients;
    }
    std::vector<std::string> sink_log() {
        std::lock_guard lock(mutex_);
        return sink_.log;
    }
    std::vector<std::string> take_sink_log() {
        std::lock_guard lock(mutex_);
        return sink_.take();
    }
    // Session display names of established connections, by u64 id.
    std::map<std::uint64_t, std::string> display_names() {
        std::lock_guard lock(mutex_);
        return display_names_;
    }
    int datagrams_dispatched() {
        std::lock_guard lock(mutex_);
        return datagrams_dispatched_;
    }
    // The next `n` acknowledgements are not sent, as if they were lost.
    void drop_acks(int n) {
        std::lock_guard lock(mutex_);
        acks_to_drop_ = n;
    }
    void set_sas_outcome(SasOutcome outcome) {
        std::lock_guard lock(mutex_);
        sas_.outcome = outcome;
    }

    // Sends SessionClosed "removed_by_user" to every session of the client and
    // closes them, as removal from the host's device list does.
    void remove_client(const std::string& client_id) {
        std::promise<void> done;
        asio::post(io_, [&] {
            {
                std::lock_guard lock(mutex_);
                erase_client_records(core_.store, client_id);
            }
            std::vector<std::shared_ptr<Session>> matching;
            {
                std::lock_guard lock(mutex_);
                for (auto& [id, s] : sessions_)
                    if (auto session = s.lock(); session && session->client_id == client_id)
                        matching.push_back(session);
            }
            for (auto& session : matching) {
                session->send(MessageType::SessionClosed, encode_reason(reason::kRemovedByUser), true);
                session->close_after_writes();
            }
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    struct Session : std::enable_shared_from_this<Session> {
        Session(FakeHost& h, asio::ip::tcp::socket s) : host(h), socket(std::move(s)) {}
        FakeHost& host;
        asio::ip::tcp::socket socket;
        Bytes inbox;
        std::array<std::uint8_t, 4096> chunk{};
        HandshakeState handshake;
        std::unique_ptr<SessionCrypto> crypto;
        std::uint64_t number = 0;
        std::string client_id;
        std::deque<Bytes> writes;
        bool writing = false;
        bool closing = false;
        bool ended = false;

        void read() {
            socket.async_read_some(asio::buffer(chunk), [self = shared_from_this()](std::error_code ec, std::size_t n) {
                if (ec) return self->end();
                self->inbox.insert(self->inbox.end(), self->chunk.begin(), self->chunk.begin() + static_cast<long>(n));
                self->process();
                if (!self->ended && !self->closing) self->read();
            });
        }

        void process() {
            while (!ended && !closing) {
                FrameDecode d = try_decode_frame(inbox);
                if (d.status == FrameDecode::Status::NeedMore) return;
                if (d.status == FrameDecode::Status::Fatal) return end();
                handle(d.frame);
            }
        }

        void handle(const Frame& frame) {
            if (!crypto) return handshake_step(frame);
            auto plain = open_frame(*crypto, frame);
            if (!plain) return end();
            std::lock_guard lock(host.mutex_);
            auto now = now_ms();
            switch (static_cast<MessageType>(frame.type)) {
                case MessageType::Ping:
                    if (auto ping = decode_ping(as_text(*plain)))
                        send(MessageType::Pong, encode_json(Pong{ping->ts}), true);
                    break;
                case MessageType::TextUtf8:
                    if (auto text = decode_text_utf8(as_text(*plain))) host.input_.type_text(number, text->text, now);
                    break;
                case MessageType::ClipboardSet:
                    if (auto clip = decode_clipboard_set(as_text(*plain)))
                        host.input_.set_clipboard(number, clip->text, clip->auto_paste, now);
                    break;
                case MessageType::InputEvent:
                    if (auto event = parse_input_event(*plain)) host.input_.dispatch_event(number, *event, now);
                    break;
                default:
                    break;
            }
        }

        void handshake_step(const Frame& frame) {
            HandshakeOutcome out;
            {
                std::lock_guard lock(host.mutex_);
                HandshakeContext ctx{host.identity_, host.host_public_, host.host_name, host.udp_port(), host.lan,
                                     host.ts_,       "desktop",         host.rng_,      host.saver_,     1700000000};
                out = handle_handshake_frame(handshake, frame.type, frame.body, host.core_, ctx, "127.0.0.1");
            }
            for (const auto& f : out.plain) send(f.type, f.body, false);
            using Kind = HandshakeOutcome::Kind;
            if (out.kind == Kind::Close) return end();
            if (out.kind == Kind::ReplyAndClose) return close_after_writes();
            if (out.kind != Kind::Established) return;
            crypto = std::make_unique<SessionCrypto>(out.session_key, Side::Host);
            for (const auto& f : out.encrypted) send(f.type, f.body, true);
            client_id = out.client_id;
            std::lock_guard lock(host.mutex_);
            number = host.core_.next_client_id++;
            host.keys_[number] = out.session_key;
            host.display_names_[number] = out.display_name;
            host.sessions_[number] = weak_from_this();
            // The Ctrl+Alt+Del reply comes back on this session's thread, inside dispatch.
            host.input_.add_client(number).outgoing = [weak = weak_from_this()](std::string body) {
                if (auto self = weak.lock()) self->send(MessageType::SasResult, body, true);
            };
        }

        void send(MessageType type, std::string_view body, bool sealed) {
            if (ended) return;
            auto bytes = encode_frame(type, as_bytes(body), sealed ? crypto.get() : nullptr);
            if (!bytes) return;
            writes.push_back(std::move(*bytes));
            pump();
        }

        void pump() {
            if (writing || ended) return;
            if (writes.empty()) {
                if (closing) end();
                return;
            }
            writing = true;
            asio::async_write(socket, asio::buffer(writes.front()),
                              [self = shared_from_this()](std::error_code ec, std::size_t) {
                                  self->writing = false;
                                  self->writes.pop_front();
                                  if (ec) return self->end();
                                  self->pump();
                              });
        }

        void close_after_writes() {
            closing = true;
            pump();
        }

        void end() {
            if (ended) return;
            ended = true;
            std::error_code ignored;
            socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
            if (number != 0) {
                std::lock_guard lock(host.mutex_);
                host.input_.remove_client(number);
                host.keys_.erase(number);
                host.sessions_.erase(number);
            }
        }
    };

    static std::uint64_t now_ms() {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }

    void accept() {
        tcp_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
            if (ec) return;
            auto session = std::make_shared<Session>(*this, std::move(socket));
            session->read();
            accept();
        });
    }

    void receive_datagram() {
        udp_.async_receive_from(asio::buffer(datagram_), datagram_from_, [this](std::error_code ec, std::size_t n) {
            if (ec == asio::error::operation_aborted || !udp_.is_open()) return;
            if (!ec) handle_datagram(ByteView(datagram_.data(), n));
            receive_datagram();
        });
    }

    void handle_datagram(ByteView bytes) {
        std::optional<DatagramAck> ack;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [number, key] : keys_) {
                auto event = open_input_datagram(key, bytes);
                if (!event) continue;
                input_.dispatch_event(number, *event, now_ms());
                ++datagrams_dispatched_;
                if (event->flags & kDatagramAckRequested) {
                    if (acks_to_drop_ > 0)
                        --acks_to_drop_;
                    else
                        ack = build_datagram_ack(key, event->seq);
                }
                break;
            }
        }
        if (ack) {
            std::error_code ignored;
            udp_.send_to(asio::buffer(*ack), datagram_from_, 0, ignored);
        }
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor tcp_;
    asio::ip::udp::socket udp_;
    std::array<std::uint8_t, 2048> datagram_{};
    asio::ip::udp::endpoint datagram_from_;
    std::thread thread_;

    std::mutex mutex_;  // guards everything below against the test thread
    HostIdentity identity_;
    Key32 host_public_{};
    std::vector<std::string> ts_;
    HostCore core_;
    MemoryFileSystem fs_;
    DirectStoreSaver saver_{fs_};
    CountingRandom rng_{0x80};
    RecordingSink sink_;
    FakeSas sas_;
    InputController input_;
    std::map<std::uint64_t, Key32> keys_;
    std::map<std::uint64_t, std::string> display_names_;
    std::map<std::uint64_t, std::weak_ptr<Session>> sessions_;
    int datagrams_dispatched_ = 0;
    int acks_to_drop_ = 0;
};

}  // namespace korvex::test
