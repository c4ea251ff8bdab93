#include "client/datagram_sender.h"

#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include "client/connection.h"
#include "client/io_wait.h"

namespace korvex::client {
namespace {

using asio::ip::udp;
using Clock = std::chrono::steady_clock;

// Anything longer than an acknowledgement is not one; a little room is kept
// so that a longer datagram is seen as such rather than cut to size.
constexpr std::size_t kReceiveSize = 64;

}  // namespace

struct DatagramSender::Impl {
    asio::io_context io;
    udp::socket socket{io};
    Key32 key{};
    std::chrono::milliseconds ack_wait = kAckWait;
    int ack_tries = kAckTries;
    std::array<std::uint8_t, kReceiveSize> buffer{};

    ~Impl() { wipe(key); }

    // One datagram, or nothing when the time ran out; errors as they come.
    Result<std::optional<std::size_t>> receive(std::chrono::milliseconds wait) {
        std::error_code ec;
        std::size_t n = 0;
        bool done = false;
        socket.async_receive(asio::buffer(buffer), [&](std::error_code e, std::size_t got) {
            ec = e;
            n = got;
            done = true;
        });
        run_until(io, wait, done, [&] {
            std::error_code ignored;
            socket.cancel(ignored);
        });
        if (ec == asio::error::operation_aborted) return std::optional<std::size_t>{};
        // Windows reports the port-unreachable answer as a reset.
        if (ec == asio::error::connection_refused || ec == asio::error::connection_reset)
            return fail("the host's datagram port refused the datagram (nothing listens there)");
        // An over-long datagram was cut to the buffer; at that size it is no acknowledgement.
        if (ec == asio::error::message_size) return std::optional<std::size_t>{kReceiveSize};
        if (ec) return fail("cannot receive from the host's datagram port: " + ec.message());
        return std::optional<std::size_t>{n};
    }

    Status send(ByteView bytes) {
        std::error_code ec;
        socket.send(asio::buffer(bytes.data(), bytes.size()), 0, ec);
        if (ec == asio::error::connection_refused || ec == asio::error::connection_reset)
            return fail("the host's datagram port refused the datagram (nothing listens there)");
        if (ec) return fail("cannot send the datagram: " + ec.message());
        return {};
    }
};

DatagramSender::DatagramSender() : impl_(std::make_unique<Impl>()) {}
DatagramSender::~DatagramSender() = default;
DatagramSender::DatagramSender(DatagramSender&&) noexcept = default;
DatagramSender& DatagramSender::operator=(DatagramSender&&) noexcept = default;

Result<DatagramSender> DatagramSender::open(std::string_view host_address, std::uint16_t udp_port,
                                            const Key32& session_key) {
    if (udp_port == 0) return fail("the host announced no datagram port");
    std::error_code ec;
    auto address = asio::ip::make_address(std::string(host_address), ec);
    if (ec) return fail("\"" + std::string(host_address) + "\" is not an IP address");
    DatagramSender sender;
    Impl& s = *sender.impl_;
    s.key = session_key;
    udp::endpoint host(address, udp_port);
    s.socket.open(host.protocol(), ec);
    // Connected, so only the host's datagrams come back to this socket.
    if (!ec) s.socket.connect(host, ec);
    if (ec) return fail("cannot open a datagram socket to " + std::string(host_address) + ": " + ec.message());
    return sender;
}

Result<DatagramSender> DatagramSender::open(const Connection& connection) {
    auto key = connection.session_key();
    if (!key) return fail("the session is not established");
    auto sender = open(connection.remote_address(), connection.udp_port(), *key);
    wipe(*key);
    return sender;
}

void DatagramSender::set_ack_policy(std::chrono::milliseconds wait, int tries) {
    impl_->ack_wait = wait;
    impl_->ack_tries = tries < 1 ? 1 : tries;
}

Status DatagramSender::send(const InputEvent& event) {
    Impl& s = *impl_;
    const InputDatagram datagram = seal_input_datagram(s.key, event);
    if (!(event.flags & kDatagramAckRequested)) return s.send(datagram);
    for (int attempt = 0; attempt < s.ack_tries; ++attempt) {
        if (auto sent = s.send(datagram); !sent) return sent;
        const auto deadline = Clock::now() + s.ack_wait;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            KORVEX_TRY(auto got, s.receive(left));
            if (!got) break;
            // Late acknowledgements of earlier events and stray bytes are skipped.
            if (verify_datagram_ack(s.key, ByteView(s.buffer.data(), *got), event.seq)) return {};
        }
    }
    return fail("no acknowledgement from the host after " + std::to_string(s.ack_tries) + " tries");
}

Status DatagramSender::send_raw(ByteView bytes) { return impl_->send(bytes); }

Result<std::optional<Bytes>> DatagramSender::receive_raw(std::chrono::milliseconds timeout) {
    KORVEX_TRY(auto got, impl_->receive(timeout));
    if (!got) return std::optional<Bytes>{};
    return std::optional<Bytes>(
        Bytes(impl_->buffer.begin(), impl_->buffer.begin() + static_cast<std::ptrdiff_t>(*got)));
}

std::uint16_t DatagramSender::local_port() const {
    std::error_code ec;
    auto endpoint = impl_->socket.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

}  // namespace korvex::client
