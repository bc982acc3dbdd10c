// Bytes.h: little-endian words in byte buffers, as the file formats and digests store them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace velmoran::platform {

// The four bytes at p as a number whose low byte is the first byte.
inline std::uint32_t LoadLittle32(const unsigned char* p) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    }
}

} // namespace velmoran::platform
