#include "model/ClientLogClassifier.h"

#include <bit>
#include <cstring>
#include <string.h>

namespace {

// The markers start with a byte that is rare in these lines, so a vector search for that
// byte and a compare beat a general substring search (memmem) by several times here.
qsizetype find(QByteArrayView text, QByteArrayView marker) {
    const char* from = text.data();
    const char* const last = text.data() + text.size() - marker.size();
    while (from <= last) {
        const auto* hit = static_cast<const char*>(
            std::memchr(from, marker[0], static_cast<size_t>(last - from + 1)));
        if (!hit)
            return -1;
        if (std::memcmp(hit + 1, marker.data() + 1, static_cast<size_t>(marker.size() - 1)) == 0)
            return hit - text.data();
        from = hit + 1;
    }
    return -1;
}

// The same from the end, for a field the client writes last.
qsizetype findLast(QByteArrayView text, QByteArrayView marker) {
    qsizetype end = text.size() - marker.size() + 1;
    while (end > 0) {
        const auto* hit =
            static_cast<const char*>(memrchr(text.data(), marker[0], static_cast<size_t>(end)));
        if (!hit)
            return -1;
        if (std::memcmp(hit + 1, marker.data() + 1, static_cast<size_t>(marker.size() - 1)) == 0)
            return hit - text.data();
        end = hit - text.data();
    }
    return -1;
}

bool contains(QByteArrayView text, QByteArrayView marker) {
    return find(text, marker) >= 0;
}

// The value after `key` up to the next space, quote or the end; empty when the key is absent.
QByteArrayView valueAfter(QByteArrayView text, QByteArrayView key) {
    const qsizetype at = findLast(text, key);
    if (at < 0)
        return {};
    const QByteArrayView value = text.sliced(at + key.size());
    const char* const begin = value.data();
    const char* end = begin;
    while (end < begin + value.size() && *end != ' ' && *end != '"')
        ++end;
    return value.first(end - begin);
}

// A logged line reads "<RFC 3339 time> <LVL> <message>"; the client's last words before a
// failed exit come without either.
struct LogLine {
    QByteArrayView level;
    QByteArrayView message;
};

LogLine parse(QByteArrayView line) {
    if (line.size() > 24 && line[0] >= '0' && line[0] <= '9' && line[4] == '-') {
        const auto* space = static_cast<const char*>(std::memchr(
            line.data(), ' ', static_cast<size_t>(std::min<qsizetype>(line.size(), 40))));
        if (space) {
            const qsizetype level = space - line.data() + 1;
            if (level + 4 <= line.size() && line[level + 3] == ' ')
                return {line.sliced(level, 3), line.sliced(level + 4)};
        }
    }
    return {{}, line};
}

QString trimmedMessage(QByteArrayView line) {
    constexpr qsizetype shown = 200;
    QString text = QString::fromUtf8(parse(line).message).simplified();
    if (text.size() > shown)
        text = text.first(shown - 1) + QChar(0x2026);
    return text;
}

// The text up to the first quote that is not escaped (\"), or all of it when there is none.
QByteArrayView untilQuote(QByteArrayView text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* at = begin;
    while (at < end) {
        const auto* quote =
            static_cast<const char*>(std::memchr(at, '"', static_cast<size_t>(end - at)));
        if (!quote)
            break;
        if (quote == begin || quote[-1] != '\\')
            return QByteArrayView(begin, quote - begin);
        at = quote + 1;
    }
    return text;
}

// The error field's value, quoted or not; empty when there is none.
QByteArray errorValue(QByteArrayView message) {
    constexpr qsizetype shown = 160;
    const qsizetype at = find(message, "error=");
    if (at < 0)
        return {};
    const QByteArrayView rest = message.sliced(at + 6);
    QByteArray value = !rest.isEmpty() && rest[0] == '"'
                           ? untilQuote(rest.sliced(1)).toByteArray().replace("\\\"", "\"")
                           : valueAfter(message, "error=").toByteArray();
    if (value.size() > shown) {
        qsizetype cut = shown;
        while (cut > 0 && (value[cut] & 0xc0) == 0x80) // not inside a character
            --cut;
        value = value.first(cut) + "\xe2\x80\xa6";
    }
    return value;
}

// "version=2026.9.0" or "to version 2026.9.0".
QByteArrayView versionIn(QByteArrayView message) {
    const qsizetype at = find(message, "version");
    if (at < 0 || at + 8 > message.size())
        return {};
    QByteArrayView value = message.sliced(at + 8);
    const qsizetype space = value.indexOf(' ');
    return space < 0 ? value : value.first(space);
}

// How a request to the local server failed, by the cause that ends the error's quoted value
// ("...: dial tcp 127.0.0.1:8000: connect: connection refused"). Only the value is read, so
// nothing a visitor puts in the request (dest=) can change the answer.
ClientLogClassifier::Kind originFailure(QByteArrayView fromMarker) {
    using Kind = ClientLogClassifier::Kind;
    const QByteArrayView cause = untilQuote(fromMarker);
    if (cause.endsWith("connection refused"))
        return Kind::OriginRefused;
    if (cause.endsWith("i/o timeout"))
        return Kind::OriginTimeout;
    if (cause.endsWith("EOF") || cause.endsWith("connection reset by peer"))
        return Kind::OriginHungUp;
    if (cause.endsWith("no such host"))
        return Kind::OriginUnknownHost;
    return Kind::OriginFailed;
}

bool isUpkeep(QByteArrayView message) {
    return contains(message, "update check") || contains(message, "protocol percentage") ||
           contains(message, "ICMP proxy") ||
           (message.startsWith("Configuration file ") && contains(message, " was empty"));
}

} // namespace

