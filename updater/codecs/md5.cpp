// md5.cpp: MD5 as RFC 1321 defines it.
//
// The update run digests every listed client file, often gigabytes in all, so the block
// function is unrolled with its constants inline and reads whole blocks straight from
// the caller's memory (a mapped file) instead of copying them.
#include "updater/codecs/md5.h"

#include "platform/Bytes.h"
#include "platform/Files.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace velmoran {

namespace {

inline void Store32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// The four step kinds. wk is the message word plus the step's constant; it and every
// term that does not need b are added first, so that each step waits on the previous
// one's result for as few operations as possible.

// F(b,c,d) = (b AND c) OR (NOT b AND d), written as a selection of d by c^d.
template <int S>
inline std::uint32_t StepF(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t wk) {
    return b + std::rotl(a + wk + (((c ^ d) & b) ^ d), S);
}

// G(b,c,d) = (b AND d) OR (c AND NOT d): the two halves share no bit, so they can be
// added separately and the one without b is ready early.
template <int S>
inline std::uint32_t StepG(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t wk) {
    return b + std::rotl(a + wk + (c & ~d) + (b & d), S);
}

template <int S>
inline std::uint32_t StepH(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t wk) {
    return b + std::rotl(a + wk + ((c ^ d) ^ b), S);
}

template <int S>
inline std::uint32_t StepI(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           std::uint32_t wk) {
    return b + std::rotl(a + wk + (c ^ (b | ~d)), S);
}

// Folds `blocks` whole 64-byte blocks at p into the state.
void Compress(std::uint32_t state[4], const unsigned char* p, std::size_t blocks) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        const auto x = [p](int i) { return platform::LoadLittle32(p + 4 * i); };
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        a = StepF<7>(a, b, c, d, x(0) + 0xd76aa478u);
        d = StepF<12>(d, a, b, c, x(1) + 0xe8c7b756u);
        c = StepF<17>(c, d, a, b, x(2) + 0x242070dbu);
        b = StepF<22>(b, c, d, a, x(3) + 0xc1bdceeeu);
        a = StepF<7>(a, b, c, d, x(4) + 0xf57c0fafu);
        d = StepF<12>(d, a, b, c, x(5) + 0x4787c62au);
        c = StepF<17>(c, d, a, b, x(6) + 0xa8304613u);
        b = StepF<22>(b, c, d, a, x(7) + 0xfd469501u);
        a = StepF<7>(a, b, c, d, x(8) + 0x698098d8u);
        d = StepF<12>(d, a, b, c, x(9) + 0x8b44f7afu);
        c = StepF<17>(c, d, a, b, x(10) + 0xffff5bb1u);
        b = StepF<22>(b, c, d, a, x(11) + 0x895cd7beu);
        a = StepF<7>(a, b, c, d, x(12) + 0x6b901122u);
        d = StepF<12>(d, a, b, c, x(13) + 0xfd987193u);
        c = StepF<17>(c, d, a, b, x(14) + 0xa679438eu);
        b = StepF<22>(b, c, d, a, x(15) + 0x49b40821u);

        a = StepG<5>(a, b, c, d, x(1) + 0xf61e2562u);
        d = StepG<9>(d, a, b, c, x(6) + 0xc040b340u);
        c = StepG<14>(c, d, a, b, x(11) + 0x265e5a51u);
        b = StepG<20>(b, c, d, a, x(0) + 0xe9b6c7aau);
        a = StepG<5>(a, b, c, d, x(5) + 0xd62f105du);
        d = StepG<9>(d, a, b, c, x(10) + 0x02441453u);
        c = StepG<14>(c, d, a, b, x(15) + 0xd8a1e681u);
        b = StepG<20>(b, c, d, a, x(4) + 0xe7d3fbc8u);
        a = StepG<5>(a, b, c, d, x(9) + 0x21e1cde6u);
        d = StepG<9>(d, a, b, c, x(14) + 0xc33707d6u);
        c = StepG<14>(c, d, a, b, x(3) + 0xf4d50d87u);
        b = StepG<20>(b, c, d, a, x(8) + 0x455a14edu);
        a = StepG<5>(a, b, c, d, x(13) + 0xa9e3e905u);
        d = StepG<9>(d, a, b, c, x(2) + 0xfcefa3f8u);
        c = StepG<14>(c, d, a, b, x(7) + 0x676f02d9u);
        b = StepG<20>(b, c, d, a, x(12) + 0x8d2a4c8au);

