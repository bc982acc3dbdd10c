// ZipArchive.cpp: reading an archive's structure and appending deflated entries.
#include "builder/ZipArchive.h"

#include "builder/crc.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <zlib.h>

namespace kelpforge {

namespace {

using velmoran::platform::EFCreateError;
using velmoran::platform::LocalDateTime;
using velmoran::platform::TFileStream;

// Bytes read and compressed at a time. Large enough that system calls cost nothing
// next to deflate, small enough that the memory use stays flat.
constexpr std::size_t kBlockSize = 256 * 1024;

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxCommentLength = 0xFFFF;

// Little-endian field writers and readers over byte strings.
void Put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((v >> shift) & 0xFF);
    }
}

std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Get32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::string EncodeLocalFile(const TLocalFile& h) {
    std::string out;
    out.reserve(TLocalFile::kFixedSize + h.FileName.size() + h.ExtraField.size());
    Put32(out, h.Signature);
    Put16(out, h.VersionNeeded);
    Put16(out, h.Flags);
    Put16(out, h.Method);
    Put16(out, h.ModTime);
    Put16(out, h.ModDate);
    Put32(out, h.Crc32);
    Put32(out, h.CompressedSize);
    Put32(out, h.UncompressedSize);
    Put16(out, h.FileNameLength);
    Put16(out, h.ExtraFieldLength);
    out += h.FileName;
    out += h.ExtraField;
    return out;
}

void EncodeCentralFile(std::string& out, const TCentralDirectoryFile& h) {
    Put32(out, h.Signature);
    Put16(out, h.VersionMadeBy);
    Put16(out, h.VersionNeeded);
    Put16(out, h.Flags);
    Put16(out, h.Method);
    Put16(out, h.ModTime);
    Put16(out, h.ModDate);
    Put32(out, h.Crc32);
    Put32(out, h.CompressedSize);
    Put32(out, h.UncompressedSize);
    Put16(out, h.FileNameLength);
    Put16(out, h.ExtraFieldLength);
    Put16(out, h.FileCommentLength);
    Put16(out, h.DiskNumberStart);
    Put16(out, h.InternalAttributes);
    Put32(out, h.ExternalAttributes);
    Put32(out, h.LocalHeaderOffset);
    out += h.FileName;
    out += h.ExtraField;
    out += h.FileComment;
}

std::string EncodeEndOfCentralDir(const TEndOfCentralDir& r) {
    std::string out;
    out.reserve(TEndOfCentralDir::kSize);
    Put32(out, r.Signature);
    Put16(out, r.DiskNumber);
    Put16(out, r.CentralDirDisk);
    Put16(out, r.EntriesOnDisk);
    Put16(out, r.TotalEntries);
    Put32(out, r.CentralDirSize);
    Put32(out, r.CentralDirOffset);
    Put16(out, r.CommentLength);
    return out;
}

TEndOfCentralDir DecodeEndOfCentralDir(const unsigned char* p) {
    TEndOfCentralDir r;
    r.Signature = Get32(p);
    r.DiskNumber = Get16(p + 4);
    r.CentralDirDisk = Get16(p + 6);
    r.EntriesOnDisk = Get16(p + 8);
    r.TotalEntries = Get16(p + 10);
    r.CentralDirSize = Get32(p + 12);
    r.CentralDirOffset = Get32(p + 16);
    r.CommentLength = Get16(p + 20);
    return r;
}

// Reads exactly count bytes at position, or reports that the file ends before.
bool ReadAt(TFileStream& stream, std::int64_t position, void* buffer, std::size_t count) {
    stream.SetPosition(position);
    return stream.Read(buffer, count) == count;
}

std::string ReadString(TFileStream& stream, std::size_t count, bool& ok) {
    std::string bytes(count, '\0');
    if (count != 0 && stream.Read(bytes.data(), count) != count) {
        ok = false;
    }
    return bytes;
}