std::optional<QString> ClientLogClassifier::feed(QByteArrayView chunk) {
    m_found.reset();
    m_lines.splitLines(chunk, [this](QByteArrayView lines) { readLines(lines); });
    return std::exchange(m_found, std::nullopt);
}

std::optional<QString> ClientLogClassifier::finish() {
    m_found.reset();
    m_lines.finishLines([this](QByteArrayView lines) { readLines(lines); });
    return std::exchange(m_found, std::nullopt);
}

int ClientLogClassifier::connections() const {
    return std::popcount(m_connections);
}

ClientLogClassifier::Problem ClientLogClassifier::exitProblem() const {
    if (m_problem.kind != Kind::None || m_lastError.isEmpty())
        return m_problem;
    return {Kind::ClientError, trimmedMessage(m_lastError), QString::fromUtf8(m_lastError)};
}

void ClientLogClassifier::readLines(QByteArrayView lines) {
    if (!m_urlSeen) {
        m_found = TunnelUrlScanner::scanLines(lines);
        m_urlSeen = m_found.has_value();
    }
    const char* from = lines.data();
    const char* const end = from + lines.size();
    while (from < end) {
        const auto* newline =
            static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
        const char* lineEnd = newline ? newline : end;
        readLine(QByteArrayView(from, lineEnd - from));
        from = lineEnd + 1;
    }
}

void ClientLogClassifier::readLine(QByteArrayView line) {
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() < 8)
        return;
    const LogLine parsed = parse(line);
    if (parsed.level.isEmpty() || parsed.level == "ERR" || parsed.level == "FTL")
        readError(parsed.message, line);
    else if (parsed.level == "INF")
        readInfo(parsed.message, line);
    else if (parsed.level == "WRN")
        readWarning(parsed.message, line);
}

void ClientLogClassifier::readInfo(QByteArrayView message, QByteArrayView line) {
    if (message.isEmpty())
        return;
    switch (message[0]) {
    case 'R':
        if (message.startsWith("Registered tunnel connection"))
            setConnection(message, true);
        else if (message.startsWith("Retrying connection"))
            setConnection(message, false);
        break;
    case 'U':
        if (message.startsWith("Unregistered tunnel connection"))
            setConnection(message, false);
        break;
    case 'C':
        // Before 2023.4: "Connection <uuid> registered[ with protocol: quic]".
        if (message.startsWith("Connection ") &&
            contains(message.first(std::min<qsizetype>(message.size(), 64)), " registered"))
            setConnection(message, true);
        break;
    case 'c':
        if (message.startsWith("cloudflared has been updated"))
            setProblem(Kind::ClientUpdated, versionIn(message), line);
        break;
    }
}

void ClientLogClassifier::readWarning(QByteArrayView message, QByteArrayView line) {
    // A warning, not an error, because another connection still carries the tunnel: only the
    // loss of this one counts, and a hint about the network only while nothing is connected.
    if (readConnectionLost(message))
        return;
    if (m_connections == 0 && contains(message, "egress UDP to port 7844"))
        setProblem(Kind::EdgeUnreachable, {}, line);
}

