#include "ui/StatusDot.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QPropertyAnimation>

namespace {

// A screen reader reads the dot as an image named by the tunnel's state, not as empty filler.
QAccessibleInterface* accessibleDot(const QString& className, QObject* object) {
    if (className == QLatin1String("StatusDot") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    return nullptr;
}

} // namespace

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent) {
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleDot);
        return true;
    }();
    Q_UNUSED(accessible);
    setFixedSize(side, side);
    setAttribute(Qt::WA_TranslucentBackground);
    auto half = [this](qreal from, qreal to) {
        auto* animation = new QPropertyAnimation(this, "opacity", &m_pulse);
        animation->setStartValue(from);
        animation->setEndValue(to);
        animation->setDuration(pulseHalfPeriodMs);
        animation->setEasingCurve(QEasingCurve::InOutSine);
        return animation;
    };
    m_pulse.addAnimation(half(pulseLowOpacity, 1.0));
    m_pulse.addAnimation(half(1.0, pulseLowOpacity));
    m_pulse.setLoopCount(-1);
}

void StatusDot::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void StatusDot::setOpacity(qreal opacity) {
    if (qFuzzyCompare(opacity, m_opacity))
        return;
    m_opacity = opacity;
    update();
}

void StatusDot::setPulsing(bool pulsing) {
    if (pulsing == m_pulsing)
        return;
    m_pulsing = pulsing;
    setOpacity(pulsing ? pulseLowOpacity : 1.0);
    updateAnimation();
}

bool StatusDot::isAnimating() const {
    return m_pulse.state() == QAbstractAnimation::Running;
}

void StatusDot::updateAnimation() {
    const bool run = m_pulsing && isVisible();
    if (run && !isAnimating()) {
        m_pulse.start();
    } else if (!run && isAnimating()) {
        m_pulse.stop();
        setOpacity(m_pulsing ? pulseLowOpacity : 1.0);
    }
}

QSize StatusDot::sizeHint() const {
    return {side, side};
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}

void StatusDot::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateAnimation();
}

void StatusDot::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateAnimation();
}
