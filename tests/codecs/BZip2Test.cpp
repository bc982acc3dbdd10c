// BZip2Test.cpp: the bzip2 decompression stream over data packed here with libbz2.
#include "updater/codecs/BZip2.h"

#include "platform/Errors.h"
#include "platform/Stream.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <bzlib.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace velmoran {
namespace {

using platform::SeekOrigin;

// Packs bytes into one bzip2 stream; blockSize100k 1 gives many blocks from little data.
std::string Compress(std::string_view data, int blockSize100k = 9) {
    auto size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    std::string packed(size, '\0');
    const int result =
        BZ2_bzBuffToBuffCompress(packed.data(), &size, const_cast<char*>(data.data()),
                                 static_cast<unsigned int>(data.size()), blockSize100k, 0, 0);
    EXPECT_EQ(result, BZ_OK);
    packed.resize(size);
    return packed;
}

std::string RandomBytes(std::size_t count, unsigned seed = 1) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

// Text with long runs, which exercises the library's run-length stages.
std::string CompressibleBytes(std::size_t count) {
    std::string bytes;
    bytes.reserve(count);
    for (unsigned line = 0; bytes.size() < count; ++line) {
        bytes += "system/data" + std::to_string(line % 97) + ".pak|" + std::to_string(line * 31) +
                 "|" + std::string(line % 300, static_cast<char>('a' + line % 26)) + "\r\n";
    }
    bytes.resize(count);
    return bytes;
}

// A memory source that hands out at most `limit` bytes per read and counts its calls.
class TTestSource : public platform::TMemoryStream {
public:
    explicit TTestSource(std::string_view bytes,
                         std::size_t limit = std::numeric_limits<std::size_t>::max())
        : limit_(limit) {
        TMemoryStream::Write(bytes.data(), bytes.size());
        TMemoryStream::Seek(0, SeekOrigin::Beginning);
    }

    std::size_t Read(void* buffer, std::size_t count) override {
        ++reads;
        return TMemoryStream::Read(buffer, std::min(count, limit_));
    }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
        ++seeks;
        return TMemoryStream::Seek(offset, origin);
    }
    int Calls() const { return reads + seeks; }

    int reads = 0;
    int seeks = 0;

private:
    std::size_t limit_;
};

// Reads until a read returns 0; `sizes` receives every read's result but the final 0.
std::string ReadAll(platform::TStream& stream, std::size_t chunk,
                    std::vector<std::size_t>* sizes = nullptr) {
    std::string out;
    std::vector<char> buffer(chunk);
    while (const std::size_t n = stream.Read(buffer.data(), chunk)) {
        EXPECT_LE(n, chunk);
        out.append(buffer.data(), n);
        if (sizes) {
            sizes->push_back(n);
        }
    }
    return out;
}

std::string ReadSome(platform::TStream& stream, std::size_t count) {
    std::string out(count, '\0');
    out.resize(stream.Read(out.data(), count));
    return out;
}

// Runs the action and checks that it raises exactly E with exactly this message.
template <class E, class F>::testing::AssertionResult Raises(F&& action, std::string_view message) {
    try {
        action();
    } catch (const E& e) {
        if (typeid(e) != typeid(E)) {
            return ::testing::AssertionFailure() << "raised a subclass: " << typeid(e).name();
        }
        if (e.what() != message) {
            return ::testing::AssertionFailure() << "message \"" << e.what() << "\"";
        }
        return ::testing::AssertionSuccess();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure()
               << "raised " << typeid(e).name() << ": \"" << e.what() << "\"";
    }
    return ::testing::AssertionFailure() << "nothing raised";
}

template <class F>::testing::AssertionResult RaisesLibraryError(F&& action, int code) {
    try {
        action();
    } catch (const EBZDecompressionError& e) {
        if (e.ErrorCode() != code || e.what() != "error " + std::to_string(code)) {
            return ::testing::AssertionFailure()
                   << "code " << e.ErrorCode() << ", message \"" << e.what() << "\"";
        }
        return ::testing::AssertionSuccess();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure()
               << "raised " << typeid(e).name() << ": \"" << e.what() << "\"";
    }
    return ::testing::AssertionFailure() << "nothing raised";
}

template <class F>::testing::AssertionResult RaisesInvalidOperation(F&& action) {
    return Raises<EBZDecompressionError>(action, "Invalid stream operation");
}

