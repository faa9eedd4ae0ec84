#pragma once

#include <QByteArray>
#include <QString>
#include <initializer_list>

// The real client's standard error, line for line as it prints it (2023.4 to 2026 unless
// named), for tests that feed a tunnel or the classifier in process. Every generation's
// wording is tst_clientlog's table.
namespace ClientLines {

inline const QString url = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");

// A logged line: "<time> <LVL> <message>"; %1 stands for the connection index.
inline QByteArray at(const char* line, int index = 0) {
    return "2026-12-06T19:10:57Z " + QByteArray(line).replace("%1", QByteArray::number(index)) +
           '\n';
}
// Lines of connections by index.
inline QByteArray at(const char* line, std::initializer_list<int> indexes) {
    QByteArray lines;
    for (int index : indexes)
        lines += at(line, index);
    return lines;
}
// The client's last words, printed without time or level.
inline QByteArray bare(const char* line) {
    return QByteArray(line) + '\n';
}

// The box with the URL, printed once the service created the tunnel.
inline const QByteArray urlBox =
    at("INF +--------------------------------------------------------------------------------"
       "------------+") +
    at("INF |  Your quick Tunnel has been created! Visit it at (it may take some time to be "
       "reachable):  |") +
    at("INF |  https://fare-write-waste-gadgets.trycloudflare.com                             "
       "             |") +
    at("INF +--------------------------------------------------------------------------------"
       "------------+");

inline const char* const registered =
    "INF Registered tunnel connection connIndex=%1 connection=3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77 "
    "event=0 ip=198.41.200.13 location=ams01 protocol=quic";

// Connection 0 lost (since 2024.10 without an "Unregistered" line).
inline const QByteArray lost2026 =
    at("ERR failed to serve tunnel connection error=\"timeout: no recent network activity\" "
       "connIndex=0 event=0 ip=198.41.200.13") +
    at("ERR Serve tunnel error error=\"timeout: no recent network activity\" connIndex=0 event=0 "
       "ip=198.41.200.13") +
    at("INF Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.13");

// One attempt to reach the tunnel network, timed out (as 2023.7 words it).
inline const QByteArray quicTimeout2023 =
    at("ERR Failed to create new quic connection error=\"failed to dial to edge with quic: "
       "timeout: no recent network activity\" connIndex=0 event=0 ip=198.41.192.77");

// No internet: the quick-tunnel service cannot be reached; the client exits 1.
inline const QByteArray apiFailure =
    bare("failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial "
         "tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no such host");

// A failed request to the local server, as the pair every generation since 2023 prints; the
// address is the one the client forwards to, which need not be the server's own.
inline QByteArray originPair(const char* cause, const char* path = "/") {
    const QByteArray error = "\"Unable to reach the origin service. The service may be down or it "
                             "may not be responding to traffic from cloudflared: " +
                             QByteArray(cause) + '"';
    return at("ERR  error=" + error +
              " cfRay=8173fa0bd1e6b397-AMS event=1 ingressRule=0 "
              "originService=http://127.0.0.1:8000") +
           at("ERR Request failed error=" + error +
              " connIndex=0 dest=https://fare-write-waste-gadgets.trycloudflare.com" + path +
              " event=0 ip=198.41.200.13 type=http");
}

} // namespace ClientLines
