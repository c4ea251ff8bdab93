#include "net/session.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <random>

#include "core/handshake.h"
#include "core/input_event.h"
#include "core/messages.h"
#include "net/address.h"
#include "net/host_shared.h"
#include "platform/clock.h"
#include "platform/random_source.h"

namespace korvex::net {

bool SessionChannel::push(SessionCommand command) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(std::move(command));
    }
    wake_->notify();
    return true;
}

std::optional<SessionCommand> SessionChannel::pop() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    SessionCommand command = std::move(queue_.front());
    queue_.pop_front();
    return command;
}

bool SessionChannel::has_pending() {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

void SessionChannel::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
}

Status remove_client(HostShared& host, LockedCore& locked, const std::string& client_id) {
    const bool removed = erase_client_records(locked.core.store, client_id) > 0;
    Status saved = removed ? host.store_writer().save_now(locked.core.store) : Status{};
    end_sessions_of(locked, client_id);
    // The list the user sees is the one in memory, saved or not.
    if (removed) locked.core.queue(HostEvent::Kind::PairedListChanged);
    if (!saved) return fail("The device was disconnected, but the list of paired devices could not be saved (" +
                            saved.error().text + "); it will be back after the host restarts.");
    return {};
}

void end_sessions_of(LockedCore& locked, const std::string& client_id) {
    for (auto it = locked.sessions.begin(); it != locked.sessions.end();) {
        if (it->second.client_id != client_id) {
            ++it;
            continue;
        }
        it->second.channel->push({SessionCommand::Kind::RemovedByUser, MessageType::SessionClosed, {}});
        // No input of a removed device is taken from here on, whether it
        // comes over TCP or UDP before its session has ended; this also
        // releases what it held if it was the owner.
        locked.input.remove_client(it->first);
        it = locked.sessions.erase(it);
    }
}

Status remove_client(HostShared& host, const std::string& client_id) {
    return host.with_core([&](LockedCore& locked) { return remove_client(host, locked, client_id); });
}

namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;

constexpr auto kReadTimeout = 10s;
// From accept to established, however the bytes trickle in.
constexpr auto kHandshakeDeadline = 10s;
// A peer that stops reading must not hold a session for ever.
constexpr auto kWriteTimeout = 10s;
constexpr std::size_t kReadSize = 8192;

class Session {
public:
    Session(tcp::socket socket, std::shared_ptr<HostShared> host, HandshakeTicket ticket)
        : socket_(std::move(socket)),
          host_(std::move(host)),
          ticket_(std::move(ticket)),
          handshake_deadline_(ticket_.accepted_at() + kHandshakeDeadline),
          channel_(std::make_shared<SessionChannel>(socket_.get_executor())),
          write_timer_(socket_.get_executor()) {
        std::array<std::uint8_t, 4> seed{};
        host_->services().rng.fill(seed);
        coin_.seed(get_u32_le(seed.data()));
    }

