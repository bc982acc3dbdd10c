// CrcTest.cpp: the builder's CRC-32 of buffers and files, and its text form.
#include "builder/crc.h"

#include "platform/Errors.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace kelpforge {

// Failures show the checksum as the list would carry it.
void PrintTo(Crc32 crc, std::ostream* os) {
    *os << Crc32ToString(crc);
}

namespace {

using velmoran::platform::EInOutError;
using velmoran::testing::TempDirTest;
using velmoran::testing::WriteFile;

// The rule in its plainest form, one bit at a time, to hold the tables against.
std::uint32_t BitwiseCrc(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc;
}

// zlib's crc32 inverts before and after; ours leaves that to the caller.
std::uint32_t ZlibCrc(const unsigned char* p, std::size_t n) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes an unsigned int length; feed large buffers in pieces.
    while (n > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
        crc = crc32(crc, p, piece);
        p += piece;
        n -= piece;
    }
    return static_cast<std::uint32_t>(crc);
}

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(n, '\0');
    for (auto& c : bytes) {
        c = static_cast<char>(rng());
    }
    return bytes;
}

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(Crc32TableTest, MatchesTheReflectedPolynomial) {
    EXPECT_EQ(Crc32Table[0], 0x00000000u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
    EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
    for (std::uint32_t i = 0; i < 256; ++i) {
        const auto byte = static_cast<unsigned char>(i);
        EXPECT_EQ(Crc32Table[i], BitwiseCrc(0, &byte, 1)) << "entry " << i;
    }
}

struct KnownAnswer {
    const char* input;
    std::uint32_t crc;
    const char* text;
};

const KnownAnswer kKnownAnswers[] = {
    {"", 0x00000000u, "0"},
    {"a", 0xE8B7BE43u, "3904355907"},
    {"abc", 0x352441C2u, "891568578"},
    {"123456789", 0xCBF43926u, "3421780262"},
    {"The quick brown fox jumps over the lazy dog", 0x414FA339u, "1095738169"},
};

class FileCrc32Test : public TempDirTest {};

TEST_F(FileCrc32Test, KnownAnswersForBuffersAndFiles) {
    for (const auto& row : kKnownAnswers) {
        SCOPED_TRACE(std::string("input \"") + row.input + "\"");
        const std::string input = row.input;
        EXPECT_EQ(Crc32Finish(Crc32Update(kCrc32Start, input.data(), input.size())),
                  Crc32(row.crc));
        const std::string path = dir / "known.bin";
        WriteFile(path, input);
        const Crc32 crc = FileCrc32(path);
        EXPECT_EQ(crc, Crc32(row.crc));
        EXPECT_EQ(Crc32ToString(crc), row.text);
    }
}

TEST(Crc32ToStringTest, UnsignedDecimalWithoutPaddingOrSign) {
    const struct {
        std::uint32_t value;
        const char* text;
    } rows[] = {
        {0u, "0"},
        {7u, "7"},
        {1000000000u, "1000000000"},
        {0x7FFFFFFFu, "2147483647"},
        {0x80000000u, "2147483648"},
        {0xFFFFFFFFu, "4294967295"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(Crc32ToString(Crc32(row.value)), row.text);
    }
}

TEST(Crc32UpdateTest, NullBufferOrZeroLengthLeavesTheValue) {
    const char byte = 'x';
    EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 0), 0x12345678u);
    EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 100), 0x12345678u);
    EXPECT_EQ(Crc32Update(0x12345678u, &byte, 0), 0x12345678u);
}

// Every length up to a few lane rounds, at every misalignment, from a running value
// that is not the usual start: each must equal the bit-by-bit rule.
TEST(Crc32UpdateTest, AgreesWithTheBitwiseRuleAtEveryShortLengthAndAlignment) {
    const std::string data = RandomBytes(400, 1);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 0; length + offset <= 330; ++length) {
            const auto* p = Bytes(data) + offset;
            const std::uint32_t start = 0x9E3779B9u * static_cast<std::uint32_t>(length + 1);
            ASSERT_EQ(Crc32Update(start, p, length), BitwiseCrc(start, p, length))
                << "offset " << offset << ", length " << length;
        }
    }
}

// Long random buffers, random lengths and misalignments, fed whole and in random pieces.
TEST(Crc32UpdateTest, AgreesWithZlibAndTheBitwiseRuleOnRandomData) {
    const std::string data = RandomBytes(3 << 20, 2);
    std::mt19937 rng(3);
    for (int round = 0; round < 40; ++round) {
        const std::size_t offset = rng() % 64;
        const std::size_t length = rng() % (data.size() - offset);
        const auto* p = Bytes(data) + offset;
        SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));

        const std::uint32_t whole = Crc32Update(kCrc32Start, p, length);
        EXPECT_EQ(~whole, ZlibCrc(p, length));
        if (round < 8) {
            EXPECT_EQ(whole, BitwiseCrc(kCrc32Start, p, length));
        }

        std::uint32_t pieces = kCrc32Start;
        for (std::size_t done = 0; done < length;) {
            const std::size_t piece = std::min<std::size_t>(length - done, rng() % 5000);
            pieces = Crc32Update(pieces, p + done, piece);
            done += piece;
        }
        EXPECT_EQ(pieces, whole);
    }
}

// Sizes around the 64 KiB read block: a block followed by an empty read, a block and
// one byte, and several blocks with a short tail.
TEST_F(FileCrc32Test, FilesAroundTheReadBlockSizeMatchOnePass) {
    for (const std::size_t size : {65535u, 65536u, 65537u, 3u * 65536u + 5u}) {
        SCOPED_TRACE(size);
        const std::string bytes = RandomBytes(size, static_cast<std::uint32_t>(size));
        const std::string path = dir / "block.bin";
        WriteFile(path, bytes);
        EXPECT_EQ(FileCrc32(path), Crc32(ZlibCrc(Bytes(bytes), bytes.size())));
    }
}

TEST_F(FileCrc32Test, MissingFileRaisesFileNotFound) {
    for (const std::string name : {"missing.bin", "no-folder/missing.bin"}) {
        SCOPED_TRACE(name);
        try {
            FileCrc32(dir / name);
            ADD_FAILURE() << "no error raised";
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), "File not found");
        }
    }
}

TEST_F(FileCrc32Test, FolderRaisesTheInOutError) {
    EXPECT_THROW(FileCrc32(dir.Path()), EInOutError);
}

TEST_F(FileCrc32Test, UnreadableFileRaisesFileAccessDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads files without read permission";
    }
    const std::string path = dir / "locked.bin";
    WriteFile(path, "secret");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    try {
        FileCrc32(path);
        ADD_FAILURE() << "no error raised";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File access denied");
    }
}

} // namespace
} // namespace kelpforge
