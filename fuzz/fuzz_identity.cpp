// The host identity file: decode_identity_file, and load_or_create_identity
// over an in-memory folder whose host_identity.bin holds the input (sealed by
// the fake protector).
//
// Checked: a decoded identity encodes and decodes to itself; a file that
// decodes is used as it is and left alone; any other file is moved aside
// (never overwritten) and a new identity is written that reads back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/identity.h"
#include "fuzz_common.h"

using namespace korvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    crypto_init();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    auto decoded = decode_identity_file(text);
    if (decoded) {
        auto again = decode_identity_file(encode_identity_file(*decoded));
        KORVEX_FUZZ_CHECK(again.has_value());
        KORVEX_FUZZ_CHECK(again->host_id == decoded->host_id && again->seed == decoded->seed);
    }

    test::MemoryFileSystem fs;
    test::FakeProtector protector;
    test::CountingRandom rng(9);
    const std::string path = "/data/host_identity.bin";
    const std::string rejected = "/data/host_identity.bin.rejected";
    Bytes sealed = *protector.protect(ByteView(data, size));
    fs.files[path] = sealed;

    auto loaded = load_or_create_identity(fs, protector, rng, "/data");
    KORVEX_FUZZ_CHECK(loaded.has_value());
    if (decoded) {
        KORVEX_FUZZ_CHECK(loaded->host_id == decoded->host_id && loaded->seed == decoded->seed);
        KORVEX_FUZZ_CHECK(fs.files.size() == 1 && fs.files[path] == sealed);
    } else {
        KORVEX_FUZZ_CHECK(fs.files[rejected] == sealed);
        KORVEX_FUZZ_CHECK(loaded->host_id.size() == 36);
        auto plain = protector.unprotect(fs.files[path]);
        KORVEX_FUZZ_CHECK(plain.has_value());
        auto written = decode_identity_file(as_text(*plain));
        KORVEX_FUZZ_CHECK(written.has_value());
        KORVEX_FUZZ_CHECK(written->host_id == loaded->host_id && written->seed == loaded->seed);
    }
    return 0;
}
