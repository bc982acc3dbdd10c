// File and memory streams: buffered writes, errors with their messages.
#include "platform/Stream.h"

#include "platform/Errors.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmoran::platform {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

using StreamTest = TempDirTest;

TEST_F(StreamTest, SmallWritesMixedWithSeeksAndReadsLandInOrder) {
    const std::string path = dir / "f.bin";
    std::string expected;
    {
        TFileStream f(path, TFileStream::Mode::Create);
        for (int i = 0; i < 300; ++i) { // 300 KiB in 1 KiB pieces crosses the buffer often
            const std::string piece(1024, static_cast<char>('a' + i % 26));
            f.WriteBuffer(piece.data(), piece.size());
            expected += piece;
        }
        EXPECT_EQ(f.Size(), 300 * 1024);
        EXPECT_EQ(f.Position(), 300 * 1024);
        f.SetPosition(10);
        f.WriteBuffer("XY", 2);
        expected.replace(10, 2, "XY");
        f.SetPosition(9);
        char back[4] = {};
        f.ReadBuffer(back, 4);
        EXPECT_EQ(std::string(back, 4), expected.substr(9, 4));
        f.Close();
    }
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(StreamTest, OpenAndCreateFailuresNameTheFileAndTheReason) {
    const std::string missing = dir / "missing.bin";
    try {
        TFileStream f(missing, TFileStream::Mode::OpenRead);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + missing + "\". No such file or directory");
    }
    EXPECT_THROW(TFileStream(dir / "no/such/folder.bin", TFileStream::Mode::Create), EFCreateError);
    EXPECT_THROW(TFileStream(dir.Path(), TFileStream::Mode::OpenRead), EFOpenError);
}

TEST_F(StreamTest, ReadBufferRefusesAShortRead) {
    WriteFile(dir / "short.bin", "abc");
    TFileStream f(dir / "short.bin", TFileStream::Mode::OpenRead);
    char buffer[8];
    try {
        f.ReadBuffer(buffer, sizeof buffer);
        FAIL() << "a short read passed";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST_F(StreamTest, AFullDiskIsReportedWhenBufferedBytesAreWritten) {
    TFileStream full("/dev/full", TFileStream::Mode::OpenWrite);
    full.WriteBuffer("abc", 3); // still in the buffer
    try {
        full.Close();
        FAIL() << "a write to a full disk passed";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    TFileStream big("/dev/full", TFileStream::Mode::OpenWrite);
    const std::vector<char> block(1 << 17);
    EXPECT_THROW(big.Write(block.data(), block.size()), EInOutError);
}

TEST(MemoryStream, ReadsWritesSeeksAndResizes) {
    TMemoryStream m;
    m.WriteBuffer("hello world", 11);
    EXPECT_EQ(m.Size(), 11);
    EXPECT_EQ(m.Seek(-5, SeekOrigin::End), 6);
    char word[5];
    m.ReadBuffer(word, 5);
    EXPECT_EQ(std::string(word, 5), "world");
    EXPECT_EQ(m.Read(word, 5), 0u);
    m.SetPosition(20); // past the end: a later write fills the gap with zeros
    m.WriteBuffer("!", 1);
    EXPECT_EQ(m.Size(), 21);
    EXPECT_EQ(m.Bytes()[15], 0);
    m.SetSize(5);
    EXPECT_EQ(m.Position(), 5);
    EXPECT_THROW(m.Seek(-1, SeekOrigin::Beginning), EStreamError);
    EXPECT_THROW(m.LoadFromFile("/nonexistent/velmoran"), EFOpenError);
}

} // namespace
} // namespace velmoran::platform
