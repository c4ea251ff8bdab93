#include "net/store_writer.h"

#include <utility>

namespace korvex::net {

void StoreWriter::set_poster(Post post) {
    std::lock_guard lock(state_mutex_);
    post_ = std::move(post);
}

Status StoreWriter::save_now(const PairedStore& store) {
    std::uint64_t generation;
    {
        std::lock_guard lock(state_mutex_);
        generation = ++generation_;
        // The live store holds every refresh handed over before this call.
        pending_.reset();
    }
    return write(store, generation);
}

void StoreWriter::save_soon(const PairedStore& store) {
    std::lock_guard lock(state_mutex_);
    pending_ = store;
    pending_generation_ = ++generation_;
    if (in_flight_) return;  // the running drain picks this copy up
    if (!post_) {
        std::optional<PairedStore> now = std::exchange(pending_, std::nullopt);
        (void)write(*now, pending_generation_);
        return;
    }
    in_flight_ = true;
    post_([this] { drain(); });
}

void StoreWriter::drain() {
    std::optional<PairedStore> copy;
    std::uint64_t generation;
    {
        std::lock_guard lock(state_mutex_);
        copy = std::exchange(pending_, std::nullopt);
        generation = pending_generation_;
        if (!copy) {
            in_flight_ = false;
            return;
        }
    }
    (void)write(*copy, generation);
    // What arrived during the write waits for a job of its own, so the
    // writes stay one delay apart.
    std::lock_guard lock(state_mutex_);
    if (pending_ && post_)
        post_([this] { drain(); });
    else
        in_flight_ = false;
}

void StoreWriter::flush() {
    std::optional<PairedStore> copy;
    std::uint64_t generation;
    {
        std::lock_guard lock(state_mutex_);
        copy = std::exchange(pending_, std::nullopt);
        generation = pending_generation_;
        in_flight_ = false;
    }
    if (copy) (void)write(*copy, generation);
}

Status StoreWriter::write(const PairedStore& store, std::uint64_t generation) {
    std::lock_guard lock(file_mutex_);
    if (generation <= written_generation_) return {};
    Status saved = save_store(fs_, store);
    writes_.fetch_add(1, std::memory_order_relaxed);
    // A failed write leaves the older file; a later copy may still replace it.
    if (saved) written_generation_ = generation;
    return saved;
}

std::size_t StoreWriter::writes() const { return writes_.load(std::memory_order_relaxed); }

}  // namespace korvex::net
