// Convert.cpp: strict decimal conversion.
#include "platform/Convert.h"

#include "platform/Errors.h"

#include <charconv>
#include <limits>

namespace velmoran::platform {

namespace {

template <typename Int> Int Parse(std::string_view text) {
    std::string_view digits = text;
    while (!digits.empty() && digits.front() == ' ') {
        digits.remove_prefix(1);
    }
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    // from_chars takes no sign of its own; parse the magnitude wide enough for the minimum.
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const auto limit =
        static_cast<std::uint64_t>(std::numeric_limits<Int>::max()) + (negative ? 1 : 0);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        magnitude > limit) {
        throw EConvertError(std::string(text));
    }
    if (negative) {
        return static_cast<Int>(-static_cast<std::int64_t>(magnitude - 1) - 1);
    }
    return static_cast<Int>(magnitude);
}

} // namespace

std::int32_t StrToInt(std::string_view text) {
    return Parse<std::int32_t>(text);
}

std::int64_t StrToInt64(std::string_view text) {
    return Parse<std::int64_t>(text);
}

} // namespace velmoran::platform