bool ClientLogClassifier::readConnectionLost(QByteArrayView message) {
    // In every generation, for the connection index it names. Since 2024.10 a dropped
    // connection prints no "Unregistered" line, only these.
    if (message.startsWith("Serve tunnel error") ||
        message.startsWith("failed to serve tunnel connection") ||
        message.startsWith("Connection terminated")) {
        setConnection(message, false);
        return true;
    }
    return false;
}

void ClientLogClassifier::setConnection(QByteArrayView message, bool registered) {
    const QByteArrayView index = valueAfter(message, "connIndex=");
    bool ok = false;
    const int bit = index.isEmpty() ? 0 : index.toInt(&ok);
    const uint64_t mask = uint64_t(1) << ((ok || index.isEmpty()) ? (bit & 63) : 0);
    if (registered) {
        m_connections |= mask;
        m_everConnected = true;
        // Reaching the tunnel network answers every earlier problem except the local one.
        if (!m_problem.aboutOrigin())
            m_problem = {};
        m_lastError.clear();
    } else {
        m_connections &= ~mask;
    }
}

void ClientLogClassifier::readError(QByteArrayView message, QByteArrayView line) {
    // Most frequent first: a busy tunnel whose server is down logs a pair of these per request.
    if (const qsizetype at = find(message, "Unable to reach the origin service"); at >= 0) {
        // The address in the line is the gateway's, not the server's: named by the board.
        setProblem(originFailure(message.sliced(at)), {}, line);
        return;
    }
    if (isUpkeep(message))
        return;                  // nothing about the tunnel
    readConnectionLost(message); // and the error it names may say more
    if (contains(message, "failed to request quick Tunnel")) {
        setProblem(Kind::NoInternet, {}, line);
    } else if (contains(message, "status_code=\"")) {
        const QByteArrayView status =
            untilQuote(message.sliced(find(message, "status_code=\"") + 13));
        if (status.startsWith("429"))
            setProblem(Kind::RateLimited, {}, line);
        else
            setProblem(Kind::ServiceFailed, status, line);
    } else if (contains(message, "failed to unmarshal quick Tunnel")) {
        // Older clients print only this line; newer ones named the status just before it.
        if (m_problem.kind != Kind::RateLimited && m_problem.kind != Kind::ServiceFailed)
            setProblem(Kind::RateLimited, {}, line);
    } else if (contains(message, "failed to parse quick Tunnel ID") ||
               contains(message, "failed to read quick-tunnel response") ||
               contains(message, "failed to build quick tunnel request")) {
        setProblem(Kind::ServiceFailed, {}, line);
    } else if (contains(message, "error looking up Cloudflare edge IPs") ||
               contains(message, "Could not lookup srv records") ||
               contains(message, "Couldn't resolve SRV record")) {
        setProblem(Kind::EdgeLookupFailed, {}, line);
    } else if (contains(message, "Register tunnel error from server side")) {
        setProblem(Kind::ServiceRefused, errorValue(message), line);
    } else if (contains(message, "failed to dial to edge") ||
               contains(message, "Unable to establish connection with Cloudflare edge") ||
               contains(message, "egress UDP to port 7844")) {
        setProblem(Kind::EdgeUnreachable, {}, line);
    } else if (contains(message, "initial tunnel connection failed")) {
        // The end of the first connection: a cause named before says more.
        if (m_problem.kind == Kind::None)
            setProblem(Kind::ConnectFailed, {}, line);
    } else if (message.startsWith("cloudflared has been updated")) {
        setProblem(Kind::ClientUpdated, versionIn(message), line);
    } else if (!message.trimmed().isEmpty()) {
        // Reuses the buffer: rare lines, but a client may repeat one at length.
        const qsizetype size = std::min(line.size(), maxErrorLine);
        m_lastError.resize(size);
        std::memcpy(m_lastError.data(), line.data(), static_cast<size_t>(size));
    }
}

void ClientLogClassifier::setProblem(Kind kind, QByteArrayView argument, QByteArrayView line) {
    // A repeat of the current problem changes nothing and decodes nothing.
    if (kind == m_problem.kind && m_problem.argument == QLatin1StringView(argument))
        return;
    m_problem = {kind, QString::fromUtf8(argument),
                 QString::fromUtf8(line.first(std::min(line.size(), maxErrorLine)))};
}
