// velmoran-cmd: runs a batch script in the current folder, as "cmd.exe /c script" does.
#include "platform/CommandProcessor.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    // Further words would be the script's parameters, which the update script never uses.
    if (argc < 3 || (std::string_view(argv[1]) != "/c" && std::string_view(argv[1]) != "/C")) {
        std::cerr << "usage: velmoran-cmd /c SCRIPT\n";
        return 1;
    }
    return velmoran::platform::RunBatchScript(argv[2]);
}
