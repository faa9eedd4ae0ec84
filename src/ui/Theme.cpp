#include "ui/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QWidget>

namespace Theme {

namespace {

QFont scaled(double factor) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    return font;
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(alpha);
    return color;
}

} // namespace

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor named(Named color, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (color) {
    case Named::Green:
        return dark ? QColor(0x30, 0xd1, 0x58) : QColor(0x28, 0xa7, 0x45);
    case Named::Orange:
        return dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xf0, 0x8c, 0x00);
    case Named::Gray:
        return dark ? QColor(0x98, 0x98, 0x9d) : QColor(0x8e, 0x8e, 0x93);
    case Named::Red:
        return dark ? QColor(0xff, 0x45, 0x3a) : QColor(0xe5, 0x33, 0x2a);
    case Named::Blue:
        return dark ? QColor(0x0a, 0x84, 0xff) : QColor(0x00, 0x7a, 0xff);
    }
    return {};
}

QColor color(Tone tone, const QPalette& palette) {
    switch (tone) {
    case Tone::Text:
        return palette.color(QPalette::WindowText);
    case Tone::Secondary:
        return secondary(palette);
    case Tone::Tertiary:
        return tertiary(palette);
    case Tone::Quaternary:
        return quaternary(palette);
    case Tone::Green:
        return named(Named::Green, palette);
    case Tone::Orange:
        return named(Named::Orange, palette);
    case Tone::Gray:
        return named(Named::Gray, palette);
    case Tone::Red:
        return named(Named::Red, palette);
    case Tone::Blue:
        return named(Named::Blue, palette);
    }
    return {};
}

QColor secondary(const QPalette& palette) {
    return withAlpha(palette.color(QPalette::WindowText), 0.62);
}

QColor tertiary(const QPalette& palette) {
    return withAlpha(palette.color(QPalette::WindowText), 0.40);
}

QColor quaternary(const QPalette& palette) {
    return withAlpha(palette.color(QPalette::WindowText), 0.26);
}

// Ratios of the usual desktop text styles to the body size (13 points).
QFont body() {
    return scaled(1.0);
}
QFont callout() {
    return scaled(12.0 / 13.0);
}
QFont title3() {
    return scaled(15.0 / 13.0);
}
QFont title() {
    return scaled(22.0 / 13.0);
}
QFont caption() {
    return scaled(10.0 / 13.0);
}

QFont monospaced(QFont font) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() : fixed.pointSizeF());
    fixed.setWeight(font.weight());
    return fixed;
}

void setForeground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, color);
    widget->setPalette(palette);
}

} // namespace Theme
