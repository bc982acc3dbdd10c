// Process.cpp: detached program start over fork and exec.
#include "platform/Process.h"

#include "platform/CommandProcessor.h"
#include "platform/Files.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmoran::platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsProgramFile(const std::string& path) {
    return FileExists(path) && ::access(path.c_str(), X_OK) == 0;
}

// Finds a program named without a folder, as the system's program start would.
std::string LocateProgram(const std::string& name, const std::string& folder) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const std::string inFolder = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (FileExists(inFolder)) {
        return inFolder;
    }
    const std::string found = SearchPath(name);
    return found.empty() ? inFolder : found;
}

std::string InFolder(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.empty() || path.front() == '/') {
        return path;
    }
    return folder + "/" + path;
}

bool IsBatchScript(const std::string& program) {
    static constexpr std::string_view extension = ".bat";
    if (program.size() < extension.size()) {
        return false;
    }
    const std::string_view tail =
        std::string_view(program).substr(program.size() - extension.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != extension[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return {};
    }
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        const std::string candidate = std::string(dir.empty() ? "." : dir) + "/" + name;
        if (IsProgramFile(candidate)) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    return {};
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < commandLine.size()) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i == commandLine.size()) {
            break;
        }
        std::string word;
        bool quoted = false;
        for (; i < commandLine.size() && (quoted || !IsBlank(commandLine[i])); ++i) {
            if (commandLine[i] == '"') {
                quoted = !quoted;
            } else {
                word += commandLine[i];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> ResolveCommandLine(std::string_view commandLine,
                                            const std::string& folder) {
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) {
        ++start;
    }
    const std::string_view line = commandLine.substr(start);
    if (line.empty() || line.front() == '"') {
        auto words = SplitCommandLine(line);
        if (!words.empty()) {
            words[0] = LocateProgram(words[0], folder);
        }
        return words;
    }
    // An unquoted path: the longest stretch before a blank that names a file wins, so a
    // stray file named after the first word of a spaced folder name is never started.
    const std::size_t quote = line.find('"');
    const std::string_view unquoted = line.substr(0, quote);
    for (std::size_t cut = unquoted.size(); cut > 0; --cut) {
        if (cut < unquoted.size() && !IsBlank(unquoted[cut])) {
            continue;
        }
        const std::string candidate(unquoted.substr(0, cut));
        if (candidate.back() == ' ' || candidate.back() == '\t') {
            continue;
        }
        if (candidate.find('/') != std::string::npos && FileExists(InFolder(candidate, folder))) {
            std::vector<std::string> words{candidate};
            for (auto& word : SplitCommandLine(line.substr(cut))) {
                words.push_back(std::move(word));
            }
            return words;
        }
    }
    auto words = SplitCommandLine(line);
    words[0] = LocateProgram(words[0], folder);
    return words;
}

bool StartProgram(std::string_view commandLine, const std::string& folder) {
    std::vector<std::string> words = ResolveCommandLine(commandLine, folder);
    if (words.empty()) {
        return false;
    }
    if (IsBatchScript(words[0])) {
        // The script is opened by the processor, after it has entered folder; a missing
        // script or processor fails here, as a missing program fails at exec.
        const std::string processor = CommandProcessorPath();
        if (!FileExists(InFolder(words[0], folder)) || processor.empty()) {
            errno = ENOENT;
            return false;
        }
        words.insert(words.begin(), {processor, "/c"});
    }
    // Everything the children use is prepared here: after fork only async-signal-safe calls.
    std::vector<char*> argv;
    for (const auto& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const char* program = words[0].c_str();
    const char* workDir = folder.empty() ? nullptr : folder.c_str();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // The middle process ends at once, so the program is nobody's child to wait for.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        int error = 0;
        if (workDir != nullptr && ::chdir(workDir) != 0) {
            error = errno;
        }
        if (error == 0) {
            const int devNull = ::open("/dev/null", O_RDONLY);
            if (devNull >= 0) {
                ::dup2(devNull, STDIN_FILENO);
                ::close(devNull);
            }
            ::execv(program, argv.data());
            error = errno;
        }
        [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a word when exec succeeded.
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
        errno = error;
        return false;
    }
    return true;
}

} // namespace velmoran::platform
