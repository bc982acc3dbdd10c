// CommandProcessor.cpp: the update script's commands over POSIX and /proc.
#include "platform/CommandProcessor.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Process.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <span>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmoran::platform {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// One word of a line, its quotes removed.
struct Word {
    std::string text;
    bool quoted = false;
};

// A line taken apart as cmd would for these commands: words, and output sent to nul.
struct ParsedLine {
    std::vector<Word> words;
    bool discardOut = false;
    bool discardErr = false;
    std::string error; // why the line cannot be run; empty when it can
};

// Reads one word from i on. Characters that would make cmd chain, pipe or escape
// commands are refused rather than taken literally: the line would mean something else.
bool ReadWord(std::string_view text, std::size_t& i, Word& word, std::string& error) {
    bool quoted = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            word.quoted = true;
            ++i;
            continue;
        }
        if (!quoted) {
            if (IsBlank(c) || c == '>') {
                break;
            }
            if (c == '<' || c == '|' || c == '&' || c == '^') {
                error = std::string("'") + c + "' is not supported in a command line";
                return false;
            }
        }
        word.text += c;
        ++i;
    }
    return true;
}

ParsedLine ParseLine(std::string_view text) {
    ParsedLine line;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        const char c = text[i];
        const bool handleFirst = c >= '0' && c <= '9' && i + 1 < text.size() && text[i + 1] == '>';
        if (c == '>' || handleFirst) {
            const int handle = handleFirst ? c - '0' : 1;
            i += handleFirst ? 2 : 1;
            if (i < text.size() && text[i] == '>') {
                ++i; // appending to nul is the same as writing to it
            }
            while (i < text.size() && IsBlank(text[i])) {
                ++i;
            }
            Word target;
            if (!ReadWord(text, i, target, line.error)) {
                return line;
            }
            if (!EqualsIgnoringCase(target.text, "nul") || (handle != 1 && handle != 2)) {
                line.error = "only output to nul can be redirected";
                return line;
            }
            (handle == 1 ? line.discardOut : line.discardErr) = true;
            continue;
        }
        Word word;
        if (!ReadWord(text, i, word, line.error)) {
            return line;
        }
        line.words.push_back(std::move(word));
    }
    return line;
}

using Args = std::span<const Word>;

int SyntaxError(std::string_view command, std::ostream& err) {
    err << command << ": the syntax of the command is incorrect\n";
    return 1;
}

int Echo(Args args, std::ostream& err) {
    // Only switching the echo of commands, which this processor never does anyway.
    if (args.size() == 1 &&
        (EqualsIgnoringCase(args[0].text, "off") || EqualsIgnoringCase(args[0].text, "on"))) {
        return 0;
    }
    err << "echo: only \"echo off\" and \"echo on\" are understood\n";
    return 1;
}

int TaskKill(Args args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> names;
    bool force = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (EqualsIgnoringCase(args[i].text, "/IM")) {
            if (++i == args.size()) {
                return SyntaxError("taskkill", err);
            }
            names.push_back(args[i].text);
        } else if (EqualsIgnoringCase(args[i].text, "/F")) {
            force = true;
        } else {
            err << "taskkill: option " << args[i].text << " is not supported\n";
            return 1;
        }
    }
    if (names.empty()) {
        return SyntaxError("taskkill", err);
    }
    int level = 0;
    for (const auto& name : names) {
        const int ended = EndProcessesByName(name, force);
        if (ended == 0) {
            err << "taskkill: no process \"" << name << "\" found\n";
            level = 128; // taskkill's level for a name that matches nothing
        } else {
            out << "taskkill: " << (force ? "killed " : "asked to end ") << ended
                << " process(es) \"" << name << "\"\n";
        }
    }
    return level;
}

bool IsLoopback(std::string_view host) {
    if (EqualsIgnoringCase(host, "localhost") || host == "::1") {
        return true;
    }
    if (!host.starts_with("127.")) {
        return false;
    }
    for (const char c : host) {
        if (c != '.' && (c < '0' || c > '9')) {
            return false;
        }
    }
    return true;
}

// Stands in for pinging the local machine to wait: N echo requests a second apart take
// about N - 1 seconds. Nothing is sent anywhere.
int Ping(Args args, std::ostream& err) {
    std::string host;
    unsigned long long count = 4; // ping's default
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i].text;
        if (EqualsIgnoringCase(word, "-n")) {
            if (++i == args.size()) {
                return SyntaxError("ping", err);
            }
            const std::string& value = args[i].text;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), count);
            if (ec != std::errc() || end != value.data() + value.size() || count == 0 ||
                count > UINT_MAX) {
                err << "ping: bad value for option -n: " << value << "\n";
                return 1;
            }
        } else if (word.starts_with("-")) {
            err << "ping: option " << word << " is not supported\n";
            return 1;
        } else if (host.empty()) {
            host = word;
        } else {
            return SyntaxError("ping", err);
        }
    }
    if (host.empty()) {
        return SyntaxError("ping", err);
    }
    if (!IsLoopback(host)) {
        err << "ping: only the local machine can be pinged, not " << host << "\n";
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(count - 1));
    return 0;
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

