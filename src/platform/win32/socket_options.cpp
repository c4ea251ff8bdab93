#include "platform/socket_options.h"

#include <winsock2.h>
#include <mswsock.h>

namespace korvex {

void disable_udp_reset_reports(std::uintptr_t native_socket) {
    BOOL report = FALSE;
    DWORD returned = 0;
    // Best effort: a socket that keeps the reports still works, with a pause
    // after each one.
    (void)WSAIoctl(static_cast<SOCKET>(native_socket), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0,
                   &returned, nullptr, nullptr);
}

void allow_listen_over_time_wait(std::uintptr_t) {}

}  // namespace korvex
