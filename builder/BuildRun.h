// BuildRun.h: the build run. It mirrors a client folder into an Upload folder, packs
// every file into a ZIP archive of its own there and writes the update list updates.lst.
//
// The run knows nothing of windows: it reports progress and messages through
// TBuildObserver, which the window and the command line implement.
#pragma once

#include "builder/ZipArchive.h"
#include "builder/crc.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace kelpforge {

// What a run reads from the window's controls.
struct TBuildSettings {
    std::string Root;        // the chosen client folder
    std::string Server;      // the text after "Server=", exactly as entered
    std::string UpdaterName; // the updater's file name
    bool ModifyHost = false; // "ModifyHost=1" instead of "ModifyHost=0"
    bool Critical = false;   // the file lines end in "|c" instead of "|n"
    // Where the Upload folder is made; the process's current directory when empty.
    std::string CurrentDir;
    // How many files are packed at the same time; 0: one per processor. The list and the
    // archives are the same for every value.
    unsigned Jobs = 1;
};

// What the run shows. Every call comes on the thread that called TBuildRun::Run.
class TBuildObserver {
public:
    virtual ~TBuildObserver() = default;
    virtual void SetTreeEnabled(bool enabled) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // A message for the user; returns once the user has seen it.
    virtual void ShowMessage(const std::string& text) = 0;
    // The message of the error that ended the run; returns once the user has seen it.
    virtual void ShowError(const std::string& text) = 0;
};

enum class TBuildOutcome {
    Done,            // "Done! N files have been packed."
    UpdaterNotFound, // "NAME was not found!"; no list written
    Refused,         // the root cannot be packed; nothing touched
    Failed,          // an error ended the run; what was written so far stays
};

// A root as the run uses it, or the reason it cannot be used.
struct TRootCheck {
    std::string Root;    // without trailing separators
    std::string Refusal; // empty when the root can be packed
};

// Checks the root against the Upload folder: no root, the root of a drive, a path that
// is not a folder or not a full path, the Upload folder itself, a folder that holds it
// and a folder inside it are refused (the scans would otherwise meet their own output).
TRootCheck CheckRoot(const std::string& root, const std::string& uploadFolder);

// The size of a file in bytes; -1 when the path does not exist or names a folder.
std::int64_t FileSizeByName(const std::string& path);

// The run and the state it keeps between runs. Idle between runs: FileCount() 0,
// FileIndex() 1, UpdaterFound() false.
class TBuildRun {
public:
    TBuildRun();
    ~TBuildRun();
    TBuildRun(const TBuildRun&) = delete;
    TBuildRun& operator=(const TBuildRun&) = delete;

    // One whole run. Errors are reported through the observer, after which the run
    // returns to the idle state.
    TBuildOutcome Run(const TBuildSettings& settings, TBuildObserver& observer);

    int FileCount() const noexcept { return fileCount_; }
    int FileIndex() const noexcept { return fileIndex_; }
    bool UpdaterFound() const noexcept { return updaterFound_; }
    const std::string& UpdaterName() const noexcept { return updaterName_; }

    // The archive component with the builder's settings; the packers take theirs from it.
    TZipArchive ZipArchive1;

private:
    struct PackJob;
    class PackPool;

    void ScanAndMirror(const std::string& folder);
    void PackUpdater(const std::string& updaterPath);
    void PackFolder(const std::string& folder, const std::string& lineEnding);
    void QueueFile(const std::string& filePath, const std::string& lineEnding);
    void FinishJob(PackJob& job);
    void FinishJobs(std::size_t keep);
    void AppendToList(const std::string& lines);
    void Step();
    bool IsUpdater(const std::string& name) const;
    void ReturnToIdle();

    TBuildObserver* observer_ = nullptr;
    std::string root_;
    std::string uploadFolder_;
    std::string listFile_;
    std::string updaterName_;
    int fileCount_ = 0;
    int fileIndex_ = 1;
    bool updaterFound_ = false;
    int progress_ = 0;
    // Files being packed, in list order; the pool is stopped before they go.
    std::deque<std::unique_ptr<PackJob>> jobs_;
    std::unique_ptr<PackPool> pool_;
    std::size_t jobsInFlight_ = 1;
};

} // namespace kelpforge
