#pragma once

#include "model/QrCode.h"

#include <QWidget>

// A QR code drawn dark on white, whatever the theme, inside its quiet zone. Every module is a
// whole number of device pixels, so the code stays crisp at any scale factor; the view is never
// narrower than minimumSide.
class QrCodeView : public QWidget {
    Q_OBJECT

public:
    // Light modules around the code, as readers expect.
    static constexpr int quietZone = 4;
    // Device-independent pixels: big enough for a phone held at arm's length.
    static constexpr int minimumSide = 200;

    explicit QrCodeView(QWidget* parent = nullptr);

    // Encodes the text; an empty text leaves a blank white square.
    void setText(const QString& text);
    QString text() const { return m_text; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Modules per side, quiet zone included.
    int sideModules() const;

    QString m_text;
    QrCode m_code;
};
