// Files.cpp: folders, attributes, copies, mappings and atomic writes over POSIX.
#include "platform/Files.h"

#include "platform/Errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace velmoran::platform {

namespace {

// Closes a descriptor when it goes out of scope.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

DirEntry EntryFromStat(std::string name, const struct stat& st) {
    DirEntry entry;
    entry.attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        entry.attributes |= faDirectory;
    } else {
        entry.attributes |= faArchive;
        entry.size = st.st_size;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        entry.attributes |= faReadOnly;
    }
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
        entry.attributes |= faHidden;
    }
    entry.modified = st.st_mtim.tv_sec;
    entry.name = std::move(name);
    return entry;
}

bool WriteAllFd(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a rename in folder durable; a failure here loses nothing that is not already safe.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file a path finally names, following symbolic links; the path itself otherwise.
std::string ResolveLinks(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

// The temporary files beside a file: ".name." and six of these letters.
constexpr char kTempLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kTempSuffixSize = 6;

// Creates ".name.XXXXXX" beside path with the mode a new file gets (0666 less the umask).
int MakeTempBeside(const std::string& path, std::string& tempPath) {
    if (ReadOnlyForRoot(FolderOf(path))) {
        tempPath = FolderOf(path) + "/." + NameOf(path) + ".XXXXXX";
        errno = EACCES;
        return -1;
    }
    static std::atomic<std::uint64_t> counter{0};
    const std::string prefix = FolderOf(path) + "/." + NameOf(path) + ".";
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) << 32;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    seed ^=
        static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint64_t value = seed + 0x9E3779B97F4A7C15ull * (counter.fetch_add(1) + 1);
        std::string suffix(kTempSuffixSize, 'x');
        for (char& c : suffix) {
            c = kTempLetters[value % (sizeof kTempLetters - 1)];
            value /= sizeof kTempLetters - 1;
        }
        tempPath = prefix + suffix;
        const int fd = ::open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

} // namespace

std::vector<DirEntry> ListDirectory(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        throw EInOutError(errno);
    }
    const int dirFd = ::dirfd(dir);
    std::vector<DirEntry> entries;
    while (true) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (item == nullptr) {
            const int error = errno;
            ::closedir(dir);
            if (error != 0) {
                throw EInOutError(error);
            }
            break;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, 0) != 0) {
            continue; // a dangling link or a file removed meanwhile is no entry
        }
        entries.push_back(EntryFromStat(name, st));
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<DirEntry> GetFileInfo(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return EntryFromStat(NameOf(path), st);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return -1;
    }
    return st.st_size;
}

bool IsWritable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return false;
    }
    return ::access(path.c_str(), W_OK) == 0;
}

bool ReadOnlyForRoot(const std::string& path) {
    struct stat st {};
    return ::geteuid() == 0 && ::stat(path.c_str(), &st) == 0 &&
           (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool DeleteFile(const std::string& path) {
    if (DirectoryExists(path)) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    FdGuard in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    if (failIfExists && ::access(to.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    std::string tempPath;
    FdGuard out(MakeTempBeside(to, tempPath));
    if (out.get() < 0) {
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 20);
    while (ok) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            ok = WriteAllFd(out.get(), buffer.data(), static_cast<std::size_t>(n));
        }
    }
    if (ok) {
        ::fchmod(out.get(), st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
    }
    const int closeResult = ::close(out.release());
    ok = ok && closeResult == 0;
    if (ok && failIfExists) {
        // link() fails on an existing target, so a file that appeared meanwhile survives.
        ok = ::link(tempPath.c_str(), to.c_str()) == 0;
        const int error = errno;
        ::unlink(tempPath.c_str());
        errno = error;
        return ok;
    }
    if (ok) {
        ok = ::rename(tempPath.c_str(), to.c_str()) == 0;
    }
    if (!ok) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        errno = error;
    }
    return ok;
}

bool CopyFileMode(const std::string& from, const std::string& to) {
    struct stat st {};
    return ::stat(from.c_str(), &st) == 0 && ::chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool SetExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    const mode_t readable = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(path.c_str(), (st.st_mode & 07777) | (readable >> 2)) == 0;
}

bool CreateDir(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    if (ReadOnlyForRoot(FolderOf(trimmed))) {
        errno = EACCES;
        return false;
    }
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    if (DirectoryExists(trimmed)) {
        return true;
    }
    const std::string parent = FolderOf(trimmed);
    if (parent != trimmed && !ForceDirectories(parent)) {
        return false;
    }
    return CreateDir(trimmed) || DirectoryExists(trimmed);
}

bool RemoveDir(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

std::string GetCurrentDir() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            throw EInOutError(errno);
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

bool SetCurrentDir(const std::string& path) {
    return ::chdir(path.c_str()) == 0;
}

void WriteFileAtomic(const std::string& path, std::string_view content) {
    const std::string target = ResolveLinks(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !IsWritable(target)) {
        throw EFCreateError(path, EACCES);
    }
    const std::string folder = FolderOf(target);
    if (!IsWritable(folder)) {
        throw EFCreateError(path, DirectoryExists(folder) ? EACCES : ENOENT);
    }
    DeleteStaleTempFiles(target);
    std::string tempPath;
    FdGuard out(MakeTempBeside(target, tempPath));
    if (out.get() < 0) {
        throw EFCreateError(path, errno);
    }
    auto fail = [&](int error) {
        ::unlink(tempPath.c_str());
        throw EFCreateError(path, error);
    };
    if (exists) {
        ::fchmod(out.get(), old.st_mode & 07777);
        if (::geteuid() == 0) {
            // Root rewriting a player's file must not take it away from the player.
            [[maybe_unused]] const int ignored = ::fchown(out.get(), old.st_uid, old.st_gid);
        }
    }
    if (!WriteAllFd(out.get(), content.data(), content.size()) || ::fsync(out.get()) != 0) {
        fail(errno);
    }
    if (::close(out.release()) != 0) {
        fail(errno);
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        fail(errno);
    }
    SyncFolder(folder);
}

void DeleteStaleTempFiles(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = "." + NameOf(path) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() == prefix.size() + kTempSuffixSize && name.starts_with(prefix) &&
            name.find_first_not_of(kTempLetters, prefix.size()) == std::string_view::npos) {
            stale.emplace_back(folder + "/" + std::string(name));
        }
    }
    ::closedir(dir);
    for (const std::string& file : stale) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::unlink(file.c_str());
        }
    }
}

std::string CreateTempFileBeside(const std::string& path) {
    std::string tempPath;
    const int fd = MakeTempBeside(path, tempPath);
    if (fd < 0) {
        throw EFCreateError(tempPath, errno);
    }
    ::close(fd);
    return tempPath;
}

TFileMapping::TFileMapping(const std::string& path) {
    FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        return;
    }
    void* view =
        ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd.get(), 0);
    if (view == MAP_FAILED) {
        return;
    }
    ::madvise(view, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
    data_ = static_cast<const unsigned char*>(view);
    size_ = static_cast<std::uint64_t>(st.st_size);
}

TFileMapping::~TFileMapping() {
    if (data_ != nullptr) {
        ::munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
    }
}

} // namespace velmoran::platform
