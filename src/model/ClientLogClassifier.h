#pragma once

#include "model/TunnelUrlScanner.h"

#include <QString>
#include <cstdint>
#include <optional>

// Reads the client's standard error, chunk by chunk, for what it says about the tunnel: the
// public URL, connections to the tunnel network registered and lost, and the current problem.
// Knows the lines of every client generation since 2021. What a problem is called is the
// ProblemBoard's. Cheap on a flood: a line is looked at
// by its level and a few fixed markers, and only a line that carries a known marker is ever
// decoded. Memory is bounded (one partial line, one last error line). Lines about the client's
// own upkeep (update checks, protocol percentages, the ICMP proxy, the connectivity pre-checks,
// an empty configuration file) never count. When problems follow each other, the latest one is
// current; a registration answers every problem except one about the local server.
class ClientLogClassifier {
public:
    enum class Kind {
        None,
        NoInternet,        // the quick-tunnel service cannot be reached at all
        RateLimited,       // HTTP 429, or an answer that is no quick tunnel at all
        ServiceFailed,     // any other HTTP status (argument), or an answer without a tunnel
        ServiceRefused,    // the tunnel network refused to register it; argument: its reason
        EdgeLookupFailed,  // the tunnel network's addresses cannot be looked up
        EdgeUnreachable,   // the tunnel network's addresses do not answer
        ConnectFailed,     // the first connection failed for good, for no reason named before
        ClientUpdated,     // the client replaced itself and ended; argument: the new version
        OriginRefused,     // nothing accepts connections on the local port
        OriginTimeout,     // the local server accepts but never answers
        OriginHungUp,      // the local server closes the connection without an answer
        OriginUnknownHost, // the local server's host name cannot be looked up
        OriginFailed,      // any other failure to reach the local server
        ClientError,       // the client's last error line (only at a failed exit)
    };

    struct Problem {
        Kind kind = Kind::None;
        QString argument;
        // The client's own line, as printed.
        QString line;

        bool sameAs(const Problem& other) const {
            return kind == other.kind && argument == other.argument;
        }
        // About the local server rather than the tunnel.
        bool aboutOrigin() const {
            return kind >= Kind::OriginRefused && kind <= Kind::OriginFailed;
        }
    };

    static constexpr qsizetype maxErrorLine = 1024;

    // Reads the lines this chunk completes; returns the first tunnel URL among them, until one
    // has been seen.
    std::optional<QString> feed(QByteArrayView chunk);
    // End of stream: reads the unfinished last line.
    std::optional<QString> finish();
    // Starts afresh, for a new client.
    void reset() { *this = ClientLogClassifier(); }

    // Connections to the tunnel network registered now.
    int connections() const;
    // Since the start, a connection registered (even one lost in the same chunk).
    bool everConnected() const { return m_everConnected; }
    const Problem& problem() const { return m_problem; }
    // The problem is known to be over (the local server answers again).
    void clearProblem() { m_problem = {}; }
    // For a failed exit: the current problem, or else the last error line the client printed.
    Problem exitProblem() const;

private:
    void readLines(QByteArrayView lines);
    void readLine(QByteArrayView line);
    void readInfo(QByteArrayView message, QByteArrayView line);
    void readWarning(QByteArrayView message, QByteArrayView line);
    void readError(QByteArrayView message, QByteArrayView line);
    bool readConnectionLost(QByteArrayView message);
    void setConnection(QByteArrayView message, bool registered);
    void setProblem(Kind kind, QByteArrayView argument, QByteArrayView line);

    TunnelUrlScanner m_lines;
    std::optional<QString> m_found;
    bool m_urlSeen = false;
    uint64_t m_connections = 0; // one bit per connection index
    bool m_everConnected = false;
    Problem m_problem;
    QByteArray m_lastError;
};
