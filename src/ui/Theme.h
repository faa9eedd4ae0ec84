#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

// The window's look: named colours that follow the palette (light or dark), the dimmer
// hierarchical text colours, and the text styles, scaled from the application font. Sizes are
// device-independent pixels.
namespace Theme {

enum class Named { Green, Orange, Gray, Red, Blue };

bool isDark(const QPalette& palette);
QColor named(Named color, const QPalette& palette);

// A colour by its role: the palette's text, one of its dimmer levels, or a named colour.
enum class Tone { Text, Secondary, Tertiary, Quaternary, Green, Orange, Gray, Red, Blue };
QColor color(Tone tone, const QPalette& palette);

// The palette's text colour, progressively dimmer.
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor quaternary(const QPalette& palette);

// Text styles relative to the application font (which stands for the body style).
QFont body();
QFont callout();
QFont title3();
QFont title();
QFont caption();
QFont monospaced(QFont font);

// Paints a widget's text (and its buttons' text) in one colour.
void setForeground(QWidget* widget, const QColor& color);

} // namespace Theme
