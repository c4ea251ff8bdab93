// Every JSON body decoder of messages.h. Byte 0 picks the decoder, the rest
// is the body. A body that decodes must survive its encoder: encoding the
// decoded message and decoding that again gives the same encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/messages.h"
#include "fuzz_common.h"

using namespace korvex;

namespace {

template <typename Decode>
void round_trip(std::string_view body, Decode decode) {
    auto first = decode(body);
    if (!first) return;
    const std::string encoded = encode_json(*first);
    auto second = decode(encoded);
    KORVEX_FUZZ_CHECK(second.has_value());
    KORVEX_FUZZ_CHECK(encode_json(*second) == encoded);
}

void reason_round_trip(std::string_view body) {
    auto first = decode_reason(body);
    if (!first) return;
    const std::string encoded = encode_reason(first->reason);
    auto second = decode_reason(encoded);
    KORVEX_FUZZ_CHECK(second.has_value());
    KORVEX_FUZZ_CHECK(second->reason == first->reason);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 13) {
        // Client to host: what the host reads from the network.
        case 0:
            round_trip(body, decode_pair_request);
            if (auto m = decode_pair_request(body)) {
                KORVEX_FUZZ_CHECK(!m->client_id.empty() && m->client_id.size() <= 128);
                KORVEX_FUZZ_CHECK(m->device_name.size() <= 256);
            }
            break;
        case 1: round_trip(body, decode_pair_confirm); break;
        case 2: round_trip(body, decode_auth_hello); break;
        case 3: round_trip(body, decode_auth_response); break;
        case 4: round_trip(body, decode_ping); break;
        case 5: round_trip(body, decode_text_utf8); break;
        case 6: round_trip(body, decode_clipboard_set); break;
        // Host to client: what the client library reads.
        case 7: round_trip(body, decode_pair_response); break;
        case 8: round_trip(body, decode_pair_complete); break;
        case 9: round_trip(body, decode_host_info); break;
        case 10: round_trip(body, decode_auth_challenge); break;
        case 11: round_trip(body, decode_pong); break;
        case 12: reason_round_trip(body); break;
    }
    return 0;
}
