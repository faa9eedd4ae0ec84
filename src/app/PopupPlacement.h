#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the status window goes: centred under (or, for an icon in the lower half of the
// screen, over) the anchor, then moved as little as needed to lie inside the available area.
QPoint placePopup(const QRect& anchor, const QSize& size, const QRect& available);

// Whether a window may choose its own place on the screen. X11 lets it; on Wayland the
// compositor places every window and a client cannot even learn where its window is.
bool canPlaceWindows();
