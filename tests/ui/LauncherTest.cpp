// LauncherTest.cpp: the main window on the offscreen platform: its start-up, the update
// runs it starts and shows, play, quit, closing during a run, dragging and the news page.
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "tests/ui/UiTestSupport.h"
#include "updater/settings/ClientSettings.h"
#include "updater/ui/BarGauge.h"
#include "updater/ui/ImageButton.h"
#include "updater/ui/Messages.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QWebEngineView>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

// What the window looked like right after each notification reached it.
struct Seen {
    std::string what;
    bool playShown;
    bool updateShown;
    bool optionsEnabled;
    int filePercent;
    int totalPercent;
};

class RecordingWindow : public TFMain {
public:
    void ShowStatus(const std::string& text) override {
        TFMain::ShowStatus(text);
        Note("status:" + text);
    }
    void SetGaugeMax(int kind, std::int64_t maximum) override {
        TFMain::SetGaugeMax(kind, maximum);
        Note("max" + std::to_string(kind) + ":" + std::to_string(maximum));
    }
    void SetFileProgress(std::int64_t position) override {
        TFMain::SetFileProgress(position);
        Note("file:" + std::to_string(position));
    }
    void SetTotalProgress(std::int64_t position) override {
        TFMain::SetTotalProgress(position);
        Note("total:" + std::to_string(position));
    }
    void LockButtons() override {
        TFMain::LockButtons();
        Note("lock");
    }
    void UnlockButtons() override {
        TFMain::UnlockButtons();
        Note("unlock");
    }
    void StoreRevision(const std::string& revisionText) override {
        Note("rev:" + revisionText);
        TFMain::StoreRevision(revisionText);
    }

    bool Saw(const std::string& what) const {
        return std::any_of(seen.begin(), seen.end(), [&](const Seen& s) { return s.what == what; });
    }
    std::size_t Count(const std::string& what) const {
        return static_cast<std::size_t>(
            std::count_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.what == what; }));
    }
    bool Unlocked() const { return !seen.empty() && seen.back().what == "unlock"; }

    std::vector<Seen> seen;

private:
    void Note(const std::string& what) {
        seen.push_back({what, !ImgBtn1->isHidden(), !ImgBtn2->isHidden(), ImgBtn5->isEnabled(),
                        Gauge1->PercentDone(), Gauge2->PercentDone()});
    }
};

using Launcher = LauncherTest;

