#include "core/connection_limits.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(UnestablishedConnections, CapsPerPeerAndInTotalAndFreesOnRelease) {
    UnestablishedConnections count;
    for (std::size_t i = 0; i < kMaxUnestablishedPerPeer; ++i) ASSERT_TRUE(count.try_admit("10.0.0.1"));
    EXPECT_FALSE(count.try_admit("10.0.0.1")) << "one peer's cap";
    EXPECT_EQ(count.of("10.0.0.1"), kMaxUnestablishedPerPeer);
    count.release("10.0.0.1");
    EXPECT_TRUE(count.try_admit("10.0.0.1")) << "a released place is free again";

    // Fill the rest from other peers up to the total.
    for (int peer = 2; count.total() < kMaxUnestablished; ++peer)
        ASSERT_TRUE(count.try_admit("10.0.0." + std::to_string(peer)));
    EXPECT_FALSE(count.try_admit("10.9.9.9")) << "the total cap, even for a new peer";
    EXPECT_EQ(count.of("10.9.9.9"), 0u) << "a refusal counts nothing";
    count.release("10.0.0.2");
    EXPECT_TRUE(count.try_admit("10.9.9.9"));

    count.release("192.0.2.1");  // never admitted: nothing changes
    EXPECT_EQ(count.total(), kMaxUnestablished);
}

}  // namespace
}  // namespace korvex
