// FrmMainTest.cpp: the builder's window on Qt's offscreen platform: its components, its
// buttons, and a build started from the tree's selection.
#include "builder/FrmMain.h"

#include "platform/Files.h"
#include "tests/builder/ZipCheck.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelpforge {
namespace {

namespace fs = std::filesystem;
using velmoran::testing::ReadFile;
using velmoran::testing::WriteFile;

// The window with its message boxes recorded instead of shown.
class TestForm : public TFrmMain {
public:
    struct Shown {
        std::string text;
        bool error;
        bool treeEnabled;
        int progress;
    };
    std::vector<Shown> shown;

protected:
    void ShowMessageBox(const QString& text, bool error) override {
        shown.push_back(
            {text.toStdString(), error, STView_FolderEXE->isEnabled(), PrgBar_Build->value()});
    }
};

class FrmMainTest : public velmoran::testing::TempDirTest {
protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "builder_window_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }

    // Before the program's exit, while the rest of Qt is still there.
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

    FrmMainTest() {
        // The tree opens the home folder: let it be this test's folder.
        const char* home = std::getenv("HOME");
        savedHome_ = home ? std::optional<std::string>(home) : std::nullopt;
        ::setenv("HOME", (dir / "home").c_str(), 1);
        for (const char* folder :
             {"Desktop", "Documents", "Downloads", "Games/Velmora/data/maps",
              "Games/Velmora/data/sound", "Games/Velmora/system", "Games/Velmora/textures",
              "Games/Velmora/Upload", "Games/Mods", "Music", "Pictures", "Videos"}) {
            fs::create_directories(dir / ("home/" + std::string(folder)));
        }
        savedDir_ = velmoran::platform::GetCurrentDir();
        fs::create_directories(dir / "window");
        velmoran::platform::SetCurrentDir(dir / "window");

        WriteFile(dir / "client/Velmoran.exe", "MZ the updater");
        WriteFile(dir / "client/readme.txt", "");
        WriteFile(dir / "client/system/empty.ini", "");
        form = std::make_unique<TestForm>();
    }

    ~FrmMainTest() override {
        form.reset();
        velmoran::platform::SetCurrentDir(savedDir_);
        if (savedHome_) {
            ::setenv("HOME", savedHome_->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }

    std::unique_ptr<TestForm> form;

private:
    static inline QApplication* app_ = nullptr;
    std::optional<std::string> savedHome_;
    std::string savedDir_;
};

TEST_F(FrmMainTest, ComponentsCarryTheirCaptionsAndDefaults) {
    EXPECT_EQ(form->windowTitle().toStdString(), "Velmora builder V5b");
    EXPECT_EQ(form->size(), QSize(502, 531));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()); // cannot be resized
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Button {
        QPushButton* button;
        const char* caption;
        bool hand;
    };
    for (const auto& b :
         {Button{form->Btn_Build, "Vytvořit!", true}, Button{form->Btn_Infos, "Info", true},
          Button{form->Btn_Help, "Online pomoc", false}, Button{form->Btn_Quit, "Zavřít", true}}) {
        SCOPED_TRACE(b.caption);
        EXPECT_EQ(b.button->text().toStdString(), b.caption);
        EXPECT_EQ(b.button->cursor().shape() == Qt::PointingHandCursor, b.hand);
    }
    EXPECT_EQ(form->LbL_IpServer->text().toStdString(), "127.0.0.1");
    EXPECT_EQ(form->LbL_NameEXE->text().toStdString(), "Velmoran.exe");
    std::vector<std::string> labels;
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            labels.push_back(label->buddy()->objectName().toStdString() + ": " +
                             label->text().toStdString());
        }
    }
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels,
              (std::vector<std::string>{"LbL_IpServer: Server IP", "LbL_NameEXE: Updater name"}));
    EXPECT_EQ(form->ChkB_ModHost->text().toStdString(), "Modifikovat Hosta");
    EXPECT_EQ(form->ChkB_Crtical->text().toStdString(), "Kritický Update");
    EXPECT_FALSE(form->ChkB_ModHost->isChecked());
    EXPECT_FALSE(form->ChkB_Crtical->isChecked());
    EXPECT_EQ(form->PrgBar_Build->value(), 0);
    EXPECT_FALSE(form->Ico_Sphere->pixmap().isNull());
    EXPECT_EQ(form->ZipArchive1().CompressionType(), TZipCompressionType::ctMaximum);
    EXPECT_FALSE(form->ZipArchive1().StoreRelativePath());

    // Folders only, from the top of the file system, with the way home opened.
    const auto* model = static_cast<QFileSystemModel*>(form->STView_FolderEXE->model());
    EXPECT_EQ(model->filter() & (QDir::Files | QDir::Dirs), QDir::Dirs);
    const QModelIndex home = model->index(QString::fromStdString(dir / "home"));
    ASSERT_TRUE(home.isValid());
    EXPECT_TRUE(form->STView_FolderEXE->isExpanded(home));
    EXPECT_TRUE(form->STView_FolderEXE->isExpanded(model->index(QStringLiteral("/"))));
    EXPECT_EQ(form->SelectedFolder(), ""); // nothing selected yet

    // The skin is dark.
    form->show();
    const QImage picture = form->grab().toImage();
    EXPECT_EQ(picture.size(), QSize(502, 531));
    EXPECT_LT(qGray(picture.pixel(250, 312)), 80);
    if (const char* shot = std::getenv("KELPFORGE_SCREENSHOT")) {
        // For the documentation: the window as the administrator sees it, the tree
        // filled in and a client folder chosen.
        const QString client = QString::fromStdString(dir / "home/Games/Velmora");
        form->SelectFolder(client);
        form->STView_FolderEXE->expand(model->index(client));
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 3000 && (model->rowCount(model->index(QStringLiteral("/"))) < 2 ||
                                           model->rowCount(model->index(client)) < 2)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        form->STView_FolderEXE->expand(model->index(QString::fromStdString(dir / "home/Games")));
        form->STView_FolderEXE->expand(model->index(client + "/data"));
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        form->STView_FolderEXE->scrollTo(model->index(QString::fromStdString(dir / "home")),
                                         QAbstractItemView::PositionAtTop);
        QCoreApplication::processEvents();
        form->grab().save(QString::fromLocal8Bit(shot));
    }
}

