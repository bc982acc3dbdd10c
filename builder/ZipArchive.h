// ZipArchive.h: the archive component that writes the builder's ZIP archives.
//
// TZipArchive creates an empty archive, opens it, adds files as deflated entries and
// closes it again. Files are compressed in one streaming pass, so memory use does not
// grow with their size; the bytes are those of a one-shot deflate at the same level.
#pragma once

#include "platform/Errors.h"
#include "platform/Time.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran::platform {
class TFileStream;
}

namespace kelpforge {

enum class TZipSaveMethod { FastSave, RebuildAll };
enum class TZipCompressionType { ctNormal, ctMaximum, ctFast, ctSuperFast, ctNone, ctUnknown };
enum class TOverwriteAction { oaSkip, oaSkipAll, oaOverwrite, oaOverwriteAll };

// The codes that the change notification carries.
inline constexpr int kZipClosed = 0;
inline constexpr int kZipOpened = 1;
inline constexpr int kZipEntryAdded = 2;

// A failure that the component itself detects; the message names the file.
class EZipError : public velmoran::platform::Exception {
public:
    using Exception::Exception;
};

// A value that does not fit the field it must be stored in: "Range check error".
class ERangeError : public velmoran::platform::Exception {
public:
    ERangeError();
};

inline constexpr std::uint32_t kLocalFileSignature = 0x04034B50;
inline constexpr std::uint32_t kCentralFileSignature = 0x02014B50;
inline constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054B50;
// Version 2.0: deflate. The upper byte of "made by" (0) says MS-DOS attributes.
inline constexpr std::uint16_t kZipVersion = 20;
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;

// The fixed part of a local file header, with its variable parts.
struct TLocalFile {
    static constexpr std::size_t kFixedSize = 30;

    std::uint32_t Signature = kLocalFileSignature;
    std::uint16_t VersionNeeded = kZipVersion;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t ModTime = 0;
    std::uint16_t ModDate = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint16_t FileNameLength = 0;
    std::uint16_t ExtraFieldLength = 0;
    std::string FileName;
    std::string ExtraField;
};

// The fixed part of a central directory file header, with its variable parts.
struct TCentralDirectoryFile {
    static constexpr std::size_t kFixedSize = 46;

    std::uint32_t Signature = kCentralFileSignature;
    std::uint16_t VersionMadeBy = kZipVersion;
    std::uint16_t VersionNeeded = kZipVersion;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t ModTime = 0;
    std::uint16_t ModDate = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint16_t FileNameLength = 0;
    std::uint16_t ExtraFieldLength = 0;
    std::uint16_t FileCommentLength = 0;
    std::uint16_t DiskNumberStart = 0;
    std::uint16_t InternalAttributes = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint32_t LocalHeaderOffset = 0;
    std::string FileName;
    std::string ExtraField;
    std::string FileComment;
};

// The end of central directory record.
struct TEndOfCentralDir {
    static constexpr std::size_t kSize = 22;

    std::uint32_t Signature = kEndOfCentralDirSignature;
    std::uint16_t DiskNumber = 0;
    std::uint16_t CentralDirDisk = 0;
    std::uint16_t EntriesOnDisk = 0;
    std::uint16_t TotalEntries = 0;
    std::uint32_t CentralDirSize = 0;
    std::uint32_t CentralDirOffset = 0;
    std::uint16_t CommentLength = 0;
};

// One entry of an archive: both of its headers and what is derived from them.
class TZipArchiveEntriesEntry {
public:
    TCentralDirectoryFile CentralDirectoryFile;
    TLocalFile LocalFile;

    bool Encrypted = false; // bit 0 of the flags
    bool Folder = false;    // the folder bit of the external attributes
    velmoran::platform::LocalDateTime ModifiedTime;
    TZipCompressionType CompressionType = TZipCompressionType::ctUnknown;
    bool Selected = false;

    const std::string& FileName() const noexcept { return CentralDirectoryFile.FileName; }
    // Recomputes the derived values from the central header.
    void UpdateDerivedValues();
};

// The entries of an archive in the order of its central directory.
class TZipArchiveEntries {
public:
    std::size_t Count() const noexcept { return items_.size(); }
    const TZipArchiveEntriesEntry& operator[](std::size_t index) const;
    TZipArchiveEntriesEntry& Add(TZipArchiveEntriesEntry entry);
    void Delete(std::size_t index);
    void Clear() noexcept { items_.clear(); }
    // The index of the entry whose name equals name without regard to ASCII case; -1 if none.
    std::ptrdiff_t IndexOf(std::string_view name) const;

    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

private:
    std::vector<TZipArchiveEntriesEntry> items_;
};

// The archive component. Not thread-safe: one instance serves one thread at a time.
class TZipArchive {
public:
    TZipArchive();
    virtual ~TZipArchive();
    TZipArchive(const TZipArchive&) = delete;
    TZipArchive& operator=(const TZipArchive&) = delete;

