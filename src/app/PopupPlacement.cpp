#include "app/PopupPlacement.h"

#include <QGuiApplication>
#include <algorithm>

namespace {

constexpr int gap = 4;

int clampInto(int position, int length, int start, int extent) {
    // Too large to fit: keep the start (the header and its controls) on screen.
    if (length >= extent)
        return start;
    return std::clamp(position, start, start + extent - length);
}

} // namespace

QPoint placePopup(const QRect& anchor, const QSize& size, const QRect& available) {
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.center().y() < available.center().y() ? anchor.bottom() + 1 + gap
                                                         : anchor.top() - gap - size.height();
    x = clampInto(x, size.width(), available.left(), available.width());
    y = clampInto(y, size.height(), available.top(), available.height());
    return {x, y};
}

bool canPlaceWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
