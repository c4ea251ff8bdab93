#include "platform/socket_options.h"

#include <sys/socket.h>

namespace korvex {

// Linux reports ICMP errors on a UDP socket only when it is connected; the
// host's datagram sockets never are.
void disable_udp_reset_reports(std::uintptr_t) {}

void allow_listen_over_time_wait(std::uintptr_t native_socket) {
    int on = 1;
    // Best effort: without it a restart soon after a crash takes the next port.
    (void)setsockopt(static_cast<int>(native_socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

}  // namespace korvex
