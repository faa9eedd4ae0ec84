#include "model/TunnelUrlScanner.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <cstring>
#include <string.h>

namespace {

// Every line holding a tunnel URL holds this; lines without it are never decoded.
constexpr char domainLiteral[] = "trycloudflare.com";
constexpr size_t domainLiteralSize = sizeof(domainLiteral) - 1;

const QRegularExpression& urlExpression() {
    static const QRegularExpression expression = [] {
        QRegularExpression re(QString::fromLatin1(TunnelUrlScanner::urlPattern));
        Q_ASSERT(re.isValid());
        re.optimize();
        return re;
    }();
    return expression;
}

// The client talks to the service at api.<domain>; its address shows up in error messages
// ("failed to request quick Tunnel: Post https://api...") and is never a tunnel.
bool isServiceHost(QStringView url) {
    constexpr qsizetype schemeSize = 8; // "https://"
    const qsizetype dot = url.indexOf(u'.', schemeSize);
    return url.sliced(schemeSize, dot - schemeSize).compare(u"api", Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QString> TunnelUrlScanner::scanLine(QByteArrayView line) {
    // memmem must not be handed the null data of an empty view.
    if (static_cast<size_t>(line.size()) < domainLiteralSize ||
        !memmem(line.data(), line.size(), domainLiteral, domainLiteralSize))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(line);
    if (utf8.hasError())
        return std::nullopt;
    auto matches = urlExpression().globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString url = match.captured(1);
        if (!url.isEmpty() && !isServiceHost(url))
            return url;
    }
    return std::nullopt;
}

std::optional<QString> TunnelUrlScanner::scanLines(QByteArrayView text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* from = begin;
    while (from < end) {
        const auto* hit = static_cast<const char*>(
            memmem(from, static_cast<size_t>(end - from), domainLiteral, domainLiteralSize));
        if (!hit)
            return std::nullopt;
        const char* lineStart = hit;
        while (lineStart > from && lineStart[-1] != '\n')
            --lineStart;
        const auto* newline =
            static_cast<const char*>(std::memchr(hit, '\n', static_cast<size_t>(end - hit)));
        const char* lineEnd = newline ? newline : end;
        if (auto url = scanLine(QByteArrayView(lineStart, lineEnd - lineStart)))
            return url;
        from = newline ? newline + 1 : end;
    }
    return std::nullopt;
}

std::optional<QString> TunnelUrlScanner::feed(QByteArrayView chunk) {
    std::optional<QString> found;
    splitLines(chunk, [&found](QByteArrayView lines) {
        if (!found)
            found = scanLines(lines);
    });
    return found;
}

std::optional<QString> TunnelUrlScanner::finish() {
    std::optional<QString> url = scanLine(m_pending);
    dropPending();
    return url;
}

void TunnelUrlScanner::reset() {
    m_pending = QByteArray();
}

void TunnelUrlScanner::dropPending() {
    // Keep a small buffer for the next partial line; give back one a long line grew.
    if (m_pending.capacity() > 2 * maxPendingLine)
        m_pending = QByteArray();
    else
        m_pending.resize(0);
}
