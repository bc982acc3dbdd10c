// FrmMain.h: the builder's main window. The administrator picks the client folder in the
// folder tree, fills in the server and the updater's name and presses "Vytvořit!"; the
// build itself is TBuildRun, which the window only feeds and displays.
#pragma once

#include "builder/BuildRun.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace kelpforge {

// The application's title: the caption of every message box.
inline constexpr const char* kApplicationTitle = "Update builder V4.6";

class TFrmMain : public QWidget, private TBuildObserver {
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // The folder the tree has selected, as a file-system path; empty when none is.
    std::string SelectedFolder() const;
    // Selects a folder in the tree and shows it.
    void SelectFolder(const QString& path);

    // Components.
    QTreeView* STView_FolderEXE = nullptr;
    QPushButton* Btn_Build = nullptr;
    QPushButton* Btn_Infos = nullptr;
    QPushButton* Btn_Help = nullptr;
    QPushButton* Btn_Quit = nullptr;
    QLineEdit* LbL_IpServer = nullptr;
    QLineEdit* LbL_NameEXE = nullptr;
    QCheckBox* ChkB_ModHost = nullptr;
    QCheckBox* ChkB_Crtical = nullptr;
    QProgressBar* PrgBar_Build = nullptr;
    QLabel* Ico_Sphere = nullptr;

    // The archive component of the form; the run packs with its settings.
    TZipArchive& ZipArchive1() noexcept { return build_.ZipArchive1; }
    TBuildRun& Build() noexcept { return build_; }

    // Handlers.
    void Btn_BuildClick();
    void Btn_InfosClick();
    void Btn_HelpClick();
    void Btn_QuitClick();

protected:
    // Shows a modal message box with the application's title and returns when it has been
    // closed.
    virtual void ShowMessageBox(const QString& text, bool error);
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();

    // TBuildObserver: the run's progress on the controls.
    void SetTreeEnabled(bool enabled) override;
    void SetProgressMax(int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;

    TBuildRun build_;
    QFileSystemModel* folders_ = nullptr;
    QLabel* serverLabel_ = nullptr;
    QLabel* nameLabel_ = nullptr;
    bool running_ = false;
};

} // namespace kelpforge