TEST_F(Launcher, ControlsStartWhereTheLayoutPutsThem) {
    WriteUsualSettings();
    OpenWindows();
    TFMain& w = *window;
    EXPECT_EQ(w.size(), QSize(955, 520));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.windowTitle().toStdString(), "Duskmere Updater");

    struct Control {
        QWidget* widget;
        QRect place;
        bool shown;
    };
    for (const Control& c : {
             Control{w.Image1, {0, 0, 955, 520}, false},
             Control{w.Panel1, {29, 32, 609, 457}, false},
             Control{w.WebBrowser1, {0, 0, 609, 457}, true},
             Control{w.Image2, {152, 84, 45, 173}, false},
             Control{w.Image3, {288, 208, 384, 81}, false},
             Control{w.Image4, {464, 377, 73, 64}, false},
             Control{w.ImgBtn1, {700, 158, 190, 45}, true},
             // Shown by the first run's UnlockButtons: no second run can start before it.
             Control{w.ImgBtn2, {700, 216, 190, 45}, false},
             Control{w.ImgBtn4, {700, 274, 190, 45}, true},
             Control{w.ImgBtn3, {536, 34, 40, 70}, false},
             Control{w.ImgBtn5, {35, 58, 52, 15}, false},
             Control{w.Gauge1, {664, 348, 257, 17}, true},
             Control{w.Gauge2, {664, 391, 257, 17}, true},
             Control{w.Label3, {656, 408, 273, 25}, true},
         }) {
        SCOPED_TRACE(c.widget->metaObject()->className());
        EXPECT_EQ(c.widget->geometry(), c.place);
        EXPECT_EQ(!c.widget->isHidden(), c.shown);
    }
    EXPECT_EQ(w.Label1->pos(), QPoint(752, 328));
    EXPECT_EQ(w.Label2->pos(), QPoint(752, 372));
    EXPECT_EQ(w.Label4->pos(), QPoint(824, 440));
    EXPECT_EQ(w.Label1->text().toStdString(), "Stahuje se soubor");
    EXPECT_EQ(w.Label2->text().toStdString(), "Celkový průběh");
    EXPECT_TRUE(w.Label2->font().bold());
    EXPECT_EQ(w.Label3->text().toStdString(), "... Loading ...");
    EXPECT_EQ(w.Label3->font().pixelSize(), 13);
    EXPECT_EQ(w.Label4->text().count('\n'), 1) << "the credit and the version";
    EXPECT_EQ(w.Gauge1->Text().toStdString(), "0%");
    EXPECT_EQ(w.Gauge2->Text().toStdString(), "0%");
    EXPECT_EQ(w.WebBrowser1->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Launcher, OnlyInstalledZeroTakesTheFirstRunStep) {
    struct Case {
        const char* settings;
        const char* shortcut; // the launcher file the desktop gets, "" for none
        bool written;         // Installed becomes "1"; otherwise the file stays as it was
    };
    for (const Case& c : {
             Case{"[main]\r\nInstalled=0\r\nLinkName=Ashen Crown\r\n", "Ashen Crown.desktop", true},
             Case{"[main]\r\nInstalled=0\r\nLinkName=\r\n", "", true},
             Case{"[other]\r\nKey=v\r\n", "Ashen Crown.desktop", true}, // every default
             Case{"[main]\r\nInstalled=1\r\n", "", false},
             Case{"[main]\r\nInstalled=yes\r\n", "", false},
             Case{"[main]\r\nInstalled=\r\n", "", false},
         }) {
        SCOPED_TRACE(c.settings);
        platform::DeleteTree(desktop);
        platform::ForceDirectories(desktop);
        WriteSettings(c.settings);
        OpenWindows();
        std::vector<std::string> made;
        for (const auto& entry : platform::ListDirectory(desktop)) {
            made.push_back(entry.name);
        }
        EXPECT_EQ(made,
                  *c.shortcut ? std::vector<std::string>{c.shortcut} : std::vector<std::string>{});
        if (c.written) {
            EXPECT_EQ(
                platform::ReadProfileString("main", "Installed", "?", client + "_settings.ini"),
                "1");
        } else {
            EXPECT_EQ(Settings(), c.settings);
        }
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(Launcher, TheShortcutStartsThisProgramInTheClientFolderOnce) {
    WriteSettings("[main]\r\nInstalled=0\r\nLinkName=Ashen Crown\r\n");
    OpenWindows();
    const std::string link = desktop + "Ashen Crown.desktop";
    ASSERT_TRUE(platform::FileExists(link));
    const std::string exe = QCoreApplication::applicationFilePath().toStdString();
    EXPECT_EQ(ReadFile(link), "[Desktop Entry]\nType=Application\nName=Ashen Crown\n"
                              "Comment=Play Ashen Crown\nExec=\"" +
                                  exe + "\"\nPath=" + client + "\nTerminal=false\n");
    struct stat st {};
    ASSERT_EQ(::stat(link.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u) << "file managers start only executable launchers";
    EXPECT_EQ(Settings(), "[main]\r\nInstalled=1\r\nLinkName=Ashen Crown\r\n");

    // The player deletes it; later starts leave the desktop alone.
    platform::DeleteFile(link);
    OpenWindows();
    EXPECT_FALSE(platform::FileExists(link));
}

TEST_F(Launcher, MissingSettingsShowOneMessageAndEndTheProgram) {
    bool timerArmedDuringMessage = true;
    SetMessageBoxHandler([&](const std::string& text) {
        messages.push_back(text);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* main = dynamic_cast<TFMain*>(top)) {
                timerArmedDuringMessage = main->Timer1->isActive();
            }
        }
    });
    OpenWindows();
    EXPECT_EQ(messages, std::vector<std::string>{"ERROR: _settings.ini Not Found !"});
    EXPECT_FALSE(timerArmedDuringMessage);
    EXPECT_TRUE(window->TerminateRequested());
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_TRUE(platform::ListDirectory(client).empty()) << "nothing written";
    EXPECT_TRUE(platform::ListDirectory(desktop).empty());
    EXPECT_TRUE(server->Requests().empty());
    EXPECT_EQ(UpdateRunsUnderWay(), 0);
}

TEST_F(Launcher, ARefusedInstalledWriteSkipsTheRestOfTheStartUp) {
    const std::string content = "[main]\r\nInstalled=0\r\nUpdatesUrl=" + server->Url() + "\r\n";
    WriteSettings(content);
    ::chmod((client + "_settings.ini").c_str(), 0444);
    OpenWindows();
    EXPECT_EQ(messages, std::vector<std::string>{"Unable to write to " + client + "_settings.ini"});
    EXPECT_TRUE(platform::ListDirectory(desktop).empty()) << "no shortcut";
    EXPECT_TRUE(window->mask().isEmpty()) << "the window stays rectangular for this run";
    EXPECT_TRUE(window->Timer1->isActive()) << "the news page and the update run still follow";
    EXPECT_EQ(Settings(), content);
}

TEST_F(Launcher, ANonNumericSettingStartsNoRun) {
    struct Case {
        const char* line;
        const char* message;
    };
    for (const Case& c : {Case{"CreateBackup=x", "'x' is not a valid integer value"},
                          Case{"AtRevision=1.5", "'1.5' is not a valid integer value"}}) {
        SCOPED_TRACE(c.line);
        messages.clear();
        WriteUsualSettings(std::string(c.line) + "\r\nNewsUrl=" + server->Url() + "news.html\r\n");
        OpenWindows();
        Handle([&] { window->Timer1Timer(); });
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_FALSE(window->Timer1->isActive());
        EXPECT_EQ(window->WebBrowser1->url().toString().toStdString(), server->Url() + "news.html")
            << "the news page was asked for before the run";
        EXPECT_FALSE(window->ImgBtn2->isHidden()) << "no run will give the update button back";

        Handle([&] { window->ImgBtn2Click(); });
        EXPECT_EQ(messages, (std::vector<std::string>{c.message, c.message}));
        EXPECT_EQ(UpdateRunsUnderWay(), 0);
    }
    for (const auto& request : server->Requests()) {
        EXPECT_NE(request.path, "/files.lst.bz2");
    }
}

TEST_F(Launcher, AnUpdateRunDrivesTheStatusTheGaugesAndTheButtons) {
    const std::string first = RandomBytes(40000, 1);
    const std::string entryA = Serve("data\\a.dat", first);
    const std::string entryB = Serve("b.txt", "the second file");
    PublishList({.rev = "5", .critical = {entryA, entryB}});
    WriteUsualSettings("AtRevision=3\r\n");
    auto& w = OpenWindows<RecordingWindow>();

    w.Timer1Timer();
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.Label3->text(), QString());
    ASSERT_TRUE(WaitUntil([&] { return w.Unlocked(); }));
    ASSERT_TRUE(WaitForRunsToEnd());

    ASSERT_EQ(w.seen.front().what, "lock");
    for (std::size_t i = 0; i + 1 < w.seen.size(); ++i) {
        SCOPED_TRACE(w.seen[i].what);
        EXPECT_FALSE(w.seen[i].playShown);
        EXPECT_FALSE(w.seen[i].updateShown);
        EXPECT_FALSE(w.seen[i].optionsEnabled);
    }
    for (const char* status : {"status:Downloading updates list", "status:Checking files",
                               "status:Downloading data\\a.dat", "status:Extracting data\\a.dat",
                               "status:Downloading b.txt"}) {
        EXPECT_TRUE(w.Saw(status)) << status;
    }
    EXPECT_EQ(w.Label3->text().toStdString(), "All the files have been updated");

    // The file gauge runs over a download's packed size, the total gauge over the queue.
    const std::int64_t packedA = platform::FileSize(serverRoot + "data/a.dat.bz2");
    const auto maxA = std::find_if(w.seen.begin(), w.seen.end(), [&](const Seen& s) {
        return s.what == "max0:" + std::to_string(packedA);
    });
    ASSERT_NE(maxA, w.seen.end());
    EXPECT_TRUE(std::any_of(maxA, w.seen.end(), [](const Seen& s) {
        return s.what.rfind("file:", 0) == 0 && s.filePercent == 100;
    }));
    EXPECT_TRUE(std::any_of(maxA, w.seen.end(), [](const Seen& s) {
        return s.what.rfind("file:", 0) == 0 && s.filePercent > 0 && s.filePercent < 100;
    })) << "the gauge moves on the way";
    EXPECT_TRUE(w.Saw("max1:1"));
    EXPECT_TRUE(std::any_of(w.seen.begin(), w.seen.end(), [](const Seen& s) {
        return s.what == "total:1" && s.totalPercent == 100;
    }));

    EXPECT_FALSE(w.ImgBtn1->isHidden());
    EXPECT_FALSE(w.ImgBtn2->isHidden());
    EXPECT_TRUE(w.ImgBtn5->isEnabled());
    EXPECT_EQ(ReadFile(client + "data/a.dat"), first);
    EXPECT_EQ(ReadFile(client + "b.txt"), "the second file");
    EXPECT_EQ(platform::ReadProfileString("main", "AtRevision", "", client + "_settings.ini"), "5");
    EXPECT_EQ(w.ClientSettings->at(csAtRevision), "3") << "the settings keep the start value";

    // The update button: a full check, handed the revision read at start, so 5 is stored again.
    w.seen.clear();
    w.ImgBtn2Click();
    EXPECT_TRUE(w.ImgBtn2->isHidden()) << "at once: a second press cannot start another run";
    EXPECT_EQ(w.Label3->text(), QString());
    ASSERT_TRUE(WaitUntil([&] { return w.Unlocked(); }));
    EXPECT_EQ(w.Count("rev:5"), 1u);
}

