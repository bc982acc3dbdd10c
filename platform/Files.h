// Files.h: folders, file attributes, copying, mapping and whole-file writes.
//
// Stands in for the Windows directory listing, CopyFileA, file mapping and the current
// directory. Paths are native paths (see Path.h for turning list paths into them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran::platform {

// File attribute bits as Windows reports them; the ZIP writer stores them as they are.
inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSysFile = 0x04;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;

struct DirEntry {
    std::string name;             // the entry's own name, without its folder
    std::uint32_t attributes = 0; // fa* bits; POSIX: hidden = name starts with '.'
    std::int64_t size = 0;        // bytes; 0 for folders
    std::int64_t modified = 0;    // last write, seconds since 1970-01-01 UTC

    bool IsDirectory() const noexcept { return (attributes & faDirectory) != 0; }
};

// The entries of a folder, "." and ".." left out, sorted by name. Symbolic links are
// described by what they point to. Raises EInOutError when the folder cannot be read.
std::vector<DirEntry> ListDirectory(const std::string& folder);
// The entry for one path, or nothing when it does not exist.
std::optional<DirEntry> GetFileInfo(const std::string& path);

bool FileExists(const std::string& path);       // exists and is not a folder
bool DirectoryExists(const std::string& path);  // exists and is a folder
std::int64_t FileSize(const std::string& path); // -1 when the file does not exist
// Whether this process may change the file or folder: the system grants it and the
// file is not read-only (no write bit). Root is refused read-only files too, as on Windows.
bool IsWritable(const std::string& path);
// Whether the process is root and path exists without write bits. The system lets root
// write anything; the file operations here refuse it such a file, or a new file in such a
// folder (EACCES), so that root's runs fail where anyone else's would.
bool ReadOnlyForRoot(const std::string& path);

bool DeleteFile(const std::string& path);
// Renames, replacing an existing target in one step.
bool RenameFile(const std::string& from, const std::string& to);
// Copies a file with its permission bits and modification time. With failIfExists an
// existing target is left alone and the copy fails. The target appears whole or not at all.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);
// Gives to the permission bits of from (the file being replaced by to).
bool CopyFileMode(const std::string& from, const std::string& to);
// Lets everyone who may read the file also run it (a new game program, a new updater).
bool SetExecutable(const std::string& path);
bool CreateDir(const std::string& path);        // one level; false when it fails or exists
bool ForceDirectories(const std::string& path); // every missing level; true when it exists after
bool RemoveDir(const std::string& path);        // an empty folder

std::string GetCurrentDir();
bool SetCurrentDir(const std::string& path);

// Replaces the file's content in one step: a temporary file beside it is written, flushed
// to the disk and renamed over it, so readers see the old content or the new, never a mix.
// An existing file keeps its permission bits; a symbolic link keeps pointing at it.
// Temporary files of an earlier write that was killed are deleted first.
// Raises EFCreateError when the file or its folder is read-only or cannot be written.
void WriteFileAtomic(const std::string& path, std::string_view content);

// A new, empty, uniquely named file in the same folder as path (".name.XXXXXX"), for
// writing a file that replaces path by RenameFile once it is complete. Raises EFCreateError.
std::string CreateTempFileBeside(const std::string& path);

// Deletes the temporary files beside path that a replacement of it left when its process
// was killed (the names CreateTempFileBeside and WriteFileAtomic make). Only for a caller
// that is the one writer of path at that moment; reports nothing.
void DeleteStaleTempFiles(const std::string& path);

// A read-only view of a whole file. When the file is missing, unreadable, empty or too
// large for the address space, nothing is mapped: IsMapped() is false and Size() is 0.
class TFileMapping {
public:
    explicit TFileMapping(const std::string& path);
    ~TFileMapping();
    TFileMapping(const TFileMapping&) = delete;
    TFileMapping& operator=(const TFileMapping&) = delete;

    bool IsMapped() const noexcept { return data_ != nullptr; }
    const unsigned char* Data() const noexcept { return data_; }
    std::uint64_t Size() const noexcept { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::uint64_t size_ = 0;
};

} // namespace velmoran::platform
