// ImageButton.h: a button drawn entirely by three pictures of its own.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>

namespace velmoran {

// Shows its normal picture, the hover picture while the pointer is over it and the pressed
// picture while the left mouse button is held down on it. A click is a press and a release
// of the left button, both on the button. A disabled button shows its normal picture
// dimmed and takes no clicks.
class TImageButton : public QWidget {
public:
    enum class Look { Normal, Hover, Pressed };

    explicit TImageButton(QWidget* parent = nullptr);

    void SetPictures(const QPixmap& normal, const QPixmap& hover, const QPixmap& pressed);
    // Centred and stretched: the picture fills the button. Otherwise it is drawn centred at
    // its own size.
    void SetStretch(bool stretch);

    // Which picture is shown now.
    Look CurrentLook() const;
    const QPixmap& Picture(Look look) const;

    // The click event.
    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPixmap normal_;
    QPixmap hover_;
    QPixmap pressed_;
    bool stretch_ = false;
    bool over_ = false;
    bool down_ = false;
};

} // namespace velmoran