// ---------------------------------------------------------------------------------------
// Whole streams read in chunks.

struct RoundTripCase {
    const char* name;
    std::string (*make)();
    int blockSize100k;
    std::size_t chunk;
    std::size_t sourceLimit; // bytes the source hands out per read
};

std::string Random250k() {
    return RandomBytes(250000);
}
std::string Text1M() {
    return CompressibleBytes(1000000);
}
std::string TextThreeChunks() {
    return CompressibleBytes(3 * 65536);
}
std::string OneByte() {
    return "x";
}
std::string Nothing() {
    return {};
}

constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

const RoundTripCase kRoundTrips[] = {
    {"RandomByteByByte", Random250k, 1, 1, kWhole},
    {"RandomOddChunks", Random250k, 1, 4097, kWhole},
    {"RandomTrickledSource", Random250k, 1, 65537, 1000},
    {"RandomOneByteSource", Random250k, 9, 7, 1},
    {"TextUnpackChunks", Text1M, 9, 65536, kWhole},
    {"TextLargerThanData", Text1M, 9, 2 << 20, kWhole},
    {"TextExactMultiple", TextThreeChunks, 1, 65536, kWhole},
    {"SingleByte", OneByte, 9, 65536, kWhole},
    {"EmptyData", Nothing, 9, 65536, kWhole},
};

class BZip2RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(BZip2RoundTrip, YieldsExactlyTheOriginalBytes) {
    const RoundTripCase& c = GetParam();
    const std::string data = c.make();
    TTestSource source(Compress(data, c.blockSize100k), c.sourceLimit);
    TBZDecompressionStream stream(source);

    std::vector<std::size_t> sizes;
    const std::string out = ReadAll(stream, c.chunk, &sizes);

    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data);
    // Every read fills the caller's buffer until the data runs out.
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
        ASSERT_EQ(sizes[i], c.chunk) << "read " << i;
    }
    if (!sizes.empty()) {
        EXPECT_EQ(sizes.back(), data.size() % c.chunk == 0 ? c.chunk : data.size() % c.chunk);
    }
    EXPECT_TRUE(stream.EndOfStream());
    char more[16];
    EXPECT_EQ(stream.Read(more, sizeof more), 0u);
    EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), static_cast<std::int64_t>(data.size()));
}

INSTANTIATE_TEST_SUITE_P(BZip2, BZip2RoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// The update run's unpack step: a file source, 64 KiB reads written to a file, progress
// read from the source's position.
class BZip2FileTest : public testing::TempDirTest {};

TEST_F(BZip2FileTest, UnpacksAFileInUnpackSizedChunks) {
    const std::string data = RandomBytes(200000, 7) + CompressibleBytes(300000);
    const std::string packed = Compress(data);
    testing::WriteFile(dir / "files.lst.bz2", packed);

    std::vector<std::int64_t> consumed;
    {
        platform::TFileStream source(dir / "files.lst.bz2", platform::TFileStream::Mode::OpenRead);
        platform::TFileStream target(dir / "files.lst", platform::TFileStream::Mode::Create);
        TBZDecompressionStream stream(source);
        stream.ProgressHandler = [&](platform::TStream&) { consumed.push_back(source.Position()); };
        std::vector<char> chunk(65536);
        while (const std::size_t n = stream.Read(chunk.data(), chunk.size())) {
            target.WriteBuffer(chunk.data(), n);
        }
        EXPECT_TRUE(stream.EndOfStream());
        target.Close();
    }

    EXPECT_TRUE(testing::ReadFile(dir / "files.lst") == data);
    ASSERT_FALSE(consumed.empty());
    EXPECT_TRUE(std::is_sorted(consumed.begin(), consumed.end()));
    EXPECT_EQ(consumed.back(), static_cast<std::int64_t>(packed.size()));
}

// A count beyond the library's 32-bit output counter is served in slices, not truncated.
TEST(BZip2Stream, ReadCountBeyond32Bits) {
    if constexpr (sizeof(std::size_t) <= 4) {
        GTEST_SKIP() << "size_t is 32 bits";
    } else {
        const std::string data = CompressibleBytes(1000);
        TTestSource source(Compress(data));
        TBZDecompressionStream stream(source);
        // The library writes only what it decodes, so the buffer needs room for the data.
        std::string buffer(2000, '\0');
        const std::size_t count = std::size_t{1} << 32;
        ASSERT_EQ(stream.Read(buffer.data(), count), data.size());
        EXPECT_EQ(buffer.substr(0, data.size()), data);
    }
}

TEST(BZip2Stream, ReadOfZeroCountCallsNothing) {
    TTestSource source(Compress(CompressibleBytes(5000)));
    TBZDecompressionStream stream(source);
    int progress = 0;
    stream.ProgressHandler = [&](platform::TStream&) { ++progress; };

    for (int round = 0; round < 2; ++round) {
        const int calls = source.Calls();
        const int notified = progress;
        EXPECT_EQ(stream.Read(nullptr, 0), 0u);
        EXPECT_EQ(source.Calls(), calls);
        EXPECT_EQ(progress, notified);
        // Second round: in the middle of the data, with the source moved away.
        ReadSome(stream, 100);
        source.Seek(0, SeekOrigin::Beginning);
    }
    EXPECT_EQ(ReadSome(stream, 100), CompressibleBytes(5000).substr(200, 100));
}

TEST(BZip2Stream, EmptySourceReadsNothingWithoutError) {
    TTestSource source("");
    TBZDecompressionStream stream(source);
    char buffer[64];
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(stream.EndOfStream());
}

// ---------------------------------------------------------------------------------------
// Bad data.

struct BadDataCase {
    const char* name;
    std::string (*make)(const std::string& packed);
    int code;
};

std::string Flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0xFF);
    return bytes;
}

