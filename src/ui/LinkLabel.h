#pragma once

#include <QLabel>
#include <functional>

namespace varko {

// A label that answers clicks (links, the close crosses, the loudspeaker).
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr, bool link = true);
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace varko
