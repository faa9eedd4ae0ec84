#include "ui/Divider.h"

#include "ui/Theme.h"

#include <QPainter>

Divider::Divider(QWidget* parent)
    : QFrame(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::quaternary(palette()));
}
