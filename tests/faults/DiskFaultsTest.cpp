// What the disk can do to an update run: fill up, or refuse writes to a file or a folder.
#include "tests/faults/FaultFixture.h"
#include "tests/support/Packing.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

class DiskFaults : public FaultTest {};

// A file system of its own over a folder for the length of a test.
class SmallDisk {
public:
    SmallDisk(std::string folder, const std::string& size) : folder_(std::move(folder)) {
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
        error_ = errno;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const noexcept { return mounted_; }
    const char* Error() const noexcept { return std::strerror(error_); }
    bool Grow(const std::string& size) {
        return ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, ("size=" + size).c_str()) ==
               0;
    }

private:
    std::string folder_;
    bool mounted_ = false;
    int error_ = 0;
};

// The client on a disk of 1 MiB: a file that packs small but unpacks to 4 MiB fills it.
TEST_F(DiskFaults, AFullDiskWhileUnpackingFailsThatFileOnly) {
    SmallDisk disk(client, "1m");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a small file system here: " << disk.Error();
    }
    std::string big;
    for (int i = 0; big.size() < 4 * 1024 * 1024; ++i) {
        big += "row " + std::to_string(i % 64) + "\n";
    }
    source.insert(source.begin(), {"data/big.dat", big, true});
    WriteClient();
    Publish();

    const auto result = Cli();

    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    // The partial temporary file went with the failure; the other files fitted.
    EXPECT_EQ(StatesNow(), Expect({"client/system/game.dat", "client/data/map.dat",
                                   "client/data/new.dat", "client/_settings.ini", "etc/hosts"}));

    ASSERT_TRUE(disk.Grow("16m"));
    const auto again = Cli({"--full"});
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(StatesNow(),
              Expect({"client/data/big.dat", "client/system/game.dat", "client/data/map.dat",
                      "client/data/new.dat", "client/_settings.ini", "etc/hosts"}));
}

// Files and folders without write bits are read-only for every user, root included.
TEST_F(DiskFaults, ReadOnlyFilesAndFoldersAreLeftAsTheyAre) {
    struct Case {
        const char* what;
        const char* path; // in the client folder, or the hosts file
        mode_t mode;
        int exitCode;
        std::set<std::string> nowNew;
        bool keepsList; // an error ended the run and files.lst stays
    };
    const Case cases[] = {
        // The entry fails and the queue goes on, as with any file that cannot be replaced.
        {"an installed file",
         "system/game.dat",
         0444,
         1,
         {"client/data/map.dat", "client/data/new.dat", "client/_settings.ini", "etc/hosts"},
         false},
        // Nothing can be downloaded into it: a local file that cannot be created ends the run.
        {"the installed file's folder", "system", 0555, 2, {"etc/hosts"}, true},
        {"_settings.ini",
         "_settings.ini",
         0444,
         2,
         {"client/system/game.dat", "client/data/map.dat", "client/data/new.dat", "etc/hosts"},
         false},
        {"the hosts file", "../etc/hosts", 0444, 2, {}, true},
        {"the client folder", ".", 0555, 2, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteClient();
        const std::string path = client + c.path;
        struct stat old {};
        ASSERT_EQ(::stat(path.c_str(), &old), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);

        const auto result = Cli();

        States states = StatesNow();
        ::chmod(path.c_str(), old.st_mode & 07777);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        EXPECT_EQ(states.erase("client/files.lst"), c.keepsList ? 1u : 0u);
        EXPECT_EQ(states, Expect(c.nowNew));

        // Writable again, the next run finishes the job.
        const auto again = Cli({"--full"});
        EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
        EXPECT_EQ(StatesNow(),
                  Expect({"client/system/game.dat", "client/data/map.dat", "client/data/new.dat",
                          "client/_settings.ini", "etc/hosts"}));
    }
}

// A settings file whose last line ends with a bare CR (as some editors leave it) gets the
// revision on a line of its own, and the line before reads as it did.
TEST_F(DiskFaults, ASettingsFileEndingInABareCarriageReturnStaysReadable) {
    const std::string settings = "[main]\r\nUpdatesUrl=" + Url() + "\r";
    WriteFile(client + "_settings.ini", settings);
    before = Snapshot();
    after["client/_settings.ini"] = Sha256(settings + "\nAtRevision=2\r\n");

    const auto result = Cli();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(StatesNow(), Expect({"client/system/game.dat", "client/data/map.dat",
                                   "client/data/new.dat", "client/_settings.ini", "etc/hosts"}));

    // The address still reads as it was written: the next run reaches the server.
    const auto again = Cli({"--full"});
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
}

} // namespace
} // namespace velmoran::testing