const BadDataCase kBadData[] = {
    {"HtmlErrorPage", [](const std::string&) { return std::string("<html>404</html>\n"); }, -5},
    {"WrongSignature", [](const std::string& p) { return "BZ0" + p.substr(3); }, -5},
    {"BlockSizeDigitZero", [](const std::string& p) { return "BZh0" + p.substr(4); }, -5},
    {"BlockChecksum", [](const std::string& p) { return Flipped(p, 10); }, -4},
    {"InsideBlock", [](const std::string& p) { return Flipped(p, p.size() / 3); }, -4},
    {"StreamChecksum", [](const std::string& p) { return Flipped(p, p.size() - 2); }, -4},
};

class BZip2BadData : public ::testing::TestWithParam<BadDataCase> {};

TEST_P(BZip2BadData, RaisesTheLibraryResult) {
    const BadDataCase& c = GetParam();
    const std::string data = RandomBytes(50000, 3) + CompressibleBytes(100000);
    TTestSource source(c.make(Compress(data)));
    TBZDecompressionStream stream(source);
    EXPECT_TRUE(RaisesLibraryError([&] { ReadAll(stream, 65536); }, c.code));
}

INSTANTIATE_TEST_SUITE_P(BZip2, BZip2BadData, ::testing::ValuesIn(kBadData),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BZip2Stream, NotBZip2FailsTheFirstRead) {
    TTestSource source("GIF89a this is no bzip2 data at all");
    TBZDecompressionStream stream(source);
    char buffer[1];
    EXPECT_TRUE(RaisesLibraryError([&] { stream.Read(buffer, 1); }, -5));
}

// ---------------------------------------------------------------------------------------
// Bytes after the end of the stream.

struct TrailingCase {
    const char* name;
    std::string trailing;
    std::size_t sourceLimit;
};

class BZip2Trailing : public ::testing::TestWithParam<TrailingCase> {};

const TrailingCase kTrailing[] = {
    {"SecondStream", Compress("second stream"), kWhole},
    {"SecondStreamInLaterRefill", Compress("second stream"), 1},
    {"Garbage", "garbage\r\n", kWhole},
    {"GarbageInLaterRefill", "garbage\r\n", 1},
    {"OneZeroByte", std::string(1, '\0'), kWhole},
};

// The read during which the first stream ends with space left fails with a sequence error.
TEST_P(BZip2Trailing, FailsTheReadThatHasSpaceLeft) {
    const std::string first = CompressibleBytes(10000);
    TTestSource source(Compress(first) + GetParam().trailing, GetParam().sourceLimit);
    TBZDecompressionStream stream(source);
    EXPECT_EQ(ReadSome(stream, 6000), first.substr(0, 6000));
    char buffer[8192];
    EXPECT_TRUE(RaisesLibraryError([&] { stream.Read(buffer, sizeof buffer); }, -1));
}

