// DraggableForm.cpp: dragging a borderless window by its background.
#include "updater/ui/DraggableForm.h"

#include <QMouseEvent>

namespace velmoran {

void TDraggableForm::FormMouseDown(Qt::MouseButton, int x, int y) {
    drag_ = true;
    dragX_ = x;
    dragY_ = y;
}

void TDraggableForm::FormMouseMove(int x, int y) {
    if (drag_) {
        move(pos().x() + x - dragX_, pos().y() + y - dragY_);
    }
}

void TDraggableForm::FormMouseUp(Qt::MouseButton, int, int) {
    drag_ = false;
}

void TDraggableForm::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    // A press that a label or another control passed on is not one on the background.
    if (childAt(at)) {
        return;
    }
    FormMouseDown(event->button(), at.x(), at.y());
}

void TDraggableForm::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    FormMouseMove(at.x(), at.y());
}

void TDraggableForm::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    FormMouseUp(event->button(), at.x(), at.y());
}

} // namespace velmoran
