// ImageButton.cpp: picture switching and the click of the image button.
#include "updater/ui/ImageButton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace velmoran {

TImageButton::TImageButton(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void TImageButton::SetPictures(const QPixmap& normal, const QPixmap& hover,
                               const QPixmap& pressed) {
    normal_ = normal;
    hover_ = hover;
    pressed_ = pressed;
    update();
}

void TImageButton::SetStretch(bool stretch) {
    stretch_ = stretch;
    update();
}

TImageButton::Look TImageButton::CurrentLook() const {
    if (!isEnabled()) {
        return Look::Normal;
    }
    if (down_ && over_) {
        return Look::Pressed;
    }
    return over_ ? Look::Hover : Look::Normal;
}

const QPixmap& TImageButton::Picture(Look look) const {
    switch (look) {
    case Look::Hover:
        return hover_;
    case Look::Pressed:
        return pressed_;
    case Look::Normal:
        break;
    }
    return normal_;
}

void TImageButton::paintEvent(QPaintEvent*) {
    const QPixmap& picture = Picture(CurrentLook());
    if (picture.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!isEnabled()) {
        painter.setOpacity(0.45);
    }
    if (stretch_) {
        painter.drawPixmap(rect(), picture);
    } else {
        const QSize size = picture.deviceIndependentSize().toSize();
        painter.drawPixmap((width() - size.width()) / 2, (height() - size.height()) / 2, picture);
    }
}

void TImageButton::enterEvent(QEnterEvent*) {
    over_ = true;
    update();
}

void TImageButton::leaveEvent(QEvent*) {
    over_ = false;
    update();
}

void TImageButton::mousePressEvent(QMouseEvent* event) {
    // Every press is the button's own: none of them drags the window behind it.
    event->accept();
    if (event->button() == Qt::LeftButton) {
        down_ = true;
        over_ = rect().contains(event->position().toPoint());
        update();
    }
}

void TImageButton::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    // While the button is held the pointer is grabbed: leaving shows the normal picture,
    // coming back the pressed one.
    if (down_) {
        const bool over = rect().contains(event->position().toPoint());
        if (over != over_) {
            over_ = over;
            update();
        }
    }
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !down_) {
        return;
    }
    down_ = false;
    over_ = rect().contains(event->position().toPoint());
    update();
    if (over_ && OnClick) {
        OnClick();
    }
}

void TImageButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        down_ = false;
    }
    QWidget::changeEvent(event);
}

} // namespace velmoran
