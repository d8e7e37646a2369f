// A light button that shows images with their transparency: one at rest, one pressed, one
// under the pointer, and a dimmed copy of the rest image while disabled, with an optional
// caption above, below, left or right of the image.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

namespace varko {

// NOLINTBEGIN(readability-identifier-naming): the button's styles keep their own names
enum class TImageButtonStyle { pbsDefault, pbsFlat, pbsNoFrame };
enum class TImageButtonLayout { pbsImageAbove, pbsImageBellow, pbsImageLeft, pbsImageRight };
enum class TButtonState { bsUp, bsDown, bsDisabled };
// NOLINTEND(readability-identifier-naming)

// Copy with every alpha value divided by 3 (an alpha channel is added if missing);
// palette images come back undimmed.
QImage MakeDisabledImage(const QImage& normal);

class TImageButton : public QWidget {
    Q_OBJECT
public:
    explicit TImageButton(QWidget* parent = nullptr);

    TImageButtonLayout ButtonLayout() const { return layout_; }
    void SetButtonLayout(TImageButtonLayout value);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value);
    const QImage& ImageNormal() const { return normal_; }
    void SetImageNormal(const QImage& value); // also rebuilds the disabled image
    const QImage& ImageDown() const { return down_; }
    void SetImageDown(const QImage& value);
    const QImage& ImageOver() const { return over_; }
    void SetImageOver(const QImage& value);
    const QImage& DisabledImage() const { return disabled_; }
    TImageButtonStyle ButtonStyle() const { return style_; }
    void SetButtonStyle(TImageButtonStyle value);
    bool SlideWhenDown() const { return slide_; }
    void SetSlideWhenDown(bool value);

    TButtonState State() const { return state_; }
    bool MouseOver() const { return mouseOver_; }
    // Pressed look: held down with the pointer over the button.
    bool Pressed() const { return state_ == TButtonState::bsDown && mouseOver_; }

    // Where the image and caption go for the current state (after the slide).
    QPoint ImagePosition() const;
    QPoint CaptionPosition() const;
    // The image painted for the current state.
    const QImage& CurrentImage() const;

    // Events; the sender is the button.
    std::function<void(TImageButton*)> OnClick;
    std::function<void(TImageButton*)> OnDblClick;
    std::function<void(TImageButton*)> OnMouseEnter;
    std::function<void(TImageButton*)> OnMouseExit;
    std::function<void(TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)>
        OnMouseDown;
    std::function<void(TImageButton*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnMouseUp;
    std::function<void(TImageButton*, Qt::KeyboardModifiers, int, int)> OnMouseMove;

    QSize sizeHint() const override { return {23, 23}; }

signals:
    void clicked(); // NOLINT(readability-identifier-naming): as QAbstractButton's

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Click();
    void Layout(QPoint& image, QPoint& caption) const;

    TImageButtonStyle style_ = TImageButtonStyle::pbsDefault;
    bool mouseOver_ = false;
    QString caption_;
    TImageButtonLayout layout_ = TImageButtonLayout::pbsImageAbove;
    TButtonState state_ = TButtonState::bsUp;
    QImage down_;
    QImage normal_;
    QImage disabled_;
    QImage over_;
    bool slide_ = true;
};

} // namespace varko
