#include "core/connection_limits.h"

namespace korvex {

bool UnestablishedConnections::try_admit(const std::string& peer) {
    if (total_ >= kMaxUnestablished) return false;
    std::size_t& count = per_peer_[peer];
    if (count >= kMaxUnestablishedPerPeer) return false;
    ++count;
    ++total_;
    return true;
}

void UnestablishedConnections::release(const std::string& peer) {
    auto it = per_peer_.find(peer);
    if (it == per_peer_.end()) return;
    --total_;
    if (--it->second == 0) per_peer_.erase(it);
}

std::size_t UnestablishedConnections::of(const std::string& peer) const {
    auto it = per_peer_.find(peer);
    return it == per_peer_.end() ? 0 : it->second;
}

}  // namespace korvex
