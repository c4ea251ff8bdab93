#include "platform/socket_options.h"

namespace korvex {

// Linux reports ICMP errors on a UDP socket only when it is connected; the
// host's datagram sockets never are.
void disable_udp_reset_reports(std::uintptr_t) {}

}  // namespace korvex
