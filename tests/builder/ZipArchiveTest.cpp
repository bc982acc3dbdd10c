// ZipArchiveTest.cpp: the bytes of the builder's archives, reading them back, and the
// component's failures. Every archive made here is also read by Debian's unzip.
#include "builder/ZipArchive.h"

#include "builder/crc.h"
#include "platform/Errors.h"
#include "tests/builder/ZipCheck.h"
#include "tests/support/Packing.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace kelpforge {
namespace {

using testing::ExpectArchiveHolds;
using testing::ExpectedDosDateTime;
using testing::Le16;
using testing::Le32;
using testing::ReferenceArchive;
using velmoran::platform::EFCreateError;
using velmoran::platform::EFOpenError;
using velmoran::testing::RandomBytes;
using velmoran::testing::ReadFile;
using velmoran::testing::WriteFile;

// Text that deflate shrinks a lot, with enough variety to make real Huffman tables.
std::string CompressibleBytes(std::size_t size, unsigned seed = 3) {
    static const char* const kWords[] = {"texture", "sound",  "map",   "level", "castle",
                                         "dragon",  "sword",  "quest", "gold",  "village",
                                         "north",   "shadow", "\r\n",  "=",     "0x1F"};
    std::string text;
    text.reserve(size + 16);
    unsigned state = seed;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += kWords[(state >> 16) % std::size(kWords)];
        text += ' ';
    }
    text.resize(size);
    return text;
}

