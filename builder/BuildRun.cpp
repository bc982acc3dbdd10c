// BuildRun.cpp: scanning, mirroring, packing and the update list.
//
// Several files may be packed at once, but the list is written by the thread that runs
// the build, file by file in the order of the directory listing, so its numbers and
// lines are those of packing one file after another.
#include "builder/BuildRun.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Stream.h"
#include "updater/engine/Misc.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace kelpforge {

namespace {

using velmoran::ReplaceAll;
using velmoran::platform::PathDelimiter;
using velmoran::platform::TFileStream;

constexpr const char* kLineEnd = "\r\n";

bool IsSeparator(char c) {
    return c == PathDelimiter || c == '/';
}

std::string WithTrailingDelimiter(const std::string& folder) {
    if (folder.empty() || folder.back() == PathDelimiter) {
        return folder;
    }
    return folder + PathDelimiter;
}

// A path below the Upload folder as the list writes it: "\" between folder names.
std::string ToListPath(std::string path) {
    std::replace(path.begin(), path.end(), PathDelimiter, '\\');
    return path;
}

bool IsInside(const std::filesystem::path& child, const std::filesystem::path& parent) {
    auto [p, c] = std::mismatch(parent.begin(), parent.end(), child.begin(), child.end());
    return p == parent.end() && c != child.end();
}

// The archive component as the builder's form sets it up.
void ApplyFormSettings(TZipArchive& zip) {
    zip.SetSaveMethod(TZipSaveMethod::FastSave);
    zip.SetStoreRelativePath(false);
    zip.SetStoreFolders(false);
    zip.SetCompressionType(TZipCompressionType::ctMaximum);
    zip.SetUseTempFiles(false);
    zip.SetOverwriteAction(TOverwriteAction::oaOverwriteAll);
    zip.SetReadOnly(false);
    zip.SetApplyAtributes(false);
}

void CopySettings(const TZipArchive& from, TZipArchive& to) {
    to.SetSaveMethod(from.SaveMethod());
    to.SetStoreRelativePath(from.StoreRelativePath());
    to.SetStoreFolders(from.StoreFolders());
    to.SetCompressionType(from.CompressionType());
    to.SetUseTempFiles(from.UseTempFiles());
    to.SetOverwriteAction(from.OverwriteAction());
    to.SetApplyAtributes(from.ApplyAtributes());
}

// One archive, made the way the run always makes it; the archive is closed again
// whatever happens. An archive this call began and could not finish is removed, so
// that no half-written archive waits in the upload folder to be served.
void PackArchive(TZipArchive& zip, const std::string& source, const std::string& archive) {
    bool begun = false;
    try {
        zip.CreateEmptyArchive(archive);
        begun = true;
        zip.OpenArchive(archive);
        zip.AddFileEntry(source);
        zip.CloseArchive();
    } catch (...) {
        try {
            zip.CloseArchive();
        } catch (...) {
            // The first error is the one to report.
        }
        if (begun) {
            std::error_code ignored;
            std::filesystem::remove(archive, ignored);
        }
        throw;
    }
}

} // namespace

TRootCheck CheckRoot(const std::string& root, const std::string& uploadFolder) {
    namespace fs = std::filesystem;
    TRootCheck check;
    if (root.empty()) {
        check.Refusal = "No folder is selected!";
        return check;
    }
    std::string trimmed = root;
    while (trimmed.size() > 1 && IsSeparator(trimmed.back())) {
        trimmed.pop_back();
    }
    const fs::path path(trimmed);
    if (!path.has_relative_path()) {
        check.Refusal = "\"" + root + "\" is the root of a drive; choose the client's folder!";
        return check;
    }
    if (!path.is_absolute()) {
        check.Refusal = "\"" + root + "\" is not a full path; choose the client's folder!";
        return check;
    }
    if (!velmoran::platform::DirectoryExists(trimmed)) {
        check.Refusal = "Folder \"" + root + "\" not found!";
        return check;
    }
    // Compared as the file system resolves them, so that links and ".." do not hide
    // where the Upload folder lies.
    std::error_code error;
    const fs::path real = fs::weakly_canonical(path, error);
    const fs::path upload = fs::weakly_canonical(fs::absolute(fs::path(uploadFolder)), error);
    if (real == upload) {
        check.Refusal = "\"" + root + "\" is the Upload folder; choose the client's folder!";
    } else if (IsInside(upload, real)) {
        check.Refusal = "\"" + root + "\" holds the Upload folder; choose a folder that does not!";
    } else if (IsInside(real, upload)) {
        check.Refusal =
            "\"" + root + "\" lies inside the Upload folder; choose the client's folder!";
    } else {
        check.Root = trimmed;
    }
    return check;
}

std::int64_t FileSizeByName(const std::string& path) {
    return velmoran::platform::FileSize(path);
}

