#include "ui/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace varko {

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent)
    : QWidget(parent), Min(min), Max(max), associate_(associate), position_(position) {
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    UpButton = new QToolButton(this);
    UpButton->setArrowType(Qt::UpArrow);
    DownButton = new QToolButton(this);
    DownButton->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {UpButton, DownButton}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        box->addWidget(b);
    }
    connect(UpButton, &QToolButton::clicked, this, [this] { Click(+1); });
    connect(DownButton, &QToolButton::clicked, this, [this] { Click(-1); });
}

bool TUpDown::Change(int value) {
    if (OnChangingEx && !OnChangingEx(value)) {
        return false;
    }
    position_ = value;
    return true;
}

void TUpDown::SetPosition(int value) {
    Change(value);
}

void TUpDown::Click(int step) {
    const int next = std::clamp(position_ + step, Min, Max);
    if (next != position_ && Change(next) && associate_ != nullptr) {
        associate_->setText(QString::number(next));
    }
}

} // namespace varko
