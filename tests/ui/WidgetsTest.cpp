// WidgetsTest.cpp: the image button, the bar gauge and the window shape from a picture.
#include "tests/ui/UiTestSupport.h"
#include "updater/ui/BarGauge.h"
#include "updater/ui/ImageButton.h"
#include "updater/ui/WindowShape.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace velmoran::testing {
namespace {

QPixmap Filled(QColor colour) {
    QPixmap picture(40, 20);
    picture.fill(colour);
    return picture;
}

class ImageButtonTest : public ::testing::Test {
protected:
    ImageButtonTest() {
        button.setGeometry(0, 0, 40, 20);
        button.SetPictures(Filled(Qt::red), Filled(Qt::green), Filled(Qt::blue));
        button.OnClick = [this] { ++clicks; };
    }
    void Enter() {
        QEnterEvent event(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&button, &event);
    }
    void Leave() {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&button, &event);
    }
    QColor Shown() { return button.grab().toImage().pixelColor(20, 10); }

    TImageButton button;
    int clicks = 0;
};

TEST_F(ImageButtonTest, ShowsEachPictureInItsMomentAndClicksOnARelease) {
    using Look = TImageButton::Look;
    EXPECT_EQ(button.CurrentLook(), Look::Normal);
    EXPECT_EQ(Shown(), QColor(Qt::red));
    Enter();
    EXPECT_EQ(button.CurrentLook(), Look::Hover);
    EXPECT_EQ(Shown(), QColor(Qt::green));
    SendMouse(&button, QEvent::MouseButtonPress, Qt::LeftButton, {20, 10});
    EXPECT_EQ(button.CurrentLook(), Look::Pressed);
    EXPECT_EQ(Shown(), QColor(Qt::blue));
    EXPECT_EQ(clicks, 0) << "the click comes with the release";
    SendMouse(&button, QEvent::MouseButtonRelease, Qt::LeftButton, {20, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.CurrentLook(), Look::Hover);
    Leave();
    EXPECT_EQ(button.CurrentLook(), Look::Normal);
}

TEST_F(ImageButtonTest, NoClickWhenReleasedElsewhereWithAnotherButtonOrDisabled) {
    using Look = TImageButton::Look;
    Enter();
    SendMouse(&button, QEvent::MouseButtonPress, Qt::LeftButton, {20, 10});
    SendMouse(&button, QEvent::MouseMove, Qt::LeftButton, {80, 10});
    EXPECT_EQ(button.CurrentLook(), Look::Normal) << "held and moved off the button";
    SendMouse(&button, QEvent::MouseButtonRelease, Qt::LeftButton, {80, 10});
    EXPECT_EQ(clicks, 0);

    SendMouse(&button, QEvent::MouseButtonPress, Qt::RightButton, {20, 10});
    SendMouse(&button, QEvent::MouseButtonRelease, Qt::RightButton, {20, 10});
    EXPECT_EQ(clicks, 0);

    button.setEnabled(false);
    Click(&button);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(button.CurrentLook(), Look::Normal);
}

TEST(BarGaugeTest, ClampsAndShowsWholePercents) {
    struct Case {
        std::int64_t max; // -1: left at its start value
        std::int64_t position;
        std::int64_t shownPosition;
        int percent;
    };
    const std::int64_t big = 5LL << 30; // sizes beyond 32 bits
    for (const Case& c : {
             Case{-1, 42, 42, 42},            // 100 until set
             Case{-1, 250, 100, 100},         // clamped to the maximum
             Case{-1, -5, 0, 0},              // and to the minimum
             Case{3, 2, 2, 66},               // rounded down
             Case{0, 7, 0, 0},                // an empty gauge shows 0 %
             Case{big, big / 2, big / 2, 50}, // no overflow on the way to the percent
             Case{big, big + 1, big, 100},
         }) {
        SCOPED_TRACE(::testing::Message() << c.max << " " << c.position);
        TBarGauge gauge;
        if (c.max >= 0) {
            gauge.SetMaxValue(c.max);
        }
        gauge.SetProgress(c.position);
        EXPECT_EQ(gauge.Progress(), c.shownPosition);
        EXPECT_EQ(gauge.PercentDone(), c.percent);
        EXPECT_EQ(gauge.Text().toStdString(), std::to_string(c.percent) + "%");
    }
}

TEST(BarGaugeTest, ANegativeMaximumIsRefusedAndChangesNothing) {
    TBarGauge gauge;
    gauge.SetMaxValue(200);
    gauge.SetProgress(50);
    EXPECT_THROW(gauge.SetMaxValue(-1), EGaugeError);
    EXPECT_EQ(gauge.MaxValue(), 200);
    EXPECT_EQ(gauge.Progress(), 50);

    // The bar covers its share of the width in the bar colour, the rest stays black.
    gauge.resize(100, 10);
    gauge.SetColors(Qt::black, QColor(128, 0, 0), QColor(192, 192, 192));
    const QImage drawn = gauge.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(2, 1), QColor(128, 0, 0));
    EXPECT_EQ(drawn.pixelColor(97, 1), QColor(Qt::black));
}

