// BZip2.h: a read-only stream that decompresses one bzip2 stream from a source stream.
#pragma once

#include "platform/Errors.h"
#include "platform/Stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velmoran {

// A failure reported by the bzip2 library.
class EBZip2Error : public platform::Exception {
public:
    // An internal consistency check of the library failed: "Compression Error %d".
    explicit EBZip2Error(int checkNumber);

    // The library's number for the failure (check number or result code); 0 when the
    // error carries none.
    int ErrorCode() const noexcept { return errorCode_; }

protected:
    EBZip2Error(const std::string& message, int errorCode);

private:
    int errorCode_;
};

// A failed library call of the decompression stream ("error %d" with the library's
// result code), or a request the stream cannot serve ("Invalid stream operation").
class EBZDecompressionError : public EBZip2Error {
public:
    explicit EBZDecompressionError(int resultCode);

    // Write, and the seeks that do not move forward: "Invalid stream operation".
    static EBZDecompressionError InvalidOperation();

private:
    struct InvalidOperationTag {};
    explicit EBZDecompressionError(InvalidOperationTag);
};

// The compression side's error. Nothing in the system compresses, so it is never raised.
class EBZCompressionError : public EBZip2Error {
public:
    explicit EBZCompressionError(int resultCode);
};

// The state shared by bzip2 streams: the source, the library's stream record and the
// input buffer, all held inside the object so that reading allocates nothing itself.
class TCustomBZip2Stream : public platform::TStream {
public:
    using TProgressHandler = std::function<void(platform::TStream& sender)>;

    static constexpr std::size_t kInputBufferSize = 65536;

    ~TCustomBZip2Stream() override = default;

protected:
    // The source is not owned; its current position is where the compressed data begins.
    explicit TCustomBZip2Stream(platform::TStream& source);

    // Calls ProgressHandler with the sender when one is set.
    virtual void NotifyProgress(platform::TStream& sender);

    // The library's stream record (a bz_stream), kept opaque here so that users of this
    // header do not depend on the library's header.
    void* LibraryRecord() noexcept { return libraryRecord_; }

    platform::TStream& source_;
    // The source's position just after the last refill of the input buffer.
    std::int64_t sourcePosition_;

public:
    // Called once per decoding step, on the reading thread. Assignable at any time.
    TProgressHandler ProgressHandler;

protected:
    // Large enough for bz_stream on every supported target; checked where it is used.
    static constexpr std::size_t kLibraryRecordSize = 16 * sizeof(void*);
    alignas(void*) unsigned char libraryRecord_[kLibraryRecordSize];
    std::array<char, kInputBufferSize> inputBuffer_;
};

// Decompresses the bzip2 stream that starts at the source's position at construction.
//
// Reads deliver decompressed bytes until the source runs out; a source that ends before
// the stream's end marker is not an error here, so callers that must have the whole data
// check EndOfStream() after the last read. Bytes after the end marker make the next
// decoding step fail with "error -1".
class TBZDecompressionStream : public TCustomBZip2Stream {
public:
    explicit TBZDecompressionStream(platform::TStream& source);
    ~TBZDecompressionStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    // Always raises "Invalid stream operation".
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Reports the output position, restarts (offset 0 from the beginning, which also
    // rewinds the source to 0), or skips forward by decompressing; anything else raises
    // "Invalid stream operation", a skip past the end "Stream read error".
    std::int64_t Seek(std::int64_t offset, platform::SeekOrigin origin) override;

    // True once the library has reached the stream's end marker since the last start.
    bool EndOfStream() const noexcept { return endOfStream_; }

private:
    void StartLibrary();
    std::int64_t OutputPosition() noexcept;

    bool endOfStream_ = false;
};

} // namespace velmoran
