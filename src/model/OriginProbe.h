#pragma once

#include <QString>

// Where a local server on a port answers, as the tunnel's origin.
struct OriginAddress {
    // "127.0.0.1" or "::1".
    QString host;
    // Whether anything accepted a connection on either address.
    bool listening = false;

    // The origin URL for the client: http://127.0.0.1:PORT or http://[::1]:PORT.
    QString url(qint64 port) const;
};

// Chooses the loopback address a tunnel forwards to. Servers bound to "localhost" often listen
// on ::1 only (Node 17 and later, Vite by default); a tunnel to 127.0.0.1 would then answer
// every request with 502. Probes block the calling thread: well under a millisecond on
// loopback, at most probeTimeoutMs per address family when a connect stays pending.
class OriginProbe {
public:
    static constexpr int probeTimeoutMs = 20;

    // 127.0.0.1 unless it refuses and ::1 accepts; nothing listening keeps 127.0.0.1.
    static OriginAddress chooseOrigin(qint64 port);
    // Whether something accepts connections at exactly this address.
    static bool answers(const QString& host, qint64 port);
};