INSTANTIATE_TEST_SUITE_P(BZip2, BZip2Trailing, ::testing::ValuesIn(kTrailing),
                         [](const auto& info) { return std::string(info.param.name); });

// When the first stream ends exactly as a read's buffer fills, that read succeeds.
TEST(BZip2Stream, ConcatenatedStreamExactFillFailsOnlyTheNextRead) {
    const std::string first = CompressibleBytes(10000);
    for (const std::size_t chunk : {std::size_t{10000}, std::size_t{2500}}) {
        SCOPED_TRACE(chunk);
        TTestSource source(Compress(first) + Compress("second stream"));
        TBZDecompressionStream stream(source);
        std::string out;
        for (std::size_t i = 0; i < first.size() / chunk; ++i) {
            out += ReadSome(stream, chunk);
        }
        EXPECT_TRUE(out == first);
        EXPECT_TRUE(stream.EndOfStream());
        char buffer[1];
        EXPECT_TRUE(RaisesLibraryError([&] { stream.Read(buffer, 1); }, -1));
    }
}

// ---------------------------------------------------------------------------------------
// Truncated sources: no error, a prefix of the data, and no end-of-stream.

struct TruncationCase {
    const char* name;
    std::size_t (*keep)(std::size_t packedSize);
    std::size_t minimumOutput;
    bool complete;
};

const TruncationCase kTruncations[] = {
    {"HeaderOnly", [](std::size_t) -> std::size_t { return 4; }, 0, false},
    {"FirstBlockHeader", [](std::size_t) -> std::size_t { return 12; }, 0, false},
    // Blocks of about 100 000 bytes: the first is complete in the first half.
    {"Half", [](std::size_t n) { return n / 2; }, 90000, false},
    // Every block is there, only the end marker's last byte is missing.
    {"AllButLastByte", [](std::size_t n) { return n - 1; }, 250000, false},
    // The end marker's 80 bits gone: the last block is whole but is still held inside
    // the library when the source runs dry, and must come out all the same.
    {"EndMarkerMissing", [](std::size_t n) { return n - 10; }, 250000, false},
    {"Whole", [](std::size_t n) { return n; }, 250000, true},
};

class BZip2Truncated : public ::testing::TestWithParam<TruncationCase> {};

TEST_P(BZip2Truncated, DeliversAPrefixAndReportsTheEnd) {
    const TruncationCase& c = GetParam();
    // The last of three blocks holds about 50 000 bytes, more than one read takes.
    const std::string data = RandomBytes(250000, 5);
    const std::string packed = Compress(data, 1);
    TTestSource source(std::string_view(packed).substr(0, c.keep(packed.size())));
    TBZDecompressionStream stream(source);

    EXPECT_FALSE(stream.EndOfStream());
    const std::string out = ReadAll(stream, 30000);
    EXPECT_GE(out.size(), c.minimumOutput);
    EXPECT_TRUE(data.compare(0, out.size(), out) == 0) << "not a prefix";
    EXPECT_EQ(stream.EndOfStream(), c.complete);
    char buffer[16];
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
}

INSTANTIATE_TEST_SUITE_P(BZip2, BZip2Truncated, ::testing::ValuesIn(kTruncations),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Seeking, writing and the size.

class BZip2StreamTest : public ::testing::Test {
protected:
    // Several blocks and several input refills.
    static const std::string& Data() {
        static const std::string data = RandomBytes(300000, 11);
        return data;
    }
    static const std::string& Packed() {
        static const std::string packed = Compress(Data(), 1);
        return packed;
    }
    std::string DataAt(std::int64_t position, std::size_t count) {
        return Data().substr(static_cast<std::size_t>(position), count);
    }
};

TEST_F(BZip2StreamTest, SeekZeroFromCurrentReportsPositionOnly) {
    TTestSource source(Packed());
    TBZDecompressionStream stream(source);
    int progress = 0;
    stream.ProgressHandler = [&](platform::TStream&) { ++progress; };

    EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), 0);
    ReadSome(stream, 1000);
    const int calls = source.Calls();
    const int notified = progress;
    EXPECT_EQ(stream.Seek(0, SeekOrigin::Current), 1000);
    EXPECT_EQ(stream.Position(), 1000);
    EXPECT_EQ(source.Calls(), calls);
    EXPECT_EQ(progress, notified);
    EXPECT_EQ(ReadSome(stream, 500), DataAt(1000, 500));
}

