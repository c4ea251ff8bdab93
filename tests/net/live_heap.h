#pragma once
// Bytes this test program holds through operator new right now, and the most
// it has held since the last reset. Counted by the replacement operators in
// live_heap.cpp, so the figures do not depend on what the C library's
// allocator keeps cached or gives back to the system.
#include <cstdint>

namespace korvex::test {

std::int64_t live_heap_bytes();
std::int64_t peak_heap_bytes();
// Starts the peak over from the present figure.
void reset_peak_heap_bytes();

}  // namespace korvex::test
