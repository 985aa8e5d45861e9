#pragma once

#include <cstdint>
#include <ctime>

namespace tevrak {

// The DOS date (high word) and time (low word) of a moment in local time,
// with 2-second resolution; moments outside 1980–2107 are held at the ends.
std::uint32_t dosDateTime(std::time_t moment);

} // namespace tevrak
