// UiTestSupport.h: the launcher's windows in tests: Qt on the offscreen platform, a client
// folder as the current directory, a desktop of the test's own and message boxes recorded.
#pragma once

#include "tests/engine/UpdateRunFixture.h"
#include "updater/ui/Frm2.h"
#include "updater/ui/UnitMain.h"

#include <QEvent>
#include <QPoint>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace velmoran::testing {

// Processes Qt's events until done() holds or timeout has passed; returns done().
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(15));

// Sends a mouse event to widget as the pointer would (an ignored one goes to the parent);
// at is in widget's own coordinates.
void SendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at);
// A press and a release of the left button in the middle of widget.
void Click(QWidget* widget);

// The client folder (from UpdateRunTest: client/, server/ behind the loopback server) made
// the current directory, with the desktop at desktop/.
class LauncherTest : public UpdateRunTest {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteSettings(const std::string& content) { WriteFile(client + "_settings.ini", content); }
    std::string Settings() const { return ReadFile(client + "_settings.ini"); }
    // Settings for a window that needs no first run, with the test server as UpdatesUrl.
    void WriteUsualSettings(const std::string& extraLines = "");

    // Opens the main window (FormCreate runs) and, unless it asked to end, the dialog.
    template <typename Window = TFMain> Window& OpenWindows() {
        dialog.reset();
        auto created = std::make_unique<Window>();
        Window& opened = *created;
        window = std::move(created);
        OpenDialog();
        return opened;
    }
    void OpenDialog();
    // Runs a handler as the controls' events do: an error becomes a recorded message.
    void Handle(const std::function<void()>& handler);
    // Waits until no update run is under way.
    bool WaitForRunsToEnd();

    std::string desktop = dir / "desktop/";
    std::vector<std::string> messages;
    std::unique_ptr<TFMain> window;
    std::unique_ptr<TForm1> dialog;

private:
    std::string savedDir_;
};

} // namespace velmoran::testing
