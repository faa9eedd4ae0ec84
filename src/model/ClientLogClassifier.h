#pragma once

#include "model/TunnelUrlScanner.h"

#include <QCoreApplication>
#include <QString>
#include <cstdint>
#include <optional>

// Reads the client's standard error, chunk by chunk, for what it says about the tunnel: the
// public URL, connections to the tunnel network registered and lost, and the current problem.
// Cheap on a flood: a line is looked at by its level and a few fixed markers, and only a line
// that carries a known marker is ever decoded. Memory is bounded (one partial line, one last
// error line). Lines about the client's own upkeep (update checks, protocol percentages, the
// ICMP proxy) never count. When problems follow each other, the latest one is current.
class ClientLogClassifier {
    Q_DECLARE_TR_FUNCTIONS(ClientLogClassifier)

public:
    enum class Kind {
        None,
        NoInternet,       // the quick-tunnel service cannot be reached at all
        RateLimited,      // HTTP 429, or an answer that is no quick tunnel at all
        ServiceFailed,    // any other HTTP status; argument: the status
        EdgeLookupFailed, // the tunnel network's addresses cannot be looked up
        EdgeUnreachable,  // the tunnel network's addresses do not answer
        OriginRefused,    // nothing answered on the local port; argument: the port
        ClientError,      // the client's last error line (only at a failed exit)
    };

    struct Problem {
        Kind kind = Kind::None;
        QString argument;
        // The client's own line, as printed.
        QString line;

        // In plain words, translated.
        QString text() const;
        bool sameAs(const Problem& other) const {
            return kind == other.kind && argument == other.argument;
        }
    };

    static constexpr qsizetype maxErrorLine = 1024;

    // Reads the lines this chunk completes; returns the first tunnel URL among them, until one
    // has been seen.
    std::optional<QString> feed(QByteArrayView chunk);
    // End of stream: reads the unfinished last line.
    std::optional<QString> finish();
    void reset();

    // Connections to the tunnel network registered now.
    int connections() const;
    const Problem& problem() const { return m_problem; }
    // The problem is known to be over (the local server answers again).
    void clearProblem() { m_problem = {}; }
    // For a failed exit: the current problem, or else the last error line the client printed.
    Problem exitProblem() const;

private:
    void readLines(QByteArrayView lines);
    void readLine(QByteArrayView line);
    void readError(QByteArrayView message, QByteArrayView line);
    void setProblem(Kind kind, QByteArrayView argument, QByteArrayView line);

    TunnelUrlScanner m_lines;
    std::optional<QString> m_found;
    bool m_urlSeen = false;
    uint64_t m_connections = 0; // one bit per connection index
    Problem m_problem;
    QByteArray m_lastError;
};
