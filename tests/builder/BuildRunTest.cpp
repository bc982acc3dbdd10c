// BuildRunTest.cpp: the build run: the update list for example trees, the archives it
// leaves in Upload, refused roots, errors part-way, and packing on several threads.
#include "builder/BuildRun.h"

#include "builder/crc.h"
#include "tests/builder/ZipCheck.h"
#include "tests/support/Packing.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kelpforge {
namespace {

namespace fs = std::filesystem;
using testing::ExpectArchiveHolds;
using velmoran::testing::RandomBytes;
using velmoran::testing::ReadFile;
using velmoran::testing::WriteFile;

// Everything the run shows, in order.
class RecordingObserver : public TBuildObserver {
public:
    std::vector<std::string> events;
    std::vector<std::string> messages;

    void SetTreeEnabled(bool enabled) override {
        events.push_back(enabled ? "tree on" : "tree off");
    }
    void SetProgressMax(int maximum) override {
        events.push_back("max " + std::to_string(maximum));
    }
    void SetProgressPosition(int position) override {
        events.push_back("pos " + std::to_string(position));
    }
    void ShowMessage(const std::string& text) override {
        events.push_back("message " + text);
        messages.push_back(text);
    }
    void ShowError(const std::string& text) override {
        events.push_back("error " + text);
        messages.push_back(text);
    }
};

// A file ("a/b.txt") with its content; a name ending in "/" is an empty folder.
using Tree = std::vector<std::pair<std::string, std::string>>;

const Tree kExampleTree = {
    {"Velmoran.exe", "MZ the updater"},
    {"readme.txt", ""},
    {"system/empty.ini", ""},
};

class BuildRunTest : public velmoran::testing::TempDirTest {
protected:
    BuildRunTest() {
        settings.Root = client;
        settings.Server = "127.0.0.1";
        settings.UpdaterName = "Velmoran.exe";
        settings.CurrentDir = work;
        fs::create_directories(work);
    }

    void MakeTree(const Tree& tree) {
        for (const auto& [path, content] : tree) {
            if (path.ends_with('/')) {
                fs::create_directories(client + "/" + path);
            } else {
                WriteFile(client + "/" + path, content);
            }
        }
    }

    TBuildOutcome Run() {
        observer = RecordingObserver();
        return build.Run(settings, observer);
    }

    std::string Upload() const { return work + "/Upload"; }
    std::string ListFile() const { return Upload() + "/updates.lst"; }
    std::optional<std::string> List() const {
        if (!fs::exists(ListFile())) {
            return std::nullopt;
        }
        return ReadFile(ListFile());
    }

    // The "IAM=" line for the updater in the root, with its CRC and its archive's size.
    std::string IamLine() const {
        const std::string name = settings.UpdaterName;
        return "IAM=" + name + "|" + Crc32ToString(FileCrc32(client + "/" + name)) + "|" +
               std::to_string(fs::file_size(Upload() + "/" + name + ".zip"));
    }

    // An "F" line for a file given by its list path ("system\engine.dll").
    std::string FileLine(int number, const std::string& listPath, const std::string& ending) const {
        std::string native = listPath;
        std::replace(native.begin(), native.end(), '\\', '/');
        return "F" + std::to_string(number) + "=" + listPath + "|" +
               Crc32ToString(FileCrc32(client + "/" + native)) + "|" +
               std::to_string(fs::file_size(Upload() + "/" + native + ".zip")) + ending;
    }

    static std::string Lines(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) {
            text += line + "\r\n";
        }
        return text;
    }

    // Every archive under Upload holds exactly its source, as unzip reads it.
    void ExpectArchivesHoldTheirSources() const {
        for (const auto& item : fs::recursive_directory_iterator(Upload())) {
            const std::string archive = item.path().string();
            if (!item.is_regular_file() || !archive.ends_with(".zip")) {
                continue;
            }
            std::string relative = fs::relative(item.path(), Upload()).string();
            relative.resize(relative.size() - 4);
            const std::string source = client + "/" + relative;
            ExpectArchiveHolds(archive,
                               {{fs::path(relative).filename().string(), ReadFile(source)}});
        }
    }

