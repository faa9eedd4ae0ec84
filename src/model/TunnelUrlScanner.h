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

    // The line splitting behind feed(), for other readers of the same stream: hands every line
    // this chunk completes to onLines, in order, as views of one or more whole lines (each
    // ended by '\n', the last one possibly by the end of the view). Nothing is copied except
    // the unfinished last line, kept for the next chunk.
    template <typename OnLines> void splitLines(QByteArrayView chunk, OnLines&& onLines);
    // End of stream: the unfinished last line, if any.
    template <typename OnLines> void finishLines(OnLines&& onLines);

    qsizetype pendingSize() const { return m_pending.size(); }

    // The first tunnel URL in one line of text (bytes, UTF-8); nothing for invalid UTF-8.
    static std::optional<QString> scanLine(QByteArrayView line);
    // The first tunnel URL in a view of whole lines.
    static std::optional<QString> scanLines(QByteArrayView lines);

private:
    void dropPending();

    QByteArray m_pending;
};

template <typename OnLines>
void TunnelUrlScanner::splitLines(QByteArrayView chunk, OnLines&& onLines) {
    qsizetype next = 0;
    if (!m_pending.isEmpty()) {
        const qsizetype newline = chunk.indexOf('\n');
        if (newline < 0) {
            m_pending.append(chunk);
            if (m_pending.size() > maxPendingLine) {
                onLines(QByteArrayView(m_pending));
                dropPending();
            }
            return;
        }
        m_pending.append(chunk.first(newline));
        onLines(QByteArrayView(m_pending));
        dropPending();
        next = newline + 1;
    }

    const qsizetype lastNewline = chunk.lastIndexOf('\n');
    if (lastNewline >= next) {
        onLines(chunk.sliced(next, lastNewline + 1 - next));
        next = lastNewline + 1;
    }

    const QByteArrayView tail = chunk.sliced(next);
    if (tail.size() > maxPendingLine)
        onLines(tail);
    else
        m_pending.append(tail);
}

template <typename OnLines> void TunnelUrlScanner::finishLines(OnLines&& onLines) {
    if (!m_pending.isEmpty())
        onLines(QByteArrayView(m_pending));
    dropPending();
}
