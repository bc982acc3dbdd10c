// Publish.cpp: the walk over the client folder, the parallel packing and the list.
#include "tools/publish/Publish.h"

#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Stream.h"
#include "platform/System.h"
#include "tools/publish/Compress.h"
#include "tools/publish/Glob.h"
#include "updater/codecs/BZip2.h"
#include "updater/codecs/md5.h"
#include "updater/engine/LstFile.h"
#include "updater/engine/Misc.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

namespace velmoran::publish {
namespace {

constexpr const char* kListName = "files.lst.bz2";
// Deeper than any real client; a symbolic link loop gets here quickly.
constexpr int kMaxDepth = 64;

struct ClientFile {
    std::string listPath; // "\" between folder names, as the list has it
    std::string source;   // native path in the client folder
    std::int64_t size = 0;
};

struct OldEntry {
    std::string digest;
    std::int64_t packed = -1;
};

// What the published folder held before this publish.
struct OldList {
    bool present = false;
    bool readable = false;
    std::int32_t rev = 0;
    std::string problem;
    std::map<std::string, OldEntry> entries; // self and file entries by path
};

// One file to pack (or to keep packed).
struct Job {
    const ClientFile* file = nullptr;
    std::string target; // native path of the packed file in the published folder
    std::string temp;   // the new packed file until it is renamed over target
    std::string digest;
    std::int64_t packed = 0;
    std::int64_t size = 0;
    bool reused = false;
};

Job MakeJob(const ClientFile& file, const std::string& outBase) {
    Job job;
    job.file = &file;
    job.target = platform::JoinPath(outBase, file.listPath + ".bz2");
    return job;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Why the updater could not use a file or folder of this name; empty when it can.
std::string NameProblem(const std::string& name) {
    if (name.find('|') != std::string::npos) {
        return "a \"|\" in a name would split the list entry";
    }
    if (name.find('\\') != std::string::npos) {
        return "the updater reads \"\\\" as a folder separator";
    }
    return {};
}

std::string PathProblem(const std::string& listPath) {
    if (!IsSafeListPath(listPath)) {
        return "the updater refuses this path (a control character, \":\" or \"..\")";
    }
    if (static_cast<unsigned char>(listPath.front()) <= 32) {
        return "list lines are trimmed, so a name that starts with a blank would be read as "
               "another name";
    }
    // The download address is the path as it is, without any escaping.
    if (listPath.find_first_of("#?%") != std::string::npos) {
        return "the updater puts the path into the download address unescaped, where \"#\", "
               "\"?\" or \"%\" makes the server look for another file";
    }
    return {};
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& listPath) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return GlobMatch(p, listPath); });
}

class Walker {
public:
    explicit Walker(const PublishOptions& options) : options_(options) {}

    void Walk(const std::string& folder, const std::string& prefix, int depth) {
        if (depth > kMaxDepth) {
            throw EPublishError(Quoted(folder) +
                                ": folders nested too deep (a symbolic link loop?)");
        }
        std::vector<platform::DirEntry> entries;
        try {
            entries = platform::ListDirectory(folder);
        } catch (const platform::Exception& e) {
            throw EPublishError(Quoted(folder) + ": " + e.what());
        }
        for (const auto& entry : entries) {
            const std::string listPath = prefix.empty() ? entry.name : prefix + "\\" + entry.name;
            const std::string native = folder + entry.name;
            if (depth == 0 && !options_.selfName.empty() && entry.name == options_.selfName &&
                !entry.IsDirectory()) {
                self_ = ClientFile{listPath, native, entry.size};
                continue;
            }
            if (depth == 0 && std::find(BuiltInExclusions().begin(), BuiltInExclusions().end(),
                                        entry.name) != BuiltInExclusions().end()) {
                continue;
            }
            if (MatchesAny(options_.exclude, listPath)) {
                continue;
            }
            std::string problem = NameProblem(entry.name);
            if (problem.empty()) {
                problem = PathProblem(listPath);
            }
            if (!problem.empty()) {
                // A refused folder is named once; what it holds is not looked at.
                problems_.push_back(Quoted(listPath) + ": " + problem);
                continue;
            }
            if (entry.IsDirectory()) {
                Walk(native + platform::PathDelimiter, listPath, depth + 1);
            } else {
                files_.push_back(ClientFile{listPath, native, entry.size});
            }
        }
    }

