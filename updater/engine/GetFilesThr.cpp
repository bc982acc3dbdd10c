// GetFilesThr.cpp: the update run.
#include "updater/engine/GetFilesThr.h"

#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/Path.h"
#include "platform/Stream.h"
#include "platform/System.h"
#include "updater/codecs/BZip2.h"
#include "updater/codecs/md5.h"
#include "updater/engine/DigestAhead.h"
#include "updater/engine/Hosts.h"
#include "updater/engine/LstFile.h"

#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

namespace velmoran {

namespace {

constexpr std::size_t kUnpackChunk = 65536;

// Raised where a download or an unpack went wrong in a way the run recovers from.
class EBadDownload : public platform::Exception {
public:
    using Exception::Exception;
};

// The fields of a file entry, counted from the end of the line.
struct FileEntry {
    std::string path;
    std::string digest;
    std::string size;
};

FileEntry SplitFileEntry(const std::string& line) {
    const TStringList fields = SplitFields(line, "|");
    if (fields.size() < 3) {
        throw platform::EListError(static_cast<long long>(fields.size()));
    }
    return {fields[2], fields[1], fields[0]};
}

// Whether a file starts like a program the system can run: "#!" or the ELF magic.
bool LooksRunnable(const std::string& path) {
    char head[4] = {};
    try {
        platform::TFileStream file(path, platform::TFileStream::Mode::OpenRead);
        const std::size_t got = file.Read(head, sizeof head);
        return (got >= 2 && head[0] == '#' && head[1] == '!') ||
               (got == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
    } catch (const platform::Exception&) {
        return false;
    }
}

std::string DigestText(const std::string& path) {
    return MD5ToHex(MD5HashFile(path));
}

} // namespace

GFilesThread::GFilesThread(IUpdateHost& host) : Thread(true), host_(host) {}

void GFilesThread::Notify(const std::function<void()>& call) {
    try {
        Synchronize(call);
    } catch (...) {
        // An error of the host's is never taken for a failed download.
        notificationFailed_ = true;
        throw;
    }
}

void GFilesThread::ShowStatus() {
    Notify([this] { host_.ShowStatus(StatusText); });
}

void GFilesThread::SetGaugeMax() {
    Notify([this] { host_.SetGaugeMax(GaugeKind, GaugeValue); });
}

void GFilesThread::SetFileProgress() {
    Notify([this] { host_.SetFileProgress(GaugeValue); });
}

void GFilesThread::SetTotalProgress() {
    Notify([this] { host_.SetTotalProgress(GaugeValue); });
}

void GFilesThread::LockButtons() {
    Notify([this] { host_.LockButtons(); });
}

void GFilesThread::UnlockButtons() {
    Notify([this] { host_.UnlockButtons(); });
}

void GFilesThread::StoreRevision() {
    Notify([this] { host_.StoreRevision(std::to_string(AtRevision)); });
}

bool GFilesThread::DownloadFile(const std::string& address, const std::string& localPath) {
    GaugeValue = 0;
    lastDownloadSound_ = false;
    // The file is made when the first bytes arrive, so an address that cannot be opened
    // leaves no file behind.
    std::unique_ptr<platform::TFileStream> file;
    auto sink = [&](const char* data, std::size_t size) {
        if (!file) {
            file = std::make_unique<platform::TFileStream>(localPath,
                                                           platform::TFileStream::Mode::Create);
        }
        file->WriteBuffer(data, size);
        GaugeValue += static_cast<std::int64_t>(size);
        SetFileProgress();
    };
    platform::HttpResult result;
    try {
        result = platform::HttpGet(address, sink);
        if (result.opened && !file) {
            file = std::make_unique<platform::TFileStream>(localPath,
                                                           platform::TFileStream::Mode::Create);
        }
        if (file) {
            file->Close();
        }
    } catch (...) {
        // A file error or a host error: nothing half-written stays behind.
        if (file) {
            file.reset();
            platform::DeleteFile(localPath);
        }
        throw;
    }
    lastDownloadSound_ = result.Succeeded();
    GaugeValue = 0;
    try {
        SetFileProgress();
    } catch (...) {
        // The host went away (the window closed): the download is nobody's any more.
        if (file) {
            platform::DeleteFile(localPath);
        }
        throw;
    }
    return result.opened;
}

void GFilesThread::UnpackProgress() {
    GaugeValue = UnpackSource->Position();
    SetFileProgress();
}

void GFilesThread::UnpackStream(platform::TStream& source, platform::TStream& target) {
    UnpackSource = &source;
    auto cleanUp = [this] {
        UnpackSource = nullptr;
        GaugeValue = 0;
        SetFileProgress();
    };
    try {
        GaugeKind = 0;
        GaugeValue = source.Size();
        SetGaugeMax();
        TBZDecompressionStream unpacker(source);
        unpacker.ProgressHandler = [this](platform::TStream&) { UnpackProgress(); };
        std::vector<unsigned char> buffer(kUnpackChunk);
        while (true) {
            const std::size_t got = unpacker.Read(buffer.data(), buffer.size());
            if (got == 0) {
                break;
            }
            target.WriteBuffer(buffer.data(), got);
            if (unpackDigest_ != nullptr) {
                MD5Update(*unpackDigest_, buffer.data(), static_cast<std::uint32_t>(got));
            }
        }
        // A source that ends early reads like a short file; only the end marker proves it whole.
        if (!unpacker.EndOfStream()) {
            throw EBadDownload("The packed data ends before its end marker");
        }
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
}

void GFilesThread::UnpackFile(const std::string& packedPath, const std::string& targetPath) {
    std::unique_ptr<platform::TFileStream> packed;
    try {
        packed = std::make_unique<platform::TFileStream>(packedPath,
                                                         platform::TFileStream::Mode::OpenRead,
                                                         platform::TFileStream::Share::DenyWrite);
        platform::TFileStream target(targetPath, platform::TFileStream::Mode::Create);
        UnpackStream(*packed, target);
        target.Close();
    } catch (...) {
        if (packed) {
            packed.reset();
            platform::DeleteFile(packedPath);
        }
        throw;
    }
    packed.reset();
    platform::DeleteFile(packedPath);
}

void GFilesThread::InstallPacked(const std::string& packedPath, const std::string& targetPath,
                                 const std::string& digest) {
    std::string tempPath;
    try {
        // The rename below would replace even a read-only file; that one is left alone,
        // as a file that cannot be written over.
        if (platform::FileExists(targetPath) && !platform::IsWritable(targetPath)) {
            throw platform::EInOutError(EACCES);
        }
        // What a killed run left half-unpacked beside the file would stay for ever.
        platform::DeleteStaleTempFiles(targetPath);
        tempPath = platform::CreateTempFileBeside(targetPath);
        // Digested as it is written: reading the file back would cost a second pass.
        MD5Context context;
        MD5Init(context);
        unpackDigest_ = &context;
        try {
            UnpackFile(packedPath, tempPath);
        } catch (...) {
            unpackDigest_ = nullptr;
            throw;
        }
        unpackDigest_ = nullptr;
        MD5Digest unpacked;
        MD5Final(context, unpacked);
        if (MD5ToHex(unpacked) != digest) {
            throw EBadDownload("The unpacked file does not have the listed digest");
        }
        // The game and the updater must stay runnable after they are replaced.
        if (platform::FileExists(targetPath)) {
            platform::CopyFileMode(targetPath, tempPath);
        } else if (LooksRunnable(tempPath)) {
            platform::SetExecutable(tempPath);
        }
        if (!platform::RenameFile(tempPath, targetPath)) {
            throw platform::EInOutError(errno);
        }
    } catch (...) {
        platform::DeleteFile(packedPath);
        if (!tempPath.empty()) {
            platform::DeleteFile(tempPath);
        }
        throw;
    }
}

void GFilesThread::CheckFiles(const TStringList& lines) {
    if (lines.empty() || lines.front() == "FAIL") {
        return;
    }
    StatusText = "Checking files";
    ShowStatus();
    GaugeKind = 1;
    GaugeValue = static_cast<std::int64_t>(lines.size()) - 1;
    SetGaugeMax();
    // Digested ahead on every core; the entries are still shown and judged in list order.
    std::vector<std::string> paths(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TStringList fields = SplitFields(lines[i], "|");
        if (fields.size() >= 3 && IsSafeListPath(fields[2])) {
            paths[i] = platform::JoinPath(BaseDir, fields[2]);
        }
    }
    TDigestAhead digests(std::move(paths), std::thread::hardware_concurrency());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        GaugeValue = static_cast<std::int64_t>(i);
        SetTotalProgress();
        const FileEntry entry = SplitFileEntry(lines[i]);
        StatusText = "Checking " + entry.path;
        ShowStatus();
        // An unsafe path is queued without being looked at; the queue refuses it.
        const bool queue = !IsSafeListPath(entry.path) ||
                           !platform::FileExists(platform::JoinPath(BaseDir, entry.path)) ||
                           digests.Get(i) != entry.digest;
        if (queue) {
            platform::StrToInt64(entry.size);
            DownloadQueue.push_back(lines[i]);
        }
    }
    GaugeValue = 0;
    SetTotalProgress();
    StatusText.clear();
    ShowStatus();
}

void GFilesThread::ProcessQueue() {
    if (DownloadQueue.empty()) {
        StatusText = entryRefused_ ? "Update Failed" : "";
        return;
    }
    GaugeKind = 1;
    GaugeValue = static_cast<std::int64_t>(DownloadQueue.size()) - 1;
    SetGaugeMax();
    bool failed = entryRefused_;
    for (std::size_t i = 0; i < DownloadQueue.size(); ++i) {
        const FileEntry entry = SplitFileEntry(DownloadQueue[i]);
        const std::int64_t size = platform::StrToInt64(entry.size);
        if (!IsSafeListPath(entry.path)) {
            // Never joined to the client folder: nothing outside it is read or written.
            StatusText = "Update Failed";
            failed = true;
            GaugeValue = static_cast<std::int64_t>(i) + 1;
            SetTotalProgress();
            continue;
        }
        StatusText = "Downloading " + entry.path;
        ShowStatus();
        GaugeKind = 0;
        GaugeValue = size;
        SetGaugeMax();

        const std::string installed = platform::JoinPath(BaseDir, entry.path);
        const std::string packed = installed + ".bz2";
        platform::ForceDirectories(platform::ExtractFilePath(installed));
        const std::string address = UpdateUrl + ReplaceAll(entry.path, "\\", "/") + ".bz2";
        if (!DownloadFile(address, packed)) {
            StatusText = "Update Failed";
            failed = true;
            break;
        }
        try {
            if (!lastDownloadSound_) {
                platform::DeleteFile(packed);
                throw EBadDownload("The download did not arrive whole");
            }
            if (CreateBackup == 1) {
                const std::string backup = platform::JoinPath(BaseDir, "backup\\" + entry.path);
                platform::ForceDirectories(platform::ExtractFilePath(backup));
                // A new file has nothing to back up; that is no failure.
                platform::CopyFile(installed, backup, false);
            }
            StatusText = "Extracting " + entry.path;
            ShowStatus();
            InstallPacked(packed, installed, entry.digest);
        } catch (const platform::Exception&) {
            if (notificationFailed_) {
                throw;
            }
            StatusText = "Update Failed";
            failed = true;
        }
        GaugeValue = static_cast<std::int64_t>(i) + 1;
        SetTotalProgress();
    }
    GaugeValue = 0;
    SetTotalProgress();
    // Later entries' own texts must not hide an earlier failure.
    StatusText = failed ? "Update Failed" : "All the files have been updated";
}

void GFilesThread::EditHosts(const TStringList& entries) {
    const auto hostsPath = platform::HostsFilePath();
    if (!hostsPath) {
        return;
    }
    platform::TMemoryStream content;
    try {
        content.LoadFromFile(*hostsPath);
    } catch (const platform::EFOpenError& e) {
        throw platform::EInOutError(e.ErrorCode());
    }
    const THostsEdit edit = EditHostsLines(
        SplitHostsLines(std::string_view(reinterpret_cast<const char*>(content.Memory()),
                                         static_cast<std::size_t>(content.Size()))),
        entries);
    entryRefused_ = entryRefused_ || edit.refused;
    if (!edit.Changed()) {
        return;
    }
    if (!platform::IsWritable(*hostsPath)) {
        throw platform::EInOutError(EACCES);
    }
    StatusText = "Applying changes to Hosts";
    ShowStatus();
    platform::WriteFileAtomic(*hostsPath, edit.Text());
    StatusText = "Hosts file chamged";
    ShowStatus();
}

void GFilesThread::UpdateSelf(const std::string& line) {
    const FileEntry entry = SplitFileEntry(line);
    // The name stands unquoted in Update.bat; anything the script could misread is refused
    // before a byte is downloaded.
    if (!IsSafeSelfName(entry.path)) {
        entryRefused_ = true;
        StatusText = "Update Failed";
        return;
    }
    const std::string installed = platform::JoinPath(BaseDir, entry.path);
    if (DigestText(installed) == entry.digest) {
        return;
    }
    platform::StrToInt64(entry.size);
    const std::string packed = installed + ".bz2";
    if (!DownloadFile(UpdateUrl + entry.path + ".bz2", packed)) {
        return;
    }
    const std::string newCopy = installed + ".New";
    try {
        if (!lastDownloadSound_) {
            platform::DeleteFile(packed);
            throw EBadDownload("The download did not arrive whole");
        }
        UnpackFile(packed, newCopy);
        if (DigestText(newCopy) != entry.digest) {
            throw EBadDownload("The new updater does not have the listed digest");
        }
        if (platform::FileExists(installed)) {
            platform::CopyFileMode(installed, newCopy);
        } else {
            platform::SetExecutable(newCopy);
        }
        WriteUpdateScript(entry.path);
        RunProgram(BaseDir + "Update.bat");
    } catch (const platform::Exception&) {
        if (notificationFailed_) {
            throw;
        }
        // Shown by nothing until a later stage sets its own text; the next run tries again.
        StatusText = "Update Failed";
        entryRefused_ = true;
        platform::DeleteFile(newCopy);
    }
}

void GFilesThread::Finish() {
    ShowStatus();
    UnlockButtons();
}

void GFilesThread::Execute() {
    BaseDir = platform::GetCurrentDir() + platform::PathDelimiter;
    const std::string packedList = BaseDir + "files.lst.bz2";
    const std::string listPath = BaseDir + "files.lst";

    LockButtons();
    StatusText = "Downloading updates list";
    ShowStatus();

    // No address means nothing to ask any server.
    bool downloaded = false;
    if (!UpdateUrl.empty()) {
        if (UpdateUrl.back() != '/') {
            UpdateUrl += '/';
        }
        downloaded = DownloadFile(UpdateUrl + "files.lst.bz2", packedList);
    }
    if (!downloaded) {
        StatusText = "Update Failed";
        platform::DeleteFile(listPath);
        platform::DeleteFile(packedList);
        Finish();
        return;
    }

    StatusText.clear();
    ShowStatus();

    try {
        if (!lastDownloadSound_) {
            platform::DeleteFile(packedList);
            throw EBadDownload("The list did not arrive whole");
        }
        UnpackFile(packedList, listPath);
    } catch (const platform::Exception&) {
        if (notificationFailed_) {
            throw;
        }
        StatusText = "Update Failed";
        ShowStatus();
        platform::DeleteFile(listPath);
    }

    if (!platform::FileExists(listPath)) {
        Finish();
        return;
    }

    DownloadQueue.clear();
    std::int32_t rev = 0;
    {
        TListFile list(listPath);
        rev = platform::StrToInt(list.ReadValue("settings", "Rev"));
        if (platform::StrToInt(list.ReadValue("settings", "ModHosts")) == 1) {
            EditHosts(list.ReadSection("hosts"));
        }
        SelfEntry = list.ReadSection("self").front();
        if (SelfEntry != "FAIL") {
            UpdateSelf(SelfEntry);
        }
        CheckFiles(list.ReadSection("files_critical"));
        if (FullCheck || AtRevision < rev) {
            if (CreateBackup == 1) {
                const std::string backup = BaseDir + "backup";
                DeleteFolder(backup);
                if (!platform::CreateDir(backup)) {
                    throw platform::EInOutError(errno);
                }
            }
            CheckFiles(list.ReadSection("files_normal"));
        }
        ProcessQueue();
    }
    DownloadQueue.clear();
    platform::DeleteFile(listPath);

    if (AtRevision < rev) {
        AtRevision = rev;
        StoreRevision();
    }
    Finish();
}

} // namespace velmoran