std::optional<TCentralDirectoryFile> ReadCentralFile(TFileStream& stream) {
    unsigned char p[TCentralDirectoryFile::kFixedSize];
    if (stream.Read(p, sizeof p) != sizeof p || Get32(p) != kCentralFileSignature) {
        return std::nullopt;
    }
    TCentralDirectoryFile h;
    h.VersionMadeBy = Get16(p + 4);
    h.VersionNeeded = Get16(p + 6);
    h.Flags = Get16(p + 8);
    h.Method = Get16(p + 10);
    h.ModTime = Get16(p + 12);
    h.ModDate = Get16(p + 14);
    h.Crc32 = Get32(p + 16);
    h.CompressedSize = Get32(p + 20);
    h.UncompressedSize = Get32(p + 24);
    h.FileNameLength = Get16(p + 28);
    h.ExtraFieldLength = Get16(p + 30);
    h.FileCommentLength = Get16(p + 32);
    h.DiskNumberStart = Get16(p + 34);
    h.InternalAttributes = Get16(p + 36);
    h.ExternalAttributes = Get32(p + 38);
    h.LocalHeaderOffset = Get32(p + 42);
    bool ok = true;
    h.FileName = ReadString(stream, h.FileNameLength, ok);
    h.ExtraField = ReadString(stream, h.ExtraFieldLength, ok);
    h.FileComment = ReadString(stream, h.FileCommentLength, ok);
    if (!ok) {
        return std::nullopt;
    }
    return h;
}