void SetModified(const std::string& path, std::int64_t unixSeconds) {
    struct timespec times[2] = {{static_cast<time_t>(unixSeconds), 0},
                                {static_cast<time_t>(unixSeconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class ZipArchiveTest : public velmoran::testing::TempDirTest {
protected:
    ZipArchiveTest() {
        // The settings the builder's form gives its component.
        zip.SetStoreRelativePath(false);
        zip.SetStoreFolders(false);
        zip.SetOverwriteAction(TOverwriteAction::oaOverwriteAll);
        zip.SetApplyAtributes(false);
    }

    // The build's four calls for one file; returns the archive's bytes.
    std::string Pack(const std::string& source, const std::string& archive) {
        zip.CreateEmptyArchive(archive);
        zip.OpenArchive(archive);
        zip.AddFileEntry(source);
        zip.CloseArchive();
        return ReadFile(archive);
    }

    TZipArchive zip;
};

TEST_F(ZipArchiveTest, SettingsStartWithTheComponentsDefaults) {
    TZipArchive fresh;
    EXPECT_EQ(fresh.SaveMethod(), TZipSaveMethod::FastSave);
    EXPECT_TRUE(fresh.StoreRelativePath());
    EXPECT_TRUE(fresh.StoreFolders());
    EXPECT_EQ(fresh.CompressionType(), TZipCompressionType::ctMaximum);
    EXPECT_FALSE(fresh.UseTempFiles());
    EXPECT_EQ(fresh.OverwriteAction(), TOverwriteAction::oaSkip);
    EXPECT_FALSE(fresh.ReadOnly());
    EXPECT_TRUE(fresh.ApplyAtributes());
    EXPECT_FALSE(fresh.IsZipFile());
    EXPECT_FALSE(fresh.Active());

    fresh.SetCompressionType(TZipCompressionType::ctUnknown);
    EXPECT_EQ(fresh.CompressionType(), TZipCompressionType::ctNormal);
    fresh.SetComponentVersion("9.9");
    EXPECT_EQ(fresh.ComponentVersion(), "2.0");
    fresh.SetIsZipFile(true);
    EXPECT_FALSE(fresh.IsZipFile());
    fresh.SetActive(true); // no FileName: nothing happens
    EXPECT_FALSE(fresh.Active());

    EXPECT_EQ(DeflateLevel(TZipCompressionType::ctNormal), -1);
    EXPECT_EQ(DeflateLevel(TZipCompressionType::ctMaximum), 9);
    EXPECT_EQ(DeflateLevel(TZipCompressionType::ctFast), 1);
    EXPECT_EQ(DeflateLevel(TZipCompressionType::ctSuperFast), 1);
    EXPECT_EQ(DeflateLevel(TZipCompressionType::ctNone), 0);
}

TEST_F(ZipArchiveTest, EmptySourceGivesNinetyEightBytesPlusTwiceTheName) {
    struct Case {
        std::string name;
        bool readOnly = false;
        std::uint32_t attributes = 0x20;
    };
    const Case cases[] = {
        {"a"},
        {"empty.ini"},
        {"readme.txt"},
        {".hidden", false, 0x22},   // hidden: a leading dot on POSIX
        {"locked.dat", true, 0x21}, // read-only: no write bit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = dir / ("src/" + c.name);
        WriteFile(source, "");
        if (c.readOnly) {
            ASSERT_EQ(::chmod(source.c_str(), 0444), 0);
        }
        const std::string archive = dir / (c.name + ".zip");
        const std::string bytes = Pack(source, archive);
        const auto n = c.name.size();
        ASSERT_EQ(bytes.size(), 98 + 2 * n);
        const std::uint32_t dos = ExpectedDosDateTime(source);

        // Local header.
        EXPECT_EQ(Le32(bytes, 0), 0x04034B50u);
        EXPECT_EQ(Le16(bytes, 4), 20);
        EXPECT_EQ(Le16(bytes, 6), 0);
        EXPECT_EQ(Le16(bytes, 8), 0); // stored: there is no data
        EXPECT_EQ(Le32(bytes, 10), dos);
        EXPECT_EQ(Le32(bytes, 14), 0u);
        EXPECT_EQ(Le32(bytes, 18), 0u);
        EXPECT_EQ(Le32(bytes, 22), 0u);
        EXPECT_EQ(Le16(bytes, 26), n);
        EXPECT_EQ(Le16(bytes, 28), 0);
        EXPECT_EQ(bytes.substr(30, n), c.name);

        // Central directory header.
        const std::size_t cd = 30 + n;
        EXPECT_EQ(Le32(bytes, cd), 0x02014B50u);
        EXPECT_EQ(Le16(bytes, cd + 4), 20);
        EXPECT_EQ(Le16(bytes, cd + 6), 20);
        EXPECT_EQ(Le16(bytes, cd + 8), 0);
        EXPECT_EQ(Le16(bytes, cd + 10), 0);
        EXPECT_EQ(Le32(bytes, cd + 12), dos);
        EXPECT_EQ(Le32(bytes, cd + 16), 0u);
        EXPECT_EQ(Le32(bytes, cd + 20), 0u);
        EXPECT_EQ(Le32(bytes, cd + 24), 0u);
        EXPECT_EQ(Le16(bytes, cd + 28), n);
        EXPECT_EQ(Le16(bytes, cd + 30), 0);
        EXPECT_EQ(Le16(bytes, cd + 32), 0);
        EXPECT_EQ(Le16(bytes, cd + 34), 0);
        EXPECT_EQ(Le16(bytes, cd + 36), 0);
        EXPECT_EQ(Le32(bytes, cd + 38), c.attributes);
        EXPECT_EQ(Le32(bytes, cd + 42), 0u);
        EXPECT_EQ(bytes.substr(cd + 46, n), c.name);

        // End record.
        const std::size_t end = 76 + 2 * n;
        EXPECT_EQ(Le32(bytes, end), 0x06054B50u);
        EXPECT_EQ(Le16(bytes, end + 4), 0);
        EXPECT_EQ(Le16(bytes, end + 6), 0);
        EXPECT_EQ(Le16(bytes, end + 8), 1);
        EXPECT_EQ(Le16(bytes, end + 10), 1);
        EXPECT_EQ(Le32(bytes, end + 12), 46 + n);
        EXPECT_EQ(Le32(bytes, end + 16), 30 + n);
        EXPECT_EQ(Le16(bytes, end + 20), 0);

        ExpectArchiveHolds(archive, {{c.name, ""}});
    }
}

TEST_F(ZipArchiveTest, FiveByteNameGivesOneHundredEightBytesPlusTheData) {
    const std::string content = CompressibleBytes(20000);
    const std::string source = dir / "deep/er/still/a.bin";
    WriteFile(source, content);
    const std::string archive = dir / "a.bin.zip";
    const std::string bytes = Pack(source, archive);

    const std::uint32_t c = Le32(bytes, 18);
    ASSERT_GT(c, 0u);
    EXPECT_LT(c, content.size()); // it did compress
    EXPECT_EQ(bytes.size(), 108 + c);
    EXPECT_EQ(Le16(bytes, 8), 8);
    EXPECT_EQ(Le32(bytes, 14), FileCrc32(source).value);
    EXPECT_EQ(Le32(bytes, 22), content.size());
    EXPECT_EQ(bytes.substr(30, 5), "a.bin"); // no folder part
    EXPECT_EQ(Le32(bytes, 35 + c), 0x02014B50u);
    EXPECT_EQ(Le32(bytes, 86 + c), 0x06054B50u);
    EXPECT_EQ(Le32(bytes, 86 + c + 16), 35 + c);
    ExpectArchiveHolds(archive, {{"a.bin", content}});
}

// The writer compresses in blocks while it reads; the bytes must be those of deflating
// the whole file at once, whatever the size's relation to the blocks.
TEST_F(ZipArchiveTest, StreamedArchiveEqualsTheOneShotArchive) {
    struct Case {
        std::string label;
        std::string content;
        TZipCompressionType type = TZipCompressionType::ctMaximum;
    };
    const std::string random = RandomBytes(3 << 20, 11);
    const std::string text = CompressibleBytes(5 << 20);
    std::string mixed = RandomBytes((2 << 20) + 7, 5);
    mixed.insert(mixed.size() / 2, CompressibleBytes(1 << 20));
    const Case cases[] = {
        {"0 bytes", ""},
        {"1 byte", "x"},
        {"64 KiB - 1", CompressibleBytes(65535)},
        {"64 KiB", CompressibleBytes(65536)},
        {"64 KiB + 1", RandomBytes(65537, 2)},
        {"256 KiB - 1", RandomBytes((256 << 10) - 1, 4)},
        {"256 KiB + 1", CompressibleBytes((256 << 10) + 1)},
        {"3 MiB random", random},
        {"5 MiB text", text},
        {"3 MiB + 7 mixed", mixed},
        {"zeros", std::string(3 << 20, '\0')},
        {"level 6", text.substr(0, (1 << 20) + 3), TZipCompressionType::ctNormal},
        {"level 1", text.substr(0, (1 << 20) + 3), TZipCompressionType::ctFast},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        zip.SetCompressionType(c.type);
        const std::string source = dir / "data.bin";
        WriteFile(source, c.content);
        const std::string archive = dir / "data.bin.zip";
        const std::string streamed = Pack(source, archive);
        const std::string expected = ReferenceArchive(
            "data.bin", c.content, ExpectedDosDateTime(source), 0x20, DeflateLevel(c.type));
        EXPECT_EQ(streamed.size(), expected.size());
        EXPECT_TRUE(streamed == expected) << "the archives differ";
        ExpectArchiveHolds(archive, {{"data.bin", c.content}});
    }
}

TEST_F(ZipArchiveTest, StoredLevelStillGivesADeflateEntryThatUnpacks) {
    zip.SetCompressionType(TZipCompressionType::ctNone);
    const std::string content = RandomBytes(300000, 9);
    WriteFile(dir / "raw.bin", content);
    const std::string bytes = Pack(dir / "raw.bin", dir / "raw.zip");
    EXPECT_EQ(Le16(bytes, 8), 8);
    EXPECT_EQ(Le16(bytes, 6), 0); // the level does not show in the flags
    ExpectArchiveHolds(dir / "raw.zip", {{"raw.bin", content}});
}

TEST_F(ZipArchiveTest, PackingOverAnOlderArchiveReplacesItWhole) {
    const std::string archive = dir / "target.zip";
    WriteFile(dir / "old1.txt", CompressibleBytes(50000));
    WriteFile(dir / "old2.txt", RandomBytes(40000));
    zip.CreateEmptyArchive(archive);
    zip.OpenArchive(archive);
    zip.AddFileEntry(dir / "old1.txt");
    zip.AddFileEntry(dir / "old2.txt");
    zip.CloseArchive();
    ASSERT_GT(ReadFile(archive).size(), 40000u);

    WriteFile(dir / "new.txt", "fresh");
    const std::string bytes = Pack(dir / "new.txt", archive);
    EXPECT_EQ(bytes.size(), 98 + 2 * 7 + Le32(bytes, 18));
    ExpectArchiveHolds(archive, {{"new.txt", "fresh"}});
}

TEST_F(ZipArchiveTest, EntryNamesAreBareNamesInZipForm) {
    struct Case {
        std::string path;
        bool relative;
        std::string name;
    };
    const Case cases[] = {
        {"/srv/client/system/engine.dll", false, "engine.dll"},
        {"engine.dll", false, "engine.dll"},
        {"/srv/client/.hidden", false, ".hidden"},
        {"C:\\Games\\client\\engine.dll", true, "Games/client/engine.dll"},
        {"\\\\server\\share\\client\\engine.dll", true, "client/engine.dll"},
        {"/srv/client/engine.dll", true, "srv/client/engine.dll"},
        {"system\\engine.dll", true, "system/engine.dll"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZipEntryName(c.path, c.relative), c.name) << c.path;
    }
}

TEST_F(ZipArchiveTest, DatesAreLocalDosTimesClampedToTheFormatsRange) {
    const char* const oldTz = std::getenv("TZ");
    const std::optional<std::string> savedTz =
        oldTz ? std::optional<std::string>(oldTz) : std::nullopt;
    struct Case {
        const char* tz;
        std::int64_t modified;
        std::uint16_t date;
        std::uint16_t time;
    };
    constexpr std::uint16_t kFirstDate = 1 + 1 * 32;
    constexpr std::uint16_t kLastDate = 31 + 12 * 32 + 127 * 512;
    constexpr std::uint16_t kLastTime = 29 + 59 * 32 + 23 * 2048;
    const Case cases[] = {
        {"UTC0", 0, kFirstDate, 0},         // 1970
        {"UTC0", 315532799, kFirstDate, 0}, // 1979-12-31 23:59:59
        {"UTC0", 315532800, kFirstDate, 0}, // 1980-01-01 00:00:00
        {"UTC0", 951831931, 29 + 2 * 32 + 20 * 512,
         15 + 45 * 32 + 13 * 2048}, // 2000-02-29 13:45:31
        {"XYZ-3", 951821131, 29 + 2 * 32 + 20 * 512, 15 + 45 * 32 + 13 * 2048}, // 10:45:31 UTC
        {"UTC0", 2335219200, 1 + 1 * 32 + 64 * 512, 0}, // 2044: the date's top bit set
        {"UTC0", 4354819199, kLastDate, kLastTime},     // 2107-12-31 23:59:59
        {"UTC0", 4354819200, kLastDate, kLastTime},     // 2108
        {"UTC0", 7271208000, kLastDate, kLastTime},     // 2200
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tz) + " " + std::to_string(c.modified));
        ::setenv("TZ", c.tz, 1);
        ::tzset();
        const std::string source = dir / "dated.txt";
        WriteFile(source, "when");
        SetModified(source, c.modified);
        const std::string bytes = Pack(source, dir / "dated.zip");
        EXPECT_EQ(Le16(bytes, 10), c.time);
        EXPECT_EQ(Le16(bytes, 12), c.date);
        const std::size_t cd = 30 + 9 + Le32(bytes, 18);
        EXPECT_EQ(Le16(bytes, cd + 12), c.time);
        EXPECT_EQ(Le16(bytes, cd + 14), c.date);
        ExpectArchiveHolds(dir / "dated.zip", {{"dated.txt", "when"}});
    }
    if (savedTz) {
        ::setenv("TZ", savedTz->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST_F(ZipArchiveTest, OpeningTheEmptyArchiveGivesNoEntries) {
    const std::string archive = dir / "empty.zip";
    zip.CreateEmptyArchive(archive);
    const std::string bytes = ReadFile(archive);
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(Le32(bytes, 0), 0x06054B50u);
    EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));

    std::vector<int> changes;
    zip.OnZipChange = [&](int change) { changes.push_back(change); };
    zip.OpenArchive(archive);
    EXPECT_TRUE(zip.IsZipFile());
    EXPECT_TRUE(zip.Active());
    EXPECT_FALSE(zip.ReadOnly());
    EXPECT_EQ(zip.FileName(), archive);
    EXPECT_EQ(zip.Entries().Count(), 0u);
    EXPECT_EQ(zip.EndOfCentralDir().CentralDirOffset, 0u);

    WriteFile(dir / "one.txt", "1");
    zip.AddFileEntry(dir / "one.txt");
    EXPECT_EQ(zip.Entries().Count(), 1u);
    zip.CloseArchive();
    EXPECT_FALSE(zip.Active());
    EXPECT_FALSE(zip.IsZipFile());
    EXPECT_EQ(zip.Entries().Count(), 0u);
    EXPECT_EQ(changes, (std::vector<int>{kZipOpened, kZipEntryAdded, kZipClosed}));
}

// Archives with several entries never come out of the build, but the writer handles
// them: entries made elsewhere are read and kept, and a new entry goes where their
// central directory stood.
TEST_F(ZipArchiveTest, AddingToAnArchiveMadeByZipKeepsItsEntries) {
    if (::access("/usr/bin/zip", X_OK) != 0) {
        GTEST_SKIP() << "needs Debian's zip (package zip)";
    }
    const std::string first = CompressibleBytes(70000);
    const std::string second = RandomBytes(1000);
    WriteFile(dir / "first.txt", first);
    WriteFile(dir / "second.bin", second);
    const std::string archive = dir / "made-by-zip.zip";
    const auto made = velmoran::testing::RunProcess(
        {"/usr/bin/zip", "-9", "-q", "-X", archive, "first.txt", "second.bin"}, dir.Path());
    ASSERT_EQ(made.exitCode, 0) << made.err;

    zip.OpenArchive(archive);
    ASSERT_TRUE(zip.IsZipFile());
    ASSERT_EQ(zip.Entries().Count(), 2u);
    EXPECT_EQ(zip.Entries()[0].FileName(), "first.txt");
    EXPECT_EQ(zip.Entries()[0].CentralDirectoryFile.UncompressedSize, first.size());
    EXPECT_EQ(zip.Entries()[0].LocalFile.FileName, "first.txt");
    EXPECT_EQ(zip.Entries()[0].CompressionType, TZipCompressionType::ctMaximum);
    EXPECT_EQ(zip.Entries()[1].FileName(), "second.bin");
    const std::uint32_t oldDirectory = zip.EndOfCentralDir().CentralDirOffset;

    const std::string third = CompressibleBytes(3000, 8);
    WriteFile(dir / "third.txt", third);
    zip.AddFileEntry(dir / "third.txt");
    ASSERT_EQ(zip.Entries().Count(), 3u);
    EXPECT_EQ(zip.Entries()[2].CentralDirectoryFile.LocalHeaderOffset, oldDirectory);
    EXPECT_EQ(zip.Entries()[2].CompressionType, TZipCompressionType::ctNormal);

    // An entry of the same name, in another letter case, takes the old one's place.
    WriteFile(dir / "sub/FIRST.TXT", "replaced");
    zip.AddFileEntry(dir / "sub/FIRST.TXT");
    zip.CloseArchive();
    ExpectArchiveHolds(archive,
                       {{"second.bin", second}, {"third.txt", third}, {"FIRST.TXT", "replaced"}});

    zip.OpenArchive(archive);
    EXPECT_TRUE(zip.IsZipFile());
    EXPECT_EQ(zip.Entries().Count(), 3u);
    zip.CloseArchive();
}

TEST_F(ZipArchiveTest, FilesThatAreNoArchiveAreClosedAgain) {
    // An end record that promises one entry where there is none.
    std::string promise("PK\x05\x06", 4);
    promise += std::string("\0\0\0\0\x01\0\x01\0", 8) + std::string(10, '\0');
    const std::string cases[] = {"", "short", std::string(100, 'x'), "PK\x05\x06 too short",
                                 promise};
    for (const auto& content : cases) {
        SCOPED_TRACE(content.size());
        WriteFile(dir / "not.zip", content);
        zip.OpenArchive(dir / "not.zip");
        EXPECT_FALSE(zip.IsZipFile());
        EXPECT_FALSE(zip.Active());
    }
}

TEST_F(ZipArchiveTest, FailuresCarryMessagesThatNameTheFile) {
    const std::string missing = dir / "missing.zip";
    try {
        zip.OpenArchive(missing);
        ADD_FAILURE() << "no error";
    } catch (const EZipError& e) {
        EXPECT_EQ(std::string(e.what()), "File \"" + missing + "\" not found!");
    }

    const std::string noFolder = dir / "no/such/folder/x.zip";
    try {
        zip.CreateEmptyArchive(noFolder);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + noFolder + "\". No such file or directory");
    }

    // A read-only archive is neither truncated nor written, whoever runs the test.
    const std::string locked = dir / "locked.zip";
    WriteFile(locked, "keep me");
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    EXPECT_THROW(zip.CreateEmptyArchive(locked), EFCreateError);
    EXPECT_EQ(ReadFile(locked), "keep me");

    // A source that exists but cannot be opened as a file.
    const std::string archive = dir / "ok.zip";
    zip.CreateEmptyArchive(archive);
    zip.OpenArchive(archive);
    ::mkdir((dir / "folder").c_str(), 0755);
    try {
        zip.AddFileEntry(dir / "folder");
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + (dir / "folder") + "\".", 0),
                  0u)
            << e.what();
    }
    // A source that does not exist adds nothing and says nothing.
    zip.AddFileEntry(dir / "gone.txt");
    EXPECT_EQ(zip.Entries().Count(), 0u);
    zip.CloseArchive();
    EXPECT_EQ(ReadFile(archive).size(), 22u);
    EXPECT_THROW(zip.AddFileEntry(dir / "gone.txt"), EZipError); // nothing is open

    WriteFile(dir / "ro.zip", "");
    zip.CreateEmptyArchive(dir / "ro.zip");
    ASSERT_EQ(::chmod((dir / "ro.zip").c_str(), 0444), 0);
    WriteFile(dir / "x.txt", "x");
    zip.OpenArchive(dir / "ro.zip");
    EXPECT_TRUE(zip.ReadOnly());
    EXPECT_THROW(zip.AddFileEntry(dir / "x.txt"), EZipError);
    zip.CloseArchive();
    EXPECT_FALSE(zip.ReadOnly());
    EXPECT_EQ(ReadFile(dir / "ro.zip").size(), 22u);
}

TEST_F(ZipArchiveTest, SourceOfFourGibibytesIsRefusedBeforeAnythingIsWritten) {
    const std::string big = dir / "huge.pak";
    WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), std::int64_t{1} << 32), 0); // sparse: no disk used
    const std::string archive = dir / "huge.pak.zip";
    zip.CreateEmptyArchive(archive);
    zip.OpenArchive(archive);
    try {
        zip.AddFileEntry(big);
        ADD_FAILURE() << "no error";
    } catch (const EZipError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "File \"" + big + "\" is too large for a ZIP archive (4 GiB or more)!");
    }
    EXPECT_EQ(zip.Entries().Count(), 0u);
    zip.CloseArchive();
    EXPECT_EQ(ReadFile(archive).size(), 22u);
    ExpectArchiveHolds(archive, {});
}

} // namespace
} // namespace kelpforge
