// BuildCommand.h: the build run from the command line, for scripts and continuous
// delivery: Kelpforge --build ROOT [--server IP] [--name FILE] [--modify-host]
// [--critical] [--jobs N]. No window and no display are needed.
#pragma once

#include "builder/BuildRun.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kelpforge {

// Whether the arguments (without the program name) ask for a build without a window.
bool IsBuildCommand(const std::vector<std::string>& args);

// The settings the arguments ask for, or the reason they cannot be used. The root is
// made a full path against the current directory.
struct TBuildCommand {
    TBuildSettings Settings;
    std::string Error; // empty when the arguments are usable
};
TBuildCommand ParseBuildCommand(const std::vector<std::string>& args);

// Runs the build the arguments ask for. Its messages go to out, one a line; usage errors
// to err. Returns the exit status: 0 for "Done! ...", 1 when the run did not complete,
// 2 for arguments that cannot be used.
int RunBuildCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace kelpforge