TEST_F(FrmMainTest, HelpAndInfoButtonsShowTheirMessages) {
    form->Btn_Help->click();
    form->Btn_Infos->click();
    ASSERT_EQ(form->shown.size(), 2u);
    EXPECT_EQ(form->shown[0].text, "Udělám");
    EXPECT_FALSE(form->shown[0].error);
    EXPECT_NE(form->shown[1].text.find("Kelpforge"), std::string::npos);
}

TEST_F(FrmMainTest, BuildFromTheTreesSelectionGivesTheListOfTheCommandLine) {
    form->SelectFolder(QString::fromStdString(dir / "client"));
    EXPECT_EQ(form->SelectedFolder(), dir / "client");
    std::vector<std::pair<int, bool>> steps; // position, tree enabled
    QObject::connect(form->PrgBar_Build, &QProgressBar::valueChanged, [&](int value) {
        steps.emplace_back(value, form->STView_FolderEXE->isEnabled());
    });
    form->Btn_Build->click();

    ASSERT_EQ(form->shown.size(), 1u);
    EXPECT_EQ(form->shown[0].text, "Done! 3 files have been packed.");
    EXPECT_FALSE(form->shown[0].error);
    EXPECT_TRUE(form->shown[0].treeEnabled);
    EXPECT_EQ(form->shown[0].progress, 3);
    EXPECT_EQ(steps,
              (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {3, false}, {0, true}}));
    EXPECT_EQ(form->PrgBar_Build->maximum(), 3);

    fs::create_directories(dir / "script");
    const auto result =
        velmoran::testing::RunProcess({KELPFORGE, "--build", dir / "client"}, dir / "script");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::string list = ReadFile(dir / "window/Upload/updates.lst");
    EXPECT_EQ(list, ReadFile(dir / "script/Upload/updates.lst"));
    EXPECT_NE(list.find("F2=system\\empty.ini|0|116|n\r\n"), std::string::npos) << list;
    testing::ExpectArchiveHolds(dir / "window/Upload/Velmoran.exe.zip",
                                {{"Velmoran.exe", "MZ the updater"}});
    testing::ExpectArchiveHolds(dir / "window/Upload/readme.txt.zip", {{"readme.txt", ""}});
    testing::ExpectArchiveHolds(dir / "window/Upload/system/empty.ini.zip", {{"empty.ini", ""}});

    // A second click starts again from idle and writes the same list.
    form->ChkB_Crtical->setChecked(true);
    form->LbL_IpServer->setText(QStringLiteral("192.0.2.1"));
    form->Btn_Build->click();
    EXPECT_EQ(form->shown.back().text, "Done! 3 files have been packed.");
    const std::string critical = ReadFile(dir / "window/Upload/updates.lst");
    EXPECT_NE(critical.find("Server=192.0.2.1\r\n"), std::string::npos);
    EXPECT_NE(critical.find("F1=readme.txt|0|118|c\r\n"), std::string::npos);
}

TEST_F(FrmMainTest, RefusalsAndErrorsLeaveTheWindowIdle) {
    form->Btn_Build->click(); // nothing selected
    form->SelectFolder(QString::fromStdString(dir / "client"));
    form->LbL_NameEXE->setText(QStringLiteral("velmoran.exe"));
    form->Btn_Build->click();
    fs::create_directories(dir / "client/sub");
    fs::rename(dir / "client/Velmoran.exe", dir / "client/sub/Velmoran.exe");
    form->LbL_NameEXE->setText(QStringLiteral("Velmoran.exe"));
    form->Btn_Build->click();

    ASSERT_EQ(form->shown.size(), 3u);
    EXPECT_EQ(form->shown[0].text, "No folder is selected!");
    EXPECT_EQ(form->shown[1].text, "velmoran.exe was not found!");
    EXPECT_FALSE(form->shown[1].error);
    EXPECT_EQ(form->shown[2].text, "File not found");
    EXPECT_TRUE(form->shown[2].error);
    EXPECT_TRUE(form->STView_FolderEXE->isEnabled());
    EXPECT_EQ(form->PrgBar_Build->value(), 0);
    EXPECT_EQ(form->Build().FileCount(), 0);
    EXPECT_EQ(form->Build().FileIndex(), 1);
    EXPECT_EQ(ReadFile(dir / "window/Upload/updates.lst"), "[self]\r\n");
}

TEST_F(FrmMainTest, QuitClosesTheWindow) {
    form->show();
    ASSERT_TRUE(form->isVisible());
    form->Btn_Quit->click();
    EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace kelpforge
