#include "ui/BusySpinner.h"

#include "ui/Theme.h"

#include <QPainter>

BusySpinner::BusySpinner(int side, QWidget* parent)
    : QWidget(parent)
    , m_side(side) {
    setFixedSize(side, side);
    m_turn.setStartValue(0.0);
    m_turn.setEndValue(360.0);
    m_turn.setDuration(900);
    m_turn.setLoopCount(-1);
    connect(&m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_angle = value.toReal();
        update();
    });
}

bool BusySpinner::isAnimating() const {
    return m_turn.state() == QAbstractAnimation::Running;
}

QSize BusySpinner::sizeHint() const {
    return {m_side, m_side};
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = qMax(1.5, m_side / 7.0);
    const QRectF box = QRectF(rect()).adjusted(width, width, -width, -width);
    QPen track(Theme::quaternary(palette()), width);
    painter.setPen(track);
    painter.drawEllipse(box);
    QPen arc(Theme::secondary(palette()), width, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(box, qRound(-m_angle * 16), 100 * 16);
}

void BusySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_turn.start();
}

void BusySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_turn.stop();
}
