// BuildCommand.cpp: argument parsing and a console observer for the build run.
#include "builder/BuildCommand.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <ostream>

namespace kelpforge {

namespace {

constexpr const char* kUsage =
    "Usage: Kelpforge --build ROOT [--server IP] [--name FILE] [--modify-host] [--critical] "
    "[--jobs N]\n"
    "  Packs every file below ROOT into Upload (in the current directory) and writes\n"
    "  Upload/updates.lst. Defaults: --server 127.0.0.1, --name Velmoran.exe, one packing\n"
    "  job per processor.\n";

// Prints what a window would show in its message boxes.
class TConsoleObserver : public TBuildObserver {
public:
    explicit TConsoleObserver(std::ostream& out) : out_(out) {}
    void SetTreeEnabled(bool) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ShowMessage(const std::string& text) override { out_ << text << '\n' << std::flush; }
    void ShowError(const std::string& text) override { out_ << text << '\n' << std::flush; }

private:
    std::ostream& out_;
};

} // namespace

bool IsBuildCommand(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--build") != args.end();
}

TBuildCommand ParseBuildCommand(const std::vector<std::string>& args) {
    TBuildCommand command;
    TBuildSettings& s = command.Settings;
    s.Server = "127.0.0.1";
    s.UpdaterName = "Velmoran.exe";
    s.Jobs = 0;
    bool haveRoot = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "--build" || arg == "--server" || arg == "--name" || arg == "--jobs";
        if (takesValue && i + 1 >= args.size()) {
            command.Error = arg + " needs a value";
            return command;
        }
        if (arg == "--build") {
            const std::string& root = args[++i];
            // The run's path arithmetic needs the full path; an empty one stays empty so
            // that it is refused as "no folder".
            s.Root =
                root.empty() ? root : std::filesystem::absolute(root).lexically_normal().string();
            haveRoot = true;
        } else if (arg == "--server") {
            s.Server = args[++i];
        } else if (arg == "--name") {
            s.UpdaterName = args[++i];
        } else if (arg == "--jobs") {
            const std::string& text = args[++i];
            unsigned jobs = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), jobs);
            if (ec != std::errc() || end != text.data() + text.size() || jobs == 0 || jobs > 256) {
                command.Error = "--jobs needs a number from 1 to 256, not \"" + text + "\"";
                return command;
            }
            s.Jobs = jobs;
        } else if (arg == "--modify-host") {
            s.ModifyHost = true;
        } else if (arg == "--critical") {
            s.Critical = true;
        } else {
            command.Error = "Unknown argument \"" + arg + "\"";
            return command;
        }
    }
    if (!haveRoot) {
        command.Error = "--build needs the client folder";
    }
    return command;
}

int RunBuildCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        out << kUsage;
        return 0;
    }
    const TBuildCommand command = ParseBuildCommand(args);
    if (!command.Error.empty()) {
        err << "Kelpforge: " << command.Error << '\n' << kUsage;
        return 2;
    }
    TConsoleObserver observer(out);
    TBuildRun run;
    return run.Run(command.Settings, observer) == TBuildOutcome::Done ? 0 : 1;
}

} // namespace kelpforge
