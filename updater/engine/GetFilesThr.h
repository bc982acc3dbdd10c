// GetFilesThr.h: the update run, one worker thread from the list download to the stored
// revision.
//
// The run reaches its host (the window, or the terminal program) only through the seven
// notifications of IUpdateHost, each a synchronised call that runs on the host's thread
// while the worker waits.
#pragma once

#include "platform/StringList.h"
#include "platform/Thread.h"

#include <cstdint>
#include <string>

namespace velmoran {

namespace platform {
class TStream;
}
struct MD5Context;

// What the update run shows and stores. Called on the host's thread only.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    // kind 0: the file gauge, 1: the total gauge, anything else: nothing.
    virtual void SetGaugeMax(int kind, std::int64_t maximum) = 0;
    virtual void SetFileProgress(std::int64_t position) = 0;
    virtual void SetTotalProgress(std::int64_t position) = 0;
    virtual void LockButtons() = 0;
    virtual void UnlockButtons() = 0;
    // The window's UpdateRevision: writes AtRevision into _settings.ini.
    virtual void StoreRevision(const std::string& revisionText) = 0;
};

class GFilesThread : public platform::Thread {
public:
    // Created suspended; set the four inputs, then Resume. host must outlive the run or the
    // dispatcher must be shut down before host goes away.
    explicit GFilesThread(IUpdateHost& host);

    // Carried by the notifications.
    std::int64_t GaugeValue = 0;
    std::string StatusText;
    // Entry lines of the files to download, in the order they were queued.
    TStringList DownloadQueue;
    // Inputs.
    std::int32_t CreateBackup = 0; // 1: keep a copy of every replaced file
    std::int32_t AtRevision = 0;   // revision applied last; raised to the list's at the end
    bool FullCheck = false;        // check files_normal even when the list is not newer
    int GaugeKind = 0;             // 0: file gauge, 1: total gauge
    std::string UpdateUrl;         // input: the server's base address
    std::string SelfEntry;
    std::string BaseDir;                       // the client folder, ending with the separator
    platform::TStream* UnpackSource = nullptr; // the packed file being unpacked

    // HTTP GET of address into the file localPath, the received bytes on the file gauge.
    // True when the address could be opened and the body was written; whether the body
    // was whole and a 2xx answer is kept in LastDownloadSound().
    bool DownloadFile(const std::string& address, const std::string& localPath);
    // Unpacks a bzip2 file into targetPath and deletes the packed file whatever happens.
    // Raises on bad data, on data that ends before the bzip2 end marker, on file errors.
    void UnpackFile(const std::string& packedPath, const std::string& targetPath);
    void UnpackStream(platform::TStream& source, platform::TStream& target);

    // Whether the last DownloadFile got a whole body with a 2xx status.
    bool LastDownloadSound() const noexcept { return lastDownloadSound_; }

protected:
    void Execute() override;

    // The notifications.
    void ShowStatus();
    void SetGaugeMax();
    void SetFileProgress();
    void SetTotalProgress();
    void LockButtons();
    void UnlockButtons();
    void StoreRevision();

    // The stages.
    // Applies the list's host mappings to the hosts file.
    void EditHosts(const TStringList& lines);
    // Replaces the updater's own file through Update.bat when the list has another one.
    void UpdateSelf(const std::string& entry);
    // Queues the entries whose local file is missing or has another digest.
    void CheckFiles(const TStringList& lines);
    // Downloads, checks and installs every queued entry; leaves the final status text.
    void ProcessQueue();

private:
    void UnpackProgress();
    // Unpacks packedPath into a temporary file beside targetPath and replaces targetPath by
    // it only when its digest text is digest. Raises when anything fails; the temporary
    // file and the packed file are gone afterwards, and targetPath is untouched then.
    void InstallPacked(const std::string& packedPath, const std::string& targetPath,
                       const std::string& digest);
    void Notify(const std::function<void()>& call);
    // Step 19: the status the run ends with, and the buttons back.
    void Finish();

    IUpdateHost& host_;
    bool lastDownloadSound_ = false;
    // While InstallPacked unpacks: the digest of the bytes written so far.
    MD5Context* unpackDigest_ = nullptr;
    bool notificationFailed_ = false;
    // An entry of the list was refused (unsafe path, bad host mapping): the run ends
    // "Update Failed" whatever else succeeds.
    bool entryRefused_ = false;
};

} // namespace velmoran
