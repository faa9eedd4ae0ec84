#include "model/QrCode.h"

#include <memory>
#include <qrencode.h>

QrCode QrCode::encode(const QString& text) {
    QrCode code;
    if (text.isEmpty())
        return code;
    const QByteArray utf8 = text.toUtf8();
    // Version 0: the smallest that holds the text. Case-sensitive, so a URL stays as it is.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> encoded(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!encoded)
        return code;
    code.m_size = encoded->width;
    code.m_modules.resize(qsizetype(code.m_size) * code.m_size);
    // libqrencode keeps other facts about a module in the upper bits; bit 0 is dark.
    for (qsizetype i = 0; i < code.m_modules.size(); ++i)
        code.m_modules[i] = char(encoded->data[i] & 1);
    return code;
}
