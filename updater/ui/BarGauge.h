// BarGauge.h: a horizontal bar gauge with its percentage as text.
#pragma once

#include "updater/engine/Gauge.h"

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace velmoran {

// Minimum 0, maximum 100 until set; positions outside clamp to the nearest end; at maximum
// 0 it shows 0 %. A negative maximum raises EGaugeError and changes nothing.
class TBarGauge : public QWidget {
public:
    explicit TBarGauge(QWidget* parent = nullptr);

    void SetMaxValue(std::int64_t maximum);
    void SetProgress(std::int64_t position);
    std::int64_t MaxValue() const noexcept { return state_.Max(); }
    std::int64_t Progress() const noexcept { return state_.Position(); }
    int PercentDone() const noexcept { return state_.Percent(); }
    // The text drawn over the bar, "42%".
    QString Text() const;

    void SetColors(const QColor& back, const QColor& bar, const QColor& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TGaugeState state_;
    QColor back_ = Qt::black;
    QColor bar_ = QColor(128, 0, 0);
    QColor text_ = QColor(192, 192, 192);
};

} // namespace velmoran
