#pragma once
// Socket settings that only one system needs, behind one call each.
#include <cstdint>

namespace korvex {

// Windows reports an ICMP "port unreachable" for an earlier send as an error
// of the next receive on a UDP socket; a client that went away after its
// acknowledgement would then cost the datagram task a receive error. Turns
// those reports off; nothing to do elsewhere.
void disable_udp_reset_reports(std::uintptr_t native_socket);

}  // namespace korvex