// One file to pack and, once packed, what its list line needs.
struct TBuildRun::PackJob {
    std::string source;
    std::string archive;
    std::string relative;
    std::string lineEnding;
    Crc32 crc{0};
    std::int64_t size = -1;
    std::exception_ptr error;
    bool done = false; // guarded by the pool's mutex

    void Pack(TZipArchive& zip) {
        crc = FileCrc32(source);
        PackArchive(zip, source, archive);
        size = FileSizeByName(archive);
    }
};

// Worker threads, each with an archive component of its own, that pack queued files.
class TBuildRun::PackPool {
public:
    PackPool(unsigned workers, const TZipArchive& settings) {
        for (unsigned i = 0; i < workers; ++i) {
            auto& zip = archives_.emplace_back(std::make_unique<TZipArchive>());
            CopySettings(settings, *zip);
        }
        for (auto& zip : archives_) {
            threads_.emplace_back([this, archive = zip.get()] { Work(*archive); });
        }
    }

    // Queued files are dropped; files being packed are finished first.
    ~PackPool() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& thread : threads_) {
            thread.join();
        }
    }

    PackPool(const PackPool&) = delete;
    PackPool& operator=(const PackPool&) = delete;

    void Submit(PackJob& job) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(&job);
        }
        wake_.notify_one();
    }

    bool IsDone(const PackJob& job) {
        std::lock_guard lock(mutex_);
        return job.done;
    }

    void Wait(const PackJob& job) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&] { return job.done; });
    }

private:
    void Work(TZipArchive& zip) {
        while (true) {
            PackJob* job = nullptr;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || failed_ || !queue_.empty(); });
                // After a failure no new file is started: every file listed before the
                // failed one has been taken already, and the ones after it are not needed.
                if (stopping_ || failed_) {
                    return;
                }
                job = queue_.front();
                queue_.pop_front();
            }
            try {
                job->Pack(zip);
            } catch (...) {
                job->error = std::current_exception();
            }
            {
                std::lock_guard lock(mutex_);
                job->done = true;
                failed_ = failed_ || job->error != nullptr;
            }
            finished_.notify_all();
            wake_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<PackJob*> queue_;
    bool stopping_ = false;
    bool failed_ = false;
    std::vector<std::unique_ptr<TZipArchive>> archives_;
    std::vector<std::thread> threads_;
};

TBuildRun::TBuildRun() {
    ApplyFormSettings(ZipArchive1);
}

TBuildRun::~TBuildRun() {
    pool_.reset();
}

TBuildOutcome TBuildRun::Run(const TBuildSettings& settings, TBuildObserver& observer) {
    observer_ = &observer;
    const std::string server = settings.Server;
    updaterName_ = settings.UpdaterName;
    const std::string current =
        settings.CurrentDir.empty() ? velmoran::platform::GetCurrentDir() : settings.CurrentDir;
    uploadFolder_ = velmoran::platform::IncludeTrailingPathDelimiter(current) + "Upload";
    listFile_ = uploadFolder_ + PathDelimiter + "updates.lst";

    const TRootCheck check = CheckRoot(settings.Root, uploadFolder_);
    if (!check.Refusal.empty()) {
        observer.ShowMessage(check.Refusal);
        return TBuildOutcome::Refused;
    }
    try {
        observer.SetTreeEnabled(false);
        velmoran::platform::CreateDir(uploadFolder_); // an existing folder is fine
        root_ = check.Root;
        ScanAndMirror(root_);
        if (!updaterFound_) {
            observer.ShowMessage(updaterName_ + " was not found!");
            observer.SetTreeEnabled(true);
            ReturnToIdle();
            return TBuildOutcome::UpdaterNotFound;
        }
        {
            TFileStream list(listFile_, TFileStream::Mode::Create, TFileStream::Share::DenyNone);
            const std::string line = std::string("[self]") + kLineEnd;
            list.WriteBuffer(line.data(), line.size());
            list.Close();
        }
        PackUpdater(root_ + PathDelimiter + updaterName_);
        AppendToList(std::string("[misc]") + kLineEnd + "Server=" + server + kLineEnd +
                     (settings.ModifyHost ? "ModifyHost=1" : "ModifyHost=0") + kLineEnd +
                     "[files]" + kLineEnd + "fcount=" + std::to_string(fileCount_ - 1) + kLineEnd);
        observer.SetProgressMax(fileCount_);
        const std::string lineEnding = settings.Critical ? "|c" : "|n";

        const unsigned jobs =
            settings.Jobs != 0 ? settings.Jobs : std::max(1u, std::thread::hardware_concurrency());
        if (jobs > 1) {
            pool_ = std::make_unique<PackPool>(jobs, ZipArchive1);
            // Far enough ahead that the workers keep busy with small files while the list
            // waits for a large one; a queued file costs a few hundred bytes.
            jobsInFlight_ = 4096;
        } else {
            jobsInFlight_ = 1;
        }
        PackFolder(root_, lineEnding);
        FinishJobs(0);
        pool_.reset();

        observer.SetTreeEnabled(true);
        observer.ShowMessage("Done! " + std::to_string(fileCount_) + " files have been packed.");
        progress_ = 0;
        observer.SetProgressPosition(0);
        ReturnToIdle();
        return TBuildOutcome::Done;
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        // Files queued before the failure come before it in the listing: their lines are
        // written as packing one by one would have written them, and an error among
        // them is the one that ends the run.
        try {
            if (pool_) {
                FinishJobs(0);
            }
        } catch (...) {
            error = std::current_exception();
        }
        pool_.reset();
        jobs_.clear();
        observer.ShowError(velmoran::platform::MessageOf(error));
        observer.SetTreeEnabled(true);
        progress_ = 0;
        observer.SetProgressPosition(0);
        ReturnToIdle();
        return TBuildOutcome::Failed;
    }
}

