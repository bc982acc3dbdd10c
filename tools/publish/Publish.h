// Publish.h: turns a client folder into what the updater downloads.
//
// The published folder holds files.lst.bz2 (the packed update list) and, for every client
// file, the file packed as <path>.bz2 at the same place in the tree. A publish either
// completes or leaves the published folder as it was: every packed file is written under
// a temporary name first, and the new list replaces the old one only once all of them
// are in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::publish {

struct PublishOptions {
    std::string clientDir;
    std::string outDir;
    // The list's revision; when not given, the published list's revision plus 1, or 1.
    std::optional<std::int32_t> rev;
    // Glob patterns (Glob.h) on the relative path: matching files go to files_critical,
    // which every update run checks; the rest go to files_normal.
    std::vector<std::string> critical;
    // Files and folders left out of the list.
    std::vector<std::string> exclude;
    // The updater's own file, a bare name in the client folder's top level; listed in the
    // self section and not among the files. Empty: no self entry.
    std::string selfName;
    // A text file of "address host [host...]" lines for the hosts section.
    std::string hostsFile;
    // ModHosts 1: the updater applies the hosts section. Needs hostsFile.
    bool modHosts = false;
    // Compression threads; 0 = one per core.
    unsigned jobs = 0;
    // Set from elsewhere (a signal) to stop; the publish then fails and leaves nothing.
    const std::atomic<bool>* cancel = nullptr;
};

struct PublishReport {
    std::int32_t rev = 0;
    std::size_t files = 0;      // entries of files_critical and files_normal
    std::size_t critical = 0;   // of which in files_critical
    std::size_t hosts = 0;      // entries of the hosts section
    bool self = false;          // whether the self section has an entry
    std::size_t compressed = 0; // packed files made by this publish
    std::size_t reused = 0;     // packed files kept because the file's digest is unchanged
    std::size_t removed = 0;    // packed files deleted because their file is gone
    std::int64_t bytes = 0;     // size of all listed files
    std::int64_t packedBytes = 0;
    std::vector<std::string> warnings;
};

// Raises EPublishError (Compress.h) when the publish cannot be done; the message names the
// file, and for refused client files it has one line per file.
PublishReport Publish(const PublishOptions& options);

// The files a publish leaves out whatever the options say: the updater's own working files
// in the client folder's top level (each player's settings, the list it unpacks, the
// update script, the backup folder).
const std::vector<std::string>& BuiltInExclusions();

} // namespace velmoran::publish
