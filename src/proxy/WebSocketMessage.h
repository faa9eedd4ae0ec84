#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringDecoder>

// One WebSocket message that went through the gateway on an upgraded connection, as captured
// for the inspector: a data message (all its frames together) or a control frame. The payload
// is kept up to payloadCaptureLimit bytes (inflated when the connection compresses); size
// counts all of it.
struct WebSocketMessage {
    static constexpr qsizetype payloadCaptureLimit = 4 * 1024;
    enum Opcode { Text = 1, Binary = 2, Close = 8, Ping = 9, Pong = 10 };

    quint64 exchangeId = 0; // the entry of the request that was upgraded
    QDateTime time;         // when its last frame arrived, UTC
    bool toServer = false;  // from the visitor to the dev server; else back to the visitor
    int opcode = Text;
    qint64 size = 0;
    QByteArray payload;
    bool unreadable = false; // compressed, and it did not inflate

    bool isText() const { return opcode == Text; }
    bool payloadCut() const { return size > payload.size(); }
    // The kept payload as UTF-8 text, without a character that the cut split.
    QString text() const {
        QStringDecoder decoder(QStringDecoder::Utf8);
        return decoder(payload);
    }
    // What keeping it costs, counted the way HttpExchange::heldBytes() counts.
    qint64 heldBytes() const { return qint64(sizeof(WebSocketMessage)) + 48 + payload.capacity(); }
};

Q_DECLARE_METATYPE(WebSocketMessage)
