#include "zip/DosTime.h"

namespace tevrak {

std::uint32_t dosDateTime(std::time_t moment)
{
    std::tm t{};
    if (!::localtime_r(&moment, &t) || t.tm_year < 80)
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    if (t.tm_year > 207)
        return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    const std::uint32_t date =
        static_cast<std::uint32_t>((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
    const int seconds = t.tm_sec > 59 ? 59 : t.tm_sec; // a leap second stays in its minute
    const std::uint32_t time = static_cast<std::uint32_t>(t.tm_hour << 11 | t.tm_min << 5 | seconds / 2);
    return date << 16 | time;
}

} // namespace tevrak
