// UiTestSupport.cpp: the test program's Qt application and the launcher fixture.
#include "tests/ui/UiTestSupport.h"

#include "updater/ui/Messages.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace velmoran::testing {

namespace {

// One application for the whole program, on the offscreen platform, with the home and XDG
// folders in a temporary folder of its own: the browser keeps its profile there, and the
// real home is never touched.
class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/velmoran-ui-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        home_ = made;
        for (const char* folder : {"/.config", "/.local/share", "/.cache", "/runtime"}) {
            std::filesystem::create_directories(home_ + folder);
        }
        ::chmod((home_ + "/runtime").c_str(), 0700);
        ::setenv("HOME", home_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home_ + "/.local/share").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home_ + "/.cache").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (home_ + "/runtime").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The browser's own sandbox cannot start as root in a container.
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void TearDown() override {
        delete app_;
        app_ = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(home_, ignored);
    }

private:
    std::string home_;
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment);

} // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(done, static_cast<int>(timeout.count()));
}

void SendMouse(QWidget* widget, QEvent::Type eventType, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = eventType == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(eventType, QPointF(at), QPointF(widget->mapToGlobal(at)),
                      eventType == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void Click(QWidget* widget) {
    const QPoint middle(widget->width() / 2, widget->height() / 2);
    SendMouse(widget, QEvent::MouseButtonPress, Qt::LeftButton, middle);
    SendMouse(widget, QEvent::MouseButtonRelease, Qt::LeftButton, middle);
}

void LauncherTest::SetUp() {
    UpdateRunTest::SetUp();
    platform::ForceDirectories(desktop);
    ::setenv("VELMORAN_DESKTOP_DIR", desktop.c_str(), 1);
    savedDir_ = platform::GetCurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(client));
    SetMessageBoxHandler([this](const std::string& text) { messages.push_back(text); });
}

void LauncherTest::TearDown() {
    // A run still under way is let finish while the server is there to answer it.
    EXPECT_TRUE(WaitForRunsToEnd());
    dialog.reset();
    window.reset();
    SetMessageBoxHandler(nullptr);
    platform::SetCurrentDir(savedDir_);
    ::unsetenv("VELMORAN_DESKTOP_DIR");
    UpdateRunTest::TearDown();
}

void LauncherTest::WriteUsualSettings(const std::string& extraLines) {
    WriteSettings("[main]\r\nUpdatesUrl=" + server->Url() + "\r\nInstalled=1\r\n" + extraLines);
}

void LauncherTest::OpenDialog() {
    if (!window->TerminateRequested()) {
        dialog = std::make_unique<TForm1>(*window);
        window->Form1 = dialog.get();
    }
}

void LauncherTest::Handle(const std::function<void()>& handler) {
    RunHandler(handler);
}

bool LauncherTest::WaitForRunsToEnd() {
    return WaitUntil([] { return UpdateRunsUnderWay() == 0; }, std::chrono::seconds(20));
}

} // namespace velmoran::testing
