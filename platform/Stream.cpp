// Stream.cpp: file and memory streams over POSIX.
#include "platform/Stream.h"

#include "platform/Errors.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace velmoran::platform {

namespace {

constexpr std::size_t kWriteBufferSize = 64 * 1024;

int WhenceOf(SeekOrigin origin) {
    switch (origin) {
    case SeekOrigin::Beginning:
        return SEEK_SET;
    case SeekOrigin::Current:
        return SEEK_CUR;
    case SeekOrigin::End:
        return SEEK_END;
    }
    return SEEK_SET;
}

// Writes all bytes or raises with the system's reason.
void WriteAll(int fd, const unsigned char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EInOutError(errno);
        }
        if (n == 0) {
            throw EInOutError(ENOSPC);
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
}

} // namespace

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, SeekOrigin::Current);
    const std::int64_t size = Seek(0, SeekOrigin::End);
    Seek(position, SeekOrigin::Beginning);
    return size;
}

void TStream::SetSize(std::int64_t /*newSize*/) {}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
    if (count != 0 && Read(buffer, count) != count) {
        throw EReadError();
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
    if (count != 0 && Write(buffer, count) != count) {
        throw EWriteError();
    }
}

TFileStream::TFileStream(const std::string& path, Mode mode, [[maybe_unused]] Share share)
    : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::OpenRead:
        flags |= O_RDONLY;
        break;
    case Mode::OpenWrite:
        flags |= O_WRONLY;
        break;
    case Mode::OpenReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    const bool creating = mode == Mode::Create;
    if (mode != Mode::OpenRead) {
        // The file itself when it is there, else the folder it would be made in.
        const auto slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        if (ReadOnlyForRoot(path) || (!FileExists(path) && ReadOnlyForRoot(folder))) {
            if (creating) {
                throw EFCreateError(path, EACCES);
            }
            throw EFOpenError(path, EACCES);
        }
    }
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        if (creating) {
            throw EFCreateError(path, errno);
        }
        throw EFOpenError(path, errno);
    }
    // A folder opens for reading on POSIX; as a file it is an error, as on Windows.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        if (creating) {
            throw EFCreateError(path, EISDIR);
        }
        throw EFOpenError(path, EISDIR);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) {
        try {
            FlushBuffer();
        } catch (...) {
            // Nothing can be reported from here; callers that care call Close().
        }
        ::close(fd_);
    }
}

void TFileStream::FlushBuffer() {
    if (buffered_ == 0) {
        return;
    }
    const std::size_t count = buffered_;
    buffered_ = 0; // a failed flush drops the bytes rather than writing them twice
    WriteAll(fd_, writeBuffer_.data(), count);
}

void TFileStream::Flush() {
    FlushBuffer();
}

void TFileStream::Sync() {
    FlushBuffer();
    if (::fsync(fd_) != 0) {
        throw EInOutError(errno);
    }
}

void TFileStream::Close() {
    if (fd_ < 0) {
        return;
    }
    try {
        FlushBuffer();
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR) {
        throw EInOutError(errno);
    }
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    FlushBuffer();
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        const ssize_t n = ::read(fd_, out + total, count - total);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EInOutError(errno);
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return total;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    const auto* data = static_cast<const unsigned char*>(buffer);
    if (count >= kWriteBufferSize) {
        FlushBuffer();
        WriteAll(fd_, data, count);
        return count;
    }
    if (writeBuffer_.empty()) {
        writeBuffer_.resize(kWriteBufferSize);
    }
    if (buffered_ + count > kWriteBufferSize) {
        FlushBuffer();
    }
    std::memcpy(writeBuffer_.data() + buffered_, data, count);
    buffered_ += count;
    return count;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    FlushBuffer();
    const off_t result = ::lseek(fd_, static_cast<off_t>(offset), WhenceOf(origin));
    if (result < 0) {
        throw EInOutError(errno);
    }
    return result;
}

std::int64_t TFileStream::Size() {
    FlushBuffer();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        throw EInOutError(errno);
    }
    return st.st_size;
}

void TFileStream::SetSize(std::int64_t newSize) {
    FlushBuffer();
    if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
        throw EInOutError(errno);
    }
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    const auto size = static_cast<std::int64_t>(data_.size());
    if (position_ >= size || count == 0) {
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(size - position_));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    const std::size_t end = static_cast<std::size_t>(position_) + count;
    if (end > data_.size()) {
        data_.resize(end);
    }
    std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<std::int64_t>(end);
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Beginning:
        base = 0;
        break;
    case SeekOrigin::Current:
        base = position_;
        break;
    case SeekOrigin::End:
        base = static_cast<std::int64_t>(data_.size());
        break;
    }
    const std::int64_t target = base + offset;
    if (target < 0) {
        throw EStreamError("Invalid stream position");
    }
    position_ = target;
    return position_;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
    if (newSize < 0) {
        throw EStreamError("Invalid stream size");
    }
    data_.resize(static_cast<std::size_t>(newSize));
    position_ = std::min(position_, newSize);
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenRead);
    const std::int64_t size = file.Size();
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    file.ReadBuffer(bytes.data(), bytes.size());
    data_ = std::move(bytes);
    position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::Create);
    file.WriteBuffer(data_.data(), data_.size());
    file.Close();
}

} // namespace velmoran::platform
