#pragma once

#include <QByteArray>
#include <QString>

// A text as a QR code at error correction level M: a square of dark and light modules, without
// the quiet zone around it. Encoding is left to libqrencode.
class QrCode {
public:
    QrCode() = default;
    // A null code when the text is empty or too long for any QR version.
    static QrCode encode(const QString& text);

    bool isNull() const { return m_size == 0; }
    // Modules per side.
    int size() const { return m_size; }
    bool isDark(int x, int y) const { return m_modules.at(y * m_size + x) != 0; }

private:
    int m_size = 0;
    QByteArray m_modules; // row by row, 1 for a dark module
};
