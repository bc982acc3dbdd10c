// BarGauge.cpp: drawing the bar gauge.
#include "updater/ui/BarGauge.h"

#include <QMouseEvent>
#include <QPainter>

namespace velmoran {

TBarGauge::TBarGauge(QWidget* parent) : QWidget(parent) {
    QFont font = this->font();
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);
}

void TBarGauge::SetMaxValue(std::int64_t maximum) {
    state_.SetMax(maximum);
    update();
}

void TBarGauge::SetProgress(std::int64_t position) {
    const int before = state_.Percent();
    state_.SetPosition(position);
    // Progress comes once a kilobyte; only a change the eye can see is redrawn.
    if (state_.Percent() != before) {
        update();
    }
}

QString TBarGauge::Text() const {
    return QString::number(state_.Percent()) + QLatin1Char('%');
}

void TBarGauge::SetColors(const QColor& back, const QColor& bar, const QColor& text) {
    back_ = back;
    bar_ = bar;
    text_ = text;
    update();
}

void TBarGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), back_);
    const int filled = static_cast<int>(static_cast<long long>(width()) * state_.Percent() / 100);
    painter.fillRect(0, 0, filled, height(), bar_);
    painter.setPen(text_);
    painter.drawText(rect(), Qt::AlignCenter, Text());
}

void TBarGauge::mousePressEvent(QMouseEvent* event) {
    // A control, not the window's background: a press here does not drag.
    event->accept();
}

} // namespace velmoran