    std::vector<ClientFile>& Files() { return files_; }
    const std::optional<ClientFile>& Self() const { return self_; }
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    const PublishOptions& options_;
    std::vector<ClientFile> files_;
    std::optional<ClientFile> self_;
    std::vector<std::string> problems_;
};

bool IsHostName(const std::string& name) {
    if (name.empty() || name.size() > 253) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_';
    });
}

// "address host [host...]" lines, "#" comments, into "address|host" entries.
std::vector<std::string> ReadHosts(const std::string& path) {
    platform::TMemoryStream content;
    try {
        content.LoadFromFile(path);
    } catch (const platform::Exception& e) {
        throw EPublishError("the hosts file " + Quoted(path) + ": " + e.what());
    }
    const std::string text(reinterpret_cast<const char*>(content.Memory()),
                           static_cast<std::size_t>(content.Size()));
    std::vector<std::string> entries;
    std::size_t begin = 0;
    for (int number = 1; begin < text.size(); ++number) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        std::vector<std::string> words;
        std::size_t at = 0;
        while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
            const std::size_t stop = line.find_first_of(" \t\r", at);
            words.push_back(line.substr(at, stop == std::string::npos ? stop : stop - at));
            at = stop;
        }
        if (words.empty()) {
            continue;
        }
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!platform::IsIpAddress(words[0])) {
            throw EPublishError(where + Quoted(words[0]) + " is not an IP address");
        }
        if (words.size() < 2) {
            throw EPublishError(where + "an address without a host name");
        }
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (!IsHostName(words[i])) {
                throw EPublishError(where + Quoted(words[i]) + " is not a host name");
            }
            entries.push_back(words[0] + "|" + words[i]);
        }
    }
    return entries;
}

OldList ReadOldList(const std::string& packedList) {
    OldList old;
    if (!platform::FileExists(packedList)) {
        return old;
    }
    old.present = true;
    std::string temp;
    try {
        temp = platform::CreateTempFileBeside(
            (std::filesystem::temp_directory_path() / "velmoran-publish-list").string());
        {
            platform::TFileStream in(packedList, platform::TFileStream::Mode::OpenRead);
            platform::TFileStream out(temp, platform::TFileStream::Mode::Create);
            TBZDecompressionStream unpacker(in);
            std::vector<char> buffer(65536);
            while (const std::size_t got = unpacker.Read(buffer.data(), buffer.size())) {
                out.WriteBuffer(buffer.data(), got);
            }
            if (!unpacker.EndOfStream()) {
                throw EPublishError("the packed list ends before its end marker");
            }
            out.Close();
        }
        TListFile list(temp);
        old.rev = platform::StrToInt(list.ReadValue("settings", "Rev"));
        for (const char* section : {"self", "files_critical", "files_normal"}) {
            const TStringList lines = list.ReadSection(section);
            if (lines.front() == "FAIL") {
                continue;
            }
            for (const std::string& line : lines) {
                const TStringList fields = SplitFields(line, "|");
                if (fields.size() < 3) {
                    continue;
                }
                OldEntry entry{fields[1], -1};
                try {
                    entry.packed = platform::StrToInt64(fields[0]);
                } catch (const platform::EConvertError&) {
                    // Never reused: a size that is no number matches no packed file.
                }
                old.entries.emplace(fields[2], entry);
            }
        }
        old.readable = true;
    } catch (const std::exception& e) {
        old.problem = e.what();
    }
    if (!temp.empty()) {
        platform::DeleteFile(temp);
    }
    return old;
}

std::filesystem::path Canonical(const std::string& path) {
    auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path));
    if (p.filename().empty()) {
        p = p.parent_path();
    }
    return p;
}

bool Inside(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (i == inner.end() || *i != *o) {
            return false;
        }
    }
    return true;
}

