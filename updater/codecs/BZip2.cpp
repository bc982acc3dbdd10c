// BZip2.cpp: the bzip2 decompression stream over libbz2.
#include "updater/codecs/BZip2.h"

#include <algorithm>
#include <bzlib.h>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

// bz_internal_error is deliberately not defined. The library calls that hook only when it
// is built without stdio; the system's libbz2 has stdio, reports a failed internal check
// on stderr and exits the process, and never calls the hook. A definition here would be
// dead code, and throwing from it would unwind through the library's C frames anyway.
// EBZip2Error ("Compression Error %d") stays for a library build that uses the hook.

namespace velmoran {

namespace {

constexpr std::size_t kSkipChunk = 4096;

// The library's allocation pair, on the general heap. Exhaustion returns no memory
// instead of raising: an exception must not cross the library's C frames, and the
// library answers a null block with BZ_MEM_ERROR, which the stream raises as "error -3".
void* Allocate(void* /*opaque*/, int items, int size) noexcept {
    if (items <= 0 || size <= 0) {
        return nullptr;
    }
    const auto n = static_cast<unsigned int>(items);
    const auto s = static_cast<unsigned int>(size);
    if (n > UINT_MAX / s) {
        return nullptr;
    }
    return std::malloc(static_cast<std::size_t>(n) * s);
}

void Release(void* /*opaque*/, void* block) noexcept {
    std::free(block);
}

bz_stream& Record(void* storage) noexcept {
    return *std::launder(static_cast<bz_stream*>(storage));
}

} // namespace

EBZip2Error::EBZip2Error(int checkNumber)
    : EBZip2Error("Compression Error " + std::to_string(checkNumber), checkNumber) {}

EBZip2Error::EBZip2Error(const std::string& message, int errorCode)
    : platform::Exception(message), errorCode_(errorCode) {}

EBZDecompressionError::EBZDecompressionError(int resultCode)
    : EBZip2Error("error " + std::to_string(resultCode), resultCode) {}

EBZDecompressionError::EBZDecompressionError(InvalidOperationTag)
    : EBZip2Error("Invalid stream operation", 0) {}

EBZDecompressionError EBZDecompressionError::InvalidOperation() {
    return EBZDecompressionError(InvalidOperationTag{});
}

EBZCompressionError::EBZCompressionError(int resultCode)
    : EBZip2Error("error " + std::to_string(resultCode), resultCode) {}

TCustomBZip2Stream::TCustomBZip2Stream(platform::TStream& source)
    : source_(source), sourcePosition_(source.Position()) {
    static_assert(sizeof(bz_stream) <= kLibraryRecordSize, "library record storage too small");
    static_assert(alignof(bz_stream) <= alignof(void*), "library record storage misaligned");
    bz_stream& record = *::new (static_cast<void*>(libraryRecord_)) bz_stream{};
    record.bzalloc = Allocate;
    record.bzfree = Release;
    record.opaque = nullptr;
    record.next_in = inputBuffer_.data();
    record.avail_in = 0;
}

void TCustomBZip2Stream::NotifyProgress(platform::TStream& sender) {
    if (ProgressHandler) {
        ProgressHandler(sender);
    }
}

TBZDecompressionStream::TBZDecompressionStream(platform::TStream& source)
    : TCustomBZip2Stream(source) {
    StartLibrary();
}

TBZDecompressionStream::~TBZDecompressionStream() {
    // The stream is going away; a failure to end the library changes nothing for anyone.
    BZ2_bzDecompressEnd(&Record(LibraryRecord()));
}

void TBZDecompressionStream::StartLibrary() {
    const int result = BZ2_bzDecompressInit(&Record(LibraryRecord()), 0, 0);
    if (result < 0) {
        throw EBZDecompressionError(result);
    }
}

std::int64_t TBZDecompressionStream::OutputPosition() noexcept {
    const bz_stream& record = Record(LibraryRecord());
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(record.total_out_hi32) << 32) |
                                     record.total_out_lo32);
}

std::size_t TBZDecompressionStream::Read(void* buffer, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    bz_stream& record = Record(LibraryRecord());
    record.next_out = static_cast<char*>(buffer);
    // Someone else (the progress display, for one) may have moved the source meanwhile.
    if (source_.Position() != sourcePosition_) {
        source_.Seek(sourcePosition_, platform::SeekOrigin::Beginning);
    }
    std::size_t remaining = count;
    while (remaining > 0) {
        bool sourceDry = false;
        if (record.avail_in == 0) {
            const std::size_t got = source_.Read(inputBuffer_.data(), inputBuffer_.size());
            if (got == 0) {
                if (endOfStream_) {
                    return count - remaining;
                }
                // The library may still hold decoded bytes of a block whose input it has
                // taken in whole; one more step hands them out (and checks their CRC)
                // instead of losing them.
                sourceDry = true;
            } else {
                record.next_in = inputBuffer_.data();
                record.avail_in = static_cast<unsigned int>(got);
                sourcePosition_ = source_.Position();
            }
        }
        // The library counts output space in 32 bits; larger reads go in slices.
        const auto space = static_cast<unsigned int>(std::min<std::size_t>(remaining, UINT_MAX));
        record.avail_out = space;
        const int result = BZ2_bzDecompress(&record);
        const std::size_t produced = space - record.avail_out;
        remaining -= produced;
        switch (result) {
        case BZ_OK:
            break;
        case BZ_STREAM_END:
            // Decoding goes on: whatever follows the end marker fails the next step.
            endOfStream_ = true;
            break;
        default:
            if (result < 0) {
                throw EBZDecompressionError(result);
            }
            break;
        }
        NotifyProgress(*this);
        if (sourceDry && produced == 0) {
            return count - remaining;
        }
    }
    return count;
}

std::size_t TBZDecompressionStream::Write(const void* /*buffer*/, std::size_t /*count*/) {
    throw EBZDecompressionError::InvalidOperation();
}

std::int64_t TBZDecompressionStream::Seek(std::int64_t offset, platform::SeekOrigin origin) {
    if (offset == 0 && origin == platform::SeekOrigin::Beginning) {
        bz_stream& record = Record(LibraryRecord());
        const int ended = BZ2_bzDecompressEnd(&record);
        if (ended < 0) {
            throw EBZDecompressionError(ended);
        }
        StartLibrary();
        record.next_in = inputBuffer_.data();
        record.avail_in = 0;
        endOfStream_ = false;
        source_.Seek(0, platform::SeekOrigin::Beginning);
        sourcePosition_ = 0;
        return 0;
    }

    const std::int64_t position = OutputPosition();
    std::int64_t distance = 0;
    if (origin == platform::SeekOrigin::Current && offset >= 0) {
        distance = offset;
    } else if (origin == platform::SeekOrigin::Beginning && offset > position) {
        distance = offset - position;
    } else {
        throw EBZDecompressionError::InvalidOperation();
    }

    char scratch[kSkipChunk];
    for (std::int64_t i = distance / static_cast<std::int64_t>(kSkipChunk); i > 0; --i) {
        ReadBuffer(scratch, kSkipChunk);
    }
    ReadBuffer(scratch, static_cast<std::size_t>(distance % static_cast<std::int64_t>(kSkipChunk)));
    return OutputPosition();
}

} // namespace velmoran
