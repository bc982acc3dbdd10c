// ZipCheck.h: what the builder's tests use to look into archives: little-endian fields,
// Debian's unzip as an independent reader, and the archive bytes that compressing the
// whole file in memory at once gives.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelpforge::testing {

std::uint16_t Le16(const std::string& bytes, std::size_t at);
std::uint32_t Le32(const std::string& bytes, std::size_t at);

// `unzip -t` over the archive must pass, `zipinfo -1` must list exactly the names of
// entries, and `unzip -p` must give back each entry's bytes.
void ExpectArchiveHolds(const std::string& archive,
                        const std::vector<std::pair<std::string, std::string>>& entries);

// The MS-DOS date (high half) and time (low half) of a file's modification time, worked
// out here with the C library, for comparing with what the writer stored.
std::uint32_t ExpectedDosDateTime(const std::string& path);

// The archive for one file as it is built in memory: the whole content deflated in one
// call into a zlib stream, whose 2-byte header and 4-byte trailer are cut off.
std::string ReferenceArchive(const std::string& name, const std::string& content,
                             std::uint32_t dosDateTime, std::uint32_t attributes, int level);

} // namespace kelpforge::testing
