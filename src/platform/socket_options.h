#pragma once
// Socket settings that only one system needs, behind one call each.
#include <cstdint>

namespace korvex {

// Windows reports an ICMP "port unreachable" for an earlier send as an error
// of the next receive on a UDP socket; a client that went away after its
// acknowledgement would then cost the datagram task a receive error. Turns
// those reports off; nothing to do elsewhere.
void disable_udp_reset_reports(std::uintptr_t native_socket);

// Lets a restarted host listen on its port again while connections of the
// previous run linger in TIME_WAIT. On Linux that takes SO_REUSEADDR, which
// there never lets two sockets listen on one port; on Windows the option
// would let another program take the port over, and TIME_WAIT does not block
// a listener anyway, so nothing is set.
void allow_listen_over_time_wait(std::uintptr_t native_socket);

}  // namespace korvex
