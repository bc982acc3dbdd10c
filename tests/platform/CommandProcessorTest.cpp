// The update script's command processor: single lines, whole scripts, and Update.bat
// started the way the updater starts it.
#include "platform/CommandProcessor.h"

#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmoran::platform {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

namespace fs = std::filesystem;

// Waits until done() holds or the deadline passes; returns whether it held.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::seconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A program name no other test, and no other run of these tests, uses: taskkill acts on
// every process of this user, so names must never reach beyond this test.
std::string UniqueName(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".exe";
}

void MakeExecutable(const std::string& path) {
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// A copy of the system's sleep program under another name.
void CopySleep(const std::string& to) {
    const std::string sleep = SearchPath("sleep");
    ASSERT_FALSE(sleep.empty());
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(sleep, to, fs::copy_options::overwrite_existing);
    MakeExecutable(to);
}

// A process this test starts and owns; one still running at the end is killed and reaped.
class Child {
public:
    // With user, the program runs as that user (and group of the same number).
    Child(const std::string& program, const std::vector<std::string>& args,
          std::optional<std::string> argv0 = std::nullopt,
          std::optional<uid_t> user = std::nullopt) {
        std::vector<std::string> words{argv0.value_or(program)};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (!user) {
            // posix_spawn returns once the program has been loaded, so /proc shows it at once.
            if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) !=
                0) {
                pid_ = -1;
            }
            return;
        }
        // The pipe closes when exec has loaded the program (or the child gave up).
        int loaded[2];
        if (::pipe2(loaded, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::setgid(*user) == 0 && ::setuid(*user) == 0) {
                ::execv(program.c_str(), argv.data());
            }
            ::_exit(127);
        }
        ::close(loaded[1]);
        char byte;
        while (pid_ > 0 && ::read(loaded[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(loaded[0]);
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    bool Running() { return !Reap(); }
    // Waits for the end and returns its wait status, nothing when it did not end in time.
    std::optional<int> WaitForEnd() {
        if (!WaitUntil([this] { return Reap(); })) {
            return std::nullopt;
        }
        return status_;
    }

private:
    bool Reap() {
        if (!reaped_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) {
            reaped_ = true;
        }
        return reaped_;
    }

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

bool KilledBy(const std::optional<int>& status, int sig) {
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == sig;
}

// Runs lines in the test's own folder, which is the current folder meanwhile.
class BatchTest : public TempDirTest {
protected:
    void SetUp() override {
        previousDir_ = GetCurrentDir();
        ASSERT_TRUE(SetCurrentDir(dir.Path()));
    }
    void TearDown() override { SetCurrentDir(previousDir_); }

    int Run(std::string_view line) {
        out.str("");
        err.str("");
        return ExecuteBatchLine(line, out, err);
    }

    // The folder without its trailing separator, as the current directory reads.
    std::string Folder() const { return dir.Path().substr(0, dir.Path().size() - 1); }

    std::ostringstream out;
    std::ostringstream err;

private:
    std::string previousDir_;
};

TEST_F(BatchTest, UpdateScriptReplacesTheRunningUpdaterAndCleansUp) {
    // A client folder with a blank in its name: the script quotes it in its del lines.
    const std::string client = dir / "Game Client";
    const std::string updater = UniqueName("Velmoran");
    CopySleep(client + "/" + updater);
    Child running(client + "/" + updater, {"60"});
    ASSERT_TRUE(running.Started());

    const std::string newUpdater = "#!/bin/sh\npwd > started.tmp && mv started.tmp started.txt\n";
    WriteFile(client + "/" + updater + ".New", newUpdater);
    MakeExecutable(client + "/" + updater + ".New");
    WriteFile(client + "/files.lst", "[settings]\r\n");
    // Exactly as the updater writes it, with backslashes in its paths and CR LF line ends.
    const std::vector<std::string> lines{
        "@echo off",
        "taskkill /IM " + updater + " /F",
        "ping 127.0.0.1 -n 3 > nul",
        "del \"" + client + "\\files.lst\"",
        "del \"" + client + "\\" + updater + "\"",
        "rename " + updater + ".New " + updater,
        "start " + updater,
        "del \"Update.bat\"",
    };
    std::string script;
    for (const auto& line : lines) {
        script += line + "\r\n";
    }
    WriteFile(client + "/Update.bat", script);

    // As the updater's RunProgram does it: enter the client folder, start the script.
    ASSERT_TRUE(SetCurrentDir(client));
    ASSERT_TRUE(StartProgram(client + "/Update.bat"));

    EXPECT_TRUE(KilledBy(running.WaitForEnd(), SIGKILL));
    ASSERT_TRUE(WaitUntil([&] {
        return FileExists(client + "/started.txt") && !FileExists(client + "/Update.bat");
    }));
    EXPECT_EQ(ReadFile(client + "/started.txt"), client + "\n");
    EXPECT_EQ(ReadFile(client + "/" + updater), newUpdater);
    EXPECT_FALSE(FileExists(client + "/" + updater + ".New"));
    EXPECT_FALSE(FileExists(client + "/files.lst"));
}

TEST_F(BatchTest, TaskkillEndsOnlyProcessesOfExactlyThatName) {
    const std::string name = UniqueName("Velmoran");
    const std::string stem = name.substr(0, name.size() - 4);
    std::string upper = name;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    struct Case {
        std::string file;                 // the program file, in the test's folder
        std::optional<std::string> argv0; // its first argument when not its path
        bool deleteFile;                  // the file is replaced while it runs
        bool ended;
    };
    const std::vector<Case> cases{
        // Known by the program file alone: the first argument says nothing.
        {"a/" + name, "sleep", false, true},
        {"b/" + name, "sleep", true, true},
        {"c/" + upper, "sleep", false, true}, // image names ignore case, as on Windows
        {"loader1", "/opt/game/" + name, false, true},
        {"loader2", "C:\\Game\\" + name, false, true},
        {"X" + name, std::nullopt, false, false},
        {name + ".bak", std::nullopt, false, false},
        {stem, std::nullopt, false, false},
        {"other", "/opt/game/" + name + ".old", false, false},
    };
    std::vector<std::unique_ptr<Child>> children;
    for (const auto& c : cases) {
        CopySleep(dir / c.file);
        children.push_back(
            std::make_unique<Child>(dir / c.file, std::vector<std::string>{"60"}, c.argv0));
        ASSERT_TRUE(children.back()->Started()) << c.file;
        if (c.deleteFile) {
            ASSERT_TRUE(DeleteFile(dir / c.file));
        }
    }

    EXPECT_EQ(Run("taskkill /IM " + name + " /F"), 0) << err.str();

    // Every signal is sent before the line returns: once the ended ones are gone, any
    // other that was hit would be gone too.
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].ended) {
            EXPECT_TRUE(KilledBy(children[i]->WaitForEnd(), SIGKILL)) << cases[i].file;
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!cases[i].ended) {
            EXPECT_TRUE(children[i]->Running()) << cases[i].file;
        }
    }
}

TEST_F(BatchTest, TaskkillLeavesOtherUsersProcessesAlone) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "starting a process as another user needs root";
    }
    // Root may signal anyone: only the owner check keeps the other user's process alive.
    const std::string name = UniqueName("Velmoran");
    const std::string sleep = SearchPath("sleep");
    Child mine(sleep, {"60"}, "/opt/game/" + name);
    Child theirs(sleep, {"60"}, "/opt/game/" + name, 65534);
    ASSERT_TRUE(mine.Started());
    ASSERT_TRUE(theirs.Started());

    EXPECT_EQ(Run("taskkill /IM " + name + " /F"), 0) << err.str();
    EXPECT_TRUE(KilledBy(mine.WaitForEnd(), SIGKILL));
    EXPECT_TRUE(theirs.Running());
}

