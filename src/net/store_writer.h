#pragma once
// Writes the paired-device store for the host. Pairings and removals are
// written at once by the caller's step; the lastSeenUnix refresh of every
// authentication is written behind the host lock on the blocking pool, one
// write at a time, each write taking the newest copy handed over meanwhile;
// the poster delays each such write a little, so a stream of
// authentications costs one write per delay rather than one each.
// Writes never overtake each other: a copy older than what is already on
// disk is dropped.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "core/store.h"

namespace korvex::net {

class StoreWriter final : public StoreSaver {
public:
    // How background work is started (the runtime's blocking pool, after
    // the refresh delay).
    using Post = std::function<void(std::function<void()>)>;

    explicit StoreWriter(FileSystem& fs) : fs_(fs) {}

    // Until a poster is set, save_soon writes at once.
    void set_poster(Post post);

    Status save_now(const PairedStore& store) override;
    void save_soon(const PairedStore& store) override;

    // Writes what is still waiting, on the calling thread (at shut-down,
    // after the pool has stopped).
    void flush();

    // Store files written so far, for tests and benchmarks.
    std::size_t writes() const;

private:
    void drain();
    // Writes `store` unless something newer is already on disk.
    Status write(const PairedStore& store, std::uint64_t generation);

    FileSystem& fs_;

    mutable std::mutex state_mutex_;
    Post post_;
    std::uint64_t generation_ = 0;
    std::optional<PairedStore> pending_;
    std::uint64_t pending_generation_ = 0;
    bool in_flight_ = false;

    // Held for a whole write: the temporary sibling is shared by every write.
    std::mutex file_mutex_;
    std::uint64_t written_generation_ = 0;
    std::atomic<std::size_t> writes_{0};
};

}  // namespace korvex::net
