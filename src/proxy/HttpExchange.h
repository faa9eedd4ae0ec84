#pragma once

#include "proxy/WebSocketMessage.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QPair>

// One request that went through the inspecting proxy and what came back, as captured for
// display and replay. Bodies are kept up to bodyCaptureLimit; the rest was still forwarded,
// and the sizes count every byte.
struct HttpExchange {
    static constexpr qsizetype bodyCaptureLimit = 1024 * 1024;
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    quint64 id = 0;
    QDateTime time; // when the request's header arrived, UTC
    QByteArray method;
    QByteArray target;
    Headers requestHeaders;
    QByteArray requestBody;
    qint64 requestBodySize = 0;

    int status = 0; // 0: no response came back
    QByteArray reason;
    Headers responseHeaders;
    QByteArray responseBody;
    qint64 responseBodySize = 0;
    qint64 firstByteUs = 0; // until the response's header arrived; 0: it never did
    qint64 durationUs = 0;

    bool originRefused = false; // nothing listened on the origin port; the proxy answered 502
    bool replayed = false;      // sent again from the inspector, not through the tunnel
    bool edited = false;        // replayed after the user changed it

    // After a 101 to WebSocket: the connection's messages, oldest first, the newest
    // maxMessages of them; messagesDropped older ones left to make room.
    static constexpr qsizetype maxMessages = 1000;
    QList<WebSocketMessage> messages;
    qint64 messagesDropped = 0;

    // What keeping this capture costs in memory, roughly: the bytes held and the overhead of
    // each piece, so that many small entries count as well as a few large ones.
    qint64 heldBytes() const {
        constexpr qint64 pieceOverhead = 48;
        qint64 bytes = qint64(sizeof(HttpExchange)) + method.capacity() + target.capacity() +
                       reason.capacity() + requestBody.capacity() + responseBody.capacity();
        for (const Headers* headers : {&requestHeaders, &responseHeaders})
            for (const auto& [name, value] : *headers)
                bytes += name.capacity() + value.capacity() + 2 * pieceOverhead;
        for (const WebSocketMessage& message : messages)
            bytes += message.heldBytes();
        return bytes;
    }

    // The value of the first field of that name (in any case); null when there is none.
    static const QByteArray* field(const Headers& headers, QByteArrayView name) {
        for (const auto& [key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return &value;
        return nullptr;
    }
    static QByteArray value(const Headers& headers, QByteArrayView name) {
        const QByteArray* found = field(headers, name);
        return found ? *found : QByteArray();
    }

    bool requestBodyCut() const { return requestBodySize > requestBody.size(); }
    bool responseBodyCut() const { return responseBodySize > responseBody.size(); }
};

Q_DECLARE_METATYPE(HttpExchange)
