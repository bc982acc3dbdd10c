// ZipCheck.cpp: archive inspection helpers of the builder's tests.
#include "tests/builder/ZipCheck.h"

#include "tests/support/Subprocess.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <time.h>
#include <zlib.h>

namespace kelpforge::testing {

namespace {

void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

} // namespace

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
    EXPECT_LE(at + 2, bytes.size());
    if (at + 2 > bytes.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    return Le16(bytes, at) | std::uint32_t{Le16(bytes, at + 2)} << 16;
}

void ExpectArchiveHolds(const std::string& archive,
                        const std::vector<std::pair<std::string, std::string>>& entries) {
    SCOPED_TRACE("archive " + archive);
    const std::string folder = FolderOf(archive);
    const auto test = velmoran::testing::RunProcess({"/usr/bin/unzip", "-t", archive}, folder);
    if (entries.empty()) {
        // unzip reads an archive without entries and warns that there is nothing in it.
        EXPECT_EQ(test.exitCode, 1) << test.out << test.err;
        EXPECT_NE((test.out + test.err).find("zipfile is empty"), std::string::npos)
            << test.out << test.err;
        return;
    }
    EXPECT_EQ(test.exitCode, 0) << test.out << test.err;

    const auto list = velmoran::testing::RunProcess({"/usr/bin/zipinfo", "-1", archive}, folder);
    std::vector<std::string> names;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        names.push_back(line);
    }
    std::vector<std::string> expectedNames;
    for (const auto& [name, bytes] : entries) {
        expectedNames.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(names, expectedNames) << list.err;

    for (const auto& [name, bytes] : entries) {
        const auto extracted =
            velmoran::testing::RunProcess({"/usr/bin/unzip", "-p", archive, name}, folder);
        EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
        EXPECT_TRUE(extracted.out == bytes) << name << ": " << extracted.out.size()
                                            << " bytes extracted, " << bytes.size() << " expected";
    }
}

std::uint32_t ExpectedDosDateTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    struct tm t {};
    ::localtime_r(&st.st_mtime, &t);
    const std::uint32_t time = t.tm_sec / 2 + t.tm_min * 32 + t.tm_hour * 2048;
    const std::uint32_t date = t.tm_mday + (t.tm_mon + 1) * 32 + (t.tm_year + 1900 - 1980) * 512;
    return date << 16 | time;
}

std::string ReferenceArchive(const std::string& name, const std::string& content,
                             std::uint32_t dosDateTime, std::uint32_t attributes, int level) {
    std::string data;
    std::uint32_t crc = 0;
    if (!content.empty()) {
        crc = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(content.data()), content.size()));
        z_stream z{};
        EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::string zlibStream(deflateBound(&z, content.size()), '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
        z.avail_in = static_cast<uInt>(content.size());
        z.next_out = reinterpret_cast<Bytef*>(zlibStream.data());
        z.avail_out = static_cast<uInt>(zlibStream.size());
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        zlibStream.resize(z.total_out);
        deflateEnd(&z);
        data = zlibStream.substr(2, zlibStream.size() - 6);
    }
    const std::uint32_t method = content.empty() ? 0 : 8;
    const auto n = static_cast<std::uint32_t>(name.size());
    const auto c = static_cast<std::uint32_t>(data.size());

    std::string out;
    Put32(out, 0x04034B50);
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, method);
    Put32(out, dosDateTime);
    Put32(out, crc);
    Put32(out, c);
    Put32(out, static_cast<std::uint32_t>(content.size()));
    Put16(out, n);
    Put16(out, 0);
    out += name;
    out += data;

    Put32(out, 0x02014B50);
    Put16(out, 20);
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, method);
    Put32(out, dosDateTime);
    Put32(out, crc);
    Put32(out, c);
    Put32(out, static_cast<std::uint32_t>(content.size()));
    Put16(out, n);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, attributes);
    Put32(out, 0);
    out += name;

    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, 1);
    Put32(out, 46 + n);
    Put32(out, 30 + n + c);
    Put16(out, 0);
    return out;
}

} // namespace kelpforge::testing
