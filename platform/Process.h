// Process.h: starting programs that outlive the program that started them.
//
// Stands in for WinExec: a command line is the program's path, optionally followed by
// arguments, with no quotes needed around a path that holds spaces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmoran::platform {

// The words of a command line: separated by blanks, a double-quoted stretch is one word
// (without its quotes). Backslashes have no special meaning.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The program and its arguments as a command line names them. An unquoted program path
// may contain spaces: the longest stretch up to a blank that names an existing file is
// taken as the program, the rest as its arguments; a path without a separator is looked
// for in folder (the current folder when empty), then in the folders of PATH.
std::vector<std::string> ResolveCommandLine(std::string_view commandLine,
                                            const std::string& folder = "");

// The first program file called name in the folders of PATH; empty when there is none.
std::string SearchPath(const std::string& name);

// Starts the command line detached from this process (own session, input from nowhere) in
// folder, or in the current folder when folder is empty. Returns false when the program
// could not be started; does not wait for it. A program ending in ".bat" (in any case) is
// a batch script: the command processor (CommandProcessor.h) runs it, as "/c script".
bool StartProgram(std::string_view commandLine, const std::string& folder = "");

} // namespace velmoran::platform
