#include "model/RequestFilter.h"

#include <algorithm>

namespace {

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

} // namespace

void RequestFilter::setText(const QString& text) {
    m_text = text;
    m_needle = text.trimmed().toLower().toUtf8();
    m_asciiNeedle =
        std::all_of(m_needle.cbegin(), m_needle.cend(), [](char c) { return uchar(c) < 0x80; });
    const qsizetype n = m_needle.size();
    m_skip.fill(qMax<qsizetype>(n, 1));
    for (qsizetype i = 0; i + 1 < n; ++i)
        m_skip[uchar(m_needle.at(i))] = n - 1 - i;
}

bool RequestFilter::holds(const QByteArray& haystack) const {
    const qsizetype n = m_needle.size();
    if (haystack.size() < n)
        return false;
    if (!m_asciiNeedle) // rare: decode and compare as text
        return QString::fromUtf8(haystack).contains(m_text.trimmed(), Qt::CaseInsensitive);
    // Bodies up to a MiB each, hundreds of them, searched after each pause in typing:
    // Horspool's skipping search, folding ASCII case only so that the bytes of UTF-8
    // characters never match part of another.
    const char* text = haystack.constData();
    const char* needle = m_needle.constData();
    for (qsizetype at = 0; at + n <= haystack.size();) {
        qsizetype i = n - 1;
        while (i >= 0 && folded(text[at + i]) == needle[i])
            --i;
        if (i < 0)
            return true;
        at += m_skip[uchar(folded(text[at + n - 1]))];
    }
    return false;
}

bool RequestFilter::matches(const HttpExchange& exchange) const {
    if (m_classes != 0) {
        const int hundreds = exchange.status / 100;
        if (hundreds < 2 || hundreds > 5 || !(m_classes & (1 << hundreds)))
            return false;
    }
    if (m_needle.isEmpty())
        return true;
    if (holds(exchange.method) || holds(exchange.target) ||
        (exchange.status != 0 && holds(QByteArray::number(exchange.status))))
        return true;
    const bool wholeField = m_needle.contains(':'); // "content-type: text/html"
    for (const HttpExchange::Headers* headers :
         {&exchange.requestHeaders, &exchange.responseHeaders})
        for (const auto& [name, value] : *headers)
            if (holds(name) || holds(value) || (wholeField && holds(name + ": " + value)))
                return true;
    return holds(exchange.requestBody) || holds(exchange.responseBody);
}