TEST_F(BatchTest, TaskkillWithoutForceAsksToEndAndReportsNamesWithoutProcess) {
    const std::string name = UniqueName("Velmoran");
    CopySleep(dir / name);
    Child running(dir / name, {"60"});
    ASSERT_TRUE(running.Started());

    EXPECT_EQ(Run("TASKKILL /im " + name), 0);
    EXPECT_TRUE(KilledBy(running.WaitForEnd(), SIGTERM));

    EXPECT_EQ(Run("taskkill /IM " + UniqueName("Nobody") + " /F"), 128);
    EXPECT_NE(err.str().find("no process"), std::string::npos);
    for (const char* line : {"taskkill /F", "taskkill /IM", "taskkill /PID 1 /F"}) {
        EXPECT_EQ(Run(line), 1) << line;
        EXPECT_FALSE(err.str().empty()) << line;
    }
}

TEST_F(BatchTest, TheProcessorNeverEndsItself) {
    // A copy of the processor under a name of its own, told to end processes of that name.
    const std::string processor = CommandProcessorPath();
    ASSERT_TRUE(FileExists(processor)) << "velmoran-cmd is built beside the tests";
    const std::string name = UniqueName("Cmd");
    fs::copy_file(processor, dir / name);
    MakeExecutable(dir / name);
    WriteFile(dir / "marker.sh", "#!/bin/sh\ntouch marker.txt\n");
    MakeExecutable(dir / "marker.sh");
    WriteFile(dir / "self.bat", "taskkill /IM " + name + " /F\r\nstart marker.sh\r\n");

    Child cmd(dir / name, {"/c", "self.bat"});
    ASSERT_TRUE(cmd.Started());
    const auto status = cmd.WaitForEnd();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(WaitUntil([&] { return FileExists(dir / "marker.txt"); }));
}