    void ExpectIdle() const {
        EXPECT_EQ(build.FileCount(), 0);
        EXPECT_EQ(build.FileIndex(), 1);
        EXPECT_FALSE(build.UpdaterFound());
    }

    const std::string client = dir / "client";
    const std::string work = dir / "work";
    TBuildSettings settings;
    TBuildRun build;
    RecordingObserver observer;
};

TEST_F(BuildRunTest, ExampleTreeGivesTheExampleList) {
    MakeTree(kExampleTree);
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(observer.messages, (std::vector<std::string>{"Done! 3 files have been packed."}));
    EXPECT_EQ(List(),
              Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                     "fcount=2", "F1=readme.txt|0|118|n", "F2=system\\empty.ini|0|116|n"}));
    EXPECT_TRUE(fs::is_directory(Upload() + "/system"));
    ExpectArchivesHoldTheirSources();
    ExpectIdle();
    // The progress bar: the updater, then its maximum, then one step per file; back to 0
    // once the message is closed.
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"tree off", "pos 1", "max 3", "pos 2", "pos 3", "tree on",
                                        "message Done! 3 files have been packed.", "pos 0"}));
}

TEST_F(BuildRunTest, ListFollowsTheTreeAndTheSettings) {
    struct Case {
        std::string label;
        Tree tree;
        std::string name = "Velmoran.exe";
        std::string server = "127.0.0.1";
        bool modifyHost = false;
        bool critical = false;
        TBuildOutcome outcome = TBuildOutcome::Done;
        std::string message;
        // Lines after "[files]" ("IAM" stands for the updater's line); empty: no list.
        std::vector<std::string> lines;
        std::vector<std::string> folders; // mirrored under Upload
    };
    const Case cases[] = {
        {.label = "only the updater",
         .tree = {{"Velmoran.exe", "MZ"}},
         .message = "Done! 1 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                   "fcount=0"}},
        {.label = "name in another letter case",
         .tree = kExampleTree,
         .name = "velmoran.exe",
         .outcome = TBuildOutcome::UpdaterNotFound,
         .message = "velmoran.exe was not found!",
         .folders = {"system"}},
        {.label = "name with a folder part",
         .tree = {{"Velmoran.exe", "MZ"}, {"system/Velmoran.exe", "MZ"}},
         .name = "system\\Velmoran.exe",
         .outcome = TBuildOutcome::UpdaterNotFound,
         .message = "system\\Velmoran.exe was not found!"},
        {.label = "name with a native folder part",
         .tree = {{"Velmoran.exe", "MZ"}, {"system/Velmoran.exe", "MZ"}},
         .name = "system/Velmoran.exe",
         .outcome = TBuildOutcome::UpdaterNotFound,
         .message = "system/Velmoran.exe was not found!"},
        {.label = "empty name",
         .tree = kExampleTree,
         .name = "",
         .outcome = TBuildOutcome::UpdaterNotFound,
         .message = " was not found!"},
        {.label = "second updater in a sub-folder is counted, not listed",
         .tree = {{"Velmoran.exe", "MZ"}, {"a.txt", ""}, {"sub/Velmoran.exe", "MZ old"}},
         .message = "Done! 3 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                   "fcount=2", "F1=a.txt|0|108|n"},
         .folders = {"sub"}},
        {.label = "hidden files are packed, empty folders mirrored",
         .tree = {{"Velmoran.exe", "MZ"},
                  {".hidden", ""},
                  {"data/.cfg", ""},
                  {"empty/", ""},
                  {"deep/er/", ""}},
         .message = "Done! 3 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                   "fcount=2", "F1=.hidden|0|112|n", "F2=data\\.cfg|0|106|n"},
         .folders = {"data", "empty", "deep", "deep/er"}},
        {.label = "critical, empty server, modified hosts",
         .tree = {{"Velmoran.exe", "MZ"}, {"a.txt", ""}, {"b/c.txt", ""}},
         .server = "",
         .modifyHost = true,
         .critical = true,
         .message = "Done! 3 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server=", "ModifyHost=1", "[files]", "fcount=2",
                   "F1=a.txt|0|108|c", "F2=b\\c.txt|0|108|c"}},
        {.label = "server text kept exactly",
         .tree = {{"Velmoran.exe", "MZ"}},
         .server = " 10.0.0.7 | x ",
         .message = "Done! 1 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server= 10.0.0.7 | x ", "ModifyHost=0", "[files]",
                   "fcount=0"}},
        {.label = "sub-folders packed where the listing returns them",
         .tree = {{"Velmoran.exe", "MZ"},
                  {"a.txt", ""},
                  {"b/x.txt", ""},
                  {"b/c/y.txt", ""},
                  {"c.txt", ""},
                  {"Z.txt", ""}},
         .message = "Done! 6 files have been packed.",
         .lines = {"[self]", "IAM", "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                   "fcount=5", "F1=Z.txt|0|108|n", "F2=a.txt|0|108|n", "F3=b\\c\\y.txt|0|108|n",
                   "F4=b\\x.txt|0|108|n", "F5=c.txt|0|108|n"},
         .folders = {"b", "b/c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(client);
        fs::remove_all(work);
        fs::create_directories(work);
        MakeTree(c.tree);
        settings.UpdaterName = c.name;
        settings.Server = c.server;
        settings.ModifyHost = c.modifyHost;
        settings.Critical = c.critical;
        EXPECT_EQ(Run(), c.outcome);
        EXPECT_EQ(observer.messages, (std::vector<std::string>{c.message}));
        if (c.lines.empty()) {
            EXPECT_EQ(List(), std::nullopt);
        } else {
            std::vector<std::string> lines = c.lines;
            for (auto& line : lines) {
                if (line == "IAM") {
                    line = IamLine();
                }
            }
            EXPECT_EQ(List(), Lines(lines));
            ExpectArchivesHoldTheirSources();
        }
        for (const auto& folder : c.folders) {
            EXPECT_TRUE(fs::is_directory(Upload() + "/" + folder)) << folder;
        }
        ExpectIdle();
    }
}

TEST_F(BuildRunTest, FilesWithContentListTheirOwnCrcAndTheirArchivesSize) {
    MakeTree({{"Velmoran.exe", RandomBytes(70000, 3)},
              {"data/map.bin", RandomBytes(200000, 4)},
              {"data/text.txt", std::string(100000, 'a')}});
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(List(), Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0",
                             "[files]", "fcount=2", FileLine(1, "data\\map.bin", "|n"),
                             FileLine(2, "data\\text.txt", "|n")}));
    // The size is the archive's, not the source's.
    EXPECT_NE(
        List()->find("|" + std::to_string(fs::file_size(Upload() + "/data/text.txt.zip")) + "|n"),
        std::string::npos);
    EXPECT_LT(fs::file_size(Upload() + "/data/text.txt.zip"), 1000u);
    ExpectArchivesHoldTheirSources();
}

