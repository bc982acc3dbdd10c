// DraggableForm.h: a borderless window the player moves by its background.
#pragma once

#include <QWidget>
#include <cstdint>

namespace velmoran {

// A press on the window itself (not on one of its controls) starts a drag; moving the
// mouse moves the window by as much; the release ends it.
class TDraggableForm : public QWidget {
public:
    explicit TDraggableForm(QWidget* parent)
        : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {}

    void FormMouseDown(Qt::MouseButton button, int x, int y);
    void FormMouseMove(int x, int y);
    void FormMouseUp(Qt::MouseButton button, int x, int y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool drag_ = false;
    std::int32_t dragX_ = 0;
    std::int32_t dragY_ = 0;
};

} // namespace velmoran