    // Settings.
    TZipSaveMethod SaveMethod() const noexcept { return saveMethod_; }
    void SetSaveMethod(TZipSaveMethod value) noexcept { saveMethod_ = value; }
    bool StoreRelativePath() const noexcept { return storeRelativePath_; }
    void SetStoreRelativePath(bool value) noexcept { storeRelativePath_ = value; }
    bool StoreFolders() const noexcept { return storeFolders_; }
    void SetStoreFolders(bool value) noexcept { storeFolders_ = value; }
    TZipCompressionType CompressionType() const noexcept { return compressionType_; }
    // ctUnknown names no level; it is stored as ctNormal.
    void SetCompressionType(TZipCompressionType value) noexcept;
    bool UseTempFiles() const noexcept { return useTempFiles_; }
    void SetUseTempFiles(bool value) noexcept { useTempFiles_ = value; }
    TOverwriteAction OverwriteAction() const noexcept { return overwriteAction_; }
    void SetOverwriteAction(TOverwriteAction value) noexcept { overwriteAction_ = value; }
    bool ReadOnly() const noexcept { return readOnly_; }
    void SetReadOnly(bool value) noexcept { readOnly_ = value; }
    bool ApplyAtributes() const noexcept { return applyAtributes_; }
    void SetApplyAtributes(bool value) noexcept { applyAtributes_ = value; }
    std::string ComponentVersion() const { return "2.0"; }
    void SetComponentVersion(const std::string& /*ignored*/) noexcept {}
    bool IsZipFile() const noexcept { return isZipFile_; }
    void SetIsZipFile(bool /*ignored*/) noexcept {}
    // Whether an archive is open. True opens FileName(), False closes; both do nothing
    // while FileName() is empty.
    bool Active() const noexcept;
    void SetActive(bool value);
    const std::string& FileName() const noexcept { return fileName_; }
    void SetFileName(const std::string& path) { fileName_ = path; }

    // Events. The builder assigns none; OnZipChange gets the change codes above.
    std::function<void(int change)> OnZipChange;
    std::function<void(const std::string& entryName)> OnDecompressFile;
    std::function<void(const std::string& sourcePath)> OnCompressFile;
    std::function<void()> OnZipOpen;
    std::function<void(const std::string& entryName)> OnAddItem;
    std::function<void()> OnRebuildZip;
    std::function<void()> OnRemoveItems;
    std::function<void(const std::string& path, TOverwriteAction& action)> OnOverwriteFile;

    // Creates or truncates the file and writes an empty archive (a bare end record) into
    // it. The open archive, if any, is not touched. Raises EFCreateError.
    void CreateEmptyArchive(const std::string& path);
    // Closes the open archive, then opens path and reads its structure. A path that does
    // not exist raises EZipError "File \"path\" not found!"; a file that is no ZIP archive
    // is closed again at once (IsZipFile() stays false).
    void OpenArchive(const std::string& path);
    // Adds the file at sourcePath as one deflated entry named after the file. A source
    // that does not exist adds nothing. A source of 4 GiB or more raises EZipError.
    void AddFileEntry(const std::string& sourcePath);
    // Empties the entry list and closes the archive file.
    void CloseArchive();

    const TZipArchiveEntries& Entries() const noexcept { return entries_; }
    const TEndOfCentralDir& EndOfCentralDir() const noexcept { return endOfCentralDir_; }
    // Suppresses the change notifications while set.
    void SetBatchMode(bool value) noexcept { batchMode_ = value; }

protected:
    // Raises OnZipChange with the change code when it is assigned.
    virtual void ZipChange(int change);

private:
    void ReadStructure();
    void WriteCentralDirectory();

    TZipSaveMethod saveMethod_ = TZipSaveMethod::FastSave;
    bool storeRelativePath_ = true;
    bool storeFolders_ = true;
    TZipCompressionType compressionType_ = TZipCompressionType::ctMaximum;
    bool useTempFiles_ = false;
    TOverwriteAction overwriteAction_ = TOverwriteAction::oaSkip;
    bool readOnly_ = false;
    bool applyAtributes_ = true;

    std::unique_ptr<velmoran::platform::TFileStream> stream_;
    bool ownsStream_ = false;
    TEndOfCentralDir endOfCentralDir_;
    std::int64_t endOfCentralDirPosition_ = 0;
    std::int64_t commentPosition_ = 0;
    std::string comment_;
    TZipArchiveEntries entries_;
    std::string fileName_;
    bool isZipFile_ = false;
    bool changed_ = false;
    bool batchMode_ = false;
};

// The name under which an archive stores the file at sourcePath: its bare name (or the
// whole path with storeRelativePath) with "\" turned into "/" and a drive ("C:/") or a
// server and share ("//server/share/") cut off the front.
std::string ZipEntryName(std::string_view sourcePath, bool storeRelativePath);

// The MS-DOS date (high 16 bits) and time (low 16 bits) of a local time, to 2 seconds.
// Times before 1980 give 1980-01-01 00:00:00, times after 2107 the last date the format has.
std::uint32_t DosDateTime(const velmoran::platform::LocalDateTime& time);
// The local time that an MS-DOS date and time stand for.
velmoran::platform::LocalDateTime FromDosDateTime(std::uint16_t date, std::uint16_t time);

// The deflate level that a compression type asks for (-1: zlib's default).
int DeflateLevel(TZipCompressionType type);

} // namespace kelpforge
