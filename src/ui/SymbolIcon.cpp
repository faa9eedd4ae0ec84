#include "ui/SymbolIcon.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

// The symbols are compiled into this static library; register them before first use.
static void initSymbolResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

QString resourcePath(const QString& name) {
    return QStringLiteral(":/quillby/icons/%1.svg").arg(name);
}

} // namespace

SymbolIcon::SymbolIcon(QString name, QColor color)
    : m_name(std::move(name))
    , m_color(std::move(color)) {}

QIcon SymbolIcon::icon(const QString& name, const QColor& color) {
    initSymbolResources();
    return QIcon(new SymbolIcon(name, color));
}

QPixmap SymbolIcon::render(const QSize& size, qreal scale, QIcon::Mode mode) const {
    const QSize device(qMax(1, qRound(size.width() * scale)),
                       qMax(1, qRound(size.height() * scale)));
    QPixmap pixmap(device);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(m_name));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Square symbols centred in the requested box.
    const int side = qMin(device.width(), device.height());
    const QRect box((device.width() - side) / 2, (device.height() - side) / 2, side, side);
    renderer.render(&painter, box);
    // The symbols are drawn in black; keep their shape and give them the colour.
    QColor color = m_color;
    if (mode == QIcon::Disabled)
        color.setAlphaF(color.alphaF() * 0.35);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

void SymbolIcon::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) {
    const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, render(rect.size(), scale, mode));
}

QPixmap SymbolIcon::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) {
    return render(size, 1.0, mode);
}

QPixmap SymbolIcon::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) {
    return render(size, scale, mode);
}

QSize SymbolIcon::actualSize(const QSize& size, QIcon::Mode, QIcon::State) {
    return size;
}

QList<QSize> SymbolIcon::availableSizes(QIcon::Mode, QIcon::State) {
    // Any size draws sharp; these are the ones a StatusNotifierItem host is sent as pixmaps,
    // so a panel larger than 22 pixels (or at 2x) has one to show without scaling it up.
    return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
}

QIconEngine* SymbolIcon::clone() const {
    return new SymbolIcon(m_name, m_color);
}

QString SymbolIcon::key() const {
    return QStringLiteral("QuillbySymbol");
}

QString SymbolIcon::iconName() {
    // No theme name: a StatusNotifierItem host looks a name up in the desktop's icon theme
    // before it uses the pixmaps, and a theme's "cloud" would be neither gray nor green.
    return {};
}
