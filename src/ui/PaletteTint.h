#pragma once

#include "ui/Theme.h"

#include <QObject>
#include <functional>

class QAbstractButton;
class QLabel;
class QWidget;

// Keeps a widget's colours in step with the palette: the colouring runs once now and again
// whenever the widget's palette changes (a switch to the dark theme, say), so no widget needs
// its own change handler. Colours are taken from the parent's palette, because tinting text
// overrides the widget's own text colour.
class PaletteTint : public QObject {
    Q_OBJECT

public:
    // Runs apply(palette) now and after every palette change of widget.
    static void follow(QWidget* widget, std::function<void(const QPalette&)> apply);

    // Text (and a button's text) in a tone.
    static void text(QWidget* widget, Theme::Tone tone);
    // A button's symbol in a tone.
    static void icon(QAbstractButton* button, const QString& symbol, Theme::Tone tone);
    // A label showing a symbol of side × side in a tone.
    static void symbol(QLabel* label, const QString& symbol, Theme::Tone tone, int side);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaletteTint(QWidget* widget, std::function<void(const QPalette&)> apply);
    void apply();

    QWidget* m_widget;
    std::function<void(const QPalette&)> m_apply;
};
