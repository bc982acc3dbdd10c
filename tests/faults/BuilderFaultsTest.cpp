// What the disk and the administrator's choices can do to a build (Kelpforge --build):
// a file that cannot be read, an archive that cannot be written, a full disk, a root
// that is the Upload folder or holds it. The client folder being packed and everything
// beside it never change; a build that fails says so and leaves no broken archive listed.
#include "tests/faults/FaultFixture.h"
#include "tests/support/Packing.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

namespace fs = std::filesystem;

class BuilderFaults : public TempDirTest {
protected:
    void SetUp() override {
        WriteFile(root + "Velmoran", "#!/bin/sh\necho launcher\n");
        WriteFile(root + "readme.txt", "Welcome.\n");
        WriteFile(root + "system/game.dat", RandomBytes(200 * 1024, 9));
        WriteFile(root + "system/option.ini", "[Options]\r\nSound=1\r\n");
        WriteFile(sentinel + "keep.txt", "beside the client");
        fs::create_directories(work);
        before = Hashes();
    }

    // Every file of the client folder and of the sentinel, by SHA-256.
    Record Hashes() const {
        Record record;
        for (const auto& [folder, prefix] : {std::pair{root, "root/"}, {sentinel, "sentinel/"}}) {
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                if (entry.is_regular_file()) {
                    record[prefix + fs::relative(entry.path(), folder).generic_string()] =
                        Sha256(ReadFile(entry.path().string()));
                }
            }
        }
        return record;
    }

    ProcessResult Build(const std::string& buildRoot,
                        const std::vector<std::string>& wrapper = {}) const {
        std::vector<std::string> argv = wrapper;
        argv.insert(argv.end(), {KELPFORGE, "--build", buildRoot, "--name", "Velmoran"});
        std::vector<std::pair<std::string, std::string>> environment = {
            {"QT_QPA_PLATFORM", "offscreen"}};
        if (!wrapper.empty()) {
            environment.push_back(TracedSanitizerOptions());
        }
        return RunProcess(argv, work, environment);
    }

    // The archives updates.lst names (its self entry and its file lines) that are not
    // whole ZIP archives, by the zip tool's own test.
    std::vector<std::string> BrokenListedArchives() const {
        std::vector<std::string> broken;
        const std::string list = upload + "updates.lst";
        if (!fs::exists(list)) {
            return broken;
        }
        std::string text = ReadFile(list);
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = text.find('\n', begin);
            end = end == std::string::npos ? text.size() : end;
            std::string line = text.substr(begin, end - begin);
            begin = end + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const auto equals = line.find('=');
            const auto bar = line.find('|');
            if (equals == std::string::npos || bar == std::string::npos || bar < equals) {
                continue;
            }
            std::string name = line.substr(equals + 1, bar - equals - 1);
            for (char& c : name) {
                if (c == '\\') {
                    c = '/';
                }
            }
            const auto test = RunProcess({"/usr/bin/unzip", "-tqq", upload + name + ".zip"}, work);
            if (test.exitCode != 0) {
                broken.push_back(name);
            }
        }
        return broken;
    }

    // Every archive in the upload folder that is not a whole ZIP archive.
    std::vector<std::string> BrokenArchivesInUpload() const {
        std::vector<std::string> broken;
        for (const auto& entry : fs::recursive_directory_iterator(upload)) {
            if (entry.is_regular_file() && entry.path().extension() == ".zip" &&
                RunProcess({"/usr/bin/unzip", "-tqq", entry.path().string()}, work).exitCode != 0) {
                broken.push_back(fs::relative(entry.path(), upload).generic_string());
            }
        }
        return broken;
    }

    std::string root = dir / "client/";
    std::string sentinel = dir / "sentinel/";
    std::string work = dir / "work/";
    std::string upload = dir / "work/Upload/";
    Record before;
};

TEST_F(BuilderFaults, AWholeBuildListsWholeArchives) {
    const auto result = Build(root);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Done! 4 files have been packed."), std::string::npos) << result.out;
    EXPECT_EQ(BrokenListedArchives(), std::vector<std::string>{});
    EXPECT_EQ(Hashes(), before);
}

TEST_F(BuilderFaults, RootsThatMeetTheUploadFolderAreRefusedUntouched) {
    fs::create_directories(upload);
    WriteFile(upload + "old.txt.zip", "an earlier build's archive");
    const std::string uploadBefore = Sha256(ReadFile(upload + "old.txt.zip"));
    struct Case {
        const char* what;
        std::string root;
        const char* message;
    };
    const Case cases[] = {
        {"the Upload folder", upload, "is the Upload folder"},
        {"a folder holding it", work, "holds the Upload folder"},
        {"a folder inside it", upload + "inner/", "lies inside the Upload folder"},
    };
    fs::create_directories(upload + "inner");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto result = Build(c.root);
        EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
        EXPECT_NE(result.out.find(c.message), std::string::npos) << result.out;
        EXPECT_FALSE(fs::exists(upload + "updates.lst"));
        EXPECT_EQ(Sha256(ReadFile(upload + "old.txt.zip")), uploadBefore);
    }
    EXPECT_EQ(Hashes(), before);
}

// A file the builder cannot read or an archive it cannot write ends the build with the
// system's reason; what the list names up to there is whole.
TEST_F(BuilderFaults, FilesThatCannotBeReadOrWrittenEndTheBuild) {
    if (StraceProgram().empty()) {
        GTEST_SKIP() << "strace is missing or cannot trace here";
    }
    // Root reads everything, whatever the permission bits say; the refusal is injected.
    const std::string unreadable = root + "system/game.dat";
    auto result = Build(root, {StraceProgram(), "-f", "-qq", "-o", "/dev/null", "-P", unreadable,
                               "-e", "trace=openat", "-e", "inject=openat:error=EACCES"});
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("File access denied"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Done!"), std::string::npos) << result.out;
    EXPECT_EQ(BrokenListedArchives(), std::vector<std::string>{});
    EXPECT_EQ(BrokenArchivesInUpload(), std::vector<std::string>{});
    EXPECT_EQ(Hashes(), before);

    // An archive's folder that is read-only (for root too).
    fs::remove_all(upload);
    fs::create_directories(upload + "system");
    ASSERT_EQ(::chmod((upload + "system").c_str(), 0555), 0);
    result = Build(root);
    ::chmod((upload + "system").c_str(), 0755);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("game.dat.zip"), std::string::npos) << result.out;
    EXPECT_EQ(BrokenListedArchives(), std::vector<std::string>{});
    EXPECT_EQ(Hashes(), before);
}

TEST_F(BuilderFaults, AFullDiskEndsTheBuildWithoutABrokenArchiveListed) {
    fs::create_directories(upload);
    // Room for the small archives, not for the 200 KiB one.
    if (::mount("tmpfs", upload.c_str(), "tmpfs", 0, "size=128k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    }
    const auto result = Build(root);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(result.out.find("Disk full"), std::string::npos) << result.out;
    EXPECT_EQ(BrokenListedArchives(), std::vector<std::string>{});
    // Nor one left over unlisted, for whoever copies the folder to the server.
    EXPECT_EQ(BrokenArchivesInUpload(), std::vector<std::string>{});
    ::umount2(upload.c_str(), MNT_DETACH);
    EXPECT_EQ(Hashes(), before);
}

} // namespace
} // namespace velmoran::testing
