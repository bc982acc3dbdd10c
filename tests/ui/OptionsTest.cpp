// OptionsTest.cpp: the game options dialog: its controls, loading system/option.ini,
// Apply and Cancel, refused writes, and the backup choice reaching the next update run.
#include "platform/Files.h"
#include "tests/ui/UiTestSupport.h"
#include "updater/settings/ClientSettings.h"
#include "updater/ui/ImageButton.h"
#include "updater/ui/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

class Options : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        WriteUsualSettings();
    }
    std::string optionFile = client + "system/option.ini";
    void WriteOptions(const std::string& content) { WriteFile(optionFile, content); }
};

std::vector<std::string> Items(QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i) {
        items.push_back(box->itemText(i).toStdString());
    }
    return items;
}

TEST_F(Options, ControlsStartWhereTheLayoutPutsThem) {
    OpenWindows();
    TForm1& d = *dialog;
    EXPECT_EQ(d.size(), QSize(220, 300));
    EXPECT_TRUE(d.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(d.isHidden()) << "created hidden";
    EXPECT_FALSE(d.mask().isEmpty()) << "shaped by its picture";
    EXPECT_FALSE(d.mask().contains(QPoint(0, 0)));

    struct Control {
        QWidget* widget;
        QRect place;
        const char* text;
    };
    for (const Control& c : {
             Control{d.CheckBox3, {31, 58, 169, 17}, "Create Backup before update"},
             Control{d.ComboBox1, {100, 108, 93, 21}, ""},
             Control{d.ComboBox2, {100, 132, 93, 21}, ""},
             Control{d.ComboBox3, {100, 156, 93, 21}, ""},
             Control{d.CheckBox1, {100, 182, 97, 17}, "Low Detail"},
             Control{d.CheckBox2, {100, 200, 97, 17}, "FullScreen"},
             Control{d.ComboBox4, {66, 221, 127, 21}, ""},
             Control{d.SpeedButton1, {48, 256, 59, 25}, "Apply"},
             Control{d.SpeedButton2, {114, 256, 59, 25}, "Cancel"},
         }) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.widget->geometry(), c.place);
        if (auto* box = qobject_cast<QCheckBox*>(c.widget)) {
            EXPECT_EQ(box->text().toStdString(), c.text);
        } else if (auto* button = qobject_cast<QToolButton*>(c.widget)) {
            EXPECT_EQ(button->text().toStdString(), c.text);
            EXPECT_TRUE(button->autoRaise()) << "flat";
        }
    }
    struct Caption {
        QLabel* label;
        QPoint at;
        const char* text;
        bool bold;
    };
    for (const Caption& c : {Caption{d.Label6, {67, 42}, "Updater settings ", true},
                             Caption{d.Label5, {73, 88}, "Game settings ", true},
                             Caption{d.Label1, {35, 111}, "Resolution :", false},
                             Caption{d.Label2, {28, 135}, "Color quality :", false},
                             Caption{d.Label3, {27, 159}, "Refresh rate :", false},
                             Caption{d.Label4, {32, 224}, "Loot :", false}}) {
        EXPECT_EQ(c.label->pos(), c.at) << c.text;
        EXPECT_EQ(c.label->text().toStdString(), c.text);
        EXPECT_EQ(c.label->font().bold(), c.bold) << c.text;
    }
    using Texts = std::vector<std::string>;
    EXPECT_EQ(Items(d.ComboBox1),
              (Texts{"640x480", "800x600", "1024x768", "1280x960", "1280x1024"}));
    EXPECT_EQ(Items(d.ComboBox2), (Texts{"32 Bit", "16 Bit"}));
    EXPECT_EQ(Items(d.ComboBox3), (Texts{"60 hz", "75 hz", "85 hz", "100 hz"}));
    EXPECT_EQ(Items(d.ComboBox4), (Texts{"Finders Keepers", "Random", "Random including spoil",
                                         "By turn", "By turn including spoil"}));
}

