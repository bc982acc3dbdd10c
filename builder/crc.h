// crc.h: the CRC-32 that the update list records for every packed file (the ZIP one:
// reflected polynomial 0xEDB88320, start 0xFFFFFFFF, final inversion).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kelpforge {

namespace detail {

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

} // namespace detail

// Entry i is the running value that the byte i leaves behind when folded into 0.
inline constexpr std::array<std::uint32_t, 256> Crc32Table = detail::MakeCrc32Table();

// The running value before the first byte.
inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;

// A finished CRC-32. A type of its own, so that a size or a running value cannot be
// passed where a checksum is expected.
struct Crc32 {
    constexpr explicit Crc32(std::uint32_t v) noexcept : value(v) {}
    friend constexpr bool operator==(Crc32, Crc32) noexcept = default;

    std::uint32_t value;
};

// Folds length bytes of buffer into the running value crc and returns the new running
// value; no inversion before or after. A null buffer or a length of 0 returns crc.
std::uint32_t Crc32Update(std::uint32_t crc, const void* buffer, std::size_t length);

// The finished checksum of a running value.
constexpr Crc32 Crc32Finish(std::uint32_t crc) noexcept {
    return Crc32(~crc);
}

// The finished CRC-32 of the whole file at path, read in 64 KiB blocks. A file that
// cannot be opened or read raises velmoran::platform::EInOutError with the system's reason.
Crc32 FileCrc32(const std::string& path);

// The text that the update list carries: unsigned decimal, 1 to 10 digits, no sign.
std::string Crc32ToString(Crc32 crc);

} // namespace kelpforge
