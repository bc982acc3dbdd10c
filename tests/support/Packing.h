// Packing.h: bzip2 data made inside the tests, as the server would hold it.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::testing {

// data compressed into one bzip2 stream (block size 9, like bzip2 -9).
std::string Bzip2(std::string_view data);

// The MD5 digest text of data, as a list entry gives it.
std::string Md5Text(std::string_view data);

// Bytes that compress badly: a fixed pseudo-random sequence of the given size.
std::string RandomBytes(std::size_t size, unsigned seed = 1);

} // namespace velmoran::testing
