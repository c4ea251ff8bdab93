#include "net/datagram_task.h"

#include <asio/experimental/as_tuple.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <array>

#include "core/datagram.h"
#include "net/address.h"
#include "net/host_shared.h"

namespace korvex::net {
namespace {

using asio::ip::udp;
using namespace std::chrono_literals;

constexpr std::size_t kBatchSize = 32;
constexpr std::size_t kMaxKept = 64;

// Fixed buffers, reused for every batch: nothing is allocated per datagram.
struct Batch {
    std::array<std::uint8_t, 2048> receive{};
    std::array<std::array<std::uint8_t, kMaxKept>, kBatchSize> data{};
    std::array<std::size_t, kBatchSize> size{};
    std::array<udp::endpoint, kBatchSize> from{};
    std::size_t count = 0;
    struct Ack {
        std::size_t index;
        DatagramAck bytes;
    };
    std::array<Ack, kBatchSize> acks{};
    std::size_t ack_count = 0;
};

// Drains what the socket holds, up to a batch; false after a receive error.
bool collect(udp::socket& socket, Batch& batch) {
    batch.count = 0;
    while (batch.count < kBatchSize) {
        std::error_code ec;
        udp::endpoint from;
        std::size_t n = socket.receive_from(asio::buffer(batch.receive), from, 0, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) return true;
        if (ec) return batch.count > 0;
        if (n > kMaxKept) continue;
        std::copy_n(batch.receive.begin(), n, batch.data[batch.count].begin());
        batch.size[batch.count] = n;
        batch.from[batch.count] = from;
        ++batch.count;
    }
    return true;
}

void process(LockedCore& locked, Batch& batch, std::uint64_t now) {
    batch.ack_count = 0;
    if (batch.count >= 2) locked.input.set_coalesce_moves(true);
    for (std::size_t i = 0; i < batch.count; ++i) {
        asio::ip::address source = canonical_address(batch.from[i].address());
        // The address a datagram arrived on is not known here (that would
        // take IP_PKTINFO through recvmsg / WSARecvMsg), so the plain local
        // rule stands, carrier-grade NAT range included. It admits nothing
        // new: a datagram must come from the address of a session whose
        // connection passed the stricter accept rule and open under its key.
        if (batch.size[i] != kInputDatagramSize || !is_local_peer(source)) continue;
        ByteView datagram(batch.data[i].data(), batch.size[i]);
        for (const auto& [client_id, entry] : locked.sessions) {
            if (entry.peer_ip != source) continue;
            auto event = open_input_datagram(entry.session_key, datagram);
            if (!event) continue;
            locked.input.dispatch_event(client_id, *event, now);
            if (event->flags & 1u) batch.acks[batch.ack_count++] = {i, build_datagram_ack(entry.session_key, event->seq)};
            break;
        }
    }
    locked.input.set_coalesce_moves(false);
    locked.input.flush_move();
}

asio::awaitable<void> send_acks(udp::socket& socket, const Batch& batch) {
    for (std::size_t k = 0; k < batch.ack_count; ++k) {
        const auto& ack = batch.acks[k];
        for (;;) {
            std::error_code ec;
            socket.send_to(asio::buffer(ack.bytes), batch.from[ack.index], 0, ec);
            if (ec != asio::error::would_block && ec != asio::error::try_again) break;  // sent, or a failure we ignore
            auto [wait_ec] = co_await socket.async_wait(udp::socket::wait_write, asio::experimental::as_tuple(asio::use_awaitable));
            if (wait_ec) break;
        }
    }
}

asio::awaitable<void> run_datagram_task(udp::socket socket, std::shared_ptr<HostShared> host) {
    auto batch = std::make_unique<Batch>();
    asio::steady_timer pause(socket.get_executor());
    for (;;) {
        auto [ec] = co_await socket.async_wait(udp::socket::wait_read, asio::experimental::as_tuple(asio::use_awaitable));
        if (ec == asio::error::operation_aborted) co_return;
        if (ec || !collect(socket, *batch)) {
            pause.expires_after(5ms);
            co_await pause.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
            continue;
        }
        if (batch->count == 0) continue;
        std::uint64_t now = host->monotonic_ms();
        host->with_core([&](LockedCore& locked) { process(locked, *batch, now); });
        co_await send_acks(socket, *batch);
    }
}

}  // namespace

void spawn_datagram_task(asio::io_context& io, udp::socket socket, std::shared_ptr<HostShared> host) {
    asio::co_spawn(io, run_datagram_task(std::move(socket), std::move(host)), asio::detached);
}

}  // namespace korvex::net
