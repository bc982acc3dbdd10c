// md5.h: the MD5 digest (RFC 1321) of byte sequences and whole files, and its text form.
//
// The updater compares the text form of a local file's digest with the one the update
// list gives for it; any difference means the file is out of date.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmoran {

// The running state of one digest. Lives on the caller's stack; MD5Final clears it.
struct MD5Context {
    std::uint32_t state[4];  // A, B, C, D
    std::uint32_t count[2];  // number of bits fed so far, low word first
    std::uint8_t buffer[64]; // the start of a block that is not complete yet
};

// The 16 digest bytes: the four state words, each low byte first.
using MD5Digest = std::array<std::uint8_t, 16>;

void MD5Init(MD5Context& context);
void MD5Update(MD5Context& context, const void* input, std::uint32_t length);
// Pads, writes the digest and then clears the whole context.
void MD5Final(MD5Context& context, MD5Digest& digest);

// The digest of the whole file at path. Never fails: a file that is missing, cannot be
// read or mapped, or is empty contributes no bytes, so the result is the digest of empty
// input, which the caller sees as "out of date" for every non-empty listed file.
MD5Digest MD5HashFile(const std::string& path);

// The 32-character lowercase hexadecimal text of a digest.
std::string MD5ToHex(const MD5Digest& digest);

} // namespace velmoran
