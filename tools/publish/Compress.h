// Compress.h: bzip2 compression (block size 9, as "bzip2 -9") for the published files.
//
// The updater only ever decompresses; the publisher is the one place that packs.
#pragma once

#include "platform/Errors.h"
#include "updater/codecs/md5.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velmoran::publish {

// Anything that stops a publish. The message names the file concerned.
class EPublishError : public platform::Exception {
public:
    using Exception::Exception;
};

struct CompressResult {
    MD5Digest digest{};          // of the bytes that went into the compressor
    std::int64_t sourceSize = 0; // bytes read
    std::int64_t packedSize = 0; // bytes written
};

// Compresses the file source into target (created or truncated) as one bzip2 stream and
// digests the same bytes on the way, so that the listed digest always describes what the
// packed file holds. Raises EPublishError naming the file that failed; when stopRequested
// turns true the work stops with an EPublishError too. A partial target stays for the
// caller to delete.
CompressResult CompressFile(const std::string& source, const std::string& target,
                            const std::function<bool()>& stopRequested = {});

// data as one bzip2 stream.
std::string CompressBuffer(std::string_view data);

} // namespace velmoran::publish