TEST_F(BuildRunTest, SecondRunRewritesTheListAndKeepsWhatIsGone) {
    MakeTree({{"Velmoran.exe", "MZ"}, {"a.txt", "one"}, {"old/b.txt", "two"}});
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    const std::optional<std::string> first = List();
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(List(), first); // numbered from F1 again
    ExpectIdle();

    fs::remove_all(client + "/old");
    WriteFile(client + "/a.txt", "one, longer now");
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(List(), Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0",
                             "[files]", "fcount=1", FileLine(1, "a.txt", "|n")}));
    // Nothing is deleted: the archive of the removed file stays; the changed file's
    // archive is replaced whole.
    EXPECT_TRUE(fs::exists(Upload() + "/old/b.txt.zip"));
    ExpectArchiveHolds(Upload() + "/a.txt.zip", {{"a.txt", "one, longer now"}});
}

TEST_F(BuildRunTest, NotFoundLeavesTheEarlierListAndTheRunIdle) {
    MakeTree(kExampleTree);
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    const std::optional<std::string> earlier = List();

    fs::rename(client + "/Velmoran.exe", client + "/Other.exe");
    EXPECT_EQ(Run(), TBuildOutcome::UpdaterNotFound);
    EXPECT_EQ(observer.events, (std::vector<std::string>{
                                   "tree off", "message Velmoran.exe was not found!", "tree on"}));
    EXPECT_EQ(List(), earlier);
    ExpectIdle();

    // The next run checks for the updater again.
    fs::rename(client + "/Other.exe", client + "/Velmoran.exe");
    EXPECT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(List(), earlier);
}