int Del(Args args, std::ostream& err) {
    if (args.empty()) {
        return SyntaxError("del", err);
    }
    int level = 0;
    for (const auto& arg : args) {
        const std::string path = ToNativePath(arg.text);
        if (HasWildcard(path)) {
            err << "del: wildcards are not supported: " << arg.text << "\n";
            level = 1;
        } else if (!DeleteFile(path)) {
            if (errno == ENOENT) {
                // Not an error for cmd either: it says so and goes on.
                err << "Could not find " << path << "\n";
            } else {
                err << "del: cannot delete " << path << ": " << SystemErrorText(errno) << "\n";
                level = 1;
            }
        }
    }
    return level;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// rename never replaces: like cmd, an existing target makes it fail and both stay.
int Rename(Args args, std::ostream& err) {
    if (args.size() != 2) {
        return SyntaxError("rename", err);
    }
    const std::string from = ToNativePath(args[0].text);
    const std::string& newName = args[1].text;
    // The new name is a name in the source's folder, never a path of its own.
    if (newName.empty() || newName.find_first_of("/\\") != std::string::npos) {
        return SyntaxError("rename", err);
    }
    if (HasWildcard(from) || HasWildcard(newName)) {
        err << "rename: wildcards are not supported\n";
        return 1;
    }
    const std::string to = ExtractFilePath(from) + newName;
    if (!PathExists(from)) {
        err << "rename: cannot find " << from << "\n";
        return 1;
    }
    int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system that cannot refuse replacing in one step: check, then rename.
        if (PathExists(to)) {
            errno = EEXIST;
        } else {
            result = ::rename(from.c_str(), to.c_str());
        }
    }
    if (result == 0) {
        return 0;
    }
    if (errno == EEXIST) {
        err << "rename: " << to << " already exists\n";
    } else {
        err << "rename: cannot rename " << from << " to " << newName << ": "
            << SystemErrorText(errno) << "\n";
    }
    return 1;
}

// start [title] program [arguments]: the program runs detached, in the current folder.
int Start(Args args, std::ostream& err) {
    // As with cmd, a quoted first word is the window title, which has no use here.
    if (!args.empty() && args[0].quoted && args.size() > 1) {
        args = args.subspan(1);
    }
    if (args.empty()) {
        return SyntaxError("start", err);
    }
    // Every word quoted, so that the words stay the words they are here.
    std::string commandLine = "\"" + ToNativePath(args[0].text) + "\"";
    for (const auto& arg : args.subspan(1)) {
        commandLine += " \"" + arg.text + "\"";
    }
    if (!StartProgram(commandLine, GetCurrentDir())) {
        err << "start: cannot start " << args[0].text << ": " << SystemErrorText(errno) << "\n";
        return 1;
    }
    return 0;
}

// The real user id of a process, from the first number of its "Uid:" line.
bool ProcessRealUid(const std::string& procDir, uid_t& uid) {
    std::ifstream status(procDir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Uid:")) {
            std::size_t i = 4;
            while (i < line.size() && IsBlank(line[i])) {
                ++i;
            }
            unsigned long value = 0;
            const auto [end, ec] =
                std::from_chars(line.data() + i, line.data() + line.size(), value);
            if (ec != std::errc() || end == line.data() + i) {
                return false;
            }
            uid = static_cast<uid_t>(value);
            return true;
        }
    }
    return false;
}

std::string_view BaseName(std::string_view path, std::string_view separators) {
    const auto cut = path.find_last_of(separators);
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool HasImageName(const std::string& procDir, std::string_view imageName) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target);
    if (n > 0) {
        std::string_view exe(target, static_cast<std::size_t>(n));
        // The program file may be gone already: the update replaces it while it runs.
        static constexpr std::string_view deleted = " (deleted)";
        if (exe.ends_with(deleted)) {
            exe.remove_suffix(deleted.size());
        }
        if (EqualsIgnoringCase(BaseName(exe, "/"), imageName)) {
            return true;
        }
    }
    // Programs run through a loader or an interpreter are known by their first argument,
    // which may be a Windows path.
    std::ifstream cmdline(procDir + "/cmdline", std::ios::binary);
    std::string argv0;
    std::getline(cmdline, argv0, '\0');
    return !argv0.empty() && EqualsIgnoringCase(BaseName(argv0, "/\\"), imageName);
}