// The region as the rule reads: the whole picture, less every key-coloured pixel.
QRegion RegionPixelByPixel(const QImage& image, QRgb key) {
    QRegion region(0, 0, image.width(), image.height());
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(x, y) == key) {
                region -= QRegion(x, y, 1, 1);
            }
        }
    }
    return region;
}

TEST(WindowShapeTest, RegionFromRunsIsTheRegionPixelByPixel) {
    const QRgb key = qRgb(255, 0, 255);
    QImage blobs(64, 48, QImage::Format_RGB32);
    blobs.fill(key);
    {
        // Shapes that give bands of equal rows, rows that differ and holes.
        QPainter painter(&blobs);
        painter.fillRect(4, 4, 30, 20, Qt::darkGray);
        painter.setBrush(Qt::gray);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(20, 10, 40, 34);
        painter.fillRect(40, 20, 6, 6, QColor(key));
    }
    QImage noise(37, 23, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            noise.setPixel(x, y, random.bounded(2) ? key : qRgb(1, 2, 3));
        }
    }
    QImage full(10, 10, QImage::Format_RGB32);
    full.fill(Qt::white);
    QImage none(10, 10, QImage::Format_RGB32);
    none.fill(key);

    for (const QImage* image : {&blobs, &noise, &full, &none}) {
        const QRegion runs = RegionFromPicture(*image, key);
        const QRegion pixels = RegionPixelByPixel(*image, key);
        EXPECT_TRUE((runs ^ pixels).isEmpty()) << image->width() << "x" << image->height();
    }
    EXPECT_LE(RegionFromPicture(blobs, key).rectCount(), blobs.height() * 2);
}

TEST(WindowShapeTest, ShapingTheLauncherBackgroundIsQuickAndCutsItsKeyColour) {
    const QPixmap background(QStringLiteral(":/velmoran/skin/background.png"));
    ASSERT_EQ(background.size(), QSize(955, 520));
    const QImage image = background.toImage();
    QWidget window;
    window.resize(955, 520);

    QElapsedTimer clock;
    clock.start();
    ShapeWindowFromPicture(window, background);
    const qint64 elapsed = clock.elapsed();

    const QRegion shape = window.mask();
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_TRUE(shape.contains(QPoint(477, 260)));
    EXPECT_TRUE((shape ^ RegionFromPicture(image, image.pixel(0, 0))).isEmpty());
    // Bands of runs, not one rectangle per pixel: a few hundred for this picture.
    EXPECT_LT(shape.rectCount(), 3000);
    EXPECT_LT(elapsed, 500) << "milliseconds";
}

} // namespace
} // namespace velmoran::testing