        a = StepH<4>(a, b, c, d, x(5) + 0xfffa3942u);
        d = StepH<11>(d, a, b, c, x(8) + 0x8771f681u);
        c = StepH<16>(c, d, a, b, x(11) + 0x6d9d6122u);
        b = StepH<23>(b, c, d, a, x(14) + 0xfde5380cu);
        a = StepH<4>(a, b, c, d, x(1) + 0xa4beea44u);
        d = StepH<11>(d, a, b, c, x(4) + 0x4bdecfa9u);
        c = StepH<16>(c, d, a, b, x(7) + 0xf6bb4b60u);
        b = StepH<23>(b, c, d, a, x(10) + 0xbebfbc70u);
        a = StepH<4>(a, b, c, d, x(13) + 0x289b7ec6u);
        d = StepH<11>(d, a, b, c, x(0) + 0xeaa127fau);
        c = StepH<16>(c, d, a, b, x(3) + 0xd4ef3085u);
        b = StepH<23>(b, c, d, a, x(6) + 0x04881d05u);
        a = StepH<4>(a, b, c, d, x(9) + 0xd9d4d039u);
        d = StepH<11>(d, a, b, c, x(12) + 0xe6db99e5u);
        c = StepH<16>(c, d, a, b, x(15) + 0x1fa27cf8u);
        b = StepH<23>(b, c, d, a, x(2) + 0xc4ac5665u);

        a = StepI<6>(a, b, c, d, x(0) + 0xf4292244u);
        d = StepI<10>(d, a, b, c, x(7) + 0x432aff97u);
        c = StepI<15>(c, d, a, b, x(14) + 0xab9423a7u);
        b = StepI<21>(b, c, d, a, x(5) + 0xfc93a039u);
        a = StepI<6>(a, b, c, d, x(12) + 0x655b59c3u);
        d = StepI<10>(d, a, b, c, x(3) + 0x8f0ccc92u);
        c = StepI<15>(c, d, a, b, x(10) + 0xffeff47du);
        b = StepI<21>(b, c, d, a, x(1) + 0x85845dd1u);
        a = StepI<6>(a, b, c, d, x(8) + 0x6fa87e4fu);
        d = StepI<10>(d, a, b, c, x(15) + 0xfe2ce6e0u);
        c = StepI<15>(c, d, a, b, x(6) + 0xa3014314u);
        b = StepI<21>(b, c, d, a, x(13) + 0x4e0811a1u);
        a = StepI<6>(a, b, c, d, x(4) + 0xf7537e82u);
        d = StepI<10>(d, a, b, c, x(11) + 0xbd3af235u);
        c = StepI<15>(c, d, a, b, x(2) + 0x2ad7d2bbu);
        b = StepI<21>(b, c, d, a, x(9) + 0xeb86d391u);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// MD5Update takes a 32-bit length; a mapped file is fed in pieces of this size, a whole
// number of blocks so that every piece is hashed in place.
constexpr std::uint64_t kFilePiece = std::uint64_t{1} << 30;

} // namespace

void MD5Init(MD5Context& context) {
    context.state[0] = 0x67452301u;
    context.state[1] = 0xefcdab89u;
    context.state[2] = 0x98badcfeu;
    context.state[3] = 0x10325476u;
    context.count[0] = 0;
    context.count[1] = 0;
}

void MD5Update(MD5Context& context, const void* input, std::uint32_t length) {
    if (length == 0) {
        return;
    }
    const auto* p = static_cast<const unsigned char*>(input);
    const std::uint32_t used = (context.count[0] >> 3) & 63;

    const std::uint32_t bits = length << 3;
    context.count[0] += bits;
    if (context.count[0] < bits) {
        ++context.count[1];
    }
    context.count[1] += length >> 29;

    if (used != 0) {
        const std::uint32_t room = 64 - used;
        if (length < room) {
            std::memcpy(context.buffer + used, p, length);
            return;
        }
        std::memcpy(context.buffer + used, p, room);
        Compress(context.state, context.buffer, 1);
        p += room;
        length -= room;
    }
    const std::uint32_t blocks = length / 64;
    if (blocks != 0) {
        Compress(context.state, p, blocks);
        p += std::size_t{blocks} * 64;
        length -= blocks * 64;
    }
    if (length != 0) {
        std::memcpy(context.buffer, p, length);
    }
}

void MD5Final(MD5Context& context, MD5Digest& digest) {
    // The bit count is taken before the padding changes it.
    std::uint8_t bitCount[8];
    Store32(bitCount, context.count[0]);
    Store32(bitCount + 4, context.count[1]);

    // A 0x80 byte, then zeros up to 56 bytes into a block, then the count.
    static constexpr std::uint8_t kPadding[64] = {0x80};
    const std::uint32_t used = (context.count[0] >> 3) & 63;
    MD5Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
    MD5Update(context, bitCount, sizeof bitCount);

    for (int i = 0; i < 4; ++i) {
        Store32(digest.data() + 4 * i, context.state[i]);
    }
    // Nothing of the hashed data stays behind on the stack.
    std::memset(&context, 0, sizeof context);
}

MD5Digest MD5HashFile(const std::string& path) {
    MD5Context context;
    MD5Init(context);
    {
        // Nothing mapped (missing, unreadable, empty) means no bytes: the empty digest.
        const platform::TFileMapping mapping(path);
        const unsigned char* p = mapping.Data();
        for (std::uint64_t left = mapping.Size(); left > 0;) {
            const auto piece = static_cast<std::uint32_t>(std::min(left, kFilePiece));
            MD5Update(context, p, piece);
            p += piece;
            left -= piece;
        }
    }
    MD5Digest digest;
    MD5Final(context, digest);
    return digest;
}

std::string MD5ToHex(const MD5Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(2 * digest.size(), '\0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return text;
}

} // namespace velmoran
