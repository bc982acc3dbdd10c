// velmoran-publish: makes the folder an update server offers from a client folder.
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "tools/publish/Compress.h"
#include "tools/publish/Publish.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velmoran::publish {
namespace {

constexpr char kUsage[] = R"(Usage: velmoran-publish CLIENT_DIR OUT_DIR [options]

Packs every file of the client folder into OUT_DIR as <path>.bz2 and writes the update
list OUT_DIR/files.lst.bz2 that the updater reads. Serve OUT_DIR with any static web
server and set UpdatesUrl in the players' _settings.ini to its address.

  --rev N             the list's revision (default: the published list's revision + 1,
                      or 1 for a new folder)
  --critical PATTERN  files checked in every update run (files_critical); the others
                      are checked when the revision is new or on a full check.
                      Repeatable.
  --exclude PATTERN   leaves matching files and folders out. Repeatable.
  --self NAME         the updater's own file in the client folder's top level: listed
                      as the updater, which then replaces itself, and not as a file
  --hosts FILE        host mappings for the hosts section: "address host [host...]"
                      lines, "#" starts a comment
  --mod-hosts         makes the updater apply the hosts section (needs --hosts)
  --jobs N            compression threads (default: one per core)
  --help              this text

Patterns match the whole relative path, "/" or "\" between folder names: "*" matches
anything (also across folders), "?" one character, "[a-z]" one of a set. Examples:
--critical 'system/*.exe' --exclude '*.log' --exclude screenshots

Always left out: _settings.ini, files.lst, files.lst.bz2, Update.bat and the backup
folder in the top level (the updater's own files in a player's client folder).
Republishing packs only the files whose MD5 changed and deletes the packed files of
files that are gone. Nothing in OUT_DIR changes unless the publish succeeds.
Exit status: 0 published, 1 refused or failed (OUT_DIR unchanged), 2 bad usage.
)";

std::atomic<bool> interrupted{false};

extern "C" void OnSignal(int) {
    interrupted = true;
}

std::string Size(std::int64_t bytes) {
    char text[32];
    if (bytes >= (1 << 20)) {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    } else {
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    }
    return text;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "velmoran-publish: %s\n(--help shows the usage)\n", message.c_str());
    return 2;
}

int Main(int argc, char** argv) {
    PublishOptions options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.erase(eq);
                inlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue) {
                return true;
            }
            if (i + 1 >= argc) {
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--mod-hosts") {
            options.modHosts = true;
        } else if (arg == "--rev" || arg == "--critical" || arg == "--exclude" || arg == "--self" ||
                   arg == "--hosts" || arg == "--jobs") {
            if (!takeValue() || value.empty()) {
                return UsageError(arg + " needs a value");
            }
            if (arg == "--rev" || arg == "--jobs") {
                std::int32_t number = 0;
                try {
                    number = platform::StrToInt(value);
                } catch (const platform::EConvertError&) {
                    number = -1;
                }
                if (number < (arg == "--rev" ? 0 : 1)) {
                    return UsageError(arg + " needs a whole number" +
                                      (arg == "--rev" ? " from 0" : " from 1") + ", not " + value);
                }
                if (arg == "--rev") {
                    options.rev = number;
                } else {
                    options.jobs = static_cast<unsigned>(number);
                }
            } else if (arg == "--critical") {
                options.critical.push_back(value);
            } else if (arg == "--exclude") {
                options.exclude.push_back(value);
            } else if (arg == "--self") {
                options.selfName = value;
            } else {
                options.hostsFile = value;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return UsageError("needs CLIENT_DIR and OUT_DIR");
    }
    options.clientDir = positional[0];
    options.outDir = positional[1];
    options.cancel = &interrupted;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    PublishReport report;
    try {
        report = Publish(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmoran-publish: %s\n", e.what());
        return 1;
    }
    for (const std::string& warning : report.warnings) {
        std::fprintf(stderr, "velmoran-publish: warning: %s\n", warning.c_str());
    }
    std::printf("Published revision %d in %s: %zu files (%zu critical)%s%s, %s packed to %s\n",
                report.rev, options.outDir.c_str(), report.files, report.critical,
                report.self ? " and the updater" : "",
                report.hosts != 0 ? (", " + std::to_string(report.hosts) + " host mappings" +
                                     (options.modHosts ? "" : " (not applied: no --mod-hosts)"))
                                        .c_str()
                                  : "",
                Size(report.bytes).c_str(), Size(report.packedBytes).c_str());
    std::printf("Packed %zu, kept %zu unchanged, removed %zu\n", report.compressed, report.reused,
                report.removed);
    return 0;
}

} // namespace
} // namespace velmoran::publish

int main(int argc, char** argv) {
    return velmoran::publish::Main(argc, argv);
}
