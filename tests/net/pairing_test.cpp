// Pairing over loopback: the code's life, leading zeros, and the session
// that goes on after PairComplete.
#include <limits>

#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class Pairing : public HostFixture {
protected:
    void set_code(const std::string& code) {
        shared().with_core([&](net::LockedCore& locked) {
            locked.core.pairing.code = code;
            locked.core.pairing.failed_attempts = 0;
        });
    }
    std::optional<std::string> active_code() {
        return shared().with_core([](net::LockedCore& locked) { return locked.core.pairing.code; });
    }
};

TEST_F(Pairing, PairedConnectionAnswersPingWithoutAuthentication) {
    auto c = connect();
    client::ClientIdentity identity = pair(c, "Phone A");
    auto pong = c.ping(std::numeric_limits<std::uint64_t>::max());
    ASSERT_TRUE(pong) << pong.error().text;
    EXPECT_EQ(*pong, std::numeric_limits<std::uint64_t>::max());

    auto record = stored(identity.client_id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->device_name, "Phone A");
    EXPECT_EQ(record->ed25519_public_key_hex, hex_lower(identity.public_key()));
    EXPECT_EQ(record->last_remote_ip, "127.0.0.1");
    EXPECT_FALSE(active_code()) << "a successful pairing uses the code up";
    EXPECT_EQ(sessions_of(identity.client_id), std::vector<std::string>{"Phone A"});
}

TEST_F(Pairing, FiveWrongCodesRetireTheCode) {
    set_code("123456");
    client::ClientIdentity identity = client::new_client_identity(os_random());
    for (int attempt = 1; attempt <= 5; ++attempt) {
        SCOPED_TRACE(attempt);
        auto c = connect();
        auto paired = c.pair(identity, "654321", "Phone A", "", shared().host_public());
        ASSERT_FALSE(paired);
        EXPECT_EQ(c.last_failure(), client::Failure::Reason);
        EXPECT_EQ(c.last_reason(), "invalid_code");
        EXPECT_TRUE(closes_silently(c));
        EXPECT_EQ(active_code().has_value(), attempt < 5);
    }
    EXPECT_EQ(count_events(HostEvent::Kind::PairingCodeRetired), 1u);

    auto c = connect();
    auto paired = c.pair(identity, "123456", "Phone A", "", shared().host_public());
    ASSERT_FALSE(paired);
    EXPECT_EQ(c.last_reason(), "no_active_code");
    EXPECT_FALSE(stored(identity.client_id));
}

TEST_F(Pairing, CodesWithLeadingZerosAreUsedAsSixCharacters) {
    for (std::string code : {"000000", "000123", "012345", "099999"}) {
        SCOPED_TRACE(code);
        set_code(code);
        auto c = connect();
        client::ClientIdentity identity = client::new_client_identity(os_random());
        auto paired = c.pair(identity, code, "Phone A", "", shared().host_public());
        ASSERT_TRUE(paired) << paired.error().text;
        auto pong = c.ping(5);
        ASSERT_TRUE(pong) << pong.error().text;
        EXPECT_TRUE(stored(identity.client_id));
    }
}

TEST_F(Pairing, CodeWithoutItsLeadingZerosIsWrong) {
    set_code("000123");
    auto c = connect();
    auto paired = c.pair(client::new_client_identity(os_random()), "123000", "Phone A", "", shared().host_public());
    ASSERT_FALSE(paired);
    EXPECT_EQ(c.last_reason(), "invalid_code");
}

TEST_F(Pairing, NoActiveCodeIsRefusedAtPairRequest) {
    auto c = connect();
    auto paired = c.pair(client::new_client_identity(os_random()), "123456", "Phone A");
    ASSERT_FALSE(paired);
    EXPECT_EQ(c.last_reason(), "no_active_code");
    EXPECT_TRUE(closes_silently(c));
}

}  // namespace
}  // namespace korvex::test
