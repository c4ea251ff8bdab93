#pragma once
// Text from a peer (a device name) shown on a terminal: control characters
// could move the cursor, recolour the screen or forge a line of their own,
// so each becomes '?'.
#include <string>
#include <string_view>

namespace korvex {

std::string terminal_text(std::string_view text);

}  // namespace korvex
