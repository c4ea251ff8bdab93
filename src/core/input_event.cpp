#include "core/input_event.h"

#include <algorithm>

namespace korvex {

std::optional<InputEvent> parse_input_event(ByteView body) {
    if (body.size() != kInputEventSize || body[0] != kInputEventVersion) return std::nullopt;
    InputEvent event;
    event.version = body[0];
    event.kind = body[1];
    event.mods = body[2];
    event.flags = body[3];
    event.seq = get_u64_le(body.data() + 4);
    std::copy_n(body.data() + 12, 8, event.payload.begin());
    return event;
}

ByteArray<kInputEventSize> encode_input_event(const InputEvent& event) {
    ByteArray<kInputEventSize> out{};
    out[0] = event.version;
    out[1] = event.kind;
    out[2] = event.mods;
    out[3] = event.flags;
    for (int i = 0; i < 8; ++i) out[4 + i] = static_cast<std::uint8_t>(event.seq >> (8 * i));
    std::copy(event.payload.begin(), event.payload.end(), out.begin() + 12);
    return out;
}

}  // namespace korvex