    asio::awaitable<void> run() {
        std::error_code ec;
        socket_.set_option(tcp::no_delay(true), ec);
        auto remote = socket_.remote_endpoint(ec);
        if (!ec) {
            peer_ip_ = canonical_address(remote.address());
            peer_text_ = peer_ip_.to_string();
            socket_.non_blocking(true, ec);
            if (!ec) co_await loop();
        }
        co_await finish();
    }

private:
    asio::awaitable<void> loop() {
        std::error_code ec;
        for (;;) {
            if (!crypto_ && std::chrono::steady_clock::now() >= handshake_deadline_) co_return;
            bool command_ready = channel_->has_pending();
            bool readable = socket_.available(ec) > 0;
            if (!command_ready && !readable) {
                auto& timer = channel_->wake().timer();
                if (crypto_)
                    timer.expires_after(kReadTimeout);
                else
                    timer.expires_at(std::min(std::chrono::steady_clock::now() + kReadTimeout, handshake_deadline_));
                auto woke = co_await (timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable)) ||
                                      socket_.async_wait(tcp::socket::wait_read, asio::experimental::as_tuple(asio::use_awaitable)));
                if (woke.index() == 0) {
                    auto [timer_ec] = std::get<0>(woke);
                    if (!timer_ec) co_return;  // read time-out
                    continue;                  // a command arrived
                }
                auto [wait_ec] = std::get<1>(woke);
                if (wait_ec) co_return;
                readable = true;
                command_ready = channel_->has_pending();
            }
            // When both are ready, pick one at random so neither starves the other.
            bool take_command = command_ready && (!readable || (coin_() & 1u) != 0);
            if (take_command) {
                if (!co_await handle_command()) co_return;
            } else {
                if (!co_await read_and_process()) co_return;
            }
        }
    }

    asio::awaitable<bool> handle_command() {
        auto command = channel_->pop();
        if (!command) co_return true;
        if (command->kind == SessionCommand::Kind::RemovedByUser) {
            co_await write_frame(MessageType::SessionClosed, encode_reason(reason::kRemovedByUser));
            co_return false;
        }
        co_return co_await write_frame(command->type, command->body);
    }

    asio::awaitable<bool> read_and_process() {
        std::error_code ec;
        std::size_t n = socket_.read_some(asio::buffer(read_buffer_), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) co_return true;
        if (ec || n == 0) co_return false;
        receive_buffer_.insert(receive_buffer_.end(), read_buffer_.begin(), read_buffer_.begin() + static_cast<std::ptrdiff_t>(n));
        for (;;) {
            // Before establishment nothing valid is larger than a handshake
            // body: a longer length field closes at once, unread.
            FrameDecode decoded = try_decode_frame(receive_buffer_, crypto_ ? kMaxFrameLength : kMaxHandshakeFrameLength);
            if (decoded.status == FrameDecode::Status::NeedMore) co_return true;
            if (decoded.status == FrameDecode::Status::Fatal) co_return false;
            bool go_on = crypto_ ? co_await handle_established(decoded.frame) : co_await handle_handshake(decoded.frame);
            if (!go_on) co_return false;
        }
    }

    asio::awaitable<bool> handle_handshake(const Frame& frame) {
        const EndpointSnapshot snapshot = host_->endpoints().read();
        const auto lan = lan_endpoints(snapshot, host_->tcp_port());
        const auto tailscale = tailscale_endpoints(snapshot, host_->tcp_port());
        std::uint64_t now = host_->services().clock.unix_now();
        // Decoded before the lock: a stranger's body must not hold up the
        // input of every paired client.
        HandshakeMessage message = decode_handshake_frame(frame.type, frame.body);
        const HandshakeContext ctx{host_->identity(), host_->host_public(), host_->host_name(), host_->udp_port(),
                                   lan, tailscale, host_->device_type(), host_->services().rng,
                                   host_->store_writer(), now, host_->os_type()};
        // An authentication's signatures and key agreement, too, are done
        // outside the lock.
        const HandshakePrework prework = prepare_handshake_step(handshake_, message);
        // The session is registered in the same step that makes AuthOk or
        // PairComplete: a datagram the client sends the instant it reads
        // the reply must find it.
        HandshakeOutcome outcome = host_->with_core([&](LockedCore& locked) {
            HandshakeOutcome out =
                handle_handshake_frame(handshake_, std::move(message), prework, locked.core, ctx, peer_text_);
            // The sessions opened with a key a re-pairing replaced end here.
            if (out.replaced_key) end_sessions_of(locked, out.client_id);
            if (out.kind == HandshakeOutcome::Kind::Established) register_client(locked, out);
            return out;
        });
        finish_handshake_step(handshake_, outcome, ctx);
        using Kind = HandshakeOutcome::Kind;
        if (outcome.kind == Kind::Close) co_return false;
        for (const auto& out : outcome.plain) {
            if (!co_await write_frame(out.type, out.body)) co_return false;
        }
        if (outcome.kind == Kind::ReplyAndClose) co_return false;
        if (outcome.kind == Kind::Established) {
            crypto_.emplace(outcome.session_key, Side::Host);
            ticket_.release();
            host_->wake_watchdog();
            // A failed write ends the session through the usual clean-up.
            for (const auto& out : outcome.encrypted) {
                if (!co_await write_frame(out.type, out.body)) co_return false;
            }
        }
        co_return true;
    }

    void register_client(LockedCore& locked, const HandshakeOutcome& outcome) {
        display_name_ = outcome.display_name;
        client_id_ = locked.core.next_client_id++;
        std::weak_ptr<SessionChannel> channel = channel_;
        ClientInputEntry& input = locked.input.add_client(*client_id_);
        input.outgoing = [channel](std::string body) {
            if (auto live = channel.lock()) live->push({SessionCommand::Kind::SendFrame, MessageType::SasResult, std::move(body)});
        };
        locked.sessions[*client_id_] =
            SessionEntry{outcome.client_id, outcome.display_name, outcome.session_key, peer_ip_, channel_};
        locked.core.queue(HostEvent::Kind::DeviceConnected, outcome.display_name);
    }

    asio::awaitable<bool> handle_established(const Frame& frame) {
        auto plain = open_frame(*crypto_, frame);
        if (!plain) co_return false;
        std::string_view text = as_text(*plain);
        const std::uint64_t id = *client_id_;
        switch (static_cast<MessageType>(frame.type)) {
            case MessageType::Ping: {
                auto ping = decode_ping(text);
                if (!ping) co_return true;
                std::uint64_t now = host_->monotonic_ms();
                host_->with_core([&](LockedCore& locked) { locked.input.note_activity(id, now); });
                co_return co_await write_frame(MessageType::Pong, encode_json(Pong{ping->ts}));
            }
            case MessageType::TextUtf8: {
                auto message = decode_text_utf8(text);
                if (!message) co_return true;
                std::uint64_t now = host_->monotonic_ms();
                host_->with_core([&](LockedCore& locked) {
                    if (still_registered(locked, id)) locked.input.type_text(id, message->text, now);
                });
                co_return true;
            }
            case MessageType::ClipboardSet: {
                auto message = decode_clipboard_set(text);
                if (!message) co_return true;
                std::uint64_t now = host_->monotonic_ms();
                host_->with_core([&](LockedCore& locked) {
                    if (still_registered(locked, id))
                        locked.input.set_clipboard(id, message->text, message->auto_paste, now);
                });
                co_return true;
            }
            case MessageType::InputEvent: {
                auto event = parse_input_event(*plain);
                if (!event) co_return true;
                std::uint64_t now = host_->monotonic_ms();
                host_->with_core([&](LockedCore& locked) { locked.input.dispatch_event(id, *event, now); });
                co_return true;
            }
            default:
                co_return true;
        }
    }

    // A removed client's session may still read a frame before it takes
    // the removal command; text and clipboard would make it the owner again.
    static bool still_registered(LockedCore& locked, std::uint64_t id) { return locked.sessions.contains(id); }

    asio::awaitable<bool> write_frame(MessageType type, std::string_view body) {
        auto frame = encode_frame(type, as_bytes(body), crypto_ ? &*crypto_ : nullptr);
        if (!frame) co_return false;
        write_timer_.expires_after(kWriteTimeout);
        auto result = co_await (asio::async_write(socket_, asio::buffer(*frame), asio::experimental::as_tuple(asio::use_awaitable)) ||
                                write_timer_.async_wait(asio::experimental::as_tuple(asio::use_awaitable)));
        if (result.index() != 0) co_return false;
        auto [ec, n] = std::get<0>(result);
        co_return !ec;
    }

    asio::awaitable<void> finish() {
        std::error_code ec;
        socket_.shutdown(tcp::socket::shutdown_send, ec);
        channel_->close();
        if (client_id_) {
            const std::uint64_t id = *client_id_;
            host_->with_core([&](LockedCore& locked) {
                auto it = locked.sessions.find(id);
                std::string name = it != locked.sessions.end() ? it->second.display_name : display_name_;
                if (it != locked.sessions.end()) locked.sessions.erase(it);
                locked.input.remove_client(id);
                locked.core.queue(HostEvent::Kind::DeviceDisconnected, std::move(name));
            });
        }
        co_return;
    }

    tcp::socket socket_;
    std::shared_ptr<HostShared> host_;
    HandshakeTicket ticket_;
    std::chrono::steady_clock::time_point handshake_deadline_;
    std::shared_ptr<SessionChannel> channel_;
    asio::steady_timer write_timer_;
    std::minstd_rand coin_;

    asio::ip::address peer_ip_;
    std::string peer_text_;
    std::array<std::uint8_t, kReadSize> read_buffer_{};
    Bytes receive_buffer_;
    HandshakeState handshake_;
    std::optional<SessionCrypto> crypto_;
    std::optional<std::uint64_t> client_id_;
    std::string display_name_;
};

}  // namespace

asio::awaitable<void> run_session(tcp::socket socket, std::shared_ptr<HostShared> host, HandshakeTicket ticket) {
    Session session(std::move(socket), std::move(host), std::move(ticket));
    co_await session.run();
}

}  // namespace korvex::net