TEST_F(BatchTest, DelRemovesFilesAndGoesOnWhenOneIsMissing) {
    WriteFile(dir / "sub/a.txt", "a");
    WriteFile(dir / "b.txt", "b");
    WriteFile(dir / "c d.txt", "c");
    WriteFile(dir / "sub/e.txt", "e");
    struct Case {
        std::string line;
        int level;
        std::string gone; // the file the line removes, empty for none
    };
    const std::vector<Case> cases{
        {"del \"sub\\a.txt\"", 0, "sub/a.txt"},
        {"DEL \"" + Folder() + "\\c d.txt\"", 0, "c d.txt"},
        {"del b.txt \"missing.txt\"", 0, "b.txt"},
        {"del \"sub\"", 1, ""},
        {"del \"sub\\*.txt\"", 1, ""},
        {"del", 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.line), c.level) << c.line;
        if (!c.gone.empty()) {
            EXPECT_FALSE(FileExists(dir / c.gone)) << c.line;
        }
    }
    EXPECT_EQ(Run("del \"missing.txt\""), 0);
    EXPECT_NE(err.str().find("missing.txt"), std::string::npos);
    EXPECT_TRUE(FileExists(dir / "sub/e.txt"));
}

TEST_F(BatchTest, RenameNeverReplacesAnExistingFile) {
    WriteFile(dir / "old.txt", "old");
    WriteFile(dir / "new.txt", "new");
    WriteFile(dir / "sub/a.txt", "a");

    EXPECT_EQ(Run("rename old.txt new.txt"), 1);
    EXPECT_NE(err.str().find("already exists"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "old.txt"), "old");
    EXPECT_EQ(ReadFile(dir / "new.txt"), "new");

    // The new name stays in the source's folder.
    EXPECT_EQ(Run("RENAME sub\\a.txt b.txt"), 0) << err.str();
    EXPECT_FALSE(FileExists(dir / "sub/a.txt"));
    EXPECT_EQ(ReadFile(dir / "sub/b.txt"), "a");

    for (const char* line : {"rename missing.txt x.txt", "rename old.txt sub\\x.txt",
                             "rename old.txt", "rename a b c"}) {
        EXPECT_EQ(Run(line), 1) << line;
        EXPECT_FALSE(err.str().empty()) << line;
    }
    EXPECT_EQ(ReadFile(dir / "old.txt"), "old");
    EXPECT_FALSE(FileExists(dir / "sub/x.txt"));
}

TEST_F(BatchTest, OtherLinesAreReportedAndNothingOfThemRuns) {
    WriteFile(dir / "a.txt", "a");
    const std::vector<std::string> lines{
        "touch made.txt",
        "\"touch\" made.txt",
        "copy a.txt made.txt",
        "cmd /c touch made.txt",
        "echo hello",
        // Chaining, piping and redirecting into files would run or write more than the
        // line's command: the whole line is refused.
        "del a.txt & touch made.txt",
        "del a.txt | touch made.txt",
        "del a.txt > made.txt",
        "del a.txt 2>&1",
    };
    for (const auto& line : lines) {
        EXPECT_NE(Run(line), 0) << line;
        EXPECT_FALSE(err.str().empty()) << line;
        EXPECT_TRUE(FileExists(dir / "a.txt")) << line;
        EXPECT_FALSE(FileExists(dir / "made.txt")) << line;
    }
    EXPECT_EQ(Run("touch made.txt"), 1);
    EXPECT_EQ(err.str(), "'touch' is not recognized as a command\n");

    for (const char* quiet : {"", "\r\n", "@echo off\r\n", "@ECHO OFF", "  @Echo On"}) {
        EXPECT_EQ(Run(quiet), 0) << quiet;
        EXPECT_EQ(err.str() + out.str(), "") << quiet;
    }
}

