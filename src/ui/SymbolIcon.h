#pragma once

#include <QColor>
#include <QIcon>
#include <QIconEngine>
#include <QString>

// Draws one of our monochrome symbols (icons/<name>.svg) tinted in a colour, at whatever size
// and device pixel ratio it is asked for, so it stays crisp on HiDPI screens and in the tray.
class SymbolIcon : public QIconEngine {
public:
    SymbolIcon(QString name, QColor color);

    // "cloud", "cloud.fill", "plus.circle.fill", ...: the files in icons.qrc.
    static QIcon icon(const QString& name, const QColor& color);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;
    QString iconName() override;

private:
    QPixmap render(const QSize& size, qreal scale, QIcon::Mode mode) const;

    QString m_name;
    QColor m_color;
};
