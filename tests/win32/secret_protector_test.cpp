// DPAPI for real, as the host uses it for its identity key.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/secret_protector.h"
#include "support/fakes.h"

namespace korvex {
namespace {

TEST(Win32SecretProtector, RoundTripGivesTheBytesBack) {
    auto protector = make_os_secret_protector();
    Bytes secret;
    for (int i = 0; i < 64; ++i) secret.push_back(static_cast<std::uint8_t>(i * 7 + 1));

    auto sealed = protector->protect(secret);
    ASSERT_TRUE(sealed) << sealed.error().text;
    EXPECT_GT(sealed->size(), secret.size());
    // The sealed blob must not carry the secret in the clear.
    EXPECT_EQ(std::search(sealed->begin(), sealed->end(), secret.begin(), secret.end()), sealed->end());

    auto opened = protector->unprotect(*sealed);
    ASSERT_TRUE(opened) << opened.error().text;
    EXPECT_EQ(*opened, secret);
}

TEST(Win32SecretProtector, EmptySecretRoundTrips) {
    auto protector = make_os_secret_protector();
    auto sealed = protector->protect(Bytes{});
    ASSERT_TRUE(sealed) << sealed.error().text;
    auto opened = protector->unprotect(*sealed);
    ASSERT_TRUE(opened) << opened.error().text;
    EXPECT_TRUE(opened->empty());
}

TEST(Win32SecretProtector, TamperedBlobFailsWithAnOsCode) {
    auto protector = make_os_secret_protector();
    Bytes secret = test::bytes_of("host identity seed, 32 bytes ok!");
    auto sealed = protector->protect(secret);
    ASSERT_TRUE(sealed) << sealed.error().text;

    Bytes tampered = *sealed;
    tampered[tampered.size() - 5] ^= 0x01;
    auto opened = protector->unprotect(tampered);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().os_code, 0u);
    EXPECT_EQ(opened.error().text.rfind("Cannot unprotect the secret: ", 0), 0u) << opened.error().text;
    // The text never carries the secret.
    EXPECT_EQ(opened.error().text.find("host identity"), std::string::npos);
}

TEST(Win32SecretProtector, GarbageIsRefused) {
    auto protector = make_os_secret_protector();
    EXPECT_FALSE(protector->unprotect(test::bytes_of("not a DPAPI blob at all")));
    EXPECT_FALSE(protector->unprotect(Bytes{}));
}

}  // namespace
}  // namespace korvex
