// UpdateRunFixture.h: a client folder, a server folder behind the loopback test server, and
// an update run whose notifications are recorded in order.
#pragma once

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "tests/fixtures/TestServer.h"
#include "tests/support/Packing.h"
#include "tests/support/TempDir.h"
#include "updater/codecs/md5.h"
#include "updater/engine/GetFilesThr.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::testing {

// Records every notification as a short text: "lock", "unlock", "status:TEXT",
// "max0:N" / "max1:N" (gauge kind and maximum), "file:N", "total:N", "rev:TEXT".
class RecordingHost : public IUpdateHost {
public:
    void ShowStatus(const std::string& text) override { events.push_back("status:" + text); }
    void SetGaugeMax(int kind, std::int64_t maximum) override {
        if (maximum < 0) {
            throw platform::Exception("Gauge maximum out of range");
        }
        events.push_back("max" + std::to_string(kind) + ":" + std::to_string(maximum));
    }
    void SetFileProgress(std::int64_t position) override {
        events.push_back("file:" + std::to_string(position));
    }
    void SetTotalProgress(std::int64_t position) override {
        events.push_back("total:" + std::to_string(position));
    }
    void LockButtons() override { events.push_back("lock"); }
    void UnlockButtons() override { events.push_back("unlock"); }
    void StoreRevision(const std::string& revisionText) override {
        events.push_back("rev:" + revisionText);
    }

    std::vector<std::string> events;
};

struct RunOutcome {
    std::vector<std::string> events; // without the file gauge's progress
    std::vector<std::string> all;    // every notification
    std::string fatal;               // the message of the error that ended the run early

    bool Unlocked() const { return !all.empty() && all.back() == "unlock"; }
    // The last status text shown.
    std::string FinalStatus() const {
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            if (it->rfind("status:", 0) == 0) {
                return it->substr(7);
            }
        }
        return "<none>";
    }
};

struct RunInputs {
    bool fullCheck = false;
    int createBackup = 0;
    int atRevision = 0;
    std::optional<std::string> url; // the test server's address when not given
};

// The sections of a list; lines are written as given.
struct ListSpec {
    std::string rev = "1";
    std::string modHosts = "0";
    std::vector<std::string> hosts;
    std::vector<std::string> self;
    std::vector<std::string> critical;
    std::vector<std::string> normal;
};

class UpdateRunTest : public TempDirTest {
protected:
    void SetUp() override {
        platform::ForceDirectories(client);
        platform::ForceDirectories(serverRoot);
        platform::ForceDirectories(sentinel);
        platform::ForceDirectories(hostsDir);
        WriteFile(sentinel + "keep.txt", "untouched");
        ::setenv("VELMORAN_HOSTS_DIR", hostsDir.c_str(), 1);
        ::setenv("VELMORAN_STALL_TIMEOUT", "2", 1);
        ::setenv("VELMORAN_CONNECT_TIMEOUT", "2", 1);
        server = std::make_unique<TestServer>(serverRoot);
    }
    void TearDown() override { server.reset(); }

    // Puts content on the server under the list path (with "\") and gives its entry line.
    std::string Serve(const std::string& listPath, const std::string& content) {
        std::string serverPath = listPath;
        for (char& c : serverPath) {
            if (c == '\\') {
                c = '/';
            }
        }
        const std::string packed = Bzip2(content);
        WriteFile(serverRoot + serverPath + ".bz2", packed);
        return listPath + "|" + Md5Text(content) + "|" + std::to_string(packed.size());
    }

    static std::string ListText(const ListSpec& list) {
        std::string text = "[settings]\r\n";
        if (!list.rev.empty()) {
            text += "Rev|" + list.rev + "\r\n";
        }
        text += "ModHosts|" + list.modHosts + "\r\n[/settings]\r\n";
        const std::pair<const char*, const std::vector<std::string>*> sections[] = {
            {"hosts", &list.hosts},
            {"self", &list.self},
            {"files_critical", &list.critical},
            {"files_normal", &list.normal}};
        for (const auto& [name, lines] : sections) {
            text += std::string("[") + name + "]\r\n";
            for (const auto& line : *lines) {
                text += line + "\r\n";
            }
            text += std::string("[/") + name + "]\r\n";
        }
        return text;
    }

    void PublishList(const ListSpec& list) {
        WriteFile(serverRoot + "files.lst.bz2", Bzip2(ListText(list)));
    }

    RunOutcome Run(const RunInputs& inputs = {}) {
        const std::string before = platform::GetCurrentDir();
        EXPECT_TRUE(platform::SetCurrentDir(client));
        auto dispatcher = std::make_shared<platform::QueueDispatcher>();
        platform::InstallDispatcher(dispatcher);
        RecordingHost host;
        bool ended = false;
        RunOutcome outcome;
        auto* run = new GFilesThread(host);
        run->FreeOnTerminate = true;
        run->OnTerminate = [&](platform::Thread& thread) {
            ended = true;
            if (auto error = thread.FatalException()) {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    outcome.fatal = e.what();
                }
            }
        };
        run->UpdateUrl = inputs.url.value_or(server->Url());
        run->FullCheck = inputs.fullCheck;
        run->CreateBackup = inputs.createBackup;
        run->AtRevision = inputs.atRevision;
        run->Resume();
        dispatcher->RunUntil([&] { return ended; });
        dispatcher->Shutdown();
        platform::InstallDispatcher(nullptr);
        EXPECT_TRUE(platform::SetCurrentDir(before));
        outcome.all = host.events;
        for (const auto& event : host.events) {
            if (event.rfind("file:", 0) != 0) {
                outcome.events.push_back(event);
            }
        }
        return outcome;
    }

    // Every file under folder with its content, by relative path.
    static std::map<std::string, std::string> Snapshot(const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : platform::ListDirectory(folder)) {
            const std::string path = folder + entry.name;
            if (entry.IsDirectory()) {
                for (auto& [name, content] : Snapshot(path + "/")) {
                    files[entry.name + "/" + name] = content;
                }
            } else {
                files[entry.name] = ReadFile(path);
            }
        }
        return files;
    }

    std::string client = dir / "client/";
    std::string serverRoot = dir / "server/";
    std::string sentinel = dir / "sentinel/";
    std::string hostsDir = dir / "etc/";
    std::unique_ptr<TestServer> server;
};

} // namespace velmoran::testing
