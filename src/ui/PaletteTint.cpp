#include "ui/PaletteTint.h"

#include "ui/SymbolIcon.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>

PaletteTint::PaletteTint(QWidget* widget, std::function<void(const QPalette&)> apply)
    : QObject(widget)
    , m_widget(widget)
    , m_apply(std::move(apply)) {
    widget->installEventFilter(this);
}

void PaletteTint::follow(QWidget* widget, std::function<void(const QPalette&)> apply) {
    (new PaletteTint(widget, std::move(apply)))->apply();
}

void PaletteTint::text(QWidget* widget, Theme::Tone tone) {
    follow(widget, [widget, tone](const QPalette& pal) {
        Theme::setForeground(widget, Theme::color(tone, pal));
    });
}

void PaletteTint::icon(QAbstractButton* button, const QString& symbol, Theme::Tone tone) {
    follow(button, [button, symbol, tone](const QPalette& pal) {
        button->setIcon(SymbolIcon::icon(symbol, Theme::color(tone, pal)));
    });
}

void PaletteTint::symbol(QLabel* label, const QString& symbol, Theme::Tone tone, int side) {
    follow(label, [label, symbol, tone, side](const QPalette& pal) {
        label->setPixmap(SymbolIcon::icon(symbol, Theme::color(tone, pal))
                             .pixmap(QSize(side, side), label->devicePixelRatioF()));
    });
}

void PaletteTint::apply() {
    const QWidget* source = m_widget->parentWidget() ? m_widget->parentWidget() : m_widget;
    m_apply(source->palette());
}

bool PaletteTint::eventFilter(QObject* watched, QEvent* event) {
    // Tinting sets the same palette again when nothing changed, which Qt does not announce.
    if (watched == m_widget && event->type() == QEvent::PaletteChange)
        apply();
    return false;
}