TEST_F(Options, LoadingPicksTheRowsOfTheStoredValues) {
    struct Case {
        const char* options; // nullptr: no option file
        const char* createBackup;
        int resolution, depth, refresh;
        bool lowDetail, fullScreen;
        int loot;
        bool backup;
    };
    for (const Case& c : {
             Case{nullptr, "0", -1, -1, -1, true, false, 0, false},
             Case{"[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\nColorBits=32\r\n"
                  "RefreshRate=60\r\nIsKeepMinFrameRate=false\r\nStartupFullScreen=true\r\n"
                  "[Game]\r\nPartyLooting=3\r\n",
                  "1", 2, 0, 0, false, true, 3, true},
             // Only the sum counts; "01" is not "1".
             Case{"[Video]\r\nGamePlayViewportX=1400\r\nGamePlayViewportY=0\r\nColorBits=16\r\n"
                  "RefreshRate=85\r\n",
                  "01", 1, 1, 2, true, false, 0, false},
             Case{"[Video]\r\nGamePlayViewportX=1920\r\nGamePlayViewportY=1080\r\nColorBits=24\r\n"
                  "RefreshRate=120\r\nIsKeepMinFrameRate=TRUE\r\n[Game]\r\nPartyLooting=7\r\n",
                  "0", -1, -1, -1, true, false, -1, false},
             // A value that is not a number counts as 0; Booleans may be numbers.
             Case{"[Video]\r\nGamePlayViewportX=abc\r\nGamePlayViewportY=1400\r\n"
                  "IsKeepMinFrameRate=0\r\nStartupFullScreen=-2\r\n[Game]\r\nPartyLooting=abc\r\n",
                  "0", 1, -1, -1, false, true, 0, false},
         }) {
        SCOPED_TRACE(c.options ? c.options : "no option file");
        platform::DeleteFile(optionFile);
        if (c.options) {
            WriteOptions(c.options);
        }
        if (!window) {
            OpenWindows();
        }
        window->ClientSettings->at(csCreateBackup) = c.createBackup;
        dialog = std::make_unique<TForm1>(*window);
        window->Form1 = dialog.get();
        EXPECT_EQ(dialog->ComboBox1->currentIndex(), c.resolution);
        EXPECT_EQ(dialog->ComboBox2->currentIndex(), c.depth);
        EXPECT_EQ(dialog->ComboBox3->currentIndex(), c.refresh);
        EXPECT_EQ(dialog->CheckBox1->isChecked(), c.lowDetail);
        EXPECT_EQ(dialog->CheckBox2->isChecked(), c.fullScreen);
        EXPECT_EQ(dialog->ComboBox4->currentIndex(), c.loot);
        EXPECT_EQ(dialog->CheckBox3->isChecked(), c.backup);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(Options, ABadBooleanStopsTheLoadingWithAMessage) {
    struct Case {
        const char* line;
        const char* message;
        bool lowDetail; // CheckBox1 after the loading
    };
    for (const Case& c :
         {Case{"IsKeepMinFrameRate=maybe", "'maybe' is not a valid boolean value", false},
          Case{"StartupFullScreen=", "'' is not a valid boolean value", true}}) {
        SCOPED_TRACE(c.line);
        messages.clear();
        WriteOptions(std::string("[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\n") +
                     c.line + "\r\n[Game]\r\nPartyLooting=2\r\n");
        WriteUsualSettings("CreateBackup=1\r\n");
        OpenWindows();
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_EQ(dialog->ComboBox1->currentIndex(), 1) << "loaded before the bad value";
        EXPECT_EQ(dialog->CheckBox1->isChecked(), c.lowDetail);
        EXPECT_FALSE(dialog->CheckBox2->isChecked());
        EXPECT_EQ(dialog->ComboBox4->currentIndex(), -1) << "not loaded after it";
        EXPECT_FALSE(dialog->CheckBox3->isChecked());
    }
}

TEST_F(Options, ApplyWritesTheChoicesAndNothingElse) {
    WriteOptions(
        "[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\nColorBits=32\r\n"
        "RefreshRate=60\r\nIsKeepMinFrameRate=TRUE\r\nStartupFullScreen=false\r\n"
        "Gamma=1.2\r\n[Game]\r\nPartyLooting=0\r\nChatFilter=on\r\n[Sound]\r\nVolume=80\r\n");
    OpenWindows();
    window->ImgBtn5Click();
    dialog->ComboBox1->setCurrentIndex(4);
    dialog->ComboBox2->setCurrentIndex(1);
    dialog->ComboBox3->setCurrentIndex(2);
    dialog->CheckBox1->setChecked(false);
    dialog->CheckBox2->setChecked(true);
    dialog->ComboBox4->setCurrentIndex(1);
    dialog->CheckBox3->setChecked(true);
    Click(dialog->SpeedButton1);

    EXPECT_EQ(ReadFile(optionFile),
              "[Video]\r\nGamePlayViewportX=1280\r\nGamePlayViewportY=1024\r\nColorBits=16\r\n"
              "RefreshRate=85\r\nIsKeepMinFrameRate=false\r\nStartupFullScreen=true\r\n"
              "Gamma=1.2\r\n[Game]\r\nPartyLooting=1\r\nChatFilter=on\r\n[Sound]\r\nVolume=80\r\n");
    EXPECT_EQ(window->ClientSettings->at(csCreateBackup), "1");
    EXPECT_EQ(Settings(),
              "[main]\r\nUpdatesUrl=" + server->Url() + "\r\nInstalled=1\r\nCreateBackup=1\r\n");
    EXPECT_TRUE(dialog->isHidden());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Options, ABoxWithoutAChoiceKeepsItsStoredValue) {
    const std::string stored = "[Video]\r\nGamePlayViewportX=1920\r\nGamePlayViewportY=1080\r\n"
                               "ColorBits=24\r\nRefreshRate=120\r\nIsKeepMinFrameRate=1\r\n"
                               "StartupFullScreen=FALSE\r\n[Game]\r\nPartyLooting=9\r\n";
    WriteOptions(stored);
    OpenWindows();
    dialog->SpeedButton1Click();
    EXPECT_EQ(ReadFile(optionFile),
              "[Video]\r\nGamePlayViewportX=1920\r\nGamePlayViewportY=1080\r\n"
              "ColorBits=24\r\nRefreshRate=120\r\nIsKeepMinFrameRate=true\r\n"
              "StartupFullScreen=false\r\n[Game]\r\nPartyLooting=9\r\n")
        << "Booleans are written in lower case";
}

TEST_F(Options, CancelWritesNothingAndKeepsTheEditsForNextTime) {
    const std::string stored = "[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\n";
    WriteOptions(stored);
    const std::string settings = Settings();
    OpenWindows();
    window->ImgBtn5Click();
    dialog->ComboBox1->setCurrentIndex(0);
    dialog->CheckBox3->setChecked(true);
    Click(dialog->SpeedButton2);
    EXPECT_TRUE(dialog->isHidden());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(ReadFile(optionFile), stored);
    EXPECT_EQ(Settings(), settings);
    EXPECT_EQ(window->ClientSettings->at(csCreateBackup), "0");

    window->ImgBtn5Click();
    EXPECT_EQ(dialog->ComboBox1->currentIndex(), 0);
    EXPECT_TRUE(dialog->CheckBox3->isChecked());
}

TEST_F(Options, WithoutTheOptionFileApplyOnlyCloses) {
    const std::string settings = Settings();
    OpenWindows();
    window->ImgBtn5Click();
    dialog->CheckBox3->setChecked(true);
    dialog->SpeedButton1Click();
    EXPECT_TRUE(dialog->isHidden());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_FALSE(platform::FileExists(optionFile));
    EXPECT_EQ(Settings(), settings);
    EXPECT_EQ(window->ClientSettings->at(csCreateBackup), "0");
}

TEST_F(Options, ARefusedWriteKeepsTheDialogOpen) {
    const std::string stored = "[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\n";
    struct Case {
        const char* readOnly;
        bool optionsWritten;
    };
    for (const Case& c : {Case{"system/option.ini", false}, Case{"_settings.ini", true}}) {
        SCOPED_TRACE(c.readOnly);
        messages.clear();
        WriteUsualSettings();
        WriteOptions(stored);
        OpenWindows();
        ::chmod((client + c.readOnly).c_str(), 0444);
        window->ImgBtn5Click();
        dialog->ComboBox1->setCurrentIndex(0);
        dialog->CheckBox3->setChecked(true);
        Click(dialog->SpeedButton1);
        EXPECT_EQ(messages, std::vector<std::string>{"Unable to write to " + client + c.readOnly});
        EXPECT_FALSE(dialog->isHidden());
        EXPECT_FALSE(window->isEnabled()) << "until the player presses Cancel";
        EXPECT_EQ(ReadFile(optionFile).find("GamePlayViewportX=640") != std::string::npos,
                  c.optionsWritten);
        // When only the settings file refuses, the choice has already changed in memory.
        EXPECT_EQ(window->ClientSettings->at(csCreateBackup), c.optionsWritten ? "1" : "0");
        ::chmod((client + c.readOnly).c_str(), 0644);
    }
}

TEST_F(Options, TheBackupChoiceReachesTheNextUpdateRun) {
    WriteOptions("[Video]\r\n");
    WriteFile(client + "a.dat", "the old copy");
    PublishList({.rev = "1", .critical = {Serve("a.dat", "the new copy")}});
    OpenWindows();
    window->ImgBtn5Click();
    dialog->CheckBox3->setChecked(true);
    dialog->SpeedButton1Click();
    ASSERT_EQ(window->ClientSettings->at(csCreateBackup), "1");

    window->ImgBtn2Click();
    ASSERT_TRUE(WaitForRunsToEnd());
    EXPECT_EQ(ReadFile(client + "a.dat"), "the new copy");
    EXPECT_EQ(ReadFile(client + "backup/a.dat"), "the old copy");
}

TEST_F(Options, TheDialogDragsByItsBackgroundOnly) {
    OpenWindows();
    TForm1& d = *dialog;
    d.move(300, 200);
    SendMouse(&d, QEvent::MouseButtonPress, Qt::LeftButton, {10, 290});
    SendMouse(&d, QEvent::MouseMove, Qt::LeftButton, {25, 285});
    EXPECT_EQ(d.pos(), QPoint(315, 195));
    SendMouse(&d, QEvent::MouseButtonRelease, Qt::LeftButton, {25, 285});
    SendMouse(&d, QEvent::MouseMove, Qt::LeftButton, {60, 250});
    EXPECT_EQ(d.pos(), QPoint(315, 195));

    SendMouse(d.Label1, QEvent::MouseButtonPress, Qt::LeftButton, {2, 2});
    SendMouse(&d, QEvent::MouseMove, Qt::LeftButton, {100, 100});
    SendMouse(&d, QEvent::MouseButtonRelease, Qt::LeftButton, {100, 100});
    EXPECT_EQ(d.pos(), QPoint(315, 195)) << "a label is no background";
}

} // namespace
} // namespace velmoran::testing