TEST_F(BZip2StreamTest, SkipsForwardByDecompressing) {
    const std::int64_t start = 10;
    for (const std::int64_t distance : {1, 4095, 4096, 4097, 3 * 4096 + 5, 150000}) {
        for (const SeekOrigin origin : {SeekOrigin::Current, SeekOrigin::Beginning}) {
            SCOPED_TRACE(::testing::Message()
                         << "distance " << distance << " from "
                         << (origin == SeekOrigin::Current ? "current" : "beginning"));
            TTestSource source(Packed());
            TBZDecompressionStream stream(source);
            ReadSome(stream, static_cast<std::size_t>(start));
            int progress = 0;
            stream.ProgressHandler = [&](platform::TStream& sender) {
                EXPECT_EQ(&sender, &stream);
                ++progress;
            };
            const std::int64_t offset = origin == SeekOrigin::Current ? distance : start + distance;
            EXPECT_EQ(stream.Seek(offset, origin), start + distance);
            EXPECT_GT(progress, 0);
            EXPECT_EQ(ReadSome(stream, 64), DataAt(start + distance, 64));
        }
    }
}

TEST_F(BZip2StreamTest, RefusedSeeksChangeNothing) {
    TTestSource source(Packed());
    TBZDecompressionStream stream(source);
    ReadSome(stream, 1000);

    const struct {
        std::int64_t offset;
        SeekOrigin origin;
    } refused[] = {
        {1000, SeekOrigin::Beginning}, // to the current position
        {999, SeekOrigin::Beginning},
        {1, SeekOrigin::Beginning},
        {-1, SeekOrigin::Beginning},
        {0, SeekOrigin::End},
        {-1, SeekOrigin::End},
        {10, SeekOrigin::End},
        {-1, SeekOrigin::Current},
        {std::numeric_limits<std::int64_t>::min(), SeekOrigin::Current},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(::testing::Message()
                     << "offset " << r.offset << " origin " << static_cast<int>(r.origin));
        const int calls = source.Calls();
        EXPECT_TRUE(RaisesInvalidOperation([&] { stream.Seek(r.offset, r.origin); }));
        EXPECT_EQ(source.Calls(), calls);
        EXPECT_EQ(stream.Position(), 1000);
    }
    EXPECT_EQ(ReadSome(stream, 5000), DataAt(1000, 5000));
}

TEST_F(BZip2StreamTest, SkippingPastTheEndIsAReadError) {
    const std::string data = CompressibleBytes(5000);
    {
        TTestSource source(Compress(data));
        TBZDecompressionStream stream(source);
        EXPECT_EQ(stream.Seek(5000, SeekOrigin::Beginning), 5000); // exactly to the end
    }
    for (const std::int64_t target : {5001, 9000, 1 << 20}) {
        SCOPED_TRACE(target);
        TTestSource source(Compress(data));
        TBZDecompressionStream stream(source);
        EXPECT_TRUE(Raises<platform::EReadError>(
            [&] { stream.Seek(target, SeekOrigin::Beginning); }, "Stream read error"));
    }
    TTestSource source(Compress(data));
    TBZDecompressionStream stream(source);
    ReadSome(stream, 4000);
    EXPECT_TRUE(Raises<platform::EReadError>([&] { stream.Seek(1001, SeekOrigin::Current); },
                                             "Stream read error"));
}

TEST_F(BZip2StreamTest, RestartReadsTheDataAgain) {
    TTestSource source(Packed());
    TBZDecompressionStream stream(source);
    EXPECT_TRUE(ReadAll(stream, 65536) == Data());
    EXPECT_TRUE(stream.EndOfStream());

    EXPECT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
    EXPECT_FALSE(stream.EndOfStream());
    EXPECT_EQ(source.Position(), 0);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_TRUE(ReadAll(stream, 10000) == Data());
    EXPECT_TRUE(stream.EndOfStream());
}

// Decoding starts where the source stood at construction; a restart rewinds it to 0.
TEST_F(BZip2StreamTest, StartsAtTheSourcePositionButRestartsAtZero) {
    const std::string prefix = "HTTP/1.1 200 OK\r\n\r\n";
    TTestSource source(prefix + Packed());
    source.Seek(static_cast<std::int64_t>(prefix.size()), SeekOrigin::Beginning);
    TBZDecompressionStream stream(source);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_TRUE(ReadAll(stream, 65536) == Data());

    EXPECT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
    EXPECT_EQ(source.Position(), 0);
    char buffer[16];
    EXPECT_TRUE(RaisesLibraryError([&] { stream.Read(buffer, sizeof buffer); }, -5));
}

