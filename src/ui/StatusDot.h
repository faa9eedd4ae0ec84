#pragma once

#include <QColor>
#include <QSequentialAnimationGroup>
#include <QWidget>

// A filled 10 × 10 circle. While pulsing its opacity swings between 1.0 and 0.7, 0.8 s each
// way; the animation runs only while pulsing and visible.
class StatusDot : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)

public:
    static constexpr int side = 10;
    static constexpr qreal pulseLowOpacity = 0.7;
    static constexpr int pulseHalfPeriodMs = 800;

    explicit StatusDot(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);
    void setPulsing(bool pulsing);
    bool isAnimating() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateAnimation();

    QColor m_color;
    qreal m_opacity = 1.0;
    bool m_pulsing = false;
    QSequentialAnimationGroup m_pulse;
};
