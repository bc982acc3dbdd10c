// TempDir.h: a temporary folder per test, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace velmoran::testing {

// A fresh folder under the system's temporary folder.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing separator.
    const std::string& Path() const noexcept { return path_; }
    // The folder joined with a relative name ("a/b.txt").
    std::string operator/(std::string_view name) const { return path_ + std::string(name); }

private:
    std::string path_;
};

// Writes bytes to a file, creating missing folders; fails the test on error.
void WriteFile(const std::string& path, std::string_view bytes);
// The whole content of a file; fails the test when it cannot be read.
std::string ReadFile(const std::string& path);

// A fixture whose tests each get their own folder; `dir` is set before SetUp returns.
class TempDirTest : public ::testing::Test {
protected:
    TempDir dir;
};

} // namespace velmoran::testing