// Sends sig through a pidfd taken before the process was examined, so that a process
// that ends meanwhile and whose number is reused is not hit in its place.
class ProcessHandle {
public:
    explicit ProcessHandle(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
        fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        gone_ = fd_ < 0 && errno == ESRCH;
#endif
    }
    ~ProcessHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    bool Gone() const noexcept {
        return gone_;
    }
    bool Signal(int sig) const {
#ifdef SYS_pidfd_send_signal
        if (fd_ >= 0) {
            return ::syscall(SYS_pidfd_send_signal, fd_, sig, nullptr, 0) == 0;
        }
#endif
        // Without pidfds (old kernels, filtered system calls) the plain number it is.
        return ::kill(pid_, sig) == 0;
    }

private:
    pid_t pid_;
    int fd_ = -1;
    bool gone_ = false;
};

} // namespace

int EndProcessesByName(std::string_view imageName, bool force) {
    if (imageName.empty()) {
        return 0;
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    const uid_t user = ::getuid();
    const pid_t self = ::getpid();
    int ended = 0;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string_view name(entry->d_name);
        pid_t pid = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec != std::errc() || end != name.data() + name.size() || pid <= 0 || pid == self) {
            continue;
        }
        const ProcessHandle process(pid);
        if (process.Gone()) {
            continue;
        }
        const std::string procDir = "/proc/" + std::string(name);
        uid_t owner = 0;
        if (!ProcessRealUid(procDir, owner) || owner != user || !HasImageName(procDir, imageName)) {
            continue;
        }
        if (process.Signal(force ? SIGKILL : SIGTERM)) {
            ++ended;
        }
    }
    ::closedir(proc);
    return ended;
}

std::string CommandProcessorPath() {
    static constexpr const char* programName = "velmoran-cmd";
    if (const char* configured = std::getenv("VELMORAN_COMMAND_PROCESSOR");
        configured != nullptr && *configured != '\0') {
        return configured;
    }
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self);
    if (n > 0) {
        const std::string_view exe(self, static_cast<std::size_t>(n));
        const auto cut = exe.find_last_of('/');
        if (cut != std::string_view::npos) {
            const std::string beside = std::string(exe.substr(0, cut + 1)) + programName;
            if (FileExists(beside) && ::access(beside.c_str(), X_OK) == 0) {
                return beside;
            }
        }
    }
    return SearchPath(programName);
}

int ExecuteBatchLine(std::string_view line, std::ostream& out, std::ostream& err) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    // "@" only keeps cmd from echoing the line.
    std::size_t start = 0;
    while (start < line.size() && (IsBlank(line[start]) || line[start] == '@')) {
        ++start;
    }
    line.remove_prefix(start);
    if (line.empty()) {
        return 0;
    }
    const ParsedLine parsed = ParseLine(line);
    if (!parsed.error.empty()) {
        err << parsed.error << ": " << line << "\n";
        return 1;
    }
    if (parsed.words.empty()) {
        return 0;
    }
    std::ostream discard(nullptr);
    std::ostream& o = parsed.discardOut ? discard : out;
    std::ostream& e = parsed.discardErr ? discard : err;
    const std::string& command = parsed.words[0].text;
    const Args args = Args(parsed.words).subspan(1);
    if (parsed.words[0].quoted) {
        // A quoted word names a program, which this processor never runs.
    } else if (EqualsIgnoringCase(command, "echo")) {
        return Echo(args, e);
    } else if (EqualsIgnoringCase(command, "taskkill")) {
        return TaskKill(args, o, e);
    } else if (EqualsIgnoringCase(command, "ping")) {
        return Ping(args, e);
    } else if (EqualsIgnoringCase(command, "del")) {
        return Del(args, e);
    } else if (EqualsIgnoringCase(command, "rename")) {
        return Rename(args, e);
    } else if (EqualsIgnoringCase(command, "start")) {
        return Start(args, e);
    }
    e << "'" << command << "' is not recognized as a command\n";
    return 1;
}

int RunBatchScript(const std::string& scriptPath, std::ostream& out, std::ostream& err) {
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in) {
        err << "cannot read the script " << scriptPath << "\n";
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    int level = 0;
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line = std::string_view(text).substr(begin, end - begin);
        begin = end + 1;
        if (line.find_first_not_of(" \t\r@") == std::string_view::npos) {
            continue; // a blank line leaves the level as it was
        }
        level = ExecuteBatchLine(line, out, err);
        out.flush();
    }
    return level;
}

int RunBatchScript(const std::string& scriptPath) {
    return RunBatchScript(scriptPath, std::cout, std::cerr);
}

} // namespace velmoran::platform
