#pragma once

#include <QVariantAnimation>
#include <QWidget>

// A small indeterminate progress indicator: a turning arc. It turns only while visible.
class BusySpinner : public QWidget {
    Q_OBJECT

public:
    explicit BusySpinner(int side = 14, QWidget* parent = nullptr);

    bool isAnimating() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_side;
    qreal m_angle = 0;
    QVariantAnimation m_turn;
};
