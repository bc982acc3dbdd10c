// The bzip2 decompression stream over any bytes, against the bzip2 library's own
// decoder: the same bytes, the same end, and an error exactly where the data is bad.
#include "updater/codecs/BZip2.h"

#include "platform/Stream.h"

#include <bzlib.h>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Past two of the stream's read sizes; a bomb is cut off here, on both sides.
constexpr std::size_t kOutputCap = 128 * 1024;

// The reference decoder's memory: one arena, used again by every input, so that the
// fuzzer's time goes to decoding rather than to mapping fresh pages.
struct Arena {
    alignas(16) static inline unsigned char bytes[8 << 20];
    static inline std::size_t used = 0;

    static void* Allocate(void*, int items, int size) {
        const std::size_t want = (static_cast<std::size_t>(items) * size + 15) & ~std::size_t{15};
        if (want > sizeof bytes - used) {
            return nullptr;
        }
        void* block = bytes + used;
        used += want;
        return block;
    }
    static void Release(void*, void*) {}
};

struct Reference {
    enum { Whole, Truncated, Bad, TooLong } kind;
    std::string out;
    bool trailing = false; // bytes follow the end marker
};

Reference Decode(const std::uint8_t* data, std::size_t size) {
    Reference ref{Reference::Truncated, {}};
    bz_stream stream{};
    Arena::used = 0;
    stream.bzalloc = Arena::Allocate;
    stream.bzfree = Arena::Release;
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
        __builtin_trap();
    }
    static std::string buffer(kOutputCap + 1, '\0');
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
    stream.avail_in = static_cast<unsigned int>(size);
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<unsigned int>(buffer.size());
    int result = BZ_OK;
    while (result == BZ_OK && stream.avail_in > 0 && stream.avail_out > 0) {
        result = BZ2_bzDecompress(&stream);
    }
    if (result == BZ_OK && stream.avail_out > 0) {
        // Everything was taken in; the library may still hold output for the space left.
        result = BZ2_bzDecompress(&stream);
    }
    const std::size_t produced = buffer.size() - stream.avail_out;
    if (produced > kOutputCap) {
        ref.kind = Reference::TooLong;
    } else if (result == BZ_STREAM_END) {
        ref.kind = Reference::Whole;
        ref.trailing = stream.avail_in > 0;
    } else if (result < 0) {
        ref.kind = Reference::Bad;
    }
    ref.out.assign(buffer.data(), std::min(produced, kOutputCap));
    BZ2_bzDecompressEnd(&stream);
    return ref;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmoran::platform::TMemoryStream source;
    source.WriteBuffer(data, size);
    source.Seek(0, velmoran::platform::SeekOrigin::Beginning);

    std::string out;
    bool failed = false;
    bool ended = false;
    {
        velmoran::TBZDecompressionStream stream(source);
        char buffer[65536];
        try {
            while (out.size() <= kOutputCap) {
                const std::size_t got = stream.Read(buffer, sizeof buffer);
                if (got == 0) {
                    break;
                }
                out.append(buffer, got);
            }
        } catch (const velmoran::EBZDecompressionError&) {
            failed = true;
        }
        ended = stream.EndOfStream();

        const Reference ref = Decode(data, size);
        switch (ref.kind) {
        case Reference::Whole:
            if (ref.trailing) {
                // The next decoding step after the end marker fails.
                if (!failed || !ended) {
                    __builtin_trap();
                }
            } else if (failed || !ended || out != ref.out) {
                __builtin_trap();
            }
            break;
        case Reference::Truncated:
            // A source that runs out reads as a short file, told apart only by the end flag.
            if (failed || ended || out != ref.out) {
                __builtin_trap();
            }
            break;
        case Reference::Bad:
            if (!failed || ended) {
                __builtin_trap();
            }
            break;
        case Reference::TooLong:
            break;
        }

        // A restart reads the same bytes again.
        if (!failed && !out.empty()) {
            stream.Seek(0, velmoran::platform::SeekOrigin::Beginning);
            std::string again(std::min<std::size_t>(out.size(), 4096), '\0');
            stream.ReadBuffer(again.data(), again.size());
            if (std::memcmp(again.data(), out.data(), again.size()) != 0) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