// The packed file's folders below base, made where missing; each one made is recorded so
// that a failed publish can take it away again.
void MakeFolders(const std::string& base, const std::string& listPath,
                 std::vector<std::string>& made) {
    std::string folder = base;
    std::size_t begin = 0;
    for (std::size_t cut; (cut = listPath.find('\\', begin)) != std::string::npos;
         begin = cut + 1) {
        folder += listPath.substr(begin, cut - begin);
        if (!platform::DirectoryExists(folder)) {
            if (!platform::CreateDir(folder)) {
                throw EPublishError("cannot create the folder " + Quoted(folder) + ": " +
                                    platform::SystemErrorText(errno));
            }
            made.push_back(folder);
        }
        folder += platform::PathDelimiter;
    }
}

// Removes folder and its parents up to base while they are empty.
void PruneEmptyFolders(std::string folder, const std::string& base) {
    while (folder.size() > base.size() && folder.compare(0, base.size(), base) == 0) {
        while (!folder.empty() && folder.back() == platform::PathDelimiter) {
            folder.pop_back();
        }
        if (!platform::DirectoryExists(folder) || !platform::ListDirectory(folder).empty() ||
            !platform::RemoveDir(folder)) {
            return;
        }
        folder = platform::ExtractFilePath(folder);
    }
}

void PackOrKeep(Job& job, const OldList& old, const std::function<bool()>& stopRequested) {
    const ClientFile& file = *job.file;
    job.size = file.size;
    if (const auto it = old.entries.find(file.listPath);
        it != old.entries.end() && it->second.packed >= 0 &&
        platform::FileSize(job.target) == it->second.packed) {
        const std::string digest = MD5ToHex(MD5HashFile(file.source));
        if (digest == it->second.digest) {
            job.reused = true;
            job.digest = digest;
            job.packed = it->second.packed;
            return;
        }
    }
    try {
        job.temp = platform::CreateTempFileBeside(job.target);
    } catch (const platform::Exception& e) {
        throw EPublishError(e.what());
    }
    const CompressResult result = CompressFile(file.source, job.temp, stopRequested);
    job.digest = MD5ToHex(result.digest);
    job.packed = result.packedSize;
    job.size = result.sourceSize;
}

std::string Section(const std::string& name, const std::vector<std::string>& lines) {
    std::string text = "[" + name + "]\r\n";
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text + "[/" + name + "]\r\n";
}

std::string Entry(const Job& job) {
    return job.file->listPath + "|" + job.digest + "|" + std::to_string(job.packed);
}

} // namespace

const std::vector<std::string>& BuiltInExclusions() {
    static const std::vector<std::string> names = {"_settings.ini", "files.lst", kListName,
                                                   "Update.bat", "backup"};
    return names;
}

