// crc.cpp: CRC-32 of buffers and files.
//
// The result is always that of the byte-at-a-time rule (one Crc32Table lookup per byte);
// the work is only arranged so that the lookups do not wait for each other.
#include "builder/crc.h"

#include "platform/Bytes.h"
#include "platform/Errors.h"
#include "platform/Stream.h"

#include <memory>
#include <optional>

namespace kelpforge {

namespace {

using velmoran::platform::EFOpenError;
using velmoran::platform::EInOutError;
using velmoran::platform::LoadLittle32;
using velmoran::platform::TFileStream;

constexpr std::size_t kFileBlockSize = 0x10000;

// Row z, entry b: the running value that byte b followed by z zero bytes leaves behind
// when folded into 0. Since the CRC is linear, a block is the XOR of such entries, one
// per byte, and all of them can be looked up at once.
constexpr int kShiftRows = 32;
using ShiftTables = std::array<std::array<std::uint32_t, 256>, kShiftRows>;

constexpr ShiftTables MakeShiftTables() {
    ShiftTables rows{};
    rows[0] = Crc32Table;
    for (int z = 1; z < kShiftRows; ++z) {
        for (int b = 0; b < 256; ++b) {
            const std::uint32_t previous = rows[z - 1][b];
            rows[z][b] = (previous >> 8) ^ Crc32Table[previous & 0xFF];
        }
    }
    return rows;
}

alignas(64) constexpr ShiftTables kShift = MakeShiftTables();

// Four bytes (x, low byte first) followed by Zeros zero bytes, folded into 0.
template <int Zeros> inline std::uint32_t Fold4(std::uint32_t x) {
    static_assert(Zeros + 3 < kShiftRows);
    return kShift[Zeros + 3][x & 0xFF] ^ kShift[Zeros + 2][(x >> 8) & 0xFF] ^
           kShift[Zeros + 1][(x >> 16) & 0xFF] ^ kShift[Zeros][x >> 24];
}

// The running value crc carried over 8 bytes at p and Zeros zero bytes after them.
template <int Zeros> inline std::uint32_t Fold8(std::uint32_t crc, const unsigned char* p) {
    return Fold4<Zeros + 4>(crc ^ LoadLittle32(p)) ^ Fold4<Zeros>(LoadLittle32(p + 4));
}

inline std::uint32_t Fold16(std::uint32_t crc, const unsigned char* p) {
    return Fold8<8>(crc, p) ^ Fold8<0>(0, p + 8);
}

// Four lanes take turns on 8-byte words: lane i owns words i, i+4, i+8, ... Each lane
// carries its own running value across its word and the 24 bytes of the other lanes
// as if they were zeros, so the four chains of lookups run side by side. The value
// of the whole data is the XOR of the lanes' shares (linearity), which the last round
// joins by folding the words in their true order.
constexpr std::size_t kLaneWord = 8;
constexpr std::size_t kLanes = 4;
constexpr std::size_t kRound = kLanes * kLaneWord;
constexpr int kOtherLanes = static_cast<int>((kLanes - 1) * kLaneWord);

std::uint32_t FoldLanes(std::uint32_t crc, const unsigned char*& p, std::size_t& length) {
    const std::size_t rounds = length / kRound;
    if (rounds < 2) {
        return crc;
    }
    std::uint32_t lane0 = crc;
    std::uint32_t lane1 = 0;
    std::uint32_t lane2 = 0;
    std::uint32_t lane3 = 0;
    for (std::size_t r = 1; r < rounds; ++r) {
        lane0 = Fold8<kOtherLanes>(lane0, p);
        lane1 = Fold8<kOtherLanes>(lane1, p + 8);
        lane2 = Fold8<kOtherLanes>(lane2, p + 16);
        lane3 = Fold8<kOtherLanes>(lane3, p + 24);
        p += kRound;
    }
    // Each lane's value now stands at the start of its word in the last round.
    crc = Fold8<0>(lane0, p);
    crc = Fold8<0>(crc ^ lane1, p + 8);
    crc = Fold8<0>(crc ^ lane2, p + 16);
    crc = Fold8<0>(crc ^ lane3, p + 24);
    p += kRound;
    length -= rounds * kRound;
    return crc;
}

} // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* buffer, std::size_t length) {
    if (buffer == nullptr || length == 0) {
        return crc;
    }
    const auto* p = static_cast<const unsigned char*>(buffer);
    crc = FoldLanes(crc, p, length);
    for (; length >= 16; length -= 16, p += 16) {
        crc = Fold16(crc, p);
    }
    for (; length > 0; --length, ++p) {
        crc = (crc >> 8) ^ Crc32Table[(crc ^ *p) & 0xFF];
    }
    return crc;
}

Crc32 FileCrc32(const std::string& path) {
    std::optional<TFileStream> file;
    try {
        file.emplace(path, TFileStream::Mode::OpenRead, TFileStream::Share::DenyNone);
    } catch (const EFOpenError& e) {
        // The builder reports every unreadable file as the run-time I/O error.
        throw EInOutError(e.ErrorCode());
    }
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kFileBlockSize);
    std::uint32_t crc = kCrc32Start;
    // Only an empty read ends the file; a short block may be followed by more.
    while (const std::size_t n = file->Read(buffer.get(), kFileBlockSize)) {
        crc = Crc32Update(crc, buffer.get(), n);
    }
    return Crc32Finish(crc);
}

std::string Crc32ToString(Crc32 crc) {
    return std::to_string(crc.value);
}

} // namespace kelpforge