TEST_F(Launcher, ARunThatEndsEarlyGivesTheButtonsBack) {
    // The revision cannot be stored: the run ends on that error, before its UnlockButtons.
    PublishList({.rev = "4"});
    WriteUsualSettings("AtRevision=1\r\n");
    const std::string before = Settings();
    auto& w = OpenWindows<RecordingWindow>();
    ::chmod((client + "_settings.ini").c_str(), 0444);
    w.Timer1Timer();
    ASSERT_TRUE(WaitForRunsToEnd());
    ASSERT_TRUE(WaitUntil([&] { return !w.ImgBtn1->isHidden(); }));
    EXPECT_TRUE(w.Saw("rev:4"));
    EXPECT_FALSE(w.ImgBtn2->isHidden());
    EXPECT_TRUE(w.ImgBtn5->isEnabled());
    EXPECT_EQ(Settings(), before);
    EXPECT_TRUE(messages.empty()) << "the error went back to the run, not to a message box";
}

TEST_F(Launcher, ClosingDuringARunLetsNothingThrough) {
    WriteFile(client + "a.dat", "the installed copy");
    const std::string entry = Serve("a.dat", RandomBytes(60000, 3));
    PublishList({.rev = "2", .critical = {entry}});
    server->Script("/a.dat.bz2", Reply::Stall(ReadFile(serverRoot + "a.dat.bz2"), 3000));
    ::setenv("VELMORAN_STALL_TIMEOUT", "30", 1);
    WriteUsualSettings();
    const std::string before = Settings();
    auto& w = OpenWindows<RecordingWindow>();
    w.Timer1Timer();
    // In the middle of the download: the first bytes are in, the rest is held back.
    ASSERT_TRUE(
        WaitUntil([&] { return w.Gauge1->Progress() > 0 && w.Saw("status:Downloading a.dat"); }));

    const std::size_t seenAtClose = w.seen.size();
    ASSERT_TRUE(w.close());
    EXPECT_TRUE(w.IsClosed());
    EXPECT_EQ(w.ClientSettings, nullptr) << "released at close";

    // A run whose next notification was already waiting ends at once on the refusal; one
    // that waits for the network ends when the held answer does.
    server.reset();
    ASSERT_TRUE(WaitForRunsToEnd());
    QCoreApplication::processEvents();
    EXPECT_EQ(w.seen.size(), seenAtClose) << "no notification reached the closed window";
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(ReadFile(client + "a.dat"), "the installed copy");
    for (const auto& entry : platform::ListDirectory(client)) {
        EXPECT_EQ(entry.name.rfind(".a.dat.", 0), std::string::npos) << "no unpack left behind";
    }
}

