// Runs stopped at many points: killed (SIGKILL) at the k-th rename, write, unlink or
// fsync of a thread, or hit by a full disk or an I/O error there. Whatever the point, every
// file is old or new and whole, and the next run finishes the job.
#include "tests/faults/FaultFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmoran::testing {
namespace {

struct Interruption {
    const char* syscall;
    const char* action; // strace's injection: "signal=KILL", "error=ENOSPC", ...
    bool onward;        // every call from the k-th on fails, not the k-th alone
};

// Every k from 1 is a point, up to the first run that makes fewer such calls.
constexpr int kMostPoints = 60;

// AddressSanitizer's runtime probes memory by writing to a pipe of its own; a failed write
// there ends the process before the program sees one. Kills count the same either way.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kWriteErrorsReachTheProgram = false;
#elif defined(__has_feature)
constexpr bool kWriteErrorsReachTheProgram = !__has_feature(address_sanitizer);
#else
constexpr bool kWriteErrorsReachTheProgram = true;
#endif

const Interruption kInterruptions[] = {
    {"rename", "signal=KILL", false}, {"unlink", "signal=KILL", false},
    {"fsync", "signal=KILL", false},  {"write", "signal=KILL", false},
    {"write", "error=ENOSPC", true},  {"rename", "error=EIO", false},
    {"fsync", "error=EIO", false},
};

class InterruptedRuns : public FaultTest {
protected:
    // Calls are counted per thread. The settings are written by the main thread, and while
    // the worker has files to install, its own first calls always come first; a client
    // whose files are current but whose revision is behind puts the settings' calls first.
    void FilesCurrent() {
        for (const SourceFile& file : source) {
            WriteFile(client + file.path, file.content);
        }
        WriteFile(hostsDir + "hosts", newHosts);
        before = Snapshot();
    }

    void Sweep(bool filesCurrent);

    const std::set<std::string> kAll = {"client/system/game.dat", "client/data/map.dat",
                                        "client/data/new.dat", "client/_settings.ini", "etc/hosts"};
};

void InterruptedRuns::Sweep(bool filesCurrent) {
    for (const Interruption& fault : kInterruptions) {
        const bool kill = std::string(fault.action) == "signal=KILL";
        if (!kill && std::string(fault.syscall) == "write" && !kWriteErrorsReachTheProgram) {
            continue;
        }
        bool reachedTheEnd = false;
        for (int k = 1; k <= kMostPoints; ++k) {
            const std::string when = std::to_string(k) + (fault.onward ? "+" : "");
            SCOPED_TRACE(std::string(fault.syscall) + " " + fault.action + " at " + when);
            WriteClient();
            if (filesCurrent) {
                FilesCurrent();
            }

            const auto result = Cli({}, Inject(fault.syscall, fault.action, when));

            ASSERT_FALSE(result.timedOut);
            if (result.exitCode == 0) {
                // The run made fewer such calls: nothing was injected, the run is complete.
                EXPECT_EQ(StatesNow(), Expect(kAll)) << result.out << result.err;
                reachedTheEnd = true;
                break;
            }
            const States states = StatesNow();
            EXPECT_EQ(Damaged(states), std::vector<std::string>{});
            if (kill) {
                EXPECT_EQ(result.exitCode, -1) << result.out << result.err;
            } else {
                // An error is handled where it happens: nothing is left behind but the list
                // of a run that an error ended.
                EXPECT_TRUE(result.exitCode == 1 || result.exitCode == 2)
                    << result.exitCode << result.out << result.err;
                for (const auto& [name, state] : states) {
                    EXPECT_TRUE(state == "old" || state == "new" || name == "client/files.lst")
                        << name << ": " << state;
                }
            }

            // A killed run has not stored its revision, so the launcher's automatic check
            // looks at every file; after a failure the update button's full check does.
            const auto again =
                Cli(kill ? std::vector<std::string>{} : std::vector<std::string>{"--full"});
            EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
            EXPECT_EQ(StatesNow(), Expect(kAll)) << "no leftover survives the next run";
        }
        EXPECT_TRUE(reachedTheEnd) << "more than " << kMostPoints << " calls of " << fault.syscall;
    }
}

TEST_F(InterruptedRuns, EveryFileStaysWholeAndTheNextRunFinishes) {
    if (StraceProgram().empty()) {
        GTEST_SKIP() << "strace is missing or cannot trace here";
    }
    Sweep(false);
}

TEST_F(InterruptedRuns, TheSettingsStayWholeAndTheNextRunStoresTheRevision) {
    if (StraceProgram().empty()) {
        GTEST_SKIP() << "strace is missing or cannot trace here";
    }
    Sweep(true);
}

} // namespace
} // namespace velmoran::testing