std::optional<TLocalFile> ReadLocalFile(TFileStream& stream, std::int64_t position) {
    unsigned char p[TLocalFile::kFixedSize];
    if (!ReadAt(stream, position, p, sizeof p) || Get32(p) != kLocalFileSignature) {
        return std::nullopt;
    }
    TLocalFile h;
    h.VersionNeeded = Get16(p + 4);
    h.Flags = Get16(p + 6);
    h.Method = Get16(p + 8);
    h.ModTime = Get16(p + 10);
    h.ModDate = Get16(p + 12);
    h.Crc32 = Get32(p + 14);
    h.CompressedSize = Get32(p + 18);
    h.UncompressedSize = Get32(p + 22);
    h.FileNameLength = Get16(p + 26);
    h.ExtraFieldLength = Get16(p + 28);
    bool ok = true;
    h.FileName = ReadString(stream, h.FileNameLength, ok);
    h.ExtraField = ReadString(stream, h.ExtraFieldLength, ok);
    if (!ok) {
        return std::nullopt;
    }
    return h;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string TooLargeMessage(const std::string& sourcePath) {
    return "File \"" + sourcePath + "\" is too large for a ZIP archive (4 GiB or more)!";
}

// A raw deflate stream (no zlib header or trailer) that releases its state however the
// caller leaves.
class Deflater {
public:
    explicit Deflater(int level) {
        const int rc = deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (rc == Z_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (rc != Z_OK) {
            throw EZipError("Compression could not be started (zlib error " + std::to_string(rc) +
                            ")");
        }
    }
    ~Deflater() { deflateEnd(&z_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses count bytes (finishing the stream when finish is set) and hands every
    // piece of output to sink.
    template <typename Sink>
    void Run(const unsigned char* data, std::size_t count, bool finish, unsigned char* out,
             std::size_t outSize, Sink&& sink) {
        z_.next_in = const_cast<unsigned char*>(data);
        z_.avail_in = static_cast<uInt>(count);
        const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
        while (true) {
            z_.next_out = out;
            z_.avail_out = static_cast<uInt>(outSize);
            const int rc = deflate(&z_, flush);
            const std::size_t produced = outSize - z_.avail_out;
            if (produced > 0) {
                sink(out, produced);
            }
            if (rc == Z_STREAM_END) {
                return;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                throw EZipError("Compression failed (zlib error " + std::to_string(rc) + ")");
            }
            // Without Z_FINISH deflate is done with this input once it has taken all of
            // it and left room in the output; with it, only the stream's end counts.
            if (!finish && z_.avail_in == 0 && z_.avail_out != 0) {
                return;
            }
            if (rc == Z_BUF_ERROR && produced == 0) {
                throw EZipError("Compression made no progress");
            }
        }
    }

private:
    z_stream z_{};
};

} // namespace

ERangeError::ERangeError() : Exception("Range check error") {}

void TZipArchiveEntriesEntry::UpdateDerivedValues() {
    const auto& h = CentralDirectoryFile;
    Encrypted = (h.Flags & 0x0001) != 0;
    Folder = (h.ExternalAttributes & velmoran::platform::faDirectory) != 0;
    ModifiedTime = FromDosDateTime(h.ModDate, h.ModTime);
    if (h.Method == 8 || h.Method == 9) {
        static constexpr TZipCompressionType kByFlags[] = {
            TZipCompressionType::ctNormal, TZipCompressionType::ctMaximum,
            TZipCompressionType::ctFast, TZipCompressionType::ctSuperFast};
        CompressionType = kByFlags[(h.Flags >> 1) & 3];
    } else {
        CompressionType = TZipCompressionType::ctUnknown;
    }
}

const TZipArchiveEntriesEntry& TZipArchiveEntries::operator[](std::size_t index) const {
    if (index >= items_.size()) {
        throw velmoran::platform::EListError(static_cast<long long>(index));
    }
    return items_[index];
}

TZipArchiveEntriesEntry& TZipArchiveEntries::Add(TZipArchiveEntriesEntry entry) {
    items_.push_back(std::move(entry));
    return items_.back();
}

void TZipArchiveEntries::Delete(std::size_t index) {
    if (index >= items_.size()) {
        throw velmoran::platform::EListError(static_cast<long long>(index));
    }
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::ptrdiff_t TZipArchiveEntries::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const std::string& candidate = items_[i].FileName();
        if (std::equal(candidate.begin(), candidate.end(), name.begin(), name.end(),
                       [](char a, char b) { return AsciiLower(a) == AsciiLower(b); })) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

TZipArchive::TZipArchive() = default;

TZipArchive::~TZipArchive() {
    try {
        CloseArchive();
    } catch (...) {
        // Nothing can be reported from here; callers that care close the archive first.
    }
}

void TZipArchive::SetCompressionType(TZipCompressionType value) noexcept {
    compressionType_ =
        value == TZipCompressionType::ctUnknown ? TZipCompressionType::ctNormal : value;
}

bool TZipArchive::Active() const noexcept {
    return stream_ != nullptr;
}

void TZipArchive::SetActive(bool value) {
    if (fileName_.empty()) {
        return;
    }
    if (value) {
        OpenArchive(fileName_);
    } else {
        CloseArchive();
    }
}

void TZipArchive::ZipChange(int change) {
    if (OnZipChange) {
        OnZipChange(change);
    }
}

void TZipArchive::CreateEmptyArchive(const std::string& path) {
    // A read-only file is never truncated, whoever runs the program.
    if (const auto info = velmoran::platform::GetFileInfo(path);
        info && !info->IsDirectory() && (info->attributes & velmoran::platform::faReadOnly)) {
        throw EFCreateError(path, EACCES);
    }
    TFileStream file(path, TFileStream::Mode::Create, TFileStream::Share::DenyNone);
    const std::string record = EncodeEndOfCentralDir(TEndOfCentralDir{});
    file.WriteBuffer(record.data(), record.size());
    file.Close();
}

void TZipArchive::OpenArchive(const std::string& path) {
    CloseArchive();
    const auto info = velmoran::platform::GetFileInfo(path);
    if (!info) {
        throw EZipError("File \"" + path + "\" not found!");
    }
    const bool readOnly = (info->attributes & velmoran::platform::faReadOnly) != 0;
    stream_ = std::make_unique<TFileStream>(
        path, readOnly ? TFileStream::Mode::OpenRead : TFileStream::Mode::OpenReadWrite,
        TFileStream::Share::DenyNone);
    ownsStream_ = true;
    readOnly_ = readOnly;
    fileName_ = path;
    ReadStructure();
    if (!isZipFile_) {
        CloseArchive();
        return;
    }
    changed_ = false;
    if (!batchMode_) {
        ZipChange(kZipOpened);
    }
    if (OnZipOpen) {
        OnZipOpen();
    }
}

void TZipArchive::ReadStructure() {
    isZipFile_ = false;
    entries_.Clear();
    comment_.clear();
    const std::int64_t size = stream_->Size();
    if (size < static_cast<std::int64_t>(TEndOfCentralDir::kSize)) {
        return;
    }
    // The record is the last thing in the file unless a comment follows it, and a comment
    // is at most 64 KiB long: read that tail once and look backwards through it.
    const std::int64_t tailStart = std::max<std::int64_t>(
        0, size - static_cast<std::int64_t>(TEndOfCentralDir::kSize + kMaxCommentLength));
    std::string tail(static_cast<std::size_t>(size - tailStart), '\0');
    if (!ReadAt(*stream_, tailStart, tail.data(), tail.size())) {
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail.data());
    std::optional<std::size_t> found;
    for (std::size_t at = tail.size() - TEndOfCentralDir::kSize + 1; at-- > 0;) {
        if (Get32(bytes + at) == kEndOfCentralDirSignature) {
            found = at;
            break;
        }
    }
    if (!found) {
        return;
    }
    endOfCentralDir_ = DecodeEndOfCentralDir(bytes + *found);
    endOfCentralDirPosition_ = tailStart + static_cast<std::int64_t>(*found);
    commentPosition_ =
        endOfCentralDirPosition_ + static_cast<std::int64_t>(TEndOfCentralDir::kSize);
    const std::size_t commentStart = *found + TEndOfCentralDir::kSize;
    comment_ = tail.substr(commentStart, std::min<std::size_t>(endOfCentralDir_.CommentLength,
                                                               tail.size() - commentStart));

    stream_->SetPosition(endOfCentralDir_.CentralDirOffset);
    std::vector<TZipArchiveEntriesEntry> read;
    while (read.size() < endOfCentralDir_.TotalEntries) {
        auto central = ReadCentralFile(*stream_);
        if (!central) {
            break;
        }
        read.emplace_back().CentralDirectoryFile = std::move(*central);
    }
    for (auto& entry : read) {
        if (auto local = ReadLocalFile(*stream_, entry.CentralDirectoryFile.LocalHeaderOffset)) {
            entry.LocalFile = std::move(*local);
        }
        entry.UpdateDerivedValues();
    }
    const bool complete = read.size() == endOfCentralDir_.TotalEntries;
    for (auto& entry : read) {
        entries_.Add(std::move(entry));
    }
    isZipFile_ = complete;
}

void TZipArchive::CloseArchive() {
    const bool wasOpen = stream_ != nullptr;
    entries_.Clear();
    comment_.clear();
    isZipFile_ = false;
    readOnly_ = false;
    auto stream = std::move(stream_);
    const bool owned = std::exchange(ownsStream_, false);
    if (stream && owned) {
        stream->Close();
    } else {
        (void)stream.release();
    }
    if (wasOpen && !batchMode_) {
        ZipChange(kZipClosed);
    }
}

void TZipArchive::AddFileEntry(const std::string& sourcePath) {
    if (!stream_) {
        throw EZipError("No archive is open to add \"" + sourcePath + "\" to!");
    }
    if (readOnly_) {
        throw EZipError("Archive \"" + fileName_ + "\" is read-only!");
    }
    const auto info = velmoran::platform::GetFileInfo(sourcePath);
    if (!info) {
        return;
    }
    TFileStream source(sourcePath, TFileStream::Mode::OpenRead, TFileStream::Share::DenyNone);
    if (info->attributes > 0xFFFF) {
        throw ERangeError();
    }
    // Refuse before anything is written: the format's sizes have 32 bits.
    if (static_cast<std::uint64_t>(source.Size() - source.Position()) > kMax32) {
        throw EZipError(TooLargeMessage(sourcePath));
    }
    if (OnCompressFile) {
        OnCompressFile(sourcePath);
    }

    std::string name = ZipEntryName(sourcePath, storeRelativePath_);
    if (name.size() > 0xFFFF) {
        throw ERangeError();
    }
    if (const auto existing = entries_.IndexOf(name); existing >= 0) {
        entries_.Delete(static_cast<std::size_t>(existing));
    }

    const std::uint32_t dos = DosDateTime(velmoran::platform::ToLocalTime(info->modified));
    TZipArchiveEntriesEntry entry;
    TLocalFile& local = entry.LocalFile;
    local.ModTime = static_cast<std::uint16_t>(dos & 0xFFFF);
    local.ModDate = static_cast<std::uint16_t>(dos >> 16);
    local.FileNameLength = static_cast<std::uint16_t>(name.size());
    local.FileName = name;

    const std::int64_t oldSize = stream_->Size();
    const std::int64_t start = endOfCentralDir_.CentralDirOffset;

    auto in = std::make_unique_for_overwrite<unsigned char[]>(kBlockSize);
    std::size_t got = source.Read(in.get(), kBlockSize);
    // What was read decides the method; the size taken above may be stale by now.
    local.Method = got > 0 ? kMethodDeflated : kMethodStored;

    // The local header goes where the central directory began; its checksum and sizes
    // are known once the data behind it has been written.
    stream_->SetPosition(start);
    const std::string header = EncodeLocalFile(local);
    stream_->WriteBuffer(header.data(), header.size());

    std::uint64_t sourceBytes = 0;
    std::uint64_t packedBytes = 0;
    std::uint32_t crc = kCrc32Start;
    if (got > 0) {
        auto out = std::make_unique_for_overwrite<unsigned char[]>(kBlockSize);
        Deflater deflater(DeflateLevel(compressionType_));
        auto sink = [&](const unsigned char* data, std::size_t count) {
            packedBytes += count;
            if (packedBytes > kMax32) {
                throw EZipError(TooLargeMessage(sourcePath));
            }
            stream_->WriteBuffer(data, count);
        };
        while (got > 0) {
            sourceBytes += got;
            if (sourceBytes > kMax32) {
                throw EZipError(TooLargeMessage(sourcePath));
            }
            crc = Crc32Update(crc, in.get(), got);
            deflater.Run(in.get(), got, false, out.get(), kBlockSize, sink);
            got = source.Read(in.get(), kBlockSize);
        }
        deflater.Run(nullptr, 0, true, out.get(), kBlockSize, sink);
    }
    const std::uint64_t centralOffset =
        static_cast<std::uint64_t>(start) + header.size() + packedBytes;
    if (centralOffset > kMax32) {
        throw EZipError(TooLargeMessage(sourcePath));
    }
    local.Crc32 = sourceBytes > 0 ? Crc32Finish(crc).value : 0;
    local.CompressedSize = static_cast<std::uint32_t>(packedBytes);
    local.UncompressedSize = static_cast<std::uint32_t>(sourceBytes);
    std::string sums;
    Put32(sums, local.Crc32);
    Put32(sums, local.CompressedSize);
    Put32(sums, local.UncompressedSize);
    stream_->SetPosition(start + 14);
    stream_->WriteBuffer(sums.data(), sums.size());

    TCentralDirectoryFile& central = entry.CentralDirectoryFile;
    central.Method = local.Method;
    central.ModTime = local.ModTime;
    central.ModDate = local.ModDate;
    central.Crc32 = local.Crc32;
    central.CompressedSize = local.CompressedSize;
    central.UncompressedSize = local.UncompressedSize;
    central.FileNameLength = local.FileNameLength;
    central.ExternalAttributes = info->attributes & 0xFFFF;
    central.LocalHeaderOffset = static_cast<std::uint32_t>(start);
    central.FileName = std::move(name);
    TZipArchiveEntriesEntry& added = entries_.Add(std::move(entry));

    stream_->SetPosition(static_cast<std::int64_t>(centralOffset));
    endOfCentralDir_.CentralDirOffset = static_cast<std::uint32_t>(centralOffset);
    WriteCentralDirectory();
    // The file ends where an archive written in one piece would have been cut off: its old
    // size grown by the new entry's two headers and data.
    const std::int64_t finalSize =
        oldSize + static_cast<std::int64_t>(header.size() + packedBytes) +
        static_cast<std::int64_t>(TCentralDirectoryFile::kFixedSize + added.FileName().size());
    if (stream_->Size() < finalSize) {
        stream_->SetSize(finalSize);
    }
    stream_->Flush();

    added.UpdateDerivedValues();
    changed_ = true;
    if (!batchMode_) {
        ZipChange(kZipEntryAdded);
    }
    if (OnAddItem) {
        OnAddItem(added.FileName());
    }
}

void TZipArchive::WriteCentralDirectory() {
    std::string directory;
    for (const auto& entry : entries_) {
        EncodeCentralFile(directory, entry.CentralDirectoryFile);
    }
    if (directory.size() > kMax32 || entries_.Count() > 0xFFFF) {
        throw ERangeError();
    }
    endOfCentralDir_.CentralDirSize = static_cast<std::uint32_t>(directory.size());
    endOfCentralDir_.EntriesOnDisk = static_cast<std::uint16_t>(entries_.Count());
    endOfCentralDir_.TotalEntries = static_cast<std::uint16_t>(entries_.Count());
    directory += EncodeEndOfCentralDir(endOfCentralDir_);
    directory += comment_;
    endOfCentralDirPosition_ = endOfCentralDir_.CentralDirOffset + endOfCentralDir_.CentralDirSize;
    commentPosition_ =
        endOfCentralDirPosition_ + static_cast<std::int64_t>(TEndOfCentralDir::kSize);
    stream_->WriteBuffer(directory.data(), directory.size());
}

std::string ZipEntryName(std::string_view sourcePath, bool storeRelativePath) {
    std::string name = storeRelativePath ? std::string(sourcePath)
                                         : velmoran::platform::ExtractFileName(sourcePath);
    std::replace(name.begin(), name.end(), '\\', '/');
    if (const auto drive = name.find(":/"); drive != std::string::npos) {
        name.erase(0, drive + 2);
    }
    if (name.starts_with("//")) {
        const auto server = name.find('/', 2);
        const auto share = server == std::string::npos ? server : name.find('/', server + 1);
        name.erase(0, share == std::string::npos ? name.size() : share + 1);
    }
    if (storeRelativePath) {
        // A stored name is never absolute.
        name.erase(0, name.find_first_not_of('/'));
    }
    return name;
}

std::uint32_t DosDateTime(const LocalDateTime& t) {
    if (t.year < 1980) {
        return std::uint32_t{1 + 1 * 32} << 16; // 1980-01-01 00:00:00
    }
    if (t.year > 2107) {
        // 2107-12-31 23:59:58
        return std::uint32_t{31 + 12 * 32 + 127 * 512} << 16 | (29 + 59 * 32 + 23 * 2048);
    }
    const int second = std::min(t.second, 59);
    const auto time = static_cast<std::uint32_t>(second / 2 + t.minute * 32 + t.hour * 2048);
    const auto date = static_cast<std::uint32_t>(t.day + t.month * 32 + (t.year - 1980) * 512);
    return date << 16 | time;
}

LocalDateTime FromDosDateTime(std::uint16_t date, std::uint16_t time) {
    LocalDateTime t;
    t.year = 1980 + (date >> 9);
    t.month = (date >> 5) & 0x0F;
    t.day = date & 0x1F;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 0x3F;
    t.second = (time & 0x1F) * 2;
    return t;
}

int DeflateLevel(TZipCompressionType type) {
    switch (type) {
    case TZipCompressionType::ctMaximum:
        return 9;
    case TZipCompressionType::ctFast:
    case TZipCompressionType::ctSuperFast:
        return 1;
    case TZipCompressionType::ctNone:
        return 0;
    default:
        return Z_DEFAULT_COMPRESSION;
    }
}

} // namespace kelpforge
