// Compress.cpp: libbz2's streaming compressor over platform file streams.
#include "tools/publish/Compress.h"

#include "platform/Stream.h"

#include <bzlib.h>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmoran::publish {
namespace {

constexpr int kBlockSize = 9;
constexpr std::size_t kChunk = 256 * 1024;

std::string ResultText(int result) {
    switch (result) {
    case BZ_MEM_ERROR:
        return "out of memory";
    case BZ_PARAM_ERROR:
        return "bad parameter";
    case BZ_SEQUENCE_ERROR:
        return "calls out of sequence";
    default:
        return "error " + std::to_string(result);
    }
}

// libbz2 allocates the same few large blocks (about 8 MiB at block size 9) for every
// stream. Keeping them for the thread's next file spares a publish of many small files
// from mapping and faulting in that memory again for each one.
class BlockCache {
public:
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() {
        for (void* block : free_) {
            std::free(block);
        }
    }

    void* Take(std::size_t size) {
        for (auto it = free_.begin(); it != free_.end(); ++it) {
            if (SizeOf(*it) == size) {
                void* block = *it;
                free_.erase(it);
                return Payload(block);
            }
        }
        void* block = std::malloc(kHeader + size);
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(block, &size, sizeof size);
        return Payload(block);
    }

    void Give(void* payload) {
        if (payload == nullptr) {
            return;
        }
        void* block = static_cast<char*>(payload) - kHeader;
        if (free_.size() >= kKept) {
            std::free(block);
        } else {
            free_.push_back(block);
        }
    }

private:
    // Room for the size in front of each block, keeping the payload aligned for anything.
    static constexpr std::size_t kHeader = alignof(std::max_align_t);
    static constexpr std::size_t kKept = 8;

    static std::size_t SizeOf(void* block) {
        std::size_t size;
        std::memcpy(&size, block, sizeof size);
        return size;
    }
    static void* Payload(void* block) { return static_cast<char*>(block) + kHeader; }

    std::vector<void*> free_;
};

thread_local BlockCache blockCache;
thread_local std::vector<char> readBuffer(kChunk);
thread_local std::vector<char> packBuffer(kChunk);

extern "C" void* TakeBlock(void* cache, int items, int size) {
    return static_cast<BlockCache*>(cache)->Take(static_cast<std::size_t>(items) *
                                                 static_cast<std::size_t>(size));
}

extern "C" void GiveBlock(void* cache, void* block) {
    static_cast<BlockCache*>(cache)->Give(block);
}

// One compressor; ended on every path.
class Compressor {
public:
    Compressor() {
        std::memset(&stream_, 0, sizeof stream_);
        stream_.bzalloc = TakeBlock;
        stream_.bzfree = GiveBlock;
        stream_.opaque = &blockCache;
        const int result = BZ2_bzCompressInit(&stream_, kBlockSize, 0, 0);
        if (result != BZ_OK) {
            throw EPublishError("bzip2 could not start: " + ResultText(result));
        }
    }
    ~Compressor() { BZ2_bzCompressEnd(&stream_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // Feeds input (all of it) and hands every produced piece to emit. With finish the
    // stream is closed after the input; the call then runs until the end marker is out.
    template <typename Emit>
    void Feed(const char* data, std::size_t size, bool finish, Emit&& emit) {
        stream_.next_in = const_cast<char*>(data);
        stream_.avail_in = static_cast<unsigned int>(size);
        const int action = finish ? BZ_FINISH : BZ_RUN;
        while (true) {
            stream_.next_out = output_.data();
            stream_.avail_out = static_cast<unsigned int>(output_.size());
            const int result = BZ2_bzCompress(&stream_, action);
            const std::size_t produced = output_.size() - stream_.avail_out;
            if (produced > 0) {
                emit(output_.data(), produced);
            }
            if (finish) {
                if (result == BZ_STREAM_END) {
                    return;
                }
                if (result != BZ_FINISH_OK) {
                    throw EPublishError("bzip2 failed: " + ResultText(result));
                }
            } else {
                if (result != BZ_RUN_OK) {
                    throw EPublishError("bzip2 failed: " + ResultText(result));
                }
                if (stream_.avail_in == 0) {
                    return;
                }
            }
        }
    }

private:
    bz_stream stream_;
    std::vector<char>& output_ = packBuffer;
};

} // namespace

CompressResult CompressFile(const std::string& source, const std::string& target,
                            const std::function<bool()>& stopRequested) {
    CompressResult result;
    const std::string where = "\"" + source + "\": ";
    try {
        platform::TFileStream in(source, platform::TFileStream::Mode::OpenRead,
                                 platform::TFileStream::Share::DenyWrite);
        platform::TFileStream out(target, platform::TFileStream::Mode::Create);
        Compressor compressor;
        MD5Context md5;
        MD5Init(md5);
        std::vector<char>& buffer = readBuffer;
        auto emit = [&](const char* data, std::size_t size) {
            out.WriteBuffer(data, size);
            result.packedSize += static_cast<std::int64_t>(size);
        };
        while (true) {
            if (stopRequested && stopRequested()) {
                throw EPublishError("interrupted");
            }
            const std::size_t got = in.Read(buffer.data(), buffer.size());
            MD5Update(md5, buffer.data(), static_cast<std::uint32_t>(got));
            result.sourceSize += static_cast<std::int64_t>(got);
            compressor.Feed(buffer.data(), got, got == 0, emit);
            if (got == 0) {
                break;
            }
        }
        MD5Final(md5, result.digest);
        out.Close();
    } catch (const EPublishError& e) {
        throw EPublishError(where + e.what());
    } catch (const platform::Exception& e) {
        throw EPublishError(where + e.what());
    }
    return result;
}

std::string CompressBuffer(std::string_view data) {
    std::string packed;
    Compressor compressor;
    compressor.Feed(data.data(), data.size(), true,
                    [&](const char* piece, std::size_t size) { packed.append(piece, size); });
    return packed;
}

} // namespace velmoran::publish