TEST_F(BuildRunTest, UpdaterOnlyInASubFolderEndsTheRunAfterTheFirstLine) {
    MakeTree({{"system/Velmoran.exe", "MZ"}, {"a.txt", ""}});
    EXPECT_EQ(Run(), TBuildOutcome::Failed);
    EXPECT_EQ(observer.messages, (std::vector<std::string>{"File not found"}));
    EXPECT_EQ(List(), Lines({"[self]"}));
    // Back to idle: the tree is enabled and the bar at 0 again.
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"tree off", "error File not found", "tree on", "pos 0"}));
    ExpectIdle();
}

TEST_F(BuildRunTest, ErrorPartWayKeepsTheLinesWrittenSoFar) {
    const Tree tree = {
        {"Velmoran.exe", "MZ"}, {"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}, {"d/e.txt", "e"}};
    for (const unsigned jobs : {1u, 3u}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        fs::remove_all(client);
        fs::remove_all(work);
        MakeTree(tree);
        // The archive's path is taken by a folder: it cannot be created.
        fs::create_directories(Upload() + "/b.txt.zip");
        settings.Jobs = jobs;
        EXPECT_EQ(Run(), TBuildOutcome::Failed);
        EXPECT_EQ(observer.messages, (std::vector<std::string>{"Cannot create file \"" + Upload() +
                                                               "/b.txt.zip\". Is a directory"}));
        EXPECT_EQ(List(), Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0",
                                 "[files]", "fcount=4", FileLine(1, "a.txt", "|n")}));
        EXPECT_EQ(observer.events.back(), "pos 0");
        EXPECT_EQ(observer.events[observer.events.size() - 2], "tree on");
        ExpectIdle();

        // Once the obstacle is gone the same run completes.
        fs::remove(Upload() + "/b.txt.zip");
        EXPECT_EQ(Run(), TBuildOutcome::Done);
        EXPECT_EQ(List(), Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0",
                                 "[files]", "fcount=4", FileLine(1, "a.txt", "|n"),
                                 FileLine(2, "b.txt", "|n"), FileLine(3, "c.txt", "|n"),
                                 FileLine(4, "d\\e.txt", "|n")}));
    }
}

