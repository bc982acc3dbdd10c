// Stream.h: byte streams (abstract, file, memory) that the codecs and the update run use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmoran::platform {

enum class SeekOrigin { Beginning, Current, End };

// A readable, writable, seekable sequence of bytes.
class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many came (0 at the end).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Moves the position; returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;

    // The size found by seeking to the end and back, for streams that know no better.
    virtual std::int64_t Size();
    // Changes the size where the stream supports it; does nothing otherwise.
    virtual void SetSize(std::int64_t newSize);

    std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }

    // Read or write exactly count bytes: EReadError / EWriteError otherwise.
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
};

// A file opened through the operating system.
//
// Writes are gathered in a 64 KiB buffer so that callers handing over small pieces (a
// download delivers 1 KiB at a time) still reach the disk in large blocks. Close() or
// Flush() report a failed write; the destructor writes what is left but cannot report.
class TFileStream : public TStream {
public:
    enum class Mode {
        OpenRead,      // existing file, read only
        OpenWrite,     // existing file, write only
        OpenReadWrite, // existing file, read and write
        Create,        // create, or truncate an existing file; read and write
    };
    // What other processes may do with the file meanwhile. POSIX has no mandatory
    // sharing modes, so this is recorded and the file is opened as far as POSIX allows.
    enum class Share { DenyNone, DenyWrite, DenyRead, Exclusive };

    TFileStream(const std::string& path, Mode mode, Share share = Share::DenyNone);
    ~TFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t newSize) override;

    // Hands the buffered bytes to the system; raises EInOutError when the system refuses.
    void Flush();
    // Flush, then wait until the bytes are on the disk.
    void Sync();
    // Flush and close; raises like Flush. Further use of the stream is an error.
    void Close();

    const std::string& FileName() const noexcept { return path_; }
    int Handle() const noexcept { return fd_; }

private:
    void FlushBuffer();

    std::string path_;
    int fd_ = -1;
    std::vector<unsigned char> writeBuffer_;
    std::size_t buffered_ = 0;
};

// A stream over a block of memory that grows as it is written.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t newSize) override;

    const unsigned char* Memory() const noexcept { return data_.data(); }
    const std::vector<unsigned char>& Bytes() const noexcept { return data_; }
    void Clear();
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

private:
    std::vector<unsigned char> data_;
    std::int64_t position_ = 0;
};

} // namespace velmoran::platform
