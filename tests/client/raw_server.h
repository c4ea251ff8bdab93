#pragma once
// A one-connection TCP server on 127.0.0.1 for the client's failure cases:
// it accepts, writes the given bytes, and then either closes at once or
// stays silent until the client hangs up.
#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <thread>

#include "core/bytes.h"

namespace korvex::test {

class RawServer {
public:
    enum class Then { Close, WaitForClient };

    RawServer(Bytes greeting, Then then) : acceptor_(io_) {
        acceptor_.open(asio::ip::tcp::v4());
        acceptor_.bind({asio::ip::make_address("127.0.0.1"), 0});
        acceptor_.listen();
        thread_ = std::thread([this, greeting = std::move(greeting), then] {
            std::error_code ec;
            asio::ip::tcp::socket socket(io_);
            acceptor_.accept(socket, ec);
            if (ec) return;
            if (!greeting.empty()) asio::write(socket, asio::buffer(greeting), ec);
            if (then == Then::WaitForClient) {
                std::array<std::uint8_t, 512> sink{};
                while (!ec) socket.read_some(asio::buffer(sink), ec);
            }
            socket.close(ec);
        });
    }
    // A test that failed before connecting would leave accept() waiting: a
    // throwaway connection releases it (and sits unused otherwise).
    ~RawServer() {
        asio::io_context io;
        asio::ip::tcp::socket poke(io);
        std::error_code ignored;
        poke.connect({asio::ip::make_address("127.0.0.1"), port()}, ignored);
        poke.close(ignored);
        thread_.join();
    }

    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
inline std::uint16_t closed_port() {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, {asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

}  // namespace korvex::test
