// The paired-device store file: parse_store_file, and load_store and
// save_store over an in-memory folder holding the input as
// paired_devices.json.
//
// Checked: a file that parses is written back (save_store) as text that
// parses to the same clients; load_store keeps exactly the clients that
// parse_store_file accepts and moves every other file aside.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/store.h"
#include "fuzz_common.h"

using namespace korvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    crypto_init();
    static const Key32 store_key = derive_store_key(fuzz::kStoreSeed);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    auto parsed = parse_store_file(text, store_key);
    if (parsed) {
        KORVEX_FUZZ_CHECK(compute_store_hmac(store_key, *parsed).size() == 64);
        auto again = parse_store_file(store_file_text(store_key, *parsed), store_key);
        KORVEX_FUZZ_CHECK(again.has_value());
        KORVEX_FUZZ_CHECK(*again == *parsed);
    }

    test::MemoryFileSystem fs;
    const std::string path = "/data/paired_devices.json";
    const std::string rejected = "/data/paired_devices.json.rejected";
    fs.files[path] = Bytes(data, data + size);
    PairedStore store = load_store(fs, "/data", fuzz::kStoreSeed);
    KORVEX_FUZZ_CHECK(store.path == path);
    if (parsed) {
        KORVEX_FUZZ_CHECK(store.clients == *parsed);
        KORVEX_FUZZ_CHECK(fs.files.count(path) == 1 && fs.files.count(rejected) == 0);
    } else {
        KORVEX_FUZZ_CHECK(store.clients.empty());
        KORVEX_FUZZ_CHECK(fs.files.count(path) == 0 && fs.files.count(rejected) == 1);
        KORVEX_FUZZ_CHECK(fs.files[rejected] == Bytes(data, data + size));
    }

    // What a save writes reads back as the same list.
    KORVEX_FUZZ_CHECK(save_store(fs, store).has_value());
    KORVEX_FUZZ_CHECK(fs.files.count("/data/paired_devices.tmp") == 0);
    PairedStore reloaded = load_store(fs, "/data", fuzz::kStoreSeed);
    KORVEX_FUZZ_CHECK(reloaded.clients == store.clients);
    return 0;
}
