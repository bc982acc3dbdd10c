// FaultFixture.cpp: the old client, the new source and their records.
#include "tests/faults/FaultFixture.h"

#include "platform/Files.h"
#include "tests/support/Packing.h"
#include "updater/codecs/md5.h"

#include <cstdlib>
#include <filesystem>
#include <openssl/evp.h>
#include <sys/stat.h>

namespace velmoran::testing {

namespace fs = std::filesystem;

std::string Sha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        ADD_FAILURE() << "SHA-256 failed";
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0f];
    }
    return text;
}

namespace {

std::string ListPath(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

// Lines that compress well and differ by seed.
std::string Text(std::size_t size, int seed) {
    std::string text;
    for (int i = 0; text.size() < size; ++i) {
        text += "tile " + std::to_string(i) + " height " + std::to_string((i * seed) % 97) + "\n";
    }
    text.resize(size);
    return text;
}

// Every file below folder by "/" path, with its bytes; folders are walked, links not followed.
void Collect(const std::string& folder, const std::string& prefix,
             std::map<std::string, std::string>& files) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec)) {
            const std::string relative = fs::relative(entry.path(), folder, ec).generic_string();
            files[prefix + relative] = ReadFile(entry.path().string());
        }
    }
}

} // namespace

void FaultTest::SetUp() {
    server = std::make_unique<TestServer>(serverRoot);
    source = {
        {"system/game.dat", RandomBytes(256 * 1024, 2), true},
        {"readme.txt", "Welcome to the Ashen Crown.\n", true},
        {"data/map.dat", Text(160 * 1024, 3), false},
        {"data/new.dat", RandomBytes(20000, 4), false},
    };
    oldFiles = {
        {"system/game.dat", RandomBytes(200 * 1024, 1)},
        {"readme.txt", "Welcome to the Ashen Crown.\n"},
        {"data/map.dat", Text(150 * 1024, 5)},
        {"system/option.ini", "[Options]\r\nSound=1\r\n"},
    };
    newHosts = "127.0.0.1 localhost\r\n# the player's own line\r\n"
               "#-------- Added by RkUpdater --------\r\n"
               "10.0.0.7\tlogin.velmoran.test\r\n"
               "#-----------------\r\n";
    WriteClient();
    Publish();
}

void FaultTest::TearDown() {
    server.reset();
}

std::string FaultTest::SettingsText(int atRevision) const {
    return "[main]\r\nUpdatesUrl=" + Url() + "\r\nAtRevision=" + std::to_string(atRevision) +
           "\r\n";
}

void FaultTest::WriteClient() {
    std::error_code ec;
    for (const std::string& folder : {client, sentinel, hostsDir}) {
        fs::remove_all(folder, ec);
        fs::create_directories(folder);
    }
    for (const auto& [path, content] : oldFiles) {
        WriteFile(client + path, content);
    }
    WriteFile(client + "_settings.ini", SettingsText(1));
    WriteFile(hostsDir + "hosts", oldHosts);
    WriteFile(sentinel + "keep.txt", "beside the client");
    WriteFile(sentinel + "system/game.dat", "a file of the same name outside");

    before = Snapshot();
    after = before;
    for (const SourceFile& file : source) {
        after["client/" + file.path] = Sha256(file.content);
    }
    after["client/_settings.ini"] = Sha256(SettingsText(2));
    after["etc/hosts"] = Sha256(newHosts);
}

std::string FaultTest::Packed(const SourceFile& file) {
    return Bzip2(file.content);
}

std::string FaultTest::Entry(const SourceFile& file) const {
    return ListPath(file.path) + "|" + Md5Text(file.content) + "|" +
           std::to_string(Packed(file).size());
}

const SourceFile& FaultTest::Source(std::string_view path) const {
    for (const SourceFile& file : source) {
        if (file.path == path) {
            return file;
        }
    }
    throw std::invalid_argument("no such source file");
}

std::string FaultTest::ListText() const {
    std::string critical;
    std::string normal;
    for (const SourceFile& file : source) {
        (file.critical ? critical : normal) += Entry(file) + "\r\n";
    }
    return "[settings]\r\nRev|2\r\nModHosts|1\r\n[/settings]\r\n"
           "[hosts]\r\n10.0.0.7|login.velmoran.test\r\n[/hosts]\r\n"
           "[self]\r\n[/self]\r\n"
           "[files_critical]\r\n" +
           critical + "[/files_critical]\r\n[files_normal]\r\n" + normal + "[/files_normal]\r\n";
}

void FaultTest::Publish() {
    for (const SourceFile& file : source) {
        WriteFile(serverRoot + file.path + ".bz2", Packed(file));
    }
    WriteFile(serverRoot + "files.lst.bz2", Bzip2(ListText()));
}