PublishReport Publish(const PublishOptions& options) {
    PublishReport report;
    if (!options.selfName.empty() && !IsSafeSelfName(options.selfName)) {
        throw EPublishError(Quoted(options.selfName) +
                            ": the updater's name must be a bare file name without spaces or "
                            "characters the update script would interpret");
    }
    if (options.selfName == "files.lst" || options.selfName == kListName) {
        throw EPublishError(Quoted(options.selfName) + ": the name of the update list itself");
    }
    if (options.modHosts && options.hostsFile.empty()) {
        throw EPublishError("--mod-hosts needs --hosts FILE: an update run with ModHosts 1 "
                            "and no hosts section stops before it checks any file");
    }
    if (!platform::DirectoryExists(options.clientDir)) {
        throw EPublishError(Quoted(options.clientDir) + ": not a folder");
    }
    if (platform::FileExists(options.outDir)) {
        throw EPublishError(Quoted(options.outDir) + ": not a folder");
    }
    {
        const auto client = Canonical(options.clientDir);
        const auto out = Canonical(options.outDir);
        if (Inside(out, client) || Inside(client, out)) {
            throw EPublishError(Quoted(options.outDir) +
                                ": the published folder and the client folder must not "
                                "contain each other");
        }
    }

    const std::string clientBase = platform::IncludeTrailingPathDelimiter(options.clientDir);
    const std::string outBase = platform::IncludeTrailingPathDelimiter(options.outDir);
    Walker walker(options);
    walker.Walk(clientBase, "", 0);
    if (!walker.Problems().empty()) {
        std::string message = "refused:";
        for (const std::string& problem : walker.Problems()) {
            message += "\n  " + problem;
        }
        throw EPublishError(message);
    }
    if (!options.selfName.empty() && !walker.Self()) {
        throw EPublishError(Quoted(options.selfName) + ": no such file in " +
                            Quoted(options.clientDir));
    }
    std::vector<std::string> hosts;
    if (!options.hostsFile.empty()) {
        hosts = ReadHosts(options.hostsFile);
        if (options.modHosts && hosts.empty()) {
            throw EPublishError("the hosts file " + Quoted(options.hostsFile) +
                                " has no mapping; with --mod-hosts the update run would stop");
        }
    }

    const std::string listTarget = outBase + kListName;
    const OldList old = ReadOldList(listTarget);
    if (old.present && !old.readable) {
        if (!options.rev) {
            throw EPublishError(Quoted(listTarget) + ": cannot read its revision (" + old.problem +
                                "); give --rev");
        }
        report.warnings.push_back(Quoted(listTarget) + " cannot be read (" + old.problem +
                                  "); every file is packed anew");
    }
    if (options.rev) {
        report.rev = *options.rev;
        if (old.readable && report.rev <= old.rev) {
            report.warnings.push_back(
                "revision " + std::to_string(report.rev) + " is not above the published " +
                std::to_string(old.rev) + ": players already at revision " +
                std::to_string(report.rev) + " or above check only files_critical");
        }
    } else if (old.readable) {
        if (old.rev == INT32_MAX) {
            throw EPublishError(Quoted(listTarget) + ": its revision cannot be raised; give --rev");
        }
        report.rev = old.rev < 1 ? 1 : old.rev + 1;
    } else {
        report.rev = 1;
    }

    // The jobs in list order: the files by path, then the updater.
    std::vector<ClientFile>& files = walker.Files();
    std::sort(files.begin(), files.end(),
              [](const ClientFile& a, const ClientFile& b) { return a.listPath < b.listPath; });
    std::vector<Job> jobs;
    jobs.reserve(files.size() + 1);
    for (const ClientFile& file : files) {
        jobs.push_back(MakeJob(file, outBase));
    }
    if (walker.Self()) {
        jobs.push_back(MakeJob(*walker.Self(), outBase));
    }
    if (jobs.empty()) {
        report.warnings.push_back("no files to publish in " + Quoted(options.clientDir));
    }

    // A packed file must not stand where another one needs a folder ("a" beside "a.bz2\b").
    {
        std::set<std::string> targets{"files.lst"};
        for (const Job& job : jobs) {
            targets.insert(job.file->listPath + ".bz2");
        }
        for (const Job& job : jobs) {
            const std::string& path = job.file->listPath;
            for (std::size_t cut = path.find('\\'); cut != std::string::npos;
                 cut = path.find('\\', cut + 1)) {
                if (targets.count(path.substr(0, cut)) != 0) {
                    throw EPublishError(Quoted(path) + ": its folder " +
                                        Quoted(path.substr(0, cut)) +
                                        " has the name of another file's packed file");
                }
            }
        }
    }

    std::vector<std::string> madeFolders;
    auto rollBack = [&] {
        for (const Job& job : jobs) {
            if (!job.temp.empty()) {
                platform::DeleteFile(job.temp);
            }
        }
        for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) {
            platform::RemoveDir(*it);
        }
    };
    try {
        if (!platform::DirectoryExists(options.outDir)) {
            std::string parent = options.outDir;
            while (!parent.empty() && parent.back() == platform::PathDelimiter) {
                parent.pop_back();
            }
            const std::string above = platform::ExtractFilePath(parent);
            if ((!above.empty() && !platform::ForceDirectories(above)) ||
                !platform::CreateDir(parent)) {
                throw EPublishError("cannot create the folder " + Quoted(options.outDir) + ": " +
                                    platform::SystemErrorText(errno));
            }
            madeFolders.push_back(parent);
        }
        for (const Job& job : jobs) {
            MakeFolders(outBase, job.file->listPath, madeFolders);
        }

        // Largest first, so that the big files do not end up alone at the end on one core.
        std::vector<std::size_t> order(jobs.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return jobs[a].file->size > jobs[b].file->size;
        });
        std::atomic<std::size_t> next{0};
        std::atomic<bool> failed{false};
        std::mutex errorMutex;
        std::string firstError;
        const std::function<bool()> stopRequested = [&] {
            return failed.load(std::memory_order_relaxed) ||
                   (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed));
        };
        auto work = [&] {
            while (!stopRequested()) {
                const std::size_t i = next.fetch_add(1);
                if (i >= order.size()) {
                    return;
                }
                try {
                    PackOrKeep(jobs[order[i]], old, stopRequested);
                } catch (const std::exception& e) {
                    std::lock_guard lock(errorMutex);
                    if (firstError.empty()) {
                        firstError = e.what();
                    }
                    failed = true;
                }
            }
        };
        unsigned threads = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
        threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(jobs.size())));
        std::vector<std::thread> helpers;
        for (unsigned t = 1; t < threads; ++t) {
            helpers.emplace_back(work);
        }
        work();
        for (auto& helper : helpers) {
            helper.join();
        }
        if (failed) {
            throw EPublishError(firstError);
        }
        if (options.cancel != nullptr && options.cancel->load()) {
            throw EPublishError("interrupted");
        }
    } catch (...) {
        rollBack();
        throw;
    }

    // The list, in a fixed order so that the same client gives the same list.
    std::vector<std::string> critical;
    std::vector<std::string> normal;
    std::vector<std::string> self;
    for (const Job& job : jobs) {
        report.bytes += job.size;
        report.packedBytes += job.packed;
        ++(job.reused ? report.reused : report.compressed);
        if (walker.Self() && job.file == &*walker.Self()) {
            self.push_back(Entry(job));
        } else if (MatchesAny(options.critical, job.file->listPath)) {
            critical.push_back(Entry(job));
        } else {
            normal.push_back(Entry(job));
        }
    }
    report.files = critical.size() + normal.size();
    report.critical = critical.size();
    report.hosts = hosts.size();
    report.self = !self.empty();
    const std::string list =
        Section("settings", {"Rev|" + std::to_string(report.rev),
                             std::string("ModHosts|") + (options.modHosts ? "1" : "0")}) +
        Section("hosts", hosts) + Section("self", self) + Section("files_critical", critical) +
        Section("files_normal", normal);
    const std::string packedList = CompressBuffer(list);

    // From here on the published folder changes: packed files first, the list last, so that
    // a player never gets a list whose files are not there yet.
    for (Job& job : jobs) {
        if (job.temp.empty()) {
            continue;
        }
        if (!platform::RenameFile(job.temp, job.target)) {
            const int error = errno;
            rollBack();
            throw EPublishError("cannot put " + Quoted(job.target) +
                                " in place: " + platform::SystemErrorText(error) +
                                "; the published list is still the old one");
        }
        job.temp.clear();
    }
    try {
        platform::WriteFileAtomic(listTarget, packedList);
    } catch (const platform::Exception& e) {
        throw EPublishError(std::string(e.what()) + "; the published list is still the old one");
    }

    // Packed files of files that are gone, and the folders they leave empty.
    std::set<std::string> current;
    for (const Job& job : jobs) {
        current.insert(job.file->listPath);
    }
    for (const auto& [path, entry] : old.entries) {
        // A hand-edited list could name anything; only paths inside the folder are touched.
        if (current.count(path) != 0 || !IsSafeListPath(path) || path == "files.lst") {
            continue;
        }
        const std::string target = platform::JoinPath(outBase, path + ".bz2");
        if (platform::FileExists(target) && platform::DeleteFile(target)) {
            ++report.removed;
            PruneEmptyFolders(platform::ExtractFilePath(target), outBase);
        }
    }
    return report;
}

} // namespace velmoran::publish