TEST_F(BuildRunTest, RootsThatCannotBePackedAreRefused) {
    MakeTree(kExampleTree);
    fs::create_directories(work + "/Upload/inside");
    struct Case {
        std::string root;
        std::string message;
    };
    const std::string upload = work + "/Upload";
    const Case cases[] = {
        {"", "No folder is selected!"},
        {"/", "\"/\" is the root of a drive; choose the client's folder!"},
        {"//", "\"//\" is the root of a drive; choose the client's folder!"},
        {"client", "\"client\" is not a full path; choose the client's folder!"},
        {dir / "nowhere", "Folder \"" + (dir / "nowhere") + "\" not found!"},
        {upload, "\"" + upload + "\" is the Upload folder; choose the client's folder!"},
        {upload + "/", "\"" + upload + "/\" is the Upload folder; choose the client's folder!"},
        {work, "\"" + work + "\" holds the Upload folder; choose a folder that does not!"},
        {dir.Path(),
         "\"" + dir.Path() + "\" holds the Upload folder; choose a folder that does not!"},
        {client + "/../work",
         "\"" + client + "/../work\" holds the Upload folder; choose a folder that does not!"},
        {upload + "/inside",
         "\"" + upload + "/inside\" lies inside the Upload folder; choose the client's folder!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("root \"" + c.root + "\"");
        settings.Root = c.root;
        EXPECT_EQ(Run(), TBuildOutcome::Refused);
        EXPECT_EQ(observer.events, (std::vector<std::string>{"message " + c.message}));
        EXPECT_FALSE(fs::exists(ListFile()));
        EXPECT_TRUE(fs::is_empty(upload + "/inside"));
        ExpectIdle();
    }
    // A root given with a trailing separator is the folder itself.
    settings.Root = client + "/";
    EXPECT_EQ(Run(), TBuildOutcome::Done);
    EXPECT_EQ(List(),
              Lines({"[self]", IamLine(), "[misc]", "Server=127.0.0.1", "ModifyHost=0", "[files]",
                     "fcount=2", "F1=readme.txt|0|118|n", "F2=system\\empty.ini|0|116|n"}));
}

TEST_F(BuildRunTest, PackingOnSeveralThreadsGivesTheSameListAndArchives) {
    Tree tree = {{"Velmoran.exe", RandomBytes(5000, 1)}};
    for (int i = 0; i < 40; ++i) {
        const std::string folder = i % 3 == 0 ? "" : "f" + std::to_string(i % 4) + "/";
        const std::string content = i % 2 == 0
                                        ? RandomBytes(1000 * i, i)
                                        : std::string(3000 * i, static_cast<char>('a' + i % 26));
        tree.emplace_back(folder + "file" + std::to_string(i) + ".dat", content);
    }
    MakeTree(tree);
    settings.Jobs = 1;
    ASSERT_EQ(Run(), TBuildOutcome::Done);
    const std::optional<std::string> serial = List();
    fs::rename(Upload(), dir / "serial");

    for (const unsigned jobs : {2u, 5u}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        settings.Jobs = jobs;
        ASSERT_EQ(Run(), TBuildOutcome::Done);
        EXPECT_EQ(List(), serial);
        // The bar still moves one step per file, in order.
        std::vector<std::string> steps;
        for (const auto& event : observer.events) {
            if (event.starts_with("pos ")) {
                steps.push_back(event);
            }
        }
        ASSERT_EQ(steps.size(), 42u);
        for (int i = 0; i < 41; ++i) {
            EXPECT_EQ(steps[i], "pos " + std::to_string(i + 1));
        }
        for (const auto& item : fs::recursive_directory_iterator(dir / "serial")) {
            if (item.is_regular_file()) {
                const auto relative = fs::relative(item.path(), dir / "serial");
                EXPECT_EQ(ReadFile(item.path()), ReadFile(Upload() + "/" + relative.string()))
                    << relative;
            }
        }
        ExpectArchivesHoldTheirSources();
        fs::remove_all(Upload());
    }
}

TEST(FileSizeByNameTest, GivesTheSizeOfFilesOnly) {
    velmoran::testing::TempDir dir;
    WriteFile(dir / "five", "12345");
    WriteFile(dir / "empty", "");
    EXPECT_EQ(FileSizeByName(dir / "five"), 5);
    EXPECT_EQ(FileSizeByName(dir / "empty"), 0);
    EXPECT_EQ(FileSizeByName(dir / "missing"), -1);
    EXPECT_EQ(FileSizeByName(dir.Path()), -1);
}

} // namespace
} // namespace kelpforge