void TBuildRun::ReturnToIdle() {
    pool_.reset();
    jobs_.clear();
    fileCount_ = 0;
    fileIndex_ = 1;
    updaterFound_ = false;
}

bool TBuildRun::IsUpdater(const std::string& name) const {
    // A name with a folder part never names a file of the listing.
    return name == updaterName_ && !updaterName_.empty() &&
           updaterName_.find_first_of("\\/") == std::string::npos;
}

void TBuildRun::ScanAndMirror(const std::string& folder) {
    const std::string base = WithTrailingDelimiter(folder);
    for (const auto& entry : velmoran::platform::ListDirectory(base)) {
        if (entry.IsDirectory()) {
            const std::string sub = base + entry.name;
            ScanAndMirror(sub);
            velmoran::platform::ForceDirectories(ReplaceAll(sub, root_, uploadFolder_));
        } else {
            ++fileCount_;
            if (IsUpdater(entry.name)) {
                updaterFound_ = true;
            }
        }
    }
}

void TBuildRun::PackUpdater(const std::string& updaterPath) {
    const Crc32 crc = FileCrc32(updaterPath);
    const std::string name = velmoran::platform::ExtractFileName(updaterPath);
    const std::string archive = uploadFolder_ + PathDelimiter + name + ".zip";
    PackArchive(ZipArchive1, updaterPath, archive);
    const std::int64_t size = FileSizeByName(archive);
    AppendToList("IAM=" + name + "|" + Crc32ToString(crc) + "|" + std::to_string(size) + kLineEnd);
    Step();
}

void TBuildRun::PackFolder(const std::string& folder, const std::string& lineEnding) {
    const std::string base = WithTrailingDelimiter(folder);
    for (const auto& entry : velmoran::platform::ListDirectory(base)) {
        if (entry.IsDirectory()) {
            PackFolder(base + entry.name, lineEnding);
        } else if (!IsUpdater(entry.name)) {
            QueueFile(base + entry.name, lineEnding);
        }
    }
}

void TBuildRun::QueueFile(const std::string& filePath, const std::string& lineEnding) {
    auto job = std::make_unique<PackJob>();
    const std::string mirrored = ReplaceAll(filePath, root_, uploadFolder_);
    job->source = filePath;
    job->archive = mirrored + ".zip";
    job->relative = ToListPath(ReplaceAll(mirrored, uploadFolder_ + PathDelimiter, ""));
    job->lineEnding = lineEnding;
    if (!pool_) {
        job->Pack(ZipArchive1);
        FinishJob(*job);
        return;
    }
    jobs_.push_back(std::move(job));
    pool_->Submit(*jobs_.back());
    FinishJobs(jobsInFlight_);
}

// Writes the lines of packed files at the front of the queue, waiting for them while
// more than keep files are under way.
void TBuildRun::FinishJobs(std::size_t keep) {
    while (!jobs_.empty() && (jobs_.size() > keep || pool_->IsDone(*jobs_.front()))) {
        pool_->Wait(*jobs_.front());
        FinishJob(*jobs_.front());
        jobs_.pop_front();
    }
}

void TBuildRun::FinishJob(PackJob& job) {
    if (job.error) {
        std::rethrow_exception(job.error);
    }
    AppendToList("F" + std::to_string(fileIndex_) + "=" + job.relative + "|" +
                 Crc32ToString(job.crc) + "|" + std::to_string(job.size) + job.lineEnding +
                 kLineEnd);
    Step();
    ++fileIndex_;
}

void TBuildRun::AppendToList(const std::string& lines) {
    TFileStream list(listFile_, TFileStream::Mode::OpenWrite, TFileStream::Share::DenyNone);
    list.Seek(0, velmoran::platform::SeekOrigin::End);
    list.WriteBuffer(lines.data(), lines.size());
    list.Close();
}

void TBuildRun::Step() {
    ++progress_;
    observer_->SetProgressPosition(progress_);
}

} // namespace kelpforge
