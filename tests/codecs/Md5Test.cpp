// Md5Test.cpp: the MD5 digest of buffers and files, and its text form.
#include "updater/codecs/md5.h"

#include "platform/Stream.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace velmoran {
namespace {

using platform::TFileStream;
using testing::TempDirTest;
using testing::WriteFile;

constexpr const char* kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

std::string DigestOf(const std::string& bytes) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    MD5Digest digest;
    MD5Final(context, digest);
    return MD5ToHex(digest);
}

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string bytes(n, '\0');
    for (auto& c : bytes) {
        c = static_cast<char>(rng());
    }
    return bytes;
}

// What the system's md5sum says about a file; empty when it cannot be run.
std::string SystemMd5(const std::string& path) {
    const std::string command = "md5sum '" + path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    return read && std::strlen(line) >= 32 ? std::string(line, 32) : std::string();
}

struct KnownAnswer {
    std::string input;
    const char* digest;
};

// RFC 1321's test suite.
const std::vector<KnownAnswer> kRfcSuite = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

// Lengths where the padding needs one block or two: the 0x80 byte and the 8-byte count
// fit into the last block up to 55 bytes, not from 56 on.
const std::vector<KnownAnswer> kPaddingBoundaries = {
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
    {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
};

class Md5FileTest : public TempDirTest {};

TEST_F(Md5FileTest, KnownAnswersForBuffersAndFiles) {
    for (const auto* table : {&kRfcSuite, &kPaddingBoundaries}) {
        for (const auto& row : *table) {
            SCOPED_TRACE(std::to_string(row.input.size()) + " bytes \"" + row.input + "\"");
            EXPECT_EQ(DigestOf(row.input), row.digest);
            const std::string path = dir / "known.bin";
            WriteFile(path, row.input);
            EXPECT_EQ(MD5ToHex(MD5HashFile(path)), row.digest);
        }
    }
}

// Every way to cut a few blocks' worth of input in two or three pieces, and one byte at
// a time, from an address that is not word-aligned, gives the one-call digest.
TEST(Md5UpdateTest, AnySplitOfTheInputGivesTheSameDigest) {
    const std::string storage = RandomBytes(151, 7);
    const char* input = storage.data() + 1;
    const std::uint32_t n = 150;
    const std::string whole = DigestOf(std::string(input, n));

    const auto digestOfPieces = [&](const std::vector<std::uint32_t>& cuts) {
        MD5Context context;
        MD5Init(context);
        std::uint32_t from = 0;
        for (const std::uint32_t cut : cuts) {
            MD5Update(context, input + from, cut - from);
            from = cut;
        }
        MD5Update(context, input + from, n - from);
        MD5Digest digest;
        MD5Final(context, digest);
        return MD5ToHex(digest);
    };

    for (std::uint32_t i = 0; i <= n; ++i) {
        ASSERT_EQ(digestOfPieces({i}), whole) << "cut at " << i;
        for (std::uint32_t j = i; j <= n; j += 7) {
            ASSERT_EQ(digestOfPieces({i, j}), whole) << "cuts at " << i << " and " << j;
        }
    }
    std::vector<std::uint32_t> everyByte(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        everyByte[i] = i;
    }
    EXPECT_EQ(digestOfPieces(everyByte), whole);
}

// The bit count is 64 bits in two words; the low word wraps after 512 MiB.
TEST(Md5UpdateTest, BitCountCarriesIntoTheHighWord) {
    MD5Context context{};
    MD5Init(context);
    context.count[0] = 0xFFFFFFF0u; // two bytes before the low word wraps
    context.count[1] = 0x00000001u;
    const char bytes[3] = {'x', 'y', 'z'};
    MD5Update(context, bytes, 3);
    EXPECT_EQ(context.count[0], 8u);
    EXPECT_EQ(context.count[1], 2u);
}

TEST(Md5FinalTest, ClearsTheWholeContext) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, "some bytes that stay in the buffer", 34);
    MD5Digest digest;
    MD5Final(context, digest);
    const auto* raw = reinterpret_cast<const unsigned char*>(&context);
    EXPECT_TRUE(std::all_of(raw, raw + sizeof context, [](unsigned char b) { return b == 0; }));
}

TEST_F(Md5FileTest, AgreesWithMd5sum) {
    if (SystemMd5("/dev/null") != kEmptyDigest) {
        GTEST_SKIP() << "md5sum is not available";
    }
    for (const std::size_t size : {1u, 1000u, 4096u, 65537u, (3u << 20) + 13u}) {
        SCOPED_TRACE(size);
        const std::string path = dir / "random file.bin";
        WriteFile(path, RandomBytes(size, static_cast<std::uint32_t>(size)));
        EXPECT_EQ(MD5ToHex(MD5HashFile(path)), SystemMd5(path));
    }
}

TEST_F(Md5FileTest, EmptyMissingAndUnmappableFilesGiveTheEmptyDigest) {
    WriteFile(dir / "empty.bin", "");
    for (const std::string& path :
         {dir / "empty.bin", dir / "missing.bin", dir / "no-folder/missing.bin", dir.Path()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(MD5ToHex(MD5HashFile(path)), kEmptyDigest);
    }
}

TEST_F(Md5FileTest, FileOpenElsewhereForWritingIsStillDigested) {
    const std::string path = dir / "busy.bin";
    TFileStream writer(path, TFileStream::Mode::Create, TFileStream::Share::DenyNone);
    writer.WriteBuffer("abc", 3);
    writer.Flush();
    EXPECT_EQ(MD5ToHex(MD5HashFile(path)), "900150983cd24fb0d6963f7d28e17f72");
}

// A size whose low 32 bits are small: the whole file counts, not the low part of its size.
TEST_F(Md5FileTest, FileLargerThan4GiBIsHashedWhole) {
    const std::string path = dir / "large.bin";
    {
        TFileStream file(path, TFileStream::Mode::Create);
        file.SetSize(std::int64_t{1} << 32); // a sparse run of zeros
        file.Seek(0, platform::SeekOrigin::End);
        std::string tail;
        for (int i = 0; i < 25; ++i) {
            tail += "tail";
        }
        file.WriteBuffer(tail.data(), tail.size());
        file.Close();
    }
    EXPECT_EQ(MD5ToHex(MD5HashFile(path)), "3ab0812df39bdb8e4f43af1eb492a91b");
}

TEST(Md5ToHexTest, LowercaseDigitsHighNibbleFirst) {
    const struct {
        MD5Digest digest;
        const char* text;
    } rows[] = {
        {MD5Digest{}, "00000000000000000000000000000000"},
        {MD5Digest{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76,
                   0x54, 0x32, 0x10},
         "0123456789abcdeffedcba9876543210"},
        {MD5Digest{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                   0xff, 0xff, 0xfa},
         "fffffffffffffffffffffffffffffffa"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(MD5ToHex(row.digest), row.text);
    }
}

// The list's digest text is compared byte for byte, so an upper-case one never matches.
TEST(Md5ToHexTest, UppercaseDigestTextNeverEquals) {
    const std::string text = DigestOf("abc");
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_EQ(upper, "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_NE(text, upper);
}

} // namespace
} // namespace velmoran
