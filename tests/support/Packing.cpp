// Packing.cpp: bzip2 compression for test data.
#include "tests/support/Packing.h"

#include "updater/codecs/md5.h"

#include <bzlib.h>
#include <random>
#include <stdexcept>

namespace velmoran::testing {

std::string Bzip2(std::string_view data) {
    // The worst case of bzip2 is 1 % larger plus 600 bytes.
    unsigned int size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::string packed(size, '\0');
    const int result =
        BZ2_bzBuffToBuffCompress(packed.data(), &size, const_cast<char*>(data.data()),
                                 static_cast<unsigned int>(data.size()), 9, 0, 0);
    if (result != BZ_OK) {
        throw std::runtime_error("bzip2 compression failed: " + std::to_string(result));
    }
    packed.resize(size);
    return packed;
}

std::string Md5Text(std::string_view data) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, data.data(), static_cast<std::uint32_t>(data.size()));
    MD5Digest digest;
    MD5Final(context, digest);
    return MD5ToHex(digest);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

} // namespace velmoran::testing
