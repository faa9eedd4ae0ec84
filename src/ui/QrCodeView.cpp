#include "ui/QrCodeView.h"

#include <QImage>
#include <QPainter>
#include <cmath>

QrCodeView::QrCodeView(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QrCodeView::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    m_code = QrCode::encode(text);
    setAccessibleDescription(text);
    updateGeometry();
    update();
}

int QrCodeView::sideModules() const {
    // A blank view keeps the size of a short URL's code (version 3).
    return (m_code.isNull() ? 29 : m_code.size()) + 2 * quietZone;
}

QSize QrCodeView::sizeHint() const {
    const qreal scale = devicePixelRatioF();
    const int modules = sideModules();
    const int modulePixels = int(std::ceil(minimumSide * scale / modules));
    const int side = int(std::ceil(modules * modulePixels / scale));
    return {side, side};
}

void QrCodeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The screen, and with it the scale factor, is known now.
    updateGeometry();
}

void QrCodeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_code.isNull())
        return;

    // One pixel per module, then enlarged by a whole factor without smoothing.
    const int modules = sideModules();
    QImage code(modules, modules, QImage::Format_RGB32);
    code.fill(Qt::white);
    for (int y = 0; y < m_code.size(); ++y) {
        for (int x = 0; x < m_code.size(); ++x) {
            if (m_code.isDark(x, y))
                code.setPixel(x + quietZone, y + quietZone, qRgb(0, 0, 0));
        }
    }
    const qreal scale = devicePixelRatioF();
    const int deviceSide = int(std::floor(qMin(width(), height()) * scale));
    const int modulePixels = qMax(1, deviceSide / modules);
    QImage shown = code.scaled(modules * modulePixels, modules * modulePixels,
                               Qt::IgnoreAspectRatio, Qt::FastTransformation);
    shown.setDevicePixelRatio(scale);
    // Placed on whole device pixels.
    const int left = int(std::floor(width() * scale - shown.width())) / 2;
    const int top = int(std::floor(height() * scale - shown.height())) / 2;
    painter.drawImage(QPointF(left / scale, top / scale), shown);
}