TEST_F(Launcher, PlayStartsTheGameInItsFolderAndCloses) {
    // Written whole, then renamed: the test never reads half of it.
    WriteFile(client + "system/rk.exe",
              "#!/bin/sh\nprintf '%s\\n%s\\n' \"$PWD\" \"$*\" > ran.tmp && mv ran.tmp ran.txt\n");
    ::chmod((client + "system/rk.exe").c_str(), 0755);
    struct Case {
        const char* runCustom; // nullptr: the default
        const char* arguments;
    };
    for (const Case& c :
         {Case{nullptr, ""}, Case{"system\\rk.exe --realm Duskmere", "--realm Duskmere"}}) {
        SCOPED_TRACE(c.runCustom ? c.runCustom : "default");
        ASSERT_TRUE(platform::SetCurrentDir(client));
        platform::DeleteFile(client + "system/ran.txt");
        WriteUsualSettings(c.runCustom ? std::string("RunCustom=") + c.runCustom + "\r\n" : "");
        OpenWindows();
        Click(window->ImgBtn1);
        EXPECT_TRUE(window->IsClosed());
        ASSERT_TRUE(WaitUntil([&] { return platform::FileExists(client + "system/ran.txt"); }));
        EXPECT_EQ(ReadFile(client + "system/ran.txt"), client + "system\n" + c.arguments + "\n");
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(Launcher, PlayWithAFolderThatCannotBeEnteredKeepsTheWindowOpen) {
    WriteFile(client + "system/rk.exe", "#!/bin/sh\ntouch started\n");
    ::chmod((client + "system/rk.exe").c_str(), 0755);
    // An absolute path is still appended to the client folder; an argument with "\" moves
    // the end of the folder part into the arguments.
    for (const char* runCustom : {"C:\\Game\\rk.exe", "system\\rk.exe -log C:\\logs"}) {
        SCOPED_TRACE(runCustom);
        messages.clear();
        ASSERT_TRUE(platform::SetCurrentDir(client));
        WriteUsualSettings(std::string("RunCustom=") + runCustom + "\r\n");
        OpenWindows();
        Click(window->ImgBtn1);
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_FALSE(window->IsClosed());
        EXPECT_NE(window->ClientSettings, nullptr);
        EXPECT_EQ(platform::GetCurrentDir() + "/", client);
    }
    EXPECT_FALSE(platform::FileExists(client + "system/started"));
}

TEST_F(Launcher, BothQuitButtonsCloseAndReleaseTheSettings) {
    WriteUsualSettings();
    for (int button : {3, 4}) {
        SCOPED_TRACE(button);
        OpenWindows();
        int closed = 0;
        window->OnClosed = [&] { ++closed; };
        if (button == 4) {
            Click(window->ImgBtn4);
        } else {
            window->ImgBtn3Click(); // hidden in the layout: nothing can press it
        }
        EXPECT_TRUE(window->IsClosed());
        EXPECT_EQ(window->ClientSettings, nullptr);
        EXPECT_FALSE(window->Timer1->isActive());
        EXPECT_EQ(closed, 1);
    }
}

TEST_F(Launcher, OnlyTheBackgroundDragsTheWindow) {
    WriteUsualSettings();
    OpenWindows();
    TFMain& w = *window;
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        w.move(200, 150);
        SendMouse(&w, QEvent::MouseButtonPress, button, {300, 250});
        SendMouse(&w, QEvent::MouseMove, button, {330, 240});
        EXPECT_EQ(w.pos(), QPoint(230, 140));
        // The pointer's client position after the window followed it is the press point
        // again; each further offset from it moves the window on.
        SendMouse(&w, QEvent::MouseMove, button, {320, 260});
        EXPECT_EQ(w.pos(), QPoint(250, 150));
        SendMouse(&w, QEvent::MouseButtonRelease, button, {320, 260});
        SendMouse(&w, QEvent::MouseMove, button, {400, 300});
        EXPECT_EQ(w.pos(), QPoint(250, 150)) << "the release ends the drag";
    }
    for (QWidget* control : {static_cast<QWidget*>(w.Label1), static_cast<QWidget*>(w.Label3),
                             static_cast<QWidget*>(w.ImgBtn1), static_cast<QWidget*>(w.Gauge1)}) {
        SCOPED_TRACE(control->metaObject()->className());
        w.move(200, 150);
        SendMouse(control, QEvent::MouseButtonPress, Qt::RightButton, {2, 2});
        SendMouse(&w, QEvent::MouseMove, Qt::RightButton, {500, 400});
        SendMouse(&w, QEvent::MouseButtonRelease, Qt::RightButton, {500, 400});
        EXPECT_EQ(w.pos(), QPoint(200, 150));
    }
}

TEST_F(Launcher, TheNewsPanelAppearsWhenThePageHasLoaded) {
    WriteFile(serverRoot + "news.html", "<html><body><h1>Duskmere news</h1></body></html>");
    WriteUsualSettings("NewsUrl=" + server->Url() + "news.html\r\n");
    OpenWindows();
    EXPECT_TRUE(window->Panel1->isHidden());
    window->Timer1Timer();
    ASSERT_TRUE(WaitUntil([&] { return !window->Panel1->isHidden(); }));
    EXPECT_TRUE(window->Image2->isHidden());
    EXPECT_TRUE(window->Image3->isHidden());
    EXPECT_TRUE(window->Image4->isHidden());
    EXPECT_EQ(window->WebBrowser1->url().toString().toStdString(), server->Url() + "news.html");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Launcher, TheOptionsButtonDisablesTheWindowUntilTheDialogCloses) {
    WriteUsualSettings("RunCustom=system\\missing.exe\r\n");
    OpenWindows();
    window->move(100, 80);
    window->ImgBtn5Click();
    EXPECT_FALSE(window->isEnabled());
    EXPECT_FALSE(dialog->isHidden());
    EXPECT_LE((dialog->geometry().center() - window->geometry().center()).manhattanLength(), 2)
        << "centred over the main window";

    Click(window->ImgBtn1); // play cannot be pressed while the dialog is shown
    EXPECT_FALSE(window->IsClosed());

    dialog->SpeedButton2Click();
    EXPECT_TRUE(dialog->isHidden());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(Launcher, TheClientsSkinFolderReplacesPicturesByName) {
    QImage background(955, 520, QImage::Format_RGB32);
    background.fill(QColor(20, 40, 60));
    QPainter(&background).fillRect(0, 0, 100, 50, QColor(0, 255, 0)); // the key colour
    platform::ForceDirectories(client + "skin");
    ASSERT_TRUE(background.save(QString::fromStdString(client + "skin/background.png")));
    QImage play(190, 45, QImage::Format_RGB32);
    play.fill(Qt::red);
    ASSERT_TRUE(play.save(QString::fromStdString(client + "skin/play_normal.png")));
    WriteFile(client + "skin/quit_normal.png", "not a picture");
    WriteUsualSettings();
    OpenWindows();

    const QRegion shape = window->mask();
    EXPECT_FALSE(shape.contains(QPoint(50, 25)));
    EXPECT_TRUE(shape.contains(QPoint(150, 25)));
    EXPECT_TRUE(shape.contains(QPoint(5, 515))) << "the built-in shape is not used";
    EXPECT_EQ(window->ImgBtn1->Picture(TImageButton::Look::Normal).toImage().pixelColor(5, 5),
              QColor(Qt::red));
    EXPECT_EQ(window->ImgBtn1->Picture(TImageButton::Look::Hover).size(), QSize(190, 45));
    EXPECT_EQ(window->ImgBtn4->Picture(TImageButton::Look::Normal).size(), QSize(190, 45))
        << "a file that is no picture leaves the built-in one";
}

} // namespace
} // namespace velmoran::testing