Record FaultTest::Snapshot() const {
    std::map<std::string, std::string> files;
    Collect(client, "client/", files);
    Collect(hostsDir, "etc/", files);
    Collect(sentinel, "sentinel/", files);
    Record record;
    for (const auto& [name, content] : files) {
        record[name] = Sha256(content);
    }
    return record;
}

States FaultTest::StatesNow() const {
    std::map<std::string, std::string> files;
    Collect(client, "client/", files);
    Collect(hostsDir, "etc/", files);
    Collect(sentinel, "sentinel/", files);
    States states;
    for (const auto& [name, content] : files) {
        const std::string sha = Sha256(content);
        const auto old = before.find(name);
        const auto now = after.find(name);
        if (old != before.end() && old->second == sha) {
            states[name] = "old";
        } else if (now != after.end() && now->second == sha) {
            states[name] = "new";
        } else {
            states[name] = "other (" + std::to_string(content.size()) + " bytes)";
        }
    }
    return states;
}

States FaultTest::Expect(const std::set<std::string>& nowNew) const {
    States states;
    for (const auto& [name, sha] : after) {
        if (nowNew.count(name) != 0) {
            states[name] = before.count(name) != 0 && before.at(name) == sha ? "old" : "new";
        } else if (before.count(name) != 0) {
            states[name] = "old";
        }
    }
    for (const auto& name : nowNew) {
        EXPECT_EQ(after.count(name), 1u) << name << " has no new version";
    }
    return states;
}

bool FaultTest::IsLeftover(std::string_view name) {
    const bool inClient = name.starts_with("client/");
    if (!inClient && !name.starts_with("etc/")) {
        return false;
    }
    if (inClient && (name == "client/files.lst" || name.ends_with(".bz2"))) {
        return true;
    }
    // ".NAME.XXXXXX": a dot, the name, a dot and six letters or digits.
    const std::string_view file = name.substr(name.rfind('/') + 1);
    constexpr std::size_t kSuffix = 6;
    return file.size() > kSuffix + 2 && file.front() == '.' &&
           file[file.size() - kSuffix - 1] == '.' &&
           file.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
                                  file.size() - kSuffix) == std::string_view::npos;
}

std::vector<std::string> FaultTest::Damaged(const States& states) const {
    std::vector<std::string> damaged;
    for (const auto& [name, state] : states) {
        if (state != "old" && state != "new" && !IsLeftover(name)) {
            damaged.push_back(name + ": " + state);
        }
    }
    for (const auto& [name, sha] : before) {
        if (states.count(name) == 0) {
            damaged.push_back(name + ": gone");
        }
    }
    return damaged;
}

ProcessResult FaultTest::Cli(const std::vector<std::string>& args,
                             const std::vector<std::string>& wrapper,
                             std::chrono::seconds timeout) const {
    std::vector<std::string> argv = wrapper;
    argv.push_back(VELMORAN_CLI);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::pair<std::string, std::string>> environment = {
        {"VELMORAN_HOSTS_DIR", hostsDir},
        {"VELMORAN_STALL_TIMEOUT", "2"},
        {"VELMORAN_CONNECT_TIMEOUT", "2"},
        // The loopback server must be asked directly, whatever the machine's proxy.
        {"http_proxy", ""},
        {"all_proxy", ""},
        {"no_proxy", "127.0.0.1"}};
    if (!wrapper.empty()) {
        environment.push_back(TracedSanitizerOptions());
    }
    return RunProcess(argv, client, environment, timeout);
}

std::pair<std::string, std::string> TracedSanitizerOptions() {
    const char* options = std::getenv("ASAN_OPTIONS");
    std::string text = options != nullptr ? options : "";
    return {"ASAN_OPTIONS", text + (text.empty() ? "" : ":") + "detect_leaks=0"};
}

const std::string& StraceProgram() {
    static const std::string program = [] {
        for (const char* candidate : {"/usr/bin/strace", "/bin/strace"}) {
            if (::access(candidate, X_OK) == 0) {
                // Containers may forbid tracing; then nothing can be injected.
                const auto probe =
                    RunProcess({candidate, "-f", "-qq", "-o", "/dev/null", "/bin/true"}, "/");
                return probe.exitCode == 0 ? std::string(candidate) : std::string();
            }
        }
        return std::string();
    }();
    return program;
}

std::vector<std::string> FaultTest::Inject(const std::string& syscalls, const std::string& action,
                                           const std::string& when) {
    return {StraceProgram(),
            "-f",
            "-qq",
            "-o",
            "/dev/null",
            "-e",
            "trace=" + syscalls,
            "-e",
            "inject=" + syscalls + ":" + action + ":when=" + when};
}

} // namespace velmoran::testing
