// ProgramTest.cpp: both windows rendered with their shape cut out, and the program
// Velmoran itself, closed while its update run is held up by the server.
#include "platform/Files.h"
#include "tests/support/Subprocess.h"
#include "tests/ui/UiTestSupport.h"
#include "updater/ui/WindowShape.h"

#include <QImage>
#include <chrono>
#include <gtest/gtest.h>

namespace velmoran::testing {
namespace {

// The picture is transparent exactly outside the shape, and no key colour is left inside.
void ExpectShapedShot(const QImage& shot, const QRegion& shape, QSize size) {
    ASSERT_EQ(shot.size(), size);
    const QRgb key = qRgb(255, 0, 255);
    int outside = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb pixel = shot.pixel(x, y);
            if (!shape.contains(QPoint(x, y))) {
                ASSERT_EQ(qAlpha(pixel), 0) << x << "," << y;
                ++outside;
            } else {
                ASSERT_EQ(qAlpha(pixel), 255) << x << "," << y;
                ASSERT_NE(pixel | 0xff000000u, key) << x << "," << y;
            }
        }
    }
    EXPECT_GT(outside, 0);
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(size.width() / 2, size.height() / 2)), 255);
}

using Program = LauncherTest;

TEST_F(Program, BothWindowsRenderWithTheKeyColourCutOut) {
    WriteUsualSettings();
    OpenWindows();
    ExpectShapedShot(GrabShaped(*window), window->mask(), QSize(955, 520));
    ExpectShapedShot(GrabShaped(*dialog), dialog->mask(), QSize(220, 300));
}

TEST_F(Program, ClosingDuringARunEndsTheProgramAtOnce) {
    // The list download stops after a few bytes and would stay so for a minute.
    PublishList({.rev = "1"});
    server->Script("/files.lst.bz2", Reply::Stall(ReadFile(serverRoot + "files.lst.bz2"), 10));
    WriteUsualSettings();
    const std::string settings = Settings();
    const std::string shots = dir / "shots";

    const auto started = std::chrono::steady_clock::now();
    // The screenshot option closes the window when its wait is over, with the run under way.
    const ProcessResult result =
        RunProcess({VELMORAN_EXE, "--screenshot", shots, "--screenshot-wait", "1500"}, client,
                   {{"VELMORAN_STALL_TIMEOUT", "60"}}, std::chrono::seconds(45));
    const auto took = std::chrono::steady_clock::now() - started;

    ASSERT_FALSE(result.timedOut) << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_LT(took, std::chrono::seconds(20)) << "the program did not wait for the run";
    ASSERT_FALSE(server->Requests().empty()) << result.err;
    EXPECT_EQ(server->Requests().front().path, "/files.lst.bz2") << "the run had started";
    EXPECT_EQ(Settings(), settings);

    const QImage launcher(QString::fromStdString(shots + "/launcher.png"));
    const QImage options(QString::fromStdString(shots + "/options.png"));
    ASSERT_EQ(launcher.size(), QSize(955, 520));
    ASSERT_EQ(options.size(), QSize(220, 300));
    EXPECT_EQ(qAlpha(launcher.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(launcher.pixel(477, 260)), 255);
    EXPECT_EQ(qAlpha(options.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(options.pixel(110, 150)), 255);
}

} // namespace
} // namespace velmoran::testing