TEST_F(BZip2StreamTest, WriteAndSizeAreInvalidAndSetSizeIsIgnored) {
    TTestSource source(Packed());
    TBZDecompressionStream stream(source);
    ReadSome(stream, 100);

    EXPECT_TRUE(RaisesInvalidOperation([&] { stream.Write("abc", 3); }));
    EXPECT_TRUE(RaisesInvalidOperation([&] { stream.Size(); }));
    stream.SetSize(0);
    EXPECT_TRUE(source.Bytes() == std::vector<unsigned char>(Packed().begin(), Packed().end()));
    EXPECT_EQ(stream.Position(), 100);
    EXPECT_TRUE(ReadAll(stream, 65536) == Data().substr(100));
}

TEST_F(BZip2StreamTest, SourceMovedBetweenReadsIsPutBack) {
    // Small source reads, so that the position to come back to moves all the time.
    TTestSource source(Packed(), 3000);
    TBZDecompressionStream stream(source);
    const auto size = static_cast<std::int64_t>(Packed().size());
    std::string out;
    for (std::int64_t i = 0;; ++i) {
        const std::string piece = ReadSome(stream, 7000);
        if (piece.empty()) {
            break;
        }
        out += piece;
        source.Seek((i * 7919) % size, SeekOrigin::Beginning);
    }
    EXPECT_TRUE(out == Data());
    EXPECT_TRUE(stream.EndOfStream());
}

// ---------------------------------------------------------------------------------------
// Progress.

TEST_F(BZip2StreamTest, ProgressIsNotifiedByEveryDecodingRead) {
    TTestSource source(Packed(), 20000);
    TBZDecompressionStream stream(source);
    int progress = 0;
    stream.ProgressHandler = [&](platform::TStream& sender) {
        EXPECT_EQ(&sender, &stream);
        ++progress;
    };
    for (;;) {
        const int before = progress;
        if (ReadSome(stream, 10000).empty()) {
            break;
        }
        EXPECT_GT(progress, before);
    }
    // The handler can be replaced or removed between reads.
    ASSERT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
    int replaced = 0;
    stream.ProgressHandler = [&](platform::TStream&) { ++replaced; };
    ReadSome(stream, 10);
    EXPECT_GT(replaced, 0);
    stream.ProgressHandler = nullptr;
    EXPECT_EQ(ReadSome(stream, 10), DataAt(10, 10));
}

class TCountingStream : public TBZDecompressionStream {
public:
    using TBZDecompressionStream::TBZDecompressionStream;
    int notified = 0;

protected:
    void NotifyProgress(platform::TStream& sender) override {
        ++notified;
        TBZDecompressionStream::NotifyProgress(sender);
    }
};

TEST_F(BZip2StreamTest, NotifyProgressCanBeOverridden) {
    TTestSource source(Packed());
    TCountingStream stream(source);
    int handled = 0;
    stream.ProgressHandler = [&](platform::TStream&) { ++handled; };
    ReadSome(stream, 1000);
    EXPECT_GT(stream.notified, 0);
    EXPECT_EQ(handled, stream.notified);
}

// ---------------------------------------------------------------------------------------
// The error classes.

TEST(BZip2Errors, MessagesAndCodes) {
    static_assert(std::is_base_of_v<platform::Exception, EBZip2Error>);
    static_assert(std::is_base_of_v<EBZip2Error, EBZDecompressionError>);
    static_assert(std::is_base_of_v<EBZip2Error, EBZCompressionError>);

    const EBZip2Error internal(1007);
    EXPECT_STREQ(internal.what(), "Compression Error 1007");
    EXPECT_EQ(internal.ErrorCode(), 1007);

    const EBZDecompressionError memory(-3);
    EXPECT_STREQ(memory.what(), "error -3");
    EXPECT_EQ(memory.ErrorCode(), -3);

    const EBZDecompressionError invalid = EBZDecompressionError::InvalidOperation();
    EXPECT_STREQ(invalid.what(), "Invalid stream operation");
    EXPECT_EQ(invalid.ErrorCode(), 0);

    EXPECT_STREQ(EBZCompressionError(-2).what(), "error -2");
}

} // namespace
} // namespace velmoran
