#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Finds the public quick-tunnel URL in the client's standard error, fed chunk by chunk.
// Output is scanned line by line, so a URL or a multi-byte character split across reads is
// still found. The partial line kept between chunks is bounded: a longer line is scanned as
// it stands and dropped. The service's own API host is never taken for a tunnel.
class TunnelUrlScanner {
public:
    static constexpr qsizetype maxPendingLine = 64 * 1024;
    static constexpr const char* urlPattern = R"((https://[a-zA-Z0-9-]+\.trycloudflare\.com))";

    // Scans the complete lines that this chunk finishes; returns the first URL among them.
    std::optional<QString> feed(QByteArrayView chunk);
    // End of stream: scans the last partial line.
    std::optional<QString> finish();
    void reset();

    qsizetype pendingSize() const { return m_pending.size(); }

    // The first tunnel URL in one line of text (bytes, UTF-8); nothing for invalid UTF-8.
    static std::optional<QString> scanLine(QByteArrayView line);

private:
    std::optional<QString> scanLines(QByteArrayView text);
    void dropPending();

    QByteArray m_pending;
};
