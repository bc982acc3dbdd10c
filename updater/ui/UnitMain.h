// UnitMain.h: the launcher's program start and its main window FMain.
//
// The window shows the news page, the progress of the update run and the buttons to play,
// to check every file again, to open the game options and to quit. It starts an update
// run by itself a second after it opens. Runs reach it only through their notifications
// (IUpdateHost), which the GUI dispatcher runs on the window's thread.
#pragma once

#include "platform/StringList.h"
#include "updater/engine/GetFilesThr.h"
#include "updater/ui/DraggableForm.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QTimer;
class QWebEngineView;

namespace velmoran {

class TBarGauge;
class TForm1;
class TGuiDispatcher;
class TImageButton;

// The description of the desktop shortcut made on the first run.
inline constexpr const char* kShortcutDescription = "Play Ashen Crown";

class TFMain : public TDraggableForm, public IUpdateHost {
public:
    // Reads the settings and runs the start-up (FormCreate). Installs the window's
    // dispatcher: update runs started later talk to this window.
    explicit TFMain(QWidget* parent = nullptr);
    ~TFMain() override;

    // Controls.
    QLabel* Image1 = nullptr; // the background and shape picture, hidden
    QWidget* Panel1 = nullptr;
    QWebEngineView* WebBrowser1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Image4 = nullptr;
    TImageButton* ImgBtn1 = nullptr; // play
    TImageButton* ImgBtn2 = nullptr; // full update check
    TImageButton* ImgBtn3 = nullptr; // quit (a cross; hidden)
    TImageButton* ImgBtn4 = nullptr; // quit
    TImageButton* ImgBtn5 = nullptr; // game options (hidden)
    QLabel* Label1 = nullptr;
    TBarGauge* Gauge1 = nullptr;
    QLabel* Label2 = nullptr;
    TBarGauge* Gauge2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QTimer* Timer1 = nullptr;

    // Owned from the window's creation to its close; empty afterwards.
    std::unique_ptr<TStringList> ClientSettings;
    // The options dialog; the program start sets it once the dialog exists.
    TForm1* Form1 = nullptr;
    // Called at the end of FormClose; the program start ends the message loop with it.
    std::function<void()> OnClosed;

    // Event handlers. An error they raise ends them; RunHandler shows it (the controls'
    // events go through it).
    void FormCreate();
    void Timer1Timer();
    void ImgBtn1Click();
    void ImgBtn2Click();
    void ImgBtn3Click();
    void ImgBtn4Click();
    void ImgBtn5Click();
    void WebBrowser1NavigateComplete2();
    void FormClose();
    // FormMouseDown, FormMouseMove and FormMouseUp drag the window (TDraggableForm).

    // Writes AtRevision = revisionText into _settings.ini; ClientSettings stays as read.
    void UpdateRevision(const std::string& revisionText);
    // Saves the desktop shortcut to this program, started in workingFolder. An empty name
    // makes none.
    void CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                               const std::string& description);

    // The notifications of the update run.
    void ShowStatus(const std::string& text) override;
    void SetGaugeMax(int kind, std::int64_t maximum) override;
    void SetFileProgress(std::int64_t position) override;
    void SetTotalProgress(std::int64_t position) override;
    void LockButtons() override;
    void UnlockButtons() override;
    void StoreRevision(const std::string& revisionText) override;

    // Whether the start-up asked the application to end (no _settings.ini).
    bool TerminateRequested() const noexcept { return terminateRequested_; }
    // Whether FormClose has run: no notification is taken any more.
    bool IsClosed() const noexcept { return closed_; }
    // Where the window's pictures may be replaced: the client folder's "skin" folder.
    const std::string& SkinFolder() const noexcept { return skinFolder_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    // Starts an update run with the inputs from ClientSettings. Raises the conversion
    // error of CreateBackup or AtRevision before anything has started.
    void StartUpdateRun(bool fullCheck);

    std::shared_ptr<TGuiDispatcher> dispatcher_;
    std::string skinFolder_;
    bool terminateRequested_ = false;
    bool closed_ = false;
};

// How many update runs have started and not ended yet, in the whole process.
int UpdateRunsUnderWay();

// The program start: the application title, FMain, Form1 hidden, the message loop. With
// --screenshot FOLDER it takes the pictures of both windows into that folder once the
// first update run and the news page are done (or the run has gone on for
// --screenshot-wait milliseconds, 30000 by default) and closes. Returns the exit status.
int RunVelmoran(int argc, char** argv);

} // namespace velmoran
