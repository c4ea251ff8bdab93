#pragma once
// Connections that are accepted but not yet established cost a socket and a
// frame's buffer each while a stranger decides how slowly to talk. They are
// counted in total and per peer address; beyond either cap a new connection
// is closed at once.
#include <cstddef>
#include <map>
#include <string>

namespace korvex {

// A household runs a handful of devices; a client opens one connection at a
// time, established within a round trip or two (a retry may overlap the
// end of its last attempt). Even a dozen devices reconnecting at the same
// moment stay far below these numbers, while a stranger holds at most this
// many sockets, for the ten seconds a handshake may take, and one address
// takes at most a quarter of the places.
inline constexpr std::size_t kMaxUnestablished = 64;
inline constexpr std::size_t kMaxUnestablishedPerPeer = 16;

class UnestablishedConnections {
public:
    // Counts one more for `peer` (its address text); false, counting
    // nothing, when either cap is reached.
    bool try_admit(const std::string& peer);
    // Forgets one of `peer`'s, once it is established or gone.
    void release(const std::string& peer);
    std::size_t total() const { return total_; }
    std::size_t of(const std::string& peer) const;

private:
    std::map<std::string, std::size_t> per_peer_;  // never more than kMaxUnestablished entries
    std::size_t total_ = 0;
};

}  // namespace korvex
