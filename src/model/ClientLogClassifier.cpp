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

} // namespace

QString ClientLogClassifier::Problem::text() const {
    switch (kind) {
    case Kind::None:
        return {};
    case Kind::NoInternet:
        return tr("No internet connection: the tunnel service cannot be reached");
    case Kind::RateLimited:
        return tr("The tunnel service is limiting new tunnels; try again in a few minutes");
    case Kind::ServiceFailed:
        return tr("The tunnel service failed (HTTP %1)").arg(argument);
    case Kind::EdgeLookupFailed:
        return tr("The tunnel network cannot be looked up (DNS)");
    case Kind::EdgeUnreachable:
        return tr("The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be "
                  "blocked");
    case Kind::OriginRefused:
        return argument.isEmpty() ? tr("Nothing answers on the local port")
                                  : tr("Nothing answers on port %1").arg(argument);
    case Kind::ClientError:
        return argument;
    }
    return {};
}

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

void ClientLogClassifier::reset() {
    *this = ClientLogClassifier();
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
    if (parsed.level.isEmpty()) {
        readError(parsed.message, line);
    } else if (parsed.level == "INF") {
        const bool registered = parsed.message.startsWith("Registered tunnel connection");
        if (!registered && !parsed.message.startsWith("Unregistered tunnel connection"))
            return;
        const QByteArrayView index = valueAfter(parsed.message, "connIndex=");
        bool ok = false;
        const int bit = index.isEmpty() ? 0 : index.toInt(&ok);
        const uint64_t mask = uint64_t(1) << ((ok || index.isEmpty()) ? (bit & 63) : 0);
        if (registered) {
            m_connections |= mask;
            // Reaching the tunnel network answers every earlier problem except the local one.
            if (m_problem.kind != Kind::OriginRefused)
                m_problem = {};
        } else {
            m_connections &= ~mask;
        }
    } else if (parsed.level == "ERR" || parsed.level == "FTL") {
        readError(parsed.message, line);
    }
}

void ClientLogClassifier::readError(QByteArrayView message, QByteArrayView line) {
    // Most frequent first: a busy tunnel whose server is down logs this once per request.
    if (contains(message, "Unable to reach the origin service")) {
        // "originService=http://127.0.0.1:8000": the digits after the last colon.
        const QByteArrayView origin = valueAfter(message, "originService=");
        qsizetype end = origin.size();
        while (end > 0 && origin[end - 1] == '/')
            --end;
        qsizetype start = end;
        while (start > 0 && origin[start - 1] >= '0' && origin[start - 1] <= '9')
            --start;
        const QByteArrayView port = start > 0 && origin[start - 1] == ':'
                                        ? origin.sliced(start, end - start)
                                        : QByteArrayView();
        setProblem(Kind::OriginRefused, port, line);
    } else if (contains(message, "update check") || contains(message, "protocol percentage") ||
               contains(message, "ICMP proxy")) {
        return; // upkeep, nothing about the tunnel
    } else if (contains(message, "failed to request quick Tunnel")) {
        setProblem(Kind::NoInternet, {}, line);
    } else if (contains(message, "status_code=\"")) {
        const QByteArrayView status = [&] {
            QByteArrayView rest = message.sliced(message.indexOf("status_code=\"") + 13);
            const qsizetype quote = rest.indexOf('"');
            return quote < 0 ? rest : rest.first(quote);
        }();
        if (status.startsWith("429"))
            setProblem(Kind::RateLimited, {}, line);
        else
            setProblem(Kind::ServiceFailed, status, line);
    } else if (contains(message, "failed to unmarshal quick Tunnel")) {
        // Older clients print only this line; newer ones named the status just before it.
        if (m_problem.kind != Kind::RateLimited && m_problem.kind != Kind::ServiceFailed)
            setProblem(Kind::RateLimited, {}, line);
    } else if (contains(message, "error looking up Cloudflare edge IPs") ||
               contains(message, "Could not lookup srv records")) {
        setProblem(Kind::EdgeLookupFailed, {}, line);
    } else if (contains(message, "failed to dial to edge") ||
               contains(message, "Unable to establish connection with Cloudflare edge")) {
        setProblem(Kind::EdgeUnreachable, {}, line);
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
