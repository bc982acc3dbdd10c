// velmoran-cli: the update run in a terminal, for players without a display, for
// administrators and for scripts.
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/Http.h"
#include "platform/Path.h"
#include "platform/Thread.h"
#include "updater/engine/Gauge.h"
#include "updater/engine/GetFilesThr.h"
#include "updater/engine/Misc.h"
#include "updater/settings/ClientSettings.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

namespace velmoran {
namespace {

constexpr char kUsage[] = R"(Usage: velmoran-cli [--full | --play | --help]

Brings the game client in the current folder up to date, as the launcher window does,
and shows the progress in the terminal. The folder must hold _settings.ini.

  (no option)  the launcher's automatic check: the critical files, and every file
               when the server's list is newer than the revision applied last
  --full       a full check of every listed file, as the launcher's update button
  --play       start the game (RunCustom in _settings.ini) and return
  --help       this text

Exit status: 0 when the run finished (also with nothing to do), 1 when it ended with
"Update Failed", 2 when an error stopped it early (the error is printed).
Environment: VELMORAN_CONNECT_TIMEOUT and VELMORAN_STALL_TIMEOUT (seconds) shorten or
lengthen the network time-outs; http_proxy, https_proxy and no_proxy are honoured.
)";

constexpr int kBarWidth = 30;

// Draws the notifications: bars redrawn in place on a terminal, one line per status
// change otherwise.
class TerminalHost : public IUpdateHost {
public:
    TerminalHost(TStringList& settings, bool terminal) : settings_(settings), terminal_(terminal) {}

    void ShowStatus(const std::string& text) override {
        status_ = text;
        if (!terminal_ && !text.empty()) {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
        Draw(true);
    }
    void SetGaugeMax(int kind, std::int64_t maximum) override {
        if (kind == 0) {
            file_.SetMax(maximum);
        } else if (kind == 1) {
            total_.SetMax(maximum);
        }
        Draw(false);
    }
    void SetFileProgress(std::int64_t position) override {
        file_.SetPosition(position);
        Draw(false);
    }
    void SetTotalProgress(std::int64_t position) override {
        total_.SetPosition(position);
        Draw(false);
    }
    void LockButtons() override { locked_ = true; }
    void UnlockButtons() override {
        locked_ = false;
        finished_ = true;
        Draw(true);
    }
    void StoreRevision(const std::string& revisionText) override {
        WriteAtRevision(settings_, revisionText);
    }

    bool Finished() const noexcept { return finished_; }
    const std::string& Status() const noexcept { return status_; }

    // Leaves the cursor below the bars.
    void Close() {
        if (terminal_ && drawn_) {
            std::printf("\n");
            std::fflush(stdout);
        }
    }

private:
    static std::string Bar(const char* title, const TGaugeState& gauge) {
        const int percent = gauge.Percent();
        const int filled = percent * kBarWidth / 100;
        std::string line = title;
        line += " [";
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(kBarWidth - filled), '-');
        char tail[16];
        std::snprintf(tail, sizeof tail, "] %3d %%", percent);
        return line + tail;
    }

    void Draw(bool always) {
        if (!terminal_) {
            return;
        }
        // Progress comes once a kilobyte; the eye needs far fewer frames than that.
        const auto now = std::chrono::steady_clock::now();
        if (!always && now - lastDraw_ < std::chrono::milliseconds(50)) {
            return;
        }
        lastDraw_ = now;
        // Two lines: the status, then both bars; the cursor stays at the end of the bars.
        const std::string status = status_.substr(0, 78);
        std::printf("%s\x1b[2K%s\n\x1b[2K%s   %s", drawn_ ? "\r\x1b[1F" : "", status.c_str(),
                    Bar("File ", file_).c_str(), Bar("Total", total_).c_str());
        std::fflush(stdout);
        drawn_ = true;
    }

    TStringList& settings_;
    const bool terminal_;
    std::string status_;
    TGaugeState file_;
    TGaugeState total_;
    bool locked_ = false;
    bool finished_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

int Play(const TStringList& settings) {
    RunProgram(platform::JoinPath(settings[csFolder], settings[csRunCustom]));
    return 0;
}

int Update(TStringList& settings, bool fullCheck) {
    // Converted before anything starts, as the window does before it starts a run.
    const std::int32_t createBackup = platform::StrToInt(settings[csCreateBackup]);
    const std::int32_t atRevision = platform::StrToInt(settings[csAtRevision]);

    auto dispatcher = std::make_shared<platform::QueueDispatcher>();
    platform::InstallDispatcher(dispatcher);
    TerminalHost host(settings, ::isatty(STDOUT_FILENO) != 0);

    bool ended = false;
    std::exception_ptr fatal;
    auto* run = new GFilesThread(host);
    run->FreeOnTerminate = true;
    run->OnTerminate = [&](platform::Thread& thread) {
        ended = true;
        fatal = thread.FatalException();
    };
    run->UpdateUrl = settings[csUpdatesUrl];
    run->FullCheck = fullCheck;
    run->CreateBackup = createBackup;
    run->AtRevision = atRevision;
    run->Resume();

    dispatcher->RunUntil([&] { return ended; });
    host.Close();
    dispatcher->Shutdown();
    platform::InstallDispatcher(nullptr);

    if (!host.Finished()) {
        std::fprintf(stderr, "velmoran-cli: %s\n",
                     fatal ? platform::MessageOf(fatal, "unknown error").c_str()
                           : "the update run stopped early");
        return 2;
    }
    return host.Status() == "Update Failed" ? 1 : 0;
}

int Main(int argc, char** argv) {
    bool fullCheck = false;
    bool play = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) {
            fullCheck = true;
        } else if (std::strcmp(argv[i], "--play") == 0) {
            play = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "velmoran-cli: unknown option %s\n\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (fullCheck && play) {
        std::fprintf(stderr, "velmoran-cli: --full and --play exclude each other\n");
        return 2;
    }
    platform::HttpGlobalInit();

    TStringList settings;
    if (!ReadClientSettings(settings)) {
        std::fprintf(stderr, "ERROR: _settings.ini Not Found !\n");
        return 1;
    }
    try {
        return play ? Play(settings) : Update(settings, fullCheck);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmoran-cli: %s\n", e.what());
        return 2;
    }
}

} // namespace
} // namespace velmoran

int main(int argc, char** argv) {
    return velmoran::Main(argc, argv);
}
