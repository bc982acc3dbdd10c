// codec_throughput.cpp: one pass of one codec over one file, for compare-codecs.
//
//   codec-throughput md5 FILE          our MD5HashFile; prints the digest text
//   codec-throughput md5-read FILE     our MD5 over 64 KiB reads instead of a mapping
//   codec-throughput crc32 FILE        our FileCrc32; prints the decimal CRC
//   codec-throughput crc32-zlib FILE   zlib's crc32 over the same 64 KiB reads
//   codec-throughput bzip2 FILE        our bzip2 stream; writes the data to stdout
//
// The time of the pass goes to stderr; compare-codecs times the whole process instead,
// the same way as the tools it compares with.
#include "builder/crc.h"
#include "platform/Errors.h"
#include "platform/Stream.h"
#include "updater/codecs/BZip2.h"
#include "updater/codecs/md5.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using velmoran::platform::TFileStream;

constexpr std::size_t kBlock = 0x10000;

std::string ZlibFileCrc32(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::vector<unsigned char> buffer(kBlock);
    uLong crc = crc32(0L, Z_NULL, 0);
    while (const std::size_t n = file.Read(buffer.data(), buffer.size())) {
        crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
    }
    return std::to_string(crc);
}

// Shows what mapping the file costs against reading it through one buffer.
std::string Md5ByReads(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::vector<unsigned char> buffer(kBlock);
    velmoran::MD5Context context;
    velmoran::MD5Init(context);
    while (const std::size_t n = file.Read(buffer.data(), buffer.size())) {
        velmoran::MD5Update(context, buffer.data(), static_cast<std::uint32_t>(n));
    }
    velmoran::MD5Digest digest;
    velmoran::MD5Final(context, digest);
    return velmoran::MD5ToHex(digest);
}

void Decompress(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenRead);
    velmoran::TBZDecompressionStream stream(file);
    std::vector<char> buffer(kBlock);
    while (const std::size_t n = stream.Read(buffer.data(), buffer.size())) {
        if (std::fwrite(buffer.data(), 1, n, stdout) != n) {
            throw std::runtime_error("cannot write the output");
        }
    }
    if (!stream.EndOfStream()) {
        throw std::runtime_error("the bzip2 stream ends early");
    }
}

int Usage() {
    std::fputs("usage: codec-throughput md5|md5-read|crc32|crc32-zlib|bzip2 FILE\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    const std::string path = argv[2];
    try {
        const auto start = std::chrono::steady_clock::now();
        std::string result;
        if (mode == "md5") {
            result = velmoran::MD5ToHex(velmoran::MD5HashFile(path));
        } else if (mode == "md5-read") {
            result = Md5ByReads(path);
        } else if (mode == "crc32") {
            result = kelpforge::Crc32ToString(kelpforge::FileCrc32(path));
        } else if (mode == "crc32-zlib") {
            result = ZlibFileCrc32(path);
        } else if (mode == "bzip2") {
            Decompress(path);
        } else {
            return Usage();
        }
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        if (!result.empty()) {
            std::printf("%s\n", result.c_str());
        }
        std::fflush(stdout);
        std::fprintf(stderr, "%.6f seconds\n", seconds.count());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "codec-throughput: %s\n", e.what());
        return 1;
    }
}
