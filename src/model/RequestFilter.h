#pragma once

#include "proxy/HttpExchange.h"

#include <QString>
#include <array>

// Which captured exchanges the inspector shows: those whose method, path and query, status,
// header names and values, or request or response body hold the text (ignoring case), and
// whose status falls in one of the chosen classes (2xx ... 5xx; none chosen: any status).
class RequestFilter {
public:
    enum StatusClass {
        Success = 1 << 2,
        Redirection = 1 << 3,
        ClientError = 1 << 4,
        ServerError = 1 << 5
    };

    void setText(const QString& text);
    QString text() const { return m_text; }
    void setStatusClasses(int classes) { m_classes = classes; }
    int statusClasses() const { return m_classes; }
    bool isEmpty() const { return m_needle.isEmpty() && m_classes == 0; }

    bool matches(const HttpExchange& exchange) const;

private:
    bool holds(const QByteArray& haystack) const;

    QString m_text;
    QByteArray m_needle; // the text in UTF-8, lower case
    bool m_asciiNeedle = true;
    std::array<qsizetype, 256> m_skip{}; // how far the search moves on, by the last byte seen
    int m_classes = 0;
};
