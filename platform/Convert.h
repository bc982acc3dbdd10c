// Convert.h: whole numbers from text, as the toolkit's StrToInt reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmoran::platform {

// Decimal text with optional leading blanks and sign; anything else, or a value out of
// range, raises EConvertError "'text' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);

} // namespace velmoran::platform