TEST_F(BatchTest, PingWaitsWithoutTheNetworkAndRefusesOtherForms) {
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Run("ping 127.0.0.1 -n 2 > nul"), 0) << err.str();
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(950));
    EXPECT_EQ(Run("PING localhost -N 1 >nul"), 0) << err.str();

    for (const char* line :
         {"ping 127.0.0.1 -n x", "ping 127.0.0.1 -n 0", "ping -n 1", "ping 192.0.2.1 -n 1",
          "ping 127.0.0.1 -w 10 -n 1", "ping 127.0.0.1 -n 1 > out.txt"}) {
        EXPECT_EQ(Run(line), 1) << line;
        EXPECT_FALSE(err.str().empty()) << line;
    }
    EXPECT_FALSE(FileExists(dir / "out.txt"));
}

TEST_F(BatchTest, StartRunsTheProgramDetachedInTheCurrentFolder) {
    WriteFile(dir / "tool.sh", "#!/bin/sh\necho \"$(pwd) $1\" > \"out-$1.tmp\" && "
                               "mv \"out-$1.tmp\" \"out-$1.txt\"\n");
    MakeExecutable(dir / "tool.sh");

    EXPECT_EQ(Run("start tool.sh one"), 0) << err.str();
    // A quoted first word is a window title.
    EXPECT_EQ(Run("START \"Velmoran\" tool.sh two"), 0) << err.str();
    ASSERT_TRUE(WaitUntil([&] { return FileExists(dir / "out-one.txt"); }));
    EXPECT_EQ(ReadFile(dir / "out-one.txt"), Folder() + " one\n");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(dir / "out-two.txt"); }));

    EXPECT_EQ(Run("start " + UniqueName("missing")), 1);
    EXPECT_FALSE(err.str().empty());
    EXPECT_EQ(Run("start"), 1);
}

TEST_F(BatchTest, ScriptRunsEveryLineAndMayDeleteItself) {
    WriteFile(dir / "a.txt", "a");
    WriteFile(dir / "b.txt", "b");
    // LF alone is accepted beside CR LF; the last line has no line end at all.
    WriteFile(dir / "s.bat", "@echo off\ndel \"a.txt\"\r\nbogus line\r\n\r\nrename b.txt c.txt\n"
                             "del \"s.bat\"");

    std::ostringstream messages;
    EXPECT_EQ(RunBatchScript(dir / "s.bat", out, messages), 0);
    EXPECT_EQ(messages.str(), "'bogus' is not recognized as a command\n");
    EXPECT_FALSE(FileExists(dir / "a.txt"));
    EXPECT_EQ(ReadFile(dir / "c.txt"), "b");
    EXPECT_FALSE(FileExists(dir / "s.bat"));

    // The level is the last line's.
    WriteFile(dir / "t.bat", "del \"c.txt\"\r\nrename missing.txt x.txt\r\n");
    EXPECT_EQ(RunBatchScript(dir / "t.bat", out, messages), 1);
    EXPECT_EQ(RunBatchScript(dir / "missing.bat", out, messages), 1);
}

// Replaces the processor StartProgram finds for the length of a test.
class ProcessorOverride {
public:
    explicit ProcessorOverride(const std::string& path) {
        if (const char* value = std::getenv(variable)) {
            previous_ = value;
        }
        ::setenv(variable, path.c_str(), 1);
    }
    ~ProcessorOverride() {
        if (previous_) {
            ::setenv(variable, previous_->c_str(), 1);
        } else {
            ::unsetenv(variable);
        }
    }
    ProcessorOverride(const ProcessorOverride&) = delete;
    ProcessorOverride& operator=(const ProcessorOverride&) = delete;

private:
    static constexpr const char* variable = "VELMORAN_COMMAND_PROCESSOR";
    std::optional<std::string> previous_;
};

TEST_F(BatchTest, StartProgramHandsBatchScriptsToTheCommandProcessor) {
    const std::string log = dir / "args.txt";
    WriteFile(dir / "fake-cmd.sh", "#!/bin/sh\n{ pwd; echo \"$#|$1|$2\"; } > \"" + log +
                                       ".tmp\" && mv \"" + log + ".tmp\" \"" + log + "\"\n");
    MakeExecutable(dir / "fake-cmd.sh");
    WriteFile(dir / "My Client/Update.BAT", "@echo off\r\n");
    const ProcessorOverride processor(dir / "fake-cmd.sh");
    EXPECT_EQ(CommandProcessorPath(), dir / "fake-cmd.sh");

    ASSERT_TRUE(StartProgram(dir / "My Client/Update.BAT", dir / "My Client"));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(log); }));
    EXPECT_EQ(ReadFile(log), dir / "My Client\n2|/c|" + dir / "My Client/Update.BAT\n");

    EXPECT_FALSE(StartProgram(dir / "missing.bat"));
}

} // namespace
} // namespace velmoran::platform
