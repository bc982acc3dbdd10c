// CommandProcessor.h: runs the updater's Update.bat where there is no cmd.exe.
//
// Understands exactly the commands the update script uses, with cmd's case-insensitive
// command words: "@echo off", "taskkill /IM name /F", "ping 127.0.0.1 -n N > nul",
// "del "file"", "rename from to" and "start program". "\" in paths is read as "/". Nothing
// is ever handed to a shell: any other line is reported on the error stream and skipped,
// and the script goes on, as cmd goes on after a failed command.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace velmoran::platform {

// Runs one script line in the current folder; a trailing CR or LF is ignored. Messages
// go to err, a command's normal output to out (unless the line sends it to nul).
// Returns the line's error level: 0 when the command succeeded.
int ExecuteBatchLine(std::string_view line, std::ostream& out, std::ostream& err);

// Runs every line of the script, in the current folder. The whole script is read first,
// so it may delete itself. Returns the last line's error level, 1 when the script
// cannot be read.
int RunBatchScript(const std::string& scriptPath, std::ostream& out, std::ostream& err);
int RunBatchScript(const std::string& scriptPath);

// Ends every process of this user (other than this one) whose program file is named
// imageName: the name of /proc/PID/exe, also when that file has been deleted or
// replaced, or the last part of its first argument. Names compare without regard to
// case, as on Windows. With force the processes are killed, otherwise asked to end.
// Returns how many were signalled.
int EndProcessesByName(std::string_view imageName, bool force);

// Where the command processor program (velmoran-cmd) is: $VELMORAN_COMMAND_PROCESSOR when
// set, else beside the running program, else in PATH. Empty when it is nowhere.
std::string CommandProcessorPath();

} // namespace velmoran::platform
