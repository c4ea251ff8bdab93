#include "net/listener.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/steady_timer.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>

#include "net/address.h"
#include "net/host_shared.h"
#include "net/session.h"
#include "platform/socket_options.h"

namespace korvex::net {
namespace {

using asio::ip::tcp;
using asio::ip::udp;

Error socket_error(const std::error_code& ec) { return Error{ec.message(), static_cast<std::uint32_t>(ec.value())}; }

Result<tcp::acceptor> bind_tcp(asio::io_context& io, const tcp::endpoint& endpoint) {
    tcp::acceptor acceptor(io);
    std::error_code ec;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec && endpoint.address().is_v6()) {
        // Linux makes IPv6 sockets dual-stack by default, which would collide
        // with the IPv4 socket on the same port.
        acceptor.set_option(asio::ip::v6_only(true), ec);
    }
    if (!ec) allow_listen_over_time_wait(static_cast<std::uintptr_t>(acceptor.native_handle()));
    if (!ec) acceptor.non_blocking(true, ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(128, ec);
    if (ec) return std::unexpected(socket_error(ec));
    return acceptor;
}

}  // namespace

Result<udp::socket> bind_datagram_socket(asio::io_context& io, const udp::endpoint& endpoint) {
    udp::socket socket(io);
    std::error_code ec;
    socket.open(endpoint.protocol(), ec);
    if (ec) return std::unexpected(socket_error(ec));
    std::error_code ignored;
    socket.set_option(asio::socket_base::receive_buffer_size(1 << 20), ignored);
    if (endpoint.address().is_v6()) socket.set_option(asio::ip::v6_only(true), ignored);
    disable_udp_reset_reports(static_cast<std::uintptr_t>(socket.native_handle()));
    socket.non_blocking(true, ec);
    if (!ec) socket.bind(endpoint, ec);
    if (ec) return std::unexpected(socket_error(ec));
    return socket;
}

Result<ListenerSet> bind_listeners(asio::io_context& io, asio::io_context& datagram_io, std::uint16_t first_port,
                                   std::uint16_t last_port) {
    std::optional<Error> last_error;
    for (std::uint32_t p = first_port; p <= last_port; ++p) {
        auto port = static_cast<std::uint16_t>(p);
        auto tcp4 = bind_tcp(io, tcp::endpoint(asio::ip::address_v4::any(), port));
        if (!tcp4) {
            last_error = tcp4.error();
            continue;
        }
        std::error_code ec;
        std::uint16_t tcp_port = tcp4->local_endpoint(ec).port();
        if (ec) {
            last_error = socket_error(ec);
            continue;
        }
        // Port 0 (tests) lets each socket take any free port of its own.
        auto udp4 = bind_datagram_socket(datagram_io, udp::endpoint(asio::ip::address_v4::any(), p == 0 ? 0 : tcp_port));
        if (!udp4) {
            last_error = udp4.error();
            continue;
        }
        std::uint16_t udp_port = udp4->local_endpoint(ec).port();
        if (ec) {
            last_error = socket_error(ec);
            continue;
        }
        ListenerSet set{std::move(*tcp4), std::move(*udp4), std::nullopt, std::nullopt, tcp_port, udp_port};
        if (auto tcp6 = bind_tcp(io, tcp::endpoint(asio::ip::address_v6::any(), tcp_port))) set.tcp_v6 = std::move(*tcp6);
        if (auto udp6 = bind_datagram_socket(datagram_io, udp::endpoint(asio::ip::address_v6::any(), udp_port)))
            set.udp_v6 = std::move(*udp6);
        return set;
    }
    if (last_error) return std::unexpected(*last_error);
    return fail("no free port");
}

asio::awaitable<void> run_accept_loop(tcp::acceptor acceptor, std::shared_ptr<HostShared> host) {
    using namespace std::chrono_literals;
    asio::steady_timer pause(acceptor.get_executor());
    for (;;) {
        // Each session gets a strand of its own: its tasks and wake-ups run serially.
        auto strand = asio::make_strand(acceptor.get_executor());
        auto [ec, socket] = co_await acceptor.async_accept(strand, asio::experimental::as_tuple(asio::use_awaitable));
        if (ec == asio::error::operation_aborted) co_return;
        if (ec) {
            pause.expires_after(50ms);
            co_await pause.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
            continue;
        }
        std::error_code peer_ec;
        auto peer = socket.remote_endpoint(peer_ec);
        std::error_code local_ec;
        auto local = socket.local_endpoint(local_ec);
        std::optional<HandshakeTicket> ticket;
        if (!peer_ec && !local_ec && admits_connection(peer.address(), local.address(), host->endpoints().read()))
            ticket = host->handshake_gate().admit(canonical_address(peer.address()).to_string());
        if (!ticket) {
            // Not local, or too many handshakes already open: closed unread.
            socket.close(peer_ec);
            continue;
        }
        asio::co_spawn(strand, run_session(std::move(socket), host, std::move(*ticket)), asio::detached);
    }
}

}  // namespace korvex::net
